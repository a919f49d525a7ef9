#include "engine/projection/CubeDomeProjector.h"

#include <atomic>
#include <cmath>
#include <exception>
#include <memory>
#include <new>
#include <type_traits>

#include "engine/projection/CubeDomePixels.h"
#include "engine/projection/CubeDomeRows.h"
#include "engine/projection/CubeDomeView.h"
#include "engine/jobs/ParallelRows.h"
#include "engine/simd/CubeDomeRowsSimd.h"

namespace skelvane {
namespace {

bool IsZeroDirection(const Direction& d)
{
    return d.x == 0.0f && d.y == 0.0f && d.z == 0.0f;
}

// True when two magnitudes differ by far more than the rounding of an angle
// between them could hide (both zero counts as not apart).
bool ClearlyApart(float p, float q)
{
    return std::fabs(p - q) > 1e-5f * (p > q ? p : q);
}

// The perspective projection onto the plane of one face, u to the right and v
// down as the face is seen from inside the cube.
FaceMapEntry ProjectOntoFace(Direction d, float R, CubeFace face)
{
    const float X = d.x;
    const float Y = d.y;
    const float Z = d.z;
    switch (face) {
    case Left:
        return {R - (R / X) * Z, R - (R / X) * Y, Left};
    case Right:
        return {R - (R / X) * Z, R + (R / X) * Y, Right};
    case Top:
        return {R - (R / Y) * X, R - (R / Y) * Z, Top};
    case Bottom:
        return {R + (R / Y) * X, R - (R / Y) * Z, Bottom};
    case Back:
        return {R + (R / Z) * X, R - (R / Z) * Y, Back};
    case Front:
    default:
        return {R + (R / Z) * X, R + (R / Z) * Y, Front};
    }
}

}  // namespace

namespace cube_geometry {
namespace {

// Face-selection thresholds, each rounded to a 32-bit float.
const float kQuarter = kPi * 0.25f;
const float kThreeQuarters = kPi * 0.75f;

float HalfFace(std::int32_t faceSize)
{
    return static_cast<float>(faceSize - 1) / 2.0f;
}

float RadiansOf(float degrees)
{
    return degrees * kPi / 180.0f;
}

}  // namespace

Direction FisheyeToDirection(std::int32_t row, std::int32_t column, std::int32_t faceSize, std::int32_t outSize,
                             std::int32_t fov)
{
    const float R = HalfFace(faceSize);
    const float c = static_cast<float>(outSize - 1) / 2.0f;
    const float s = static_cast<float>(faceSize) / static_cast<float>(outSize);
    const float k = static_cast<float>(fov) * kPi / 360.0f / R;
    const float dx = (static_cast<float>(column) - c) * s;
    const float dy = (static_cast<float>(row) - c) * s;
    const float r = std::sqrt(dx * dx + dy * dy);
    if (r > R) {
        return {0.0f, 0.0f, 0.0f};
    }
    const float theta = k * r;
    const float A = r == 0.0f ? 0.0f : R * std::sin(theta) / r;
    return {A * dx, A * dy, R * std::cos(theta)};
}

Direction RotateDirectionAboutX(Direction d, float cosAngle, float sinAngle)
{
    return {d.x, d.y * cosAngle - d.z * sinAngle, d.z * cosAngle + d.y * sinAngle};
}

Direction RotateDirectionAboutY(Direction d, float cosAngle, float sinAngle)
{
    return {d.x * cosAngle + d.z * sinAngle, d.y, d.z * cosAngle - d.x * sinAngle};
}

FaceMapEntry DirectionToCubeFaceByAngles(Direction d, float R)
{
    FaceMapEntry entry{kOutsideCircle, kOutsideCircle, 0};
    if (IsZeroDirection(d) || !std::isfinite(d.x) || !std::isfinite(d.y) || !std::isfinite(d.z)) {
        return entry;
    }
    const double a = std::atan2(static_cast<double>(d.y), static_cast<double>(d.x));
    const auto b = static_cast<float>(std::atan2(static_cast<double>(d.z), static_cast<double>(d.x)));
    const auto g = static_cast<float>(std::atan2(static_cast<double>(d.z), static_cast<double>(d.y)));
    const double Q = kQuarter;
    const double T = kThreeQuarters;
    const float absB = std::fabs(b);
    const float absG = std::fabs(g);
    const double absA = std::fabs(a);

    // Every test that holds overwrites the previous one: the order matters.
    if (kThreeQuarters <= absB && absB <= kPi && T <= absA && absA <= kPi) {
        entry = ProjectOntoFace(d, R, Left);
    }
    if (absB <= kQuarter && absA <= Q) {
        entry = ProjectOntoFace(d, R, Right);
    }
    if (-T <= a && a <= -Q && kThreeQuarters <= absG && absG <= kPi) {
        entry = ProjectOntoFace(d, R, Top);
    }
    if (Q <= a && a <= T && absG <= kQuarter) {
        entry = ProjectOntoFace(d, R, Bottom);
    }
    if (-kThreeQuarters <= b && b <= -kQuarter && -kThreeQuarters <= g && g <= -kQuarter) {
        entry = ProjectOntoFace(d, R, Back);
    }
    if (kQuarter <= g && g <= kThreeQuarters && kQuarter <= b && b <= kThreeQuarters) {
        entry = ProjectOntoFace(d, R, Front);
    }
    return entry;
}

FaceMapEntry DirectionToCubeFace(Direction d, float R)
{
    // Each angle test compares atan2 of two components with pi/4 or 3pi/4,
    // which is a comparison of the components' magnitudes. Unless two
    // magnitudes are nearly equal (within far more than the rounding of the
    // angles), exactly one test holds: the one of the dominant axis. Only
    // directions near a cube edge need the angles themselves.
    const float ax = std::fabs(d.x);
    const float ay = std::fabs(d.y);
    const float az = std::fabs(d.z);
    if (ClearlyApart(ax, ay) && ClearlyApart(ax, az) && ClearlyApart(ay, az) && std::isfinite(ax + ay + az)) {
        if (ax > ay && ax > az) {
            return ProjectOntoFace(d, R, d.x > 0.0f ? Right : Left);
        }
        if (ay > az) {
            return ProjectOntoFace(d, R, d.y > 0.0f ? Bottom : Top);
        }
        return ProjectOntoFace(d, R, d.z > 0.0f ? Front : Back);
    }
    return DirectionToCubeFaceByAngles(d, R);
}

Direction FaceToDirection(int face, float u, float v, float halfFace)
{
    const float R = halfFace;
    switch (face) {
    case Left:
        return {-R, v - R, u - R};
    case Right:
        return {R, v - R, R - u};
    case Back:
        return {R - u, v - R, -R};
    case Top:
        return {u - R, -R, v - R};
    case Bottom:
        return {u - R, R, R - v};
    case Front:
    default:
        return {u - R, v - R, R};
    }
}

std::int32_t RoundToFacePixel(float position, std::int32_t faceSize, bool& overflow)
{
    const float rounded = position + 0.5f;
    if (!(rounded > 0.0f)) {
        return 0;
    }
    if (rounded >= static_cast<float>(faceSize)) {
        overflow = true;
        return faceSize - 1;
    }
    return static_cast<std::int32_t>(rounded);
}

CubeView MakeCubeView(std::int32_t faceSize, std::int32_t outSize, std::int32_t fov, float tilt, float pan)
{
    const float phi = RadiansOf(tilt);
    const float psi = RadiansOf(pan);
    return {faceSize, outSize, fov, HalfFace(faceSize), std::cos(phi), std::sin(phi), std::cos(psi), std::sin(psi)};
}

}  // namespace cube_geometry

namespace {
using namespace cube_geometry;

std::size_t EntryCount(std::int32_t outSize)
{
    return static_cast<std::size_t>(outSize) * static_cast<std::size_t>(outSize);
}

template <class Transform>
DirectionArray MapDirections(const Direction* directions, std::int32_t outSize, Transform&& transform)
{
    const std::size_t count = EntryCount(outSize);
    auto result = std::make_unique_for_overwrite<Direction[]>(count);
    ForEachRowBand(outSize, outSize, [&](std::int32_t first, std::int32_t end) {
        const std::size_t stop = static_cast<std::size_t>(end) * outSize;
        for (std::size_t n = static_cast<std::size_t>(first) * outSize; n < stop; ++n) {
            result[n] = IsZeroDirection(directions[n]) ? directions[n] : transform(directions[n]);
        }
    });
    return result;
}

}  // namespace

DirectionArray CCubeDomeProjector::BuildFisheyeDirections(std::int32_t faceSize, std::int32_t outSize,
                                                          std::int32_t fov)
{
    if (faceSize < 2 || outSize < 1 || outSize > kMaxDomeSize) {
        return nullptr;
    }
    return ReportBuildFailures(m_reporter, [&] {
        auto directions = std::make_unique_for_overwrite<Direction[]>(EntryCount(outSize));
        ForEachQuadrantPixel(outSize, [&](std::int32_t i, std::int32_t j, std::size_t self, std::size_t flipX,
                                          std::size_t flipY, std::size_t flipBoth) {
            const Direction d = FisheyeToDirection(i, j, faceSize, outSize, fov);
            directions[self] = d;
            directions[flipX] = {-d.x, d.y, d.z};
            directions[flipY] = {d.x, -d.y, d.z};
            directions[flipBoth] = {-d.x, -d.y, d.z};
        });
        return directions;
    });
}

DirectionArray CCubeDomeProjector::RotateAboutX(const Direction* directions, std::int32_t outSize, float tilt)
{
    if (!directions || outSize < 1 || outSize > kMaxDomeSize) {
        return nullptr;
    }
    const float phi = RadiansOf(tilt);
    const float cosPhi = std::cos(phi);
    const float sinPhi = std::sin(phi);
    return ReportBuildFailures(m_reporter, [&] {
        return MapDirections(directions, outSize,
                             [&](Direction d) { return RotateDirectionAboutX(d, cosPhi, sinPhi); });
    });
}

DirectionArray CCubeDomeProjector::RotateAboutY(const Direction* directions, std::int32_t outSize, float pan)
{
    if (!directions || outSize < 1 || outSize > kMaxDomeSize) {
        return nullptr;
    }
    const float psi = RadiansOf(pan);
    const float cosPsi = std::cos(psi);
    const float sinPsi = std::sin(psi);
    return ReportBuildFailures(m_reporter, [&] {
        return MapDirections(directions, outSize,
                             [&](Direction d) { return RotateDirectionAboutY(d, cosPsi, sinPsi); });
    });
}

FaceMap CCubeDomeProjector::MapDirectionsToFaces(const Direction* directions, std::int32_t faceSize,
                                                 std::int32_t outSize)
{
    if (!directions || faceSize < 2 || outSize < 1 || outSize > kMaxDomeSize) {
        return nullptr;
    }
    const float R = HalfFace(faceSize);
    return ReportBuildFailures(m_reporter, [&] {
        auto map = std::make_unique_for_overwrite<FaceMapEntry[]>(EntryCount(outSize));
        ForEachRowBand(outSize, outSize, [&](std::int32_t first, std::int32_t end) {
            const std::size_t stop = static_cast<std::size_t>(end) * outSize;
            for (std::size_t n = static_cast<std::size_t>(first) * outSize; n < stop; ++n) {
                map[n] = DirectionToCubeFace(directions[n], R);
            }
        });
        return map;
    });
}

FaceMap CCubeDomeProjector::BuildCubeDomeMap(std::int32_t faceSize, std::int32_t outSize, std::int32_t fov,
                                             float tilt, float pan)
{
    if (faceSize < 2 || outSize < 1 || outSize > kMaxDomeSize) {
        return nullptr;
    }
    const CubeView view = MakeCubeView(faceSize, outSize, fov, tilt, pan);
    return ReportBuildFailures(m_reporter, [&] {
        auto map = std::make_unique_for_overwrite<FaceMapEntry[]>(EntryCount(outSize));
        ForEachViewEntry(view, [&](std::size_t n, const FaceMapEntry& entry) { map[n] = entry; });
        return map;
    });
}

ChannelType CubeFacesChannelType(const CubeFaces& faces)
{
    ChannelType widest = ChannelType::Uint8;
    for (const CImageBuffer& face : faces) {
        if (!face.IsEmpty() && Holds(face.GetChannelType(), widest)) {
            widest = face.GetChannelType();
        }
    }
    return widest;
}

std::unique_ptr<CImageBuffer> CCubeDomeProjector::RenderCubeDome(const CubeFaces& faces, std::int32_t faceSize,
                                                                 const FaceMapEntry* map, std::int32_t outSize)
{
    if (!map || outSize < 1 || outSize > kMaxDomeSize || faceSize < 1) {
        return nullptr;
    }
    return ReportRenderFailures(m_reporter, [&] {
        const ChannelType type = CubeFacesChannelType(faces);
        auto dome = std::make_unique<CImageBuffer>();
        dome->Create(outSize, outSize, type, BlockContents::Unspecified);

        std::atomic<bool> overflowW{false};
        std::atomic<bool> overflowH{false};
        // The vector loops serve 32-bit faces; deep ones are copied a pixel
        // at a time, which only faces too large for the gather map come to.
        WithPixelType(type, [&]<class P>(P*) {
            const FaceMapFrameOf<P> frame{map, outSize, faceSize, FaceMapSourcesOf<P>(faces), dome.get()};
            FaceMapRowLoop rows = nullptr;
            if constexpr (std::is_same_v<P, std::uint32_t>) {
                rows = ChooseFaceMapRowLoop();
            }
            ForEachRowBand(outSize, outSize, kCubeRowsPerBand, [&](std::int32_t first, std::int32_t end) {
                bool bandOverflowW = false;
                bool bandOverflowH = false;
                if constexpr (std::is_same_v<P, std::uint32_t>) {
                    rows(frame, first, end, bandOverflowW, bandOverflowH);
                } else {
                    for (std::int32_t i = first; i < end; ++i) {
                        FaceMapPixels(frame, i, 0, outSize, bandOverflowW, bandOverflowH);
                    }
                }
                if (bandOverflowW) {
                    overflowW.store(true, std::memory_order_relaxed);
                }
                if (bandOverflowH) {
                    overflowH.store(true, std::memory_order_relaxed);
                }
            });
        });
        // Reported once per render, not once per offending pixel.
        if (overflowW.load()) {
            m_reporter.ShowMessage("Overflow-w");
        }
        if (overflowH.load()) {
            m_reporter.ShowMessage("Overflow-h");
        }
        return dome;
    });
}

}  // namespace skelvane
