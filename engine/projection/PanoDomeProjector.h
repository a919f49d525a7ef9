// Equirectangular panorama to dome master: an equidistant fisheye view of a
// spherical panorama, sampled with bicubic convolution.
//
// 1. Fisheye angle: output pixel (i, j) lies at x = j - c, y = i - c from the
//    centre c = (N - 1) / 2; at distance r <= c it looks at the angle
//    theta = fov x pi x r / (c x 360) from the view axis, half the field of
//    view at the rim. Pixels with r > c are outside the circle.
// 2. Direction: (sin theta x/r, sin theta y/r, cos theta), kept scaled so that
//    its X component is +1 or -1 (t = tan atan2(y, x), e = tan(pi/2 - theta),
//    q = sqrt(t^2 + 1)), is tilted about X and read as longitude (in the X-Z
//    plane from +X towards +Z) and latitude (towards +Y, down). The centre
//    column of an odd-sized dome (x = 0) cannot be scaled that way; it takes
//    its angles from the unscaled direction, which is the limit of the scaled
//    formula from either side.
// 3. Panorama position: px = (W - 1)(pi - lon) / 2pi + 0.75 (W - 1),
//    py = (H - 1)(lat + pi/2) / pi. The map holds (px, py) per output pixel,
//    (-1, -1) outside the circle. It does not hold the pan, so one map serves
//    every frame of a horizontal sweep.
// 4. A frame render adds the pan shift (pan + 180)(W - 1) / 360 to px, wraps
//    the column with period W, and blends the 4 x 4 neighbourhood with the
//    cubic convolution kernel (a = -1) in double precision; reads are clamped
//    at the panorama's edges and never wrap across the seam.
// 5. The direct renderer does steps 1 to 4 in one pass without a map, with
//    the pan folded into the column base and a wrap period of W - 1; its
//    picture is one panorama column to the right of the map renderer's
//    wherever the wrap applies.
// 6. A sharp map keeps the direct renderer's geometry for a whole sweep: it
//    holds only the longitude's part of the column, (W - 1)(pi - lon) / 2pi,
//    and the row. A frame adds the direct renderer's base, 0.75 (W - 1) plus
//    the pan shift as one float, and wraps with period W - 1: the very float
//    operations of step 5 in the same order, so each frame is the direct
//    renderer's picture at its pan bit for bit.
//
// X runs to the right of the output picture, Y down it, Z along the view axis.
// All geometry is done in 32-bit floats in the order written (the project
// compiles with -ffp-contract=off); the kernel and the sums are doubles.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "engine/jobs/MessageReporter.h"

namespace skelvane {

struct PanoMapEntry {
    float x;    // panorama column before the pan shift
    float y;    // panorama row, counted from the top
};

using PanoMap = std::unique_ptr<PanoMapEntry[]>;

// Largest dome side the pano renderers accept.
inline constexpr std::int32_t kMaxPanoDomeSize = 50000;

// Sub-samples per dome pixel along each axis, at most.
inline constexpr std::int32_t kMaxPanoSupersample = 4;

// Which renderer's columns a supersampled frame follows: the sweep map's
// (RenderPanoDome), or the still image's and the sharp map's.
enum class PanoWrap { Sweep, Still };

// Both coordinates of a map entry outside the fisheye circle.
inline constexpr float kPanoOutside = -1.0f;

// Pure single-pixel steps of the projection, exposed for tests.
namespace pano_geometry {
inline constexpr float kPi = 3.14159265358979323846f;      // 3.1415927
inline constexpr float kHalfPi = 1.57079632679489661923f;  // 1.5707964
inline constexpr float kTwoPi = 6.28318530717958647692f;   // 6.2831855

struct LonLat {
    float longitude;
    float latitude;
};

// The tilt about X as the 32-bit cosine and sine of its angle in radians.
struct Tilt {
    float cosPhi;
    float sinPhi;
};
Tilt TiltOf(float degrees);

// Step 1 and 2 for one output pixel. False outside the circle.
bool FisheyeToLonLat(std::int32_t row, std::int32_t column, std::int32_t outSize, std::int32_t fov, Tilt tilt,
                     LonLat& out);

// The part of the column that depends on the longitude: (W - 1)(pi - lon) / 2pi.
float LongitudeToColumn(float longitude, std::int32_t panoWidth);
// (H - 1)(lat + pi/2) / pi.
float LatitudeToRow(float latitude, std::int32_t panoHeight);

// The map entry of one pixel: step 3, or (-1, -1) outside the circle. A
// position that is not finite is stored as outside too.
PanoMapEntry FisheyeToPanorama(std::int32_t row, std::int32_t column, std::int32_t panoWidth,
                               std::int32_t panoHeight, std::int32_t outSize, std::int32_t fov, Tilt tilt);

// (pan + 180)(W - 1) / 360: the columns a pan adds to every map entry.
float PanShift(float pan, std::int32_t panoWidth);

// The seam wrap: a column above `period` loses whole periods until it lies
// in (0, period], exactly as repeated float subtraction would leave it. A
// column below 0 (pans far below -180) gains whole periods into [0, period).
// A period that is not positive leaves the column alone.
float WrapColumn(float column, float period);
}  // namespace pano_geometry

class CPanoDomeProjector {
public:
    explicit CPanoDomeProjector(CMessageReporter& reporter = DefaultReporter()) : m_reporter(reporter) {}
    virtual ~CPanoDomeProjector() = default;

