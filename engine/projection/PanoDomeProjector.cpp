#include "engine/projection/PanoDomeProjector.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <vector>

#include "engine/jobs/ParallelRows.h"
#include "engine/projection/PanoTaps.h"
#include "engine/simd/PanoRowsSimd.h"

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

// The point x, y from the centre; false outside the circle.
SKELVANE_INLINE bool RayAt(const Fisheye& f, float x, float y, Ray& ray)
{
    ray.x = x;
    ray.y = y;
    const float r = std::sqrt(ray.x * ray.x + ray.y * ray.y);
    if (r > f.c) {
        return false;
    }
    ray.theta = f.fovPi * r / f.cTimes360;
    return true;
}

SKELVANE_INLINE bool RayOf(const Fisheye& f, std::int32_t row, std::int32_t column, Ray& ray)
{
    return RayAt(f, static_cast<float>(column) - f.c, static_cast<float>(row) - f.c, ray);
}

// The angles of the point x, y from the centre, in output pixels.
bool ToLonLatAt(const Fisheye& f, float x, float y, LonLat& out)
{
    Ray ray;
    if (!RayAt(f, x, y, ray)) {
        return false;
    }
    const float theta = ray.theta;
    if (x != 0.0f) {
        const float t = std::tan(std::atan2(y, x));
        OffCentreLonLat(f, x, t, std::tan(kHalfPi - theta), std::sqrt(t * t + 1.0f), out);
    } else {
        CentreLonLat(f, y, std::sin(theta), std::cos(theta), out);
    }
    return true;
}

