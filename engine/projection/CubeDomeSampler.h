// Cube dome renders with a filter other than nearest, or with supersampling.
//
// The geometry is that of the face map (engine/projection/CubeDomeProjector.h):
// face texels are centred on u, v = 0 .. F - 1, so the first and last rows and
// columns of two neighbouring faces lie on their shared edge. What is new is
// how a face is read where a filter's taps run off it:
// 1. Plan (once per view): a dry run of the sample loops finds the texels of
//    each face that taps reach, a border of up to two texels beyond its edges
//    included. Every border texel is the point of the face's plane, extended
//    past the edge, that it stands for; its direction meets a neighbouring
//    face (past a corner: one of the two others there), which is read there
//    bilinearly. One rule thus serves the twelve edges in both directions and
//    the eight corners, each in its own orientation, and a filter reads across
//    an edge what lies beyond it rather than a repeat of the edge.
// 2. Prepare (per frame): the texels each face gives, and its border filled
//    from the neighbours, are copied into one block, so the pixel loops
//    (engine/projection/CubeSampleRows.h) read every tap without a test.
// 3. Render: s x s sub-samples per dome pixel, filtered and averaged.
// A face that is missing (empty, as the bottom of a five-face cube, or an
// 8-, 16- or 24-bit bitmap) reads transparent black with bilinear and
// bicubic, so the picture fades out towards it, and opaque black with
// nearest, as RenderCubeDome has it.
// The dome has the channel type of the deepest face (CubeFacesChannelType);
// shallower faces are read widened to it exactly, so a cube of 8-bit faces
// renders at 16 bits or float as its widened copy would. Deep renders read
// their texels, borders included, as floats, never rounded on the way.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/image/BandedImage.h"
#include "engine/image/ImageBuffer.h"
#include "engine/jobs/MessageReporter.h"
#include "engine/projection/CubeDomeProjector.h"
#include "engine/projection/CubeSampleRows.h"

namespace skelvane {

struct CubeSampling {
    CubeFilter filter = CubeFilter::Nearest;
    std::int32_t supersample = 1;  // s x s sub-samples per dome pixel

    // One nearest face pixel per dome pixel: the face map's own render.
    bool IsPlain() const { return filter == CubeFilter::Nearest && supersample == 1; }
    friend bool operator==(const CubeSampling&, const CubeSampling&) = default;
};

// "nearest", "bilinear", "bicubic".
std::string_view CubeFilterName(CubeFilter filter);
std::optional<CubeFilter> CubeFilterNamed(std::string_view name);
inline constexpr std::array<CubeFilter, 3> kCubeFilters = {CubeFilter::Nearest, CubeFilter::Bilinear,
                                                           CubeFilter::Bicubic};

// The faces of one frame as a planned view reads them: 32-bit texels for
// 8-bit faces, four floats a texel for deeper ones (CubeDeepTexel).
class CSampledFaces {
public:
    // The channel type of the dome these faces render into.
    ChannelType Type() const { return m_type; }
    const CubeSampleSources& Sources() const { return m_sources; }
    const CubeDeepSampleSources& DeepSources() const { return m_deepSources; }

private:
    friend class CCubeDomeSampler;
    PixelBlock m_block;
    ChannelType m_type = ChannelType::Uint8;
    CubeSampleSources m_sources{};
    CubeDeepSampleSources m_deepSources{};
};

class CCubeDomeSampler {
public:
    // False for the sizes BuildCubeDomeMap refuses, a supersample outside
    // 1 .. kMaxSupersample, and faces whose texels a 32-bit count cannot hold.
    bool Plan(std::int32_t faceSize, std::int32_t outSize, std::int32_t fov, float tilt, float pan,
              CubeSampling sampling);

    // The part of face `face` (a CubeFace) that frames read, for decoding only
    // that much; empty for a face the view never reads, and before a plan.
    const PixelRect& UsedRect(int face) const { return m_used[face]; }

    // Step 2. Faces of another size than planned are read with clamped
    // coordinates. Throws std::bad_alloc.
    CSampledFaces Prepare(const CubeFaces& faces) const;

    // Step 3: an N x N dome of the faces' channel type, or null when out of
    // memory (reported).
    std::unique_ptr<CImageBuffer> Render(const CSampledFaces& faces, CMessageReporter& reporter) const;
    std::unique_ptr<CImageBuffer> Render(const CubeFaces& faces, CMessageReporter& reporter) const;
    // The same dome made `bandRows` rows at a time as a writer takes its rows
    // (BandedImage.h), pixel for pixel Render's; null where Render gives
    // null. The sampled faces must outlive it; the faces they were prepared
    // from need not.
    std::unique_ptr<CBandedImage> RenderInBands(const CSampledFaces& faces, std::int32_t bandRows,
                                                CMessageReporter& reporter) const;

    const CubeSampleView& View() const { return m_view; }

    // A plan at s = 1 with bilinear or bicubic also keeps where every pixel's
    // taps lie, so that frames skip the projection, when that table takes no
    // more than this many bytes (about 12 a pixel of the circle: 152 MiB for
    // a 4096² dome); larger domes, and budgets of 0, project every frame.
    // Either way the pixels are the same. Takes effect at the next Plan.
    static constexpr std::int64_t kDefaultTapTableBudget = std::int64_t{256} << 20;
    void SetTapTableBudget(std::int64_t bytes) { m_tapBudget = bytes; }
    // The bytes of the table the plan keeps, 0 for none.
    std::int64_t TapTableBytes() const;

private:
    // A texel beyond a face's edges and where it is read: the 2 x 2 texels
    // from (sourceX, sourceY) of face `source`, blended with the fractions.
    struct BorderTexel {
        std::int32_t x;
        std::int32_t y;
        std::int32_t sourceX;
        std::int32_t sourceY;
        float fractionX;
        float fractionY;
        std::int8_t face;
        std::int8_t source;
    };

    void PlanBorders();
    void PlanTapTable();
    void PlanTapPrefetch();
    // Renders dome rows [first, end) of `faces` into `target`, from its row
    // `targetFirst` on, with the loop chosen once for the instruction sets
    // usable when it is made. It refers to the faces and to this plan.
    using RowRender = std::function<void(std::int32_t first, std::int32_t end, CImageBuffer& target,
                                         std::int32_t targetFirst)>;
    RowRender RowsOf(const CSampledFaces& faces) const;
    template <class Texel>
    void PrepareAs(const CubeFaces& faces, ChannelType dome, PixelBlock& storage,
                   CubeSampleSourcesOf<Texel>& sources) const;

    bool m_planned = false;
    CubeSampleView m_view{};
    // Per face, the texels a frame holds (face coordinates, borders included).
    std::array<PixelRect, kCubeFaceCount> m_held{};
    std::array<PixelRect, kCubeFaceCount> m_used{};
    std::vector<BorderTexel> m_borders;
    std::int64_t m_tapBudget = kDefaultTapTableBudget;
    std::vector<CubeTapRow> m_tapRows;  // empty without a table
    // Shared by copies of the plan, which never change it.
    std::shared_ptr<CubeTapBlock[]> m_tapBlocks;
    std::int64_t m_tapBlockCount = 0;
    std::array<std::int32_t, 8> m_tapRowsAhead{};
};

}  // namespace skelvane
