#include "engine/PanoDomeProjector.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>

#include "engine/ParallelRows.h"

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

bool ToLonLat(const Fisheye& f, std::int32_t row, std::int32_t column, LonLat& out)
{
    const float x = static_cast<float>(column) - f.c;
    const float y = static_cast<float>(row) - f.c;
    const float r = std::sqrt(x * x + y * y);
    if (r > f.c) {
        return false;
    }
    const float theta = f.fovPi * r / f.cTimes360;
    const float cosPhi = f.tilt.cosPhi;
    const float sinPhi = f.tilt.sinPhi;

    if (x != 0.0f) {
        const float t = std::tan(std::atan2(y, x));
        const float e = std::tan(kHalfPi - theta);
        const float q = std::sqrt(t * t + 1.0f);
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
        return true;
    }

    // The centre column. The formula above is the direction divided by
    // sin(theta) |x| / r; longitude and latitude do not change under a
    // positive scale, so its limit for x -> 0 from either side is the
    // unscaled direction (0, sin(theta) sign(y), cos(theta)), turned round
    // when sin(theta) < 0 (beyond a field of view of 360 the formula looks
    // the other way), tilted and read with X = 0.
    const float sinTheta = std::sin(theta);
    const float cosTheta = std::cos(theta);
    const float reach = std::fabs(sinTheta);
    const float Y = y < 0.0f ? -reach : reach;
    const float Z = sinTheta < 0.0f ? -cosTheta : cosTheta;
    const float tiltedY = Y * cosPhi - Z * sinPhi;
    const float tiltedZ = Z * cosPhi + Y * sinPhi;
    out.longitude = std::atan2(tiltedZ, 0.0f);
    out.latitude = std::atan2(tiltedY, std::fabs(tiltedZ));
    return true;
}

PanoMapEntry ToPanorama(const Fisheye& f, std::int32_t row, std::int32_t column, std::int32_t panoWidth,
                        float columnBase, std::int32_t panoHeight)
{
    LonLat angles;
    if (!ToLonLat(f, row, column, angles)) {
        return {kPanoOutside, kPanoOutside};
    }
    const float px = LongitudeToColumn(angles.longitude, panoWidth) + columnBase;
    const float py = LatitudeToRow(angles.latitude, panoHeight);
    if (!std::isfinite(px) || !std::isfinite(py)) {
        return {kPanoOutside, kPanoOutside};
    }
    return {px, py};
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
    return ToPanorama(FisheyeOf(outSize, fov, tilt), row, column, panoWidth,
                      0.75f * static_cast<float>(panoWidth - 1), panoHeight);
}

float PanShift(float pan, std::int32_t panoWidth)
{
    return (pan + 180.0f) * static_cast<float>(panoWidth - 1) / 360.0f;
}

