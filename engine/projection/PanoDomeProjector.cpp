#include "engine/projection/PanoDomeProjector.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>
#include <vector>

#include "engine/simd/LoopSwitch.h"
#include "engine/image/PageAdvice.h"
#include "engine/simd/PanoRowsAvx2.h"
#include "engine/simd/PanoRowsAvx512.h"
#include "engine/projection/PanoTaps.h"
#include "engine/jobs/ParallelRows.h"

// The pixel path is a chain of small steps that must fold into one loop.
#define SKELVANE_INLINE inline __attribute__((always_inline))

namespace skelvane {
namespace pano_geometry {
namespace {

// The per-dome constants of step 1, hoisted out of the pixel loops. Each is
// the same float operation the per-pixel formula would do first, so hoisting
// changes no bit.
struct Fisheye {
    float c;           // (N - 1) / 2
    float fovPi;       // fov x pi
    float cTimes360;   // c x 360
    Tilt tilt;
};

Fisheye FisheyeOf(std::int32_t outSize, std::int32_t fov, Tilt tilt)
{
    const float c = static_cast<float>(outSize - 1) / 2.0f;
    return {c, static_cast<float>(fov) * kPi, c * 360.0f, tilt};
}

// Off the centre column: t = tan(atan2(y, x)), e = tan(pi/2 - theta) and
// q = sqrt(t^2 + 1) give the angles.
SKELVANE_INLINE void OffCentreLonLat(const Fisheye& f, float x, float t, float e, float q, LonLat& out)
{
    const float cosPhi = f.tilt.cosPhi;
    const float sinPhi = f.tilt.sinPhi;
    float A;
    float B;
    if (x > 0.0f) {
        A = q * e * cosPhi + t * sinPhi;
        out.longitude = std::atan2(A, 1.0f);
        B = t * cosPhi - q * e * sinPhi;
    } else {
        A = q * e * cosPhi - t * sinPhi;
        out.longitude = std::atan2(A, -1.0f);
        B = -t * cosPhi - q * e * sinPhi;
    }
    out.latitude = std::atan2(B, std::sqrt(A * A + 1.0f));
}

// The centre column. The formula above is the direction divided by
// sin(theta) |x| / r; longitude and latitude do not change under a positive
// scale, so its limit for x -> 0 from either side is the unscaled direction
// (0, sin(theta) sign(y), cos(theta)), turned round when sin(theta) < 0
// (beyond a field of view of 360 the formula looks the other way), tilted
// and read with X = 0.
SKELVANE_INLINE void CentreLonLat(const Fisheye& f, float y, float sinTheta, float cosTheta, LonLat& out)
{
    const float cosPhi = f.tilt.cosPhi;
    const float sinPhi = f.tilt.sinPhi;
    const float reach = std::fabs(sinTheta);
    const float Y = y < 0.0f ? -reach : reach;
    const float Z = sinTheta < 0.0f ? -cosTheta : cosTheta;
    const float tiltedY = Y * cosPhi - Z * sinPhi;
    const float tiltedZ = Z * cosPhi + Y * sinPhi;
    out.longitude = std::atan2(tiltedZ, 0.0f);
    out.latitude = std::atan2(tiltedY, std::fabs(tiltedZ));
}

// A pixel's place relative to the centre and its angle from the axis.
struct Ray {
    float x;
    float y;
    float theta;
};

// False outside the circle.
SKELVANE_INLINE bool RayOf(const Fisheye& f, std::int32_t row, std::int32_t column, Ray& ray)
{
    ray.x = static_cast<float>(column) - f.c;
    ray.y = static_cast<float>(row) - f.c;
    const float r = std::sqrt(ray.x * ray.x + ray.y * ray.y);
    if (r > f.c) {
        return false;
    }
    ray.theta = f.fovPi * r / f.cTimes360;
    return true;
}

bool ToLonLat(const Fisheye& f, std::int32_t row, std::int32_t column, LonLat& out)
{
    Ray ray;
    if (!RayOf(f, row, column, ray)) {
        return false;
    }
    const auto [x, y, theta] = ray;
    if (x != 0.0f) {
        const float t = std::tan(std::atan2(y, x));
        OffCentreLonLat(f, x, t, std::tan(kHalfPi - theta), std::sqrt(t * t + 1.0f), out);
    } else {
        CentreLonLat(f, y, std::sin(theta), std::cos(theta), out);
    }
    return true;
}

// ToLonLat for (row, column) and for the mirror row N - 1 - row at once. The
// mirror's y is exactly -y, so r, theta, e and q are the same bits, and its t
// is exactly -t: the C library's atan2f handles the sign of y apart from its
// magnitude, and tanf is odd (checked here for every float in [-pi, pi] and
// for 2e8 random atan2f arguments; the map tests compare every pixel with
// the one-pixel path). Three of every ten calls are saved.
bool ToLonLatMirrored(const Fisheye& f, std::int32_t row, std::int32_t column, LonLat& out, LonLat& mirrored)
{
    Ray ray;
    if (!RayOf(f, row, column, ray)) {
        return false;
    }
    const auto [x, y, theta] = ray;
    if (x != 0.0f) {
        const float t = std::tan(std::atan2(y, x));
        const float e = std::tan(kHalfPi - theta);
        const float q = std::sqrt(t * t + 1.0f);
        OffCentreLonLat(f, x, t, e, q, out);
        OffCentreLonLat(f, x, -t, e, q, mirrored);
    } else {
        const float sinTheta = std::sin(theta);
        const float cosTheta = std::cos(theta);
        CentreLonLat(f, y, sinTheta, cosTheta, out);
        CentreLonLat(f, -y, sinTheta, cosTheta, mirrored);
    }
    return true;
}

// Where in the panorama the angles fall; step 3.
struct PanoPlacement {
    std::int32_t width;
    std::int32_t height;
    float columnBase;  // 0.75 (W - 1), plus a pan shift where one applies
};

SKELVANE_INLINE PanoMapEntry Place(const PanoPlacement& place, const LonLat& angles)
{
    const float px = LongitudeToColumn(angles.longitude, place.width) + place.columnBase;
    const float py = LatitudeToRow(angles.latitude, place.height);
    if (!std::isfinite(px) || !std::isfinite(py)) {
        return {kPanoOutside, kPanoOutside};
    }
    return {px, py};
}

PanoMapEntry ToPanorama(const Fisheye& f, const PanoPlacement& place, std::int32_t row, std::int32_t column)
{
    LonLat angles;
    if (!ToLonLat(f, row, column, angles)) {
        return {kPanoOutside, kPanoOutside};
    }
    return Place(place, angles);
}

// The entries of (row, column) and of (N - 1 - row, column).
void ToPanoramaMirrored(const Fisheye& f, const PanoPlacement& place, std::int32_t row, std::int32_t column,
                        PanoMapEntry& out, PanoMapEntry& mirrored)
{
    LonLat angles;
    LonLat mirroredAngles;
    if (!ToLonLatMirrored(f, row, column, angles, mirroredAngles)) {
        out = mirrored = {kPanoOutside, kPanoOutside};
        return;
    }
    out = Place(place, angles);
    mirrored = Place(place, mirroredAngles);
}

// Calls visit(row, column, entry) for every pixel of the rows [first, end)
// of the top half of an N x N dome and of their mirror rows, each mirrored
// pair computed together. Row bands over the top half's (N + 1) / 2 rows
// cover the dome; the middle row of an odd N is its own mirror.
template <class Visit>
SKELVANE_INLINE void ForEachMirroredEntry(const Fisheye& f, const PanoPlacement& place, std::int32_t outSize,
                                          std::int32_t first, std::int32_t end, Visit&& visit)
{
    for (std::int32_t i = first; i < end; ++i) {
        const std::int32_t mirror = outSize - 1 - i;
        for (std::int32_t j = 0; j < outSize; ++j) {
            if (mirror == i) {
                visit(i, j, ToPanorama(f, place, i, j));
                continue;
            }
            PanoMapEntry entry;
            PanoMapEntry mirroredEntry;
            ToPanoramaMirrored(f, place, i, j, entry, mirroredEntry);
            visit(i, j, entry);
            visit(mirror, j, mirroredEntry);
        }
    }
}

std::int32_t TopHalfRows(std::int32_t outSize)
{
    return (outSize + 1) / 2;
}

// Whole periods for the rare column that is more than one period away.
// fmod is exact, and below 2^24 so is every float subtraction of an integer
// period, so this matches the repeated subtraction there bit for bit.
float WrapFar(float column, float period)
{
    double rest = std::fmod(static_cast<double>(column), static_cast<double>(period));
    if (column > 0.0f) {
        if (rest == 0.0) {
            rest = period;
        }
    } else if (rest < 0.0) {
        rest += period;
    }
    return static_cast<float>(rest);
}

// Below 2^24 every subtraction of an integer period from a larger float is
// exact, so the turns taken here one by one and the rest taken by WrapFar
// give the same bits as the plain loop.
SKELVANE_INLINE float Wrap(float column, float period)
{
    if (!(period > 0.0f)) {
        return column;
    }
    if (column > period) {
        column -= period;
        if (column > period) {
            column -= period;
            if (column > period) {
                column = WrapFar(column, period);
            }
        }
    } else if (column < 0.0f) {
        column = WrapFar(column, period);
    }
    return column;
}

}  // namespace

Tilt TiltOf(float degrees)
{
    const float phi = degrees * kPi / 180.0f;
    return {std::cos(phi), std::sin(phi)};
}

bool FisheyeToLonLat(std::int32_t row, std::int32_t column, std::int32_t outSize, std::int32_t fov, Tilt tilt,
                     LonLat& out)
{
    return ToLonLat(FisheyeOf(outSize, fov, tilt), row, column, out);
}

float LongitudeToColumn(float longitude, std::int32_t panoWidth)
{
    return static_cast<float>(panoWidth - 1) * (kPi - longitude) / kTwoPi;
}

float LatitudeToRow(float latitude, std::int32_t panoHeight)
{
    return static_cast<float>(panoHeight - 1) * (latitude + kHalfPi) / kPi;
}

PanoMapEntry FisheyeToPanorama(std::int32_t row, std::int32_t column, std::int32_t panoWidth,
                               std::int32_t panoHeight, std::int32_t outSize, std::int32_t fov, Tilt tilt)
{
    return ToPanorama(FisheyeOf(outSize, fov, tilt),
                      PanoPlacement{panoWidth, panoHeight, 0.75f * static_cast<float>(panoWidth - 1)}, row, column);
}

float PanShift(float pan, std::int32_t panoWidth)
{
    return (pan + 180.0f) * static_cast<float>(panoWidth - 1) / 360.0f;
}

float WrapColumn(float column, float period)
{
    return Wrap(column, period);
}

}  // namespace pano_geometry

namespace {
using namespace pano_geometry;

inline double Kernel(double t)
{
    const double s = std::fabs(t);
    if (s <= 1.0) {
        return s * s * s - 2.0 * s * s + 1.0;
    }
    if (s <= 2.0) {
        return -s * s * s + 5.0 * s * s - 8.0 * s + 4.0;
    }
    return 0.0;
}

bool IsOutside(const PanoMapEntry& entry)
{
    return entry.x == kPanoOutside && entry.y == kPanoOutside;
}

using Taps = PanoTaps;

SKELVANE_INLINE void Locate(const CImageBuffer& pano, float xs, float ys, Taps& taps)
{
    LocatePanoTaps(pano, xs, ys, taps);
}

SKELVANE_INLINE std::uint32_t Channel(double total)
{
    const auto value = static_cast<std::int32_t>(total + 0.5);
    return static_cast<std::uint32_t>(std::clamp(value, 0, 255));
}

// Bicubic convolution: four column weights and four row weights once per
// pixel (the eight kernel evaluations), each row summed over its columns
// first, then the rows summed with their weights, per channel in double;
// truncate(total + 0.5), clamped into 0..255, alpha opaque.
SKELVANE_INLINE std::uint32_t Blend(const Taps& taps)
{
    const double fx = taps.fx;
    const double fy = taps.fy;
    const double wc0 = Kernel(fx + 1.0);
    const double wc1 = Kernel(fx);
    const double wc2 = Kernel(1.0 - fx);
    const double wc3 = Kernel(2.0 - fx);
    const double wr[4] = {Kernel(fy + 1.0), Kernel(fy), Kernel(1.0 - fy), Kernel(2.0 - fy)};
    auto r = [](std::uint32_t p) { return static_cast<double>(p >> 16 & 255u); };
    auto g = [](std::uint32_t p) { return static_cast<double>(p >> 8 & 255u); };
    auto b = [](std::uint32_t p) { return static_cast<double>(p & 255u); };
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    for (int k = 0; k < 4; ++k) {
        const std::uint32_t* row = taps.rows[k];
        const std::uint32_t p0 = row[taps.columns[0]];
        const std::uint32_t p1 = row[taps.columns[1]];
        const std::uint32_t p2 = row[taps.columns[2]];
        const std::uint32_t p3 = row[taps.columns[3]];
        red += (r(p0) * wc0 + r(p1) * wc1 + r(p2) * wc2 + r(p3) * wc3) * wr[k];
        green += (g(p0) * wc0 + g(p1) * wc1 + g(p2) * wc2 + g(p3) * wc3) * wr[k];
        blue += (b(p0) * wc0 + b(p1) * wc1 + b(p2) * wc2 + b(p3) * wc3) * wr[k];
    }
    return 0xFF000000u | Channel(red) << 16 | Channel(green) << 8 | Channel(blue);
}

inline constexpr std::int32_t kTileColumns = 128;

struct MapFrame {
    const CImageBuffer& pano;
    const PanoMapEntry* map;
    CImageBuffer& dome;
    std::int32_t outSize;
    float shift;
    float period;
};

// The neighbourhood of map entry (i, j) at this frame's pan, or false when
// the pixel is outside the circle. A position that is not finite (only from
// a foreign map) counts as outside rather than being converted.
SKELVANE_INLINE bool MapTaps(const MapFrame& frame, const PanoMapEntry& e, Taps& taps)
{
    if (IsOutside(e) || !std::isfinite(e.x) || !std::isfinite(e.y)) {
        return false;
    }
    Locate(frame.pano, Wrap(e.x + frame.shift, frame.period), e.y, taps);
    return true;
}

void RenderMapRows(const MapFrame& frame, std::int32_t first, std::int32_t end)
{
    for (std::int32_t i = first; i < end; ++i) {
        const PanoMapEntry* entry = frame.map + static_cast<std::size_t>(i) * frame.outSize;
        std::uint32_t* out = frame.dome.Row32(i);
        for (std::int32_t j = 0; j < frame.outSize; ++j) {
            Taps taps;
            out[j] = MapTaps(frame, entry[j], taps) ? Blend(taps) : 0x00000000u;
        }
    }
}

struct DirectFrame {
    const CImageBuffer& pano;
    CImageBuffer& dome;
    std::int32_t outSize;
    Fisheye fisheye;
    PanoPlacement place;  // with the pan shift in its column base
    float period;         // W - 1
};

// Rows [first, end) of the dome's top half and their mirror rows.
template <class BlendTaps>
SKELVANE_INLINE void RenderDirectRowPairs(const DirectFrame& frame, std::int32_t first, std::int32_t end,
                                          BlendTaps blend)
{
    ForEachMirroredEntry(frame.fisheye, frame.place, frame.outSize, first, end,
                         [&](std::int32_t i, std::int32_t j, const PanoMapEntry& p) {
                             std::uint32_t value = 0x00000000u;
                             if (!IsOutside(p)) {
                                 Taps taps;
                                 Locate(frame.pano, Wrap(p.x, frame.period), p.y, taps);
                                 value = blend(taps);
                             }
                             frame.dome.Row32(i)[j] = value;
                         });
}

void RenderDirectRows(const DirectFrame& frame, std::int32_t first, std::int32_t end)
{
    RenderDirectRowPairs(frame, first, end, [](const Taps& taps) { return Blend(taps); });
}

#if SKELVANE_PANO_ROWS_AVX512
using BlendRow = void (*)(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count, float shift,
                          float period, std::uint32_t* out);

template <BlendRow kBlend>
void RenderMapRowsWith(const MapFrame& frame, std::int32_t first, std::int32_t end)
{
    for (std::int32_t j0 = 0; j0 < frame.outSize; j0 += kTileColumns) {
        const std::int32_t columns = std::min(kTileColumns, frame.outSize - j0);
        for (std::int32_t i = first; i < end; ++i) {
            const PanoMapEntry* entry = frame.map + static_cast<std::size_t>(i) * frame.outSize;
            kBlend(frame.pano, entry + j0, columns, frame.shift, frame.period, frame.dome.Row32(i) + j0);
        }
    }
}

// Each row and its mirror row are placed into two rows of entries, then
// blended.
template <BlendRow kBlend>
void RenderDirectRowsWith(const DirectFrame& frame, std::int32_t first, std::int32_t end)
{
    thread_local std::vector<PanoMapEntry> entries;
    const auto n = static_cast<std::size_t>(frame.outSize);
    entries.resize(2 * n);
    for (std::int32_t i = first; i < end; ++i) {
        const std::int32_t mirror = frame.outSize - 1 - i;
        ForEachMirroredEntry(frame.fisheye, frame.place, frame.outSize, i, i + 1,
                             [&](std::int32_t row, std::int32_t j, const PanoMapEntry& p) {
                                 entries[(row == i ? 0 : n) + static_cast<std::size_t>(j)] = p;
                             });
        kBlend(frame.pano, entries.data(), frame.outSize, 0.0f, frame.period, frame.dome.Row32(i));
        if (mirror != i) {
            kBlend(frame.pano, entries.data() + n, frame.outSize, 0.0f, frame.period, frame.dome.Row32(mirror));
        }
    }
}

LoopSwitch g_avx2{CpuHasPanoRowsAvx2};
LoopSwitch g_avx512{CpuHasPanoRowsAvx512};
#else
LoopSwitch g_avx2{nullptr};
LoopSwitch g_avx512{nullptr};
#endif

bool IsUsablePanorama(const CImageBuffer& pano)
{
    return !pano.IsEmpty() && pano.GetBitCount() == 32;
}

std::size_t EntryCount(std::int32_t outSize)
{
    return static_cast<std::size_t>(outSize) * static_cast<std::size_t>(outSize);
}

}  // namespace

namespace pano_detail {
bool UsePanoPixelLoop(PixelLoop loop)
{
    return UsePixelLoop(loop, g_avx2, g_avx512);
}
}  // namespace pano_detail

double CPanoDomeProjector::CubicKernel(double t)
{
    return Kernel(t);
}

PanoMap CPanoDomeProjector::BuildPanoDomeMap(std::int32_t panoWidth, std::int32_t panoHeight, std::int32_t outSize,
                                             std::int32_t fov, float tilt)
{
    if (panoWidth <= 0 || panoHeight <= 0 || outSize < 2) {
        return nullptr;
    }
    const Fisheye fisheye = FisheyeOf(outSize, fov, TiltOf(tilt));
    const PanoPlacement place{panoWidth, panoHeight, 0.75f * static_cast<float>(panoWidth - 1)};
    return ReportBuildFailures(m_reporter, [&] {
        auto map = MakeLargeArray<PanoMapEntry>(EntryCount(outSize));
        // Each band writes its rows and their mirror rows: twice the pixels.
        ForEachRowBand(TopHalfRows(outSize), 2 * std::int64_t{outSize}, [&](std::int32_t first, std::int32_t end) {
            ForEachMirroredEntry(fisheye, place, outSize, first, end,
                                 [&](std::int32_t i, std::int32_t j, const PanoMapEntry& entry) {
                                     map[static_cast<std::size_t>(i) * outSize + j] = entry;
                                 });
        });
        return map;
    });
}

std::unique_ptr<CImageBuffer> CPanoDomeProjector::RenderPanoDome(const CImageBuffer& pano, const PanoMapEntry* map,
                                                                 std::int32_t outSize, float pan)
{
    // An empty panorama would make the wrap period 0 (and the wrap endless).
    if (!map || !IsUsablePanorama(pano) || outSize < 2 || outSize > kMaxPanoDomeSize || !std::isfinite(pan)) {
        return nullptr;
    }
    return ReportRenderFailures(m_reporter, [&] {
        auto dome = std::make_unique<CImageBuffer>();
        dome->Create(outSize, outSize, BlockContents::Unspecified);  // every loop writes every pixel
        const MapFrame frame{pano, map, *dome, outSize, PanShift(pan, pano.GetWidth()),
                             static_cast<float>(pano.GetWidth())};
        auto rows = &RenderMapRows;
#if SKELVANE_PANO_ROWS_AVX512
        if (g_avx2.On()) {
            rows = &RenderMapRowsWith<BlendPanoRowAvx2>;
        }
        if (g_avx512.On()) {
            rows = &RenderMapRowsWith<BlendPanoRowAvx512>;
        }
#endif
        ForEachRowBand(outSize, outSize, [&](std::int32_t first, std::int32_t end) { rows(frame, first, end); });
        return dome;
    });
}

std::unique_ptr<CImageBuffer> CPanoDomeProjector::RenderPanoDomeDirect(const CImageBuffer& pano,
                                                                       std::int32_t outSize, std::int32_t fov,
                                                                       float tilt, float pan)
{
    if (!IsUsablePanorama(pano) || outSize < 2 || outSize > kMaxPanoDomeSize || !std::isfinite(pan)) {
        return nullptr;
    }
    return ReportRenderFailures(m_reporter, [&] {
        auto dome = std::make_unique<CImageBuffer>();
        dome->Create(outSize, outSize, BlockContents::Unspecified);  // every loop writes every pixel
        const std::int32_t width = pano.GetWidth();
        // A one-column panorama has period 0: no wrap, every read is column 0.
        const DirectFrame frame{pano, *dome, outSize, FisheyeOf(outSize, fov, TiltOf(tilt)),
                                PanoPlacement{width, pano.GetHeight(),
                                              0.75f * static_cast<float>(width - 1) + PanShift(pan, width)},
                                static_cast<float>(width - 1)};
        auto rows = &RenderDirectRows;
#if SKELVANE_PANO_ROWS_AVX512
        if (g_avx2.On()) {
            rows = &RenderDirectRowsWith<BlendPanoRowAvx2>;
        }
        if (g_avx512.On()) {
            rows = &RenderDirectRowsWith<BlendPanoRowAvx512>;
        }
#endif
        ForEachRowBand(TopHalfRows(outSize), 2 * std::int64_t{outSize},
                       [&](std::int32_t first, std::int32_t end) { rows(frame, first, end); });
        return dome;
    });
}

}  // namespace skelvane