    // N x N entries, row-major, or null for panorama or output sizes below
    // 1 and 2 respectively, or when memory runs out (reported).
    PanoMap BuildPanoDomeMap(std::int32_t panoWidth, std::int32_t panoHeight, std::int32_t outSize,
                             std::int32_t fov, float tilt);

    // One frame from a map built for this panorama's size and `outSize`, of
    // the panorama's channel type (8-bit, 16-bit or float: PanoTaps.h says
    // how deep pixels are blended and rounded). Null for an empty panorama
    // or one of fewer than 32 bits a pixel, a null map, an output size
    // outside 2..50000 or a pan that is not finite.
    std::unique_ptr<CImageBuffer> RenderPanoDome(const CImageBuffer& pano, const PanoMapEntry* map,
                                                 std::int32_t outSize, float pan);

    // One frame straight from the panorama, without a map; null for the
    // same panoramas, sizes and pans. The renderers report running out of
    // memory, and "Render Failed!" for any other failure, and return null.
    std::unique_ptr<CImageBuffer> RenderPanoDomeDirect(const CImageBuffer& pano, std::int32_t outSize,
                                                       std::int32_t fov, float tilt, float pan);

    // The sharp map of step 6, N x N entries for a panorama of this size;
    // null as for BuildPanoDomeMap.
    PanoMap BuildPanoDomeSharpMap(std::int32_t panoWidth, std::int32_t panoHeight, std::int32_t outSize,
                                  std::int32_t fov, float tilt);

    // One frame from a sharp map built for this panorama's size and
    // `outSize`: RenderPanoDomeDirect's picture at `pan`, without its
    // trigonometry. Null as for RenderPanoDome.
    std::unique_ptr<CImageBuffer> RenderPanoDomeSharp(const CImageBuffer& pano, const PanoMapEntry* sharpMap,
                                                      std::int32_t outSize, float pan);

    // Several frames from one sharp map, one dome per pan, each
    // RenderPanoDomeSharp's at its pan bit for bit, rendered band by band
    // together: the neighbouring frames of a sweep read nearly the same
    // panorama lines, so each line a band reads is fetched from memory once
    // for all of them. Empty for no pans, or where RenderPanoDomeSharp would
    // give null at any of the pans.
    std::vector<std::unique_ptr<CImageBuffer>> RenderPanoDomeSharpFrames(const CImageBuffer& pano,
                                                                         const PanoMapEntry* sharpMap,
                                                                         std::int32_t outSize,
                                                                         std::span<const float> pans);

    // One frame of s x s sub-samples per dome pixel (s = 1 .. 4), each placed
    // straight from the panorama as the direct renderer places its pixel
    // centres, blended as every renderer blends, and averaged with a box,
    // alpha included: the rim of the disc fades out over a pixel. Null for
    // what the direct renderer refuses and an s out of range.
    std::unique_ptr<CImageBuffer> RenderPanoDomeSupersampled(const CImageBuffer& pano, std::int32_t outSize,
                                                             std::int32_t fov, float tilt, float pan,
                                                             std::int32_t supersample, PanoWrap wrap);

    // The cubic convolution kernel with a = -1, in double precision.
    static double CubicKernel(double t);

private:
    CMessageReporter& m_reporter;
};

}  // namespace skelvane