bool ToLonLat(const Fisheye& f, std::int32_t row, std::int32_t column, LonLat& out)
{
    return ToLonLatAt(f, static_cast<float>(column) - f.c, static_cast<float>(row) - f.c, out);
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

// 0.75 (W - 1): where longitude pi/2, the view axis at pan -180, lies before the wrap.
float ColumnBase(std::int32_t panoWidth)
{
    return 0.75f * static_cast<float>(panoWidth - 1);
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
                      PanoPlacement{panoWidth, panoHeight, ColumnBase(panoWidth)}, row, column);
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

// Map entries are blended this many columns at a time down a band's rows, so
// that the panorama rows a tile reads stay in the cache from one dome row to
// the next.
inline constexpr std::int32_t kTileColumns = 128;

// The row loop for pixels of type P.
template <class P>
PanoRowLoopOf<P> ChooseRowLoop()
{
    if constexpr (std::is_same_v<P, Pixel16>) {
        return ChoosePanoRow16Loop();
    } else if constexpr (std::is_same_v<P, PixelF>) {
        return ChoosePanoRowFloatLoop();
    } else {
        return ChoosePanoRowLoop();
    }
}

// The frames loop for pixels of type P.
template <class P>
PanoFramesRowLoopOf<P> ChooseFramesRowLoop()
{
    if constexpr (std::is_same_v<P, Pixel16>) {
        return ChoosePanoFramesRow16Loop();
    } else if constexpr (std::is_same_v<P, PixelF>) {
        return ChoosePanoFramesRowFloatLoop();
    } else {
        return ChoosePanoFramesRowLoop();
    }
}

// The frames of a map render: per frame the columns its pan adds, and its dome.
template <class P>
struct MapFrames {
    const CImageBuffer& pano;
    const PanoMapEntry* map;
    std::int32_t outSize;
    float period;
    PanoFramesRowLoopOf<P> blend;
    std::span<const float> shifts;
    std::span<CImageBuffer* const> domes;
};

// A tile's row waits for memory twice at its start: for its map entries,
// which lie a whole map row apart from the previous row's, where the
// processor's own prefetching does not look, and for the panorama lines its
// neighbourhoods reach that the rows above did not. Both are asked for ahead,
// in the order the rows are blended: the entries kEntriesAhead row segments
// on, the panorama lines kPanoLinesAhead segments on, from entries that are
// in the cache by then. This took a sixth to a fifth off the processor time
// of a 2048-pixel frame, with eight lanes and with sixteen.
inline constexpr std::int32_t kEntriesAhead = 8;
inline constexpr std::int32_t kPanoLinesAhead = 4;

// Asks for the cache lines of `count` map entries.
inline void FetchEntries(const PanoMapEntry* entries, std::int32_t count)
{
    constexpr std::int32_t kPerLine = 64 / sizeof(PanoMapEntry);
    for (std::int32_t k = 0; k < count; k += kPerLine) {
        __builtin_prefetch(entries + k);
    }
}

// Asks for the four panorama lines of every eighth entry's neighbourhood: the
// entries between read pixels within a few columns of them. Neighbourhoods
// that the blend clamps at an edge, and outside or foreign entries, are left
// out.
template <class P>
void FetchPanoLines(const CImageBuffer& pano, const PanoMapEntry* entries, std::int32_t count, float shift,
                    float period)
{
    const auto right = static_cast<float>(pano.GetWidth() - 3);
    const auto bottom = static_cast<float>(pano.GetHeight() - 3);
    for (std::int32_t j = 0; j < count; j += 8) {
        const PanoMapEntry& e = entries[j];
        if (e.x == kPanoOutside || !(e.y >= 1.0f && e.y < bottom)) {
            continue;
        }
        const float x = Wrap(e.x + shift, period);
        if (!(x >= 1.0f && x < right)) {
            continue;
        }
        const auto top = static_cast<std::int32_t>(e.y) - 1;
        const auto left = static_cast<std::int32_t>(x) - 1;
        for (std::int32_t k = 0; k < 4; ++k) {
            __builtin_prefetch(pano.RowOf<P>(top + k) + left);
        }
    }
}

// A row segment of a band's tiles: `count` entries from row `row`, column
// `column`.
struct TileRow {
    std::int32_t row;
    std::int32_t column;
    std::int32_t count;
};

// The row segment `ahead` segments after row i of the tile at column j0, in
// the order RenderMapRows blends a band [first, end): down the tile, then
// down the next one. Empty (count 0) past the band's last tile.
inline TileRow TileRowAhead(std::int32_t outSize, std::int32_t first, std::int32_t end, std::int32_t i,
                            std::int32_t j0, std::int32_t ahead)
{
    const std::int32_t rows = end - first;
    const std::int32_t step = (i - first + ahead) / rows;
    const std::int32_t column = j0 + step * kTileColumns;
    if (column >= outSize) {
        return {0, 0, 0};
    }
    return {first + (i - first + ahead) % rows, column, std::min(kTileColumns, outSize - column)};
}

// A band of every frame, each tile row for every frame before the next: a
// sweep's neighbouring pans read nearly the same panorama lines, a few dozen
// columns apart, which the first frame brings into the first-level cache and
// the others find there. Frame after frame over a whole band, the others
// would find them only further out.
template <class P>
void RenderMapRows(const MapFrames<P>& frames, std::int32_t first, std::int32_t end)
{
    const auto count = static_cast<std::int32_t>(frames.shifts.size());
    if (count == 0) {
        return;
    }
    const auto entriesAt = [&](std::int32_t row, std::int32_t column) {
        return frames.map + static_cast<std::size_t>(row) * frames.outSize + column;
    };
    for (std::int32_t j0 = 0; j0 < frames.outSize; j0 += kTileColumns) {
        const std::int32_t columns = std::min(kTileColumns, frames.outSize - j0);
        for (std::int32_t i = first; i < end; ++i) {
            const TileRow entries = TileRowAhead(frames.outSize, first, end, i, j0, kEntriesAhead);
            if (entries.count > 0) {
                FetchEntries(entriesAt(entries.row, entries.column), entries.count);
            }
            // The first frame's lines only: the others read lines next to
            // them. The deep panoramas' loop fetches its lines itself.
            const TileRow lines = TileRowAhead(frames.outSize, first, end, i, j0, kPanoLinesAhead);
            if (std::is_same_v<P, std::uint32_t> && lines.count > 0) {
                FetchPanoLines<P>(frames.pano, entriesAt(lines.row, lines.column), lines.count, frames.shifts[0],
                                  frames.period);
            }
            const PanoMapEntry* entry = entriesAt(i, j0);
            for (std::int32_t f0 = 0; f0 < count; f0 += kMaxPanoRowFrames) {
                const std::int32_t some = std::min(kMaxPanoRowFrames, count - f0);
                P* rows[kMaxPanoRowFrames];
                for (std::int32_t f = 0; f < some; ++f) {
                    rows[f] = frames.domes[static_cast<std::size_t>(f0 + f)]->template RowOf<P>(i) + j0;
                }
                frames.blend(frames.pano, entry, columns, frames.shifts.data() + f0, some, frames.period, rows);
            }
        }
    }
}

template <class P>
struct DirectFrame {
    const CImageBuffer& pano;
    CImageBuffer& dome;
    std::int32_t outSize;
    Fisheye fisheye;
    PanoPlacement place;  // with the pan shift in its column base
    float period;         // W - 1
    PanoRowLoopOf<P> blend;
};

// Rows [first, end) of the dome's top half and their mirror rows: each row
// and its mirror row are placed into two rows of entries, then blended.
template <class P>
void RenderDirectRows(const DirectFrame<P>& frame, std::int32_t first, std::int32_t end)
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
        frame.blend(frame.pano, entries.data(), frame.outSize, 0.0f, frame.period, frame.dome.template RowOf<P>(i));
        if (mirror != i) {
            frame.blend(frame.pano, entries.data() + n, frame.outSize, 0.0f, frame.period,
                        frame.dome.template RowOf<P>(mirror));
        }
    }
}

