// The batch job's per-frame form of the cube face map.
//
// The face map (u, v, face as floats and an int, 12 bytes a pixel) is what the
// projection computes; a frame render then still rounds and clamps two floats
// per pixel and looks up the face and its row. For a job, whose faces are all
// checked to be F x F images of one channel type, all of that is done once:
// 1. Build: each output pixel gets one 32-bit word, the face number in the top
//    three bits and the pixel's offset in that face's pixel block below them,
//    with the rounding and clamping of RenderCubeDome already applied; outside
//    the circle, a word that reads a transparent black pixel.
// 2. Render: one word read, one face read and one write per pixel, a third of
//    the map traffic, no float work. Offsets count pixels, so the same words
//    serve 32-bit, 16-bit and float faces, each copied at its own depth. An
//    empty face (Bottom with five faces) reads opaque black, as in
//    RenderCubeDome, and the pixels are identical.
// 3. Used rectangles: with the map, each face's bounding rectangle of the
//    pixels it reads, so that a job decodes no more of a face than that
//    (a 180-degree dome at tilt 0 reads half of four faces and none of Back).
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/image/BandedImage.h"
#include "engine/projection/CubeDomeProjector.h"
#include "engine/projection/CubeDomeRows.h"
#include "engine/jobs/MessageReporter.h"

namespace skelvane {

class CFaceGatherMap {
public:
    // Faces up to this side fit their offsets into 29 bits.
    static constexpr std::int32_t kMaxFaceSize = 23170;

    // False when the sizes do not suit this form (the caller then renders from
    // the face map itself).
    bool Build(const FaceMapEntry* map, std::int32_t faceSize, std::int32_t outSize);

    // Straight from the view, entry for entry what Build gives from the map of
    // BuildCubeDomeMap with the same arguments (the same geometry steps in the
    // same order), without holding that 12-byte-a-pixel map. False for sizes
    // BuildCubeDomeMap refuses and for faces beyond kMaxFaceSize.
    bool BuildFromView(std::int32_t faceSize, std::int32_t outSize, std::int32_t fov, float tilt, float pan);

    // Whether these faces can be read through the map: every non-empty face is
    // an image of exactly the face size, all of one channel type.
    bool Accepts(const CubeFaces& faces) const;

    // The dome of `faces`, at their channel type, pixel for pixel what
    // RenderCubeDome gives with the face map the gather map was built from;
    // null for faces it does not accept, and when out of memory (reported).
    std::unique_ptr<CImageBuffer> Render(const CubeFaces& faces, CMessageReporter& reporter) const;

    // The same dome made `bandRows` rows at a time as a writer takes its rows
    // (BandedImage.h), pixel for pixel Render's; null where Render gives
    // null. The faces must outlive it.
    std::unique_ptr<CBandedImage> RenderInBands(const CubeFaces& faces, std::int32_t bandRows,
                                                CMessageReporter& reporter) const;

    // The smallest rectangle of face `face` (a CubeFace) holding every pixel
    // Render reads from it, in picture rows from the top; empty for a face it
    // never reads and when there is no map.
    const PixelRect& UsedRect(int face) const { return m_used[face]; }

private:
    bool Allocate(std::int32_t faceSize, std::int32_t outSize);
    void FindUsedRects();
    // Rows [first, end) of the dome of `faces` into `target`, from its row
    // `targetFirst` on.
    void RenderRows(const CubeFaces& faces, std::int32_t first, std::int32_t end, CImageBuffer& target,
                    std::int32_t targetFirst) const;
    void ReportOverflows(CMessageReporter& reporter) const;

    std::unique_ptr<std::uint32_t[]> m_words;
    std::int32_t m_faceSize = 0;
    std::int32_t m_outSize = 0;
    bool m_overflowW = false;  // RenderCubeDome would report these on every render
    bool m_overflowH = false;
    std::array<PixelRect, kCubeFaceCount> m_used{};
    PackedRowLoop m_rows = nullptr;  // picked when the map is built
};

}  // namespace skelvane