float WrapColumn(float column, float period)
{
    if (!(period > 0.0f)) {
        return column;
    }
    if (column > period) {
        column -= period;    // exact: period < column <= 2 period
        if (column > period) {
            column = WrapFar(column, period);
        }
    } else if (column < 0.0f) {
        column = WrapFar(column, period);
    }
    return column;
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

// The integer part of a finite position, clamped to where the 4 x 4 reads
// are clamped anyway (any index below -3 or above size + 1 reads only edge
// pixels), so that no position, however far off, converts out of range.
inline std::int32_t WholePart(double floored, std::int32_t size)
{
    if (floored < -3.0) {
        return -3;
    }
    if (floored > static_cast<double>(size) + 1.0) {
        return size + 1;
    }
    return static_cast<std::int32_t>(floored);
}

inline std::uint32_t Channel(double total)
{
    const auto value = static_cast<std::int32_t>(total + 0.5);
    return static_cast<std::uint32_t>(std::clamp(value, 0, 255));
}

// Bicubic convolution at a finite panorama position: the four column weights
// and four row weights once per pixel, each row summed over its columns
// first, then the rows summed with their weights, per channel in double.
class BicubicSampler {
public:
    explicit BicubicSampler(const CImageBuffer& pano)
        : m_pano(pano), m_width(pano.GetWidth()), m_height(pano.GetHeight())
    {
    }

    std::int32_t Width() const { return m_width; }

    std::uint32_t Sample(float xs, float ys) const
    {
        const double x = xs;
        const double y = ys;
        const double floorX = std::floor(x);
        const double floorY = std::floor(y);
        const double fx = x - floorX;
        const double fy = y - floorY;
        const std::int32_t ix = WholePart(floorX, m_width);
        const std::int32_t iy = WholePart(floorY, m_height);

        const double wc0 = Kernel(fx + 1.0);
        const double wc1 = Kernel(fx);
        const double wc2 = Kernel(1.0 - fx);
        const double wc3 = Kernel(2.0 - fx);
        const double wr[4] = {Kernel(fy + 1.0), Kernel(fy), Kernel(1.0 - fy), Kernel(2.0 - fy)};

        const std::uint32_t* rows[4];
        std::int32_t c0;
        std::int32_t c1;
        std::int32_t c2;
        std::int32_t c3;
        if (ix >= 1 && ix + 2 < m_width && iy >= 1 && iy + 2 < m_height) {
            for (int k = 0; k < 4; ++k) {
                rows[k] = m_pano.Row32(iy - 1 + k);
            }
            c0 = ix - 1;
            c1 = ix;
            c2 = ix + 1;
            c3 = ix + 2;
        } else {
            // The neighbourhood crosses an edge: clamp each read into the
            // panorama (no wrap across the seam).
            for (int k = 0; k < 4; ++k) {
                rows[k] = m_pano.Row32(std::clamp(iy - 1 + k, 0, m_height - 1));
            }
            c0 = std::clamp(ix - 1, 0, m_width - 1);
            c1 = std::clamp(ix, 0, m_width - 1);
            c2 = std::clamp(ix + 1, 0, m_width - 1);
            c3 = std::clamp(ix + 2, 0, m_width - 1);
        }

        double red = 0.0;
        double green = 0.0;
        double blue = 0.0;
        for (int k = 0; k < 4; ++k) {
            const std::uint32_t* row = rows[k];
            const std::uint32_t p0 = row[c0];
            const std::uint32_t p1 = row[c1];
            const std::uint32_t p2 = row[c2];
            const std::uint32_t p3 = row[c3];
            const double rowRed = R(p0) * wc0 + R(p1) * wc1 + R(p2) * wc2 + R(p3) * wc3;
            const double rowGreen = G(p0) * wc0 + G(p1) * wc1 + G(p2) * wc2 + G(p3) * wc3;
            const double rowBlue = B(p0) * wc0 + B(p1) * wc1 + B(p2) * wc2 + B(p3) * wc3;
            red += rowRed * wr[k];
            green += rowGreen * wr[k];
            blue += rowBlue * wr[k];
        }
        return 0xFF000000u | Channel(red) << 16 | Channel(green) << 8 | Channel(blue);
    }

private:
    static double R(std::uint32_t p) { return static_cast<double>(p >> 16 & 255u); }
    static double G(std::uint32_t p) { return static_cast<double>(p >> 8 & 255u); }
    static double B(std::uint32_t p) { return static_cast<double>(p & 255u); }

    const CImageBuffer& m_pano;
    std::int32_t m_width;
    std::int32_t m_height;
};

bool IsUsablePanorama(const CImageBuffer& pano)
{
    return !pano.IsEmpty() && pano.GetBitCount() == 32;
}

std::size_t EntryCount(std::int32_t outSize)
{
    return static_cast<std::size_t>(outSize) * static_cast<std::size_t>(outSize);
}

}  // namespace

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
    const float columnBase = 0.75f * static_cast<float>(panoWidth - 1);
    try {
        auto map = std::make_unique_for_overwrite<PanoMapEntry[]>(EntryCount(outSize));
        ForEachRowBand(outSize, outSize, [&](std::int32_t first, std::int32_t end) {
            for (std::int32_t i = first; i < end; ++i) {
                PanoMapEntry* row = map.get() + static_cast<std::size_t>(i) * outSize;
                for (std::int32_t j = 0; j < outSize; ++j) {
                    row[j] = ToPanorama(fisheye, i, j, panoWidth, columnBase, panoHeight);
                }
            }
        });
        return map;
    } catch (const std::bad_alloc&) {
        m_reporter.ShowMessage(kOutOfMemoryText);
    } catch (...) {
    }
    return nullptr;
}