template <class P>
struct SupersampledFrame {
    const CImageBuffer& pano;
    CImageBuffer& dome;
    std::int32_t outSize;
    std::int32_t supersample;
    Fisheye fisheye;
    PanoPlacement place;
    float shift;
    float period;
    PanoRowLoopOf<P> blend;
};

// The box filter's per-channel sums of sub-samples (blue, green, red, alpha)
// and their means: integers rounded to nearest for 8 and 16 bits, floats
// divided as they are.
template <class P>
struct BoxSums;

template <>
struct BoxSums<std::uint32_t> {
    using Sum = std::uint32_t;
    static void Add(Sum* sum, std::uint32_t p)
    {
        sum[0] += p & 255u;
        sum[1] += p >> 8 & 255u;
        sum[2] += p >> 16 & 255u;
        sum[3] += p >> 24;
    }
    static std::uint32_t Mean(const Sum* sum, std::uint32_t count)
    {
        auto mean = [&](int c) { return (sum[c] + count / 2) / count; };
        return mean(0) | mean(1) << 8 | mean(2) << 16 | mean(3) << 24;
    }
};

// Deep pixels: sums of their own channels, 16-bit means rounded to nearest,
// float means kept as they come.
template <typename P, typename S>
struct DeepBoxSums {
    using Sum = S;
    static void Add(Sum* sum, const P& p)
    {
        sum[0] += p.blue;
        sum[1] += p.green;
        sum[2] += p.red;
        sum[3] += p.alpha;
    }
    static P Mean(const Sum* sum, std::uint32_t count)
    {
        using Channel = decltype(P::blue);
        auto mean = [&](int c) {
            if constexpr (std::is_floating_point_v<Channel>) {
                return static_cast<Channel>(sum[c] / count);
            } else {
                return static_cast<Channel>((sum[c] + count / 2) / count);
            }
        };
        return {mean(0), mean(1), mean(2), mean(3)};
    }
};

template <>
struct BoxSums<Pixel16> : DeepBoxSums<Pixel16, std::uint32_t> {};  // at most 16 x 65535

template <>
struct BoxSums<PixelF> : DeepBoxSums<PixelF, double> {};

// Dome rows [first, end), each the box average of s x s sub-samples per
// pixel: the s sub-rows of a row are placed and blended s N at a time, and
// summed per channel, alpha included, so the rim's coverage becomes its
// alpha. Only a row's worth of entries is ever held, whatever s.
template <class P>
void RenderSupersampledRows(const SupersampledFrame<P>& frame, std::int32_t first, std::int32_t end)
{
    using Box = BoxSums<P>;
    const std::int32_t s = frame.supersample;
    const auto n = static_cast<std::size_t>(frame.outSize);
    const std::size_t subColumns = n * static_cast<std::size_t>(s);
    std::vector<PanoMapEntry> entries(subColumns);
    std::vector<P> subPixels(subColumns);
    std::vector<typename Box::Sum> sums(4 * n);
    float offsets[kMaxPanoSupersample];
    for (std::int32_t a = 0; a < s; ++a) {
        offsets[a] = static_cast<float>(2 * a + 1 - s) / static_cast<float>(2 * s);
    }
    const std::uint32_t count = static_cast<std::uint32_t>(s * s);
    for (std::int32_t i = first; i < end; ++i) {
        std::fill(sums.begin(), sums.end(), typename Box::Sum{});
        for (std::int32_t a = 0; a < s; ++a) {
            const float y = (static_cast<float>(i) - frame.fisheye.c) + offsets[a];
            for (std::size_t j = 0; j < n; ++j) {
                const float x = static_cast<float>(j) - frame.fisheye.c;
                for (std::int32_t b = 0; b < s; ++b) {
                    LonLat angles;
                    entries[j * s + b] = ToLonLatAt(frame.fisheye, x + offsets[b], y, angles)
                                             ? Place(frame.place, angles)
                                             : PanoMapEntry{kPanoOutside, kPanoOutside};
                }
            }
            frame.blend(frame.pano, entries.data(), static_cast<std::int32_t>(subColumns), frame.shift, frame.period,
                        subPixels.data());
            for (std::size_t k = 0; k < subColumns; ++k) {
                Box::Add(&sums[4 * (k / s)], subPixels[k]);
            }
        }
        P* out = frame.dome.template RowOf<P>(i);
        for (std::size_t j = 0; j < n; ++j) {
            out[j] = Box::Mean(&sums[4 * j], count);
        }
    }
}