std::unique_ptr<CImageBuffer> CPanoDomeProjector::RenderPanoDome(const CImageBuffer& pano, const PanoMapEntry* map,
                                                                 std::int32_t outSize, float pan)
{
    // An empty panorama would make the wrap period 0 (and the wrap endless).
    if (!map || !IsUsablePanorama(pano) || outSize < 2 || outSize > kMaxPanoDomeSize || !std::isfinite(pan)) {
        return nullptr;
    }
    try {
        auto dome = std::make_unique<CImageBuffer>();
        dome->Create(outSize, outSize);
        const BicubicSampler sampler(pano);
        const float shift = PanShift(pan, pano.GetWidth());
        const auto period = static_cast<float>(pano.GetWidth());
        ForEachRowBand(outSize, outSize, [&](std::int32_t first, std::int32_t end) {
            for (std::int32_t i = first; i < end; ++i) {
                const PanoMapEntry* entry = map + static_cast<std::size_t>(i) * outSize;
                std::uint32_t* out = dome->Row32(i);
                for (std::int32_t j = 0; j < outSize; ++j) {
                    const PanoMapEntry e = entry[j];
                    // A position that is not finite (only from a foreign
                    // map) is shown as outside rather than converted.
                    if (IsOutside(e) || !std::isfinite(e.x) || !std::isfinite(e.y)) {
                        out[j] = 0x00000000u;
                        continue;
                    }
                    const float xs = WrapColumn(e.x + shift, period);
                    out[j] = sampler.Sample(xs, e.y);
                }
            }
        });
        return dome;
    } catch (const std::bad_alloc&) {
        m_reporter.ShowMessage(kOutOfMemoryText);
    } catch (...) {
        m_reporter.ShowMessage("Render Failed!");
    }
    return nullptr;
}

std::unique_ptr<CImageBuffer> CPanoDomeProjector::RenderPanoDomeDirect(const CImageBuffer& pano,
                                                                       std::int32_t outSize, std::int32_t fov,
                                                                       float tilt, float pan)
{
    if (!IsUsablePanorama(pano) || outSize < 2 || outSize > kMaxPanoDomeSize || !std::isfinite(pan)) {
        return nullptr;
    }
    try {
        auto dome = std::make_unique<CImageBuffer>();
        dome->Create(outSize, outSize);
        const BicubicSampler sampler(pano);
        const std::int32_t width = pano.GetWidth();
        const std::int32_t height = pano.GetHeight();
        const Fisheye fisheye = FisheyeOf(outSize, fov, TiltOf(tilt));
        const float base = 0.75f * static_cast<float>(width - 1) + PanShift(pan, width);
        // A one-column panorama has period 0: no wrap, every read is column 0.
        const auto period = static_cast<float>(width - 1);
        ForEachRowBand(outSize, outSize, [&](std::int32_t first, std::int32_t end) {
            for (std::int32_t i = first; i < end; ++i) {
                std::uint32_t* out = dome->Row32(i);
                for (std::int32_t j = 0; j < outSize; ++j) {
                    const PanoMapEntry p = ToPanorama(fisheye, i, j, width, base, height);
                    if (IsOutside(p)) {
                        out[j] = 0x00000000u;
                        continue;
                    }
                    out[j] = sampler.Sample(WrapColumn(p.x, period), p.y);
                }
            }
        });
        return dome;
    } catch (const std::bad_alloc&) {
        m_reporter.ShowMessage(kOutOfMemoryText);
    } catch (...) {
        m_reporter.ShowMessage("Render Failed!");
    }
    return nullptr;
}

}  // namespace skelvane