// 8-bit, 16-bit and float panoramas; not the bitmaps of fewer bits that
// only a reader's intermediate has.
bool IsUsablePanorama(const CImageBuffer& pano)
{
    const int bits = pano.GetBitCount();
    return !pano.IsEmpty() && (bits == 32 || bits == 64 || bits == 128);
}

// A dome of the panorama's depth for loops that write every pixel.
std::unique_ptr<CImageBuffer> MakeDome(const CImageBuffer& pano, std::int32_t outSize)
{
    auto dome = std::make_unique<CImageBuffer>();
    dome->Create(outSize, outSize, pano.GetChannelType(), BlockContents::Unspecified);
    return dome;
}

std::size_t EntryCount(std::int32_t outSize)
{
    return static_cast<std::size_t>(outSize) * static_cast<std::size_t>(outSize);
}

// A map whose entries hold their column plus `columnBase`.
PanoMap BuildMap(CMessageReporter& reporter, std::int32_t panoWidth, std::int32_t panoHeight, std::int32_t outSize,
                 std::int32_t fov, float tilt, float columnBase)
{
    if (panoWidth <= 0 || panoHeight <= 0 || outSize < 2) {
        return nullptr;
    }
    const Fisheye fisheye = FisheyeOf(outSize, fov, TiltOf(tilt));
    const PanoPlacement place{panoWidth, panoHeight, columnBase};
    return ReportBuildFailures(reporter, [&] {
        auto map = std::make_unique_for_overwrite<PanoMapEntry[]>(EntryCount(outSize));
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

// Frames from a map, one per shift: every entry's column plus the shift,
// wrapped with `period`. Empty when any frame fails.
std::vector<std::unique_ptr<CImageBuffer>> RenderFromMap(CMessageReporter& reporter, const CImageBuffer& pano,
                                                         const PanoMapEntry* map, std::int32_t outSize,
                                                         std::span<const float> shifts, float period)
{
    return ReportRenderFailures(reporter, [&] {
        std::vector<std::unique_ptr<CImageBuffer>> domes;
        std::vector<CImageBuffer*> targets;
        for (std::size_t f = 0; f < shifts.size(); ++f) {
            targets.push_back(domes.emplace_back(MakeDome(pano, outSize)).get());
        }
        WithPixelType(pano.GetChannelType(), [&]<class P>(P*) {
            const MapFrames<P> frames{pano, map, outSize, period, ChooseFramesRowLoop<P>(), shifts, targets};
            // Bands as tall as one frame's would be: the frames share a band's
            // panorama lines, and shorter bands would read more lines twice.
            ForEachRowBand(outSize, outSize,
                           [&](std::int32_t first, std::int32_t end) { RenderMapRows(frames, first, end); });
        });
        return domes;
    });
}

std::unique_ptr<CImageBuffer> OnlyFrame(std::vector<std::unique_ptr<CImageBuffer>> domes)
{
    return domes.empty() ? nullptr : std::move(domes.front());
}

bool CanRenderFromMap(const CImageBuffer& pano, const PanoMapEntry* map, std::int32_t outSize, float pan)
{
    // An empty panorama would make the wrap period 0 (and the wrap endless).
    return map && IsUsablePanorama(pano) && outSize >= 2 && outSize <= kMaxPanoDomeSize && std::isfinite(pan);
}

}  // namespace

double CPanoDomeProjector::CubicKernel(double t)
{
    return PanoKernel(t);
}

PanoMap CPanoDomeProjector::BuildPanoDomeMap(std::int32_t panoWidth, std::int32_t panoHeight, std::int32_t outSize,
                                             std::int32_t fov, float tilt)
{
    return BuildMap(m_reporter, panoWidth, panoHeight, outSize, fov, tilt, ColumnBase(panoWidth));
}

PanoMap CPanoDomeProjector::BuildPanoDomeSharpMap(std::int32_t panoWidth, std::int32_t panoHeight,
                                                  std::int32_t outSize, std::int32_t fov, float tilt)
{
    // The base is added per frame, together with the pan, as the direct renderer adds it.
    return BuildMap(m_reporter, panoWidth, panoHeight, outSize, fov, tilt, 0.0f);
}

std::unique_ptr<CImageBuffer> CPanoDomeProjector::RenderPanoDome(const CImageBuffer& pano, const PanoMapEntry* map,
                                                                 std::int32_t outSize, float pan)
{
    if (!CanRenderFromMap(pano, map, outSize, pan)) {
        return nullptr;
    }
    const std::int32_t width = pano.GetWidth();
    const float shift = PanShift(pan, width);
    return OnlyFrame(RenderFromMap(m_reporter, pano, map, outSize, {&shift, 1}, static_cast<float>(width)));
}

std::unique_ptr<CImageBuffer> CPanoDomeProjector::RenderPanoDomeSharp(const CImageBuffer& pano,
                                                                      const PanoMapEntry* sharpMap,
                                                                      std::int32_t outSize, float pan)
{
    return OnlyFrame(RenderPanoDomeSharpFrames(pano, sharpMap, outSize, {&pan, 1}));
}

std::vector<std::unique_ptr<CImageBuffer>> CPanoDomeProjector::RenderPanoDomeSharpFrames(
    const CImageBuffer& pano, const PanoMapEntry* sharpMap, std::int32_t outSize, std::span<const float> pans)
{
    if (pans.empty() || !std::all_of(pans.begin(), pans.end(), [&](float pan) {
            return CanRenderFromMap(pano, sharpMap, outSize, pan);
        })) {
        return {};
    }
    const std::int32_t width = pano.GetWidth();
    std::vector<float> shifts;
    for (const float pan : pans) {
        shifts.push_back(ColumnBase(width) + PanShift(pan, width));
    }
    return RenderFromMap(m_reporter, pano, sharpMap, outSize, shifts, static_cast<float>(width - 1));
}

std::unique_ptr<CImageBuffer> CPanoDomeProjector::RenderPanoDomeDirect(const CImageBuffer& pano,
                                                                       std::int32_t outSize, std::int32_t fov,
                                                                       float tilt, float pan)
{
    if (!IsUsablePanorama(pano) || outSize < 2 || outSize > kMaxPanoDomeSize || !std::isfinite(pan)) {
        return nullptr;
    }
    return ReportRenderFailures(m_reporter, [&] {
        auto dome = MakeDome(pano, outSize);
        const std::int32_t width = pano.GetWidth();
        WithPixelType(pano.GetChannelType(), [&]<class P>(P*) {
            // A one-column panorama has period 0: no wrap, every read is column 0.
            const DirectFrame<P> frame{pano, *dome, outSize, FisheyeOf(outSize, fov, TiltOf(tilt)),
                                       PanoPlacement{width, pano.GetHeight(), ColumnBase(width) + PanShift(pan, width)},
                                       static_cast<float>(width - 1), ChooseRowLoop<P>()};
            ForEachRowBand(TopHalfRows(outSize), 2 * std::int64_t{outSize},
                           [&](std::int32_t first, std::int32_t end) { RenderDirectRows(frame, first, end); });
        });
        return dome;
    });
}

std::unique_ptr<CImageBuffer> CPanoDomeProjector::RenderPanoDomeSupersampled(const CImageBuffer& pano,
                                                                             std::int32_t outSize, std::int32_t fov,
                                                                             float tilt, float pan,
                                                                             std::int32_t supersample, PanoWrap wrap)
{
    if (!IsUsablePanorama(pano) || outSize < 2 || outSize > kMaxPanoDomeSize || !std::isfinite(pan) ||
        supersample < 1 || supersample > kMaxPanoSupersample) {
        return nullptr;
    }
    return ReportRenderFailures(m_reporter, [&] {
        auto dome = MakeDome(pano, outSize);
        const std::int32_t width = pano.GetWidth();
        // The sweep's map renderer adds the base to the place and the pan per
        // frame and wraps with W; the still and sharp renderers add both
        // together and wrap with W - 1.
        const bool sweep = wrap == PanoWrap::Sweep;
        WithPixelType(pano.GetChannelType(), [&]<class P>(P*) {
            const SupersampledFrame<P> frame{pano,
                                             *dome,
                                             outSize,
                                             supersample,
                                             FisheyeOf(outSize, fov, TiltOf(tilt)),
                                             PanoPlacement{width, pano.GetHeight(), sweep ? ColumnBase(width) : 0.0f},
                                             sweep ? PanShift(pan, width) : ColumnBase(width) + PanShift(pan, width),
                                             static_cast<float>(sweep ? width : width - 1),
                                             ChooseRowLoop<P>()};
            ForEachRowBand(outSize, std::int64_t{outSize} * supersample * supersample, [&](std::int32_t first,
                                                                                            std::int32_t end) {
                RenderSupersampledRows(frame, first, end);
            });
        });
        return dome;
    });
}

}  // namespace skelvane
