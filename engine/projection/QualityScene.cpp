#include "engine/projection/QualityScene.h"

#include <algorithm>
#include <cmath>

#include "engine/jobs/ParallelRows.h"

namespace skelvane {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180.0;

// Angles from a face's axis (radians) where the parts of the scene lie.
constexpr double kZonePlateFull = 21.0 * kDegree;
constexpr double kZonePlateEnd = 24.0 * kDegree;
constexpr double kLinesStart = 28.0 * kDegree;
constexpr double kLinesEnd = 40.0 * kDegree;
constexpr int kSpokes = 48;
// The zone plate ends at this many cycles per face texel (at the face's
// centre), a little under the faces' limit of one half.
constexpr double kZonePlateTopRate = 0.45;
// Spokes are this many face texels wide.
constexpr double kLineWidth = 0.6;
// Points a face texel averages, per axis.
constexpr int kFaceSamples = 4;

std::uint32_t ToPixel(double r, double g, double b, double a)
{
    auto byte = [](double v) { return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 255.0))); };
    return byte(a) << 24 | byte(r) << 16 | byte(g) << 8 | byte(b);
}

// The unit direction a point of the dome looks at, in the cube's frame, or
// false beyond the circle. Row and column in pixels, centres on whole numbers.
struct DomeGeometry {
    double centre;
    double scale;  // face units per pixel
    double halfFace;
    double thetaPerUnit;
    double cosTilt, sinTilt, cosPan, sinPan;

    explicit DomeGeometry(const SceneView& view)
        : centre((view.outSize - 1) / 2.0),
          scale(static_cast<double>(view.faceSize) / view.outSize),
          halfFace((view.faceSize - 1) / 2.0),
          thetaPerUnit(view.fov * kPi / 360.0 / halfFace),
          cosTilt(std::cos(view.tilt * kDegree)),
          sinTilt(std::sin(view.tilt * kDegree)),
          cosPan(std::cos(view.pan * kDegree)),
          sinPan(std::sin(view.pan * kDegree))
    {
    }

    double RadiusInPixels() const { return halfFace / scale; }

    bool Look(double row, double column, double& x, double& y, double& z) const
    {
        const double dx = (column - centre) * scale;
        const double dy = (row - centre) * scale;
        const double r = std::hypot(dx, dy);
        if (r > halfFace) {
            return false;
        }
        const double theta = thetaPerUnit * r;
        const double s = r > 0.0 ? std::sin(theta) / r : 0.0;
        const double fx = s * dx;
        const double fy = s * dy;
        const double fz = std::cos(theta);
        const double ty = fy * cosTilt - fz * sinTilt;
        const double tz = fz * cosTilt + fy * sinTilt;
        x = fx * cosPan + tz * sinPan;
        y = ty;
        z = tz * cosPan - fx * sinPan;
        return true;
    }
};

std::int8_t FaceLookedAt(double x, double y, double z)
{
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    const double az = std::fabs(z);
    if (ax >= ay && ax >= az) {
        return static_cast<std::int8_t>(x > 0.0 ? Right : Left);
    }
    if (ay >= az) {
        return static_cast<std::int8_t>(y > 0.0 ? Bottom : Top);
    }
    return static_cast<std::int8_t>(z > 0.0 ? Front : Back);
}

// The angle from the axis of the face a unit direction falls on, and the
// direction's azimuth about that axis.
void AboutFaceAxis(double x, double y, double z, double& angle, double& azimuth)
{
    const double ax = std::fabs(x);
    const double ay = std::fabs(y);
    const double az = std::fabs(z);
    if (ax >= ay && ax >= az) {
        angle = std::acos(std::min(1.0, ax));
        azimuth = std::atan2(z, y);
    } else if (ay >= az) {
        angle = std::acos(std::min(1.0, ay));
        azimuth = std::atan2(x, z);
    } else {
        angle = std::acos(std::min(1.0, az));
        azimuth = std::atan2(y, x);
    }
}

}  // namespace

CQualityScene::CQualityScene(std::int32_t faceSize)
    : m_faceSize(faceSize)
{
    // A face texel at the face's centre spans 1 / R radians.
    const double texelsPerRadian = std::max(1.0, (faceSize - 1) / 2.0);
    // Phase rate x theta^2 has the frequency rate x theta / pi cycles a radian.
    m_zonePlateRate = kZonePlateTopRate * texelsPerRadian * kPi / kZonePlateEnd;
    m_lineHalfWidth = kLineWidth / 2.0 / texelsPerRadian;
}

SceneColour CQualityScene::At(double x, double y, double z) const
{
    SceneColour colour{127.5 + 70.0 * std::sin(2.0 * kPi * x), 127.5 + 70.0 * std::sin(2.0 * kPi * y + 2.1),
                       127.5 + 70.0 * std::sin(2.0 * kPi * z + 4.2)};
    double angle = 0.0;
    double azimuth = 0.0;
    AboutFaceAxis(x, y, z, angle, azimuth);
    if (angle < kZonePlateEnd) {
        const double grey = 127.5 + 115.0 * std::cos(m_zonePlateRate * angle * angle);
        const double t = std::clamp((kZonePlateEnd - angle) / (kZonePlateEnd - kZonePlateFull), 0.0, 1.0);
        const double weight = t * t * (3.0 - 2.0 * t);
        colour = {colour.r + (grey - colour.r) * weight, colour.g + (grey - colour.g) * weight,
                  colour.b + (grey - colour.b) * weight};
    } else if (angle >= kLinesStart && angle <= kLinesEnd) {
        const double spacing = 2.0 * kPi / kSpokes;
        const double off = std::remainder(azimuth, spacing);
        if (std::fabs(off) * std::sin(angle) <= m_lineHalfWidth) {
            colour = {colour.r * 0.15, colour.g * 0.15, colour.b * 0.15};
        }
    }
    return colour;
}

ScenePart CQualityScene::PartAt(double x, double y, double z) const
{
    double angle = 0.0;
    double azimuth = 0.0;
    AboutFaceAxis(x, y, z, angle, azimuth);
    if (angle < kZonePlateFull) {
        return ScenePart::ZonePlate;
    }
    if (angle >= kLinesStart && angle <= kLinesEnd) {
        return ScenePart::Lines;
    }
    return ScenePart::Bands;
}

CImageBuffer CQualityScene::DrawFace(int face) const
{
    CImageBuffer image;
    if (face < 0 || face >= kCubeFaceCount || !image.Create(m_faceSize, m_faceSize)) {
        return image;
    }
    const auto R = static_cast<float>(m_faceSize - 1) / 2.0f;
    constexpr double kCount = kFaceSamples * kFaceSamples;
    ForEachRowBand(m_faceSize, std::int64_t{m_faceSize} * kFaceSamples * kFaceSamples * 8,
                   [&](std::int32_t first, std::int32_t end) {
                       for (std::int32_t y = first; y < end; ++y) {
                           std::uint32_t* row = image.Row32(y);
                           for (std::int32_t x = 0; x < m_faceSize; ++x) {
                               SceneColour sum{0.0, 0.0, 0.0};
                               for (int a = 0; a < kFaceSamples; ++a) {
                                   for (int b = 0; b < kFaceSamples; ++b) {
                                       const auto u = static_cast<float>(x + (2.0 * b + 1 - kFaceSamples) / (2 * kFaceSamples));
                                       const auto v = static_cast<float>(y + (2.0 * a + 1 - kFaceSamples) / (2 * kFaceSamples));
                                       const Direction d = cube_geometry::FaceToDirection(face, u, v, R);
                                       const double length = std::sqrt(double{d.x} * d.x + double{d.y} * d.y +
                                                                        double{d.z} * d.z);
                                       const SceneColour c = At(d.x / length, d.y / length, d.z / length);
                                       sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
                                   }
                               }
                               row[x] = ToPixel(sum.r / kCount, sum.g / kCount, sum.b / kCount, 255.0);
                           }
                       }
                   });
    return image;
}

CubeFaces CQualityScene::DrawFaces() const
{
    CubeFaces faces;
    for (int face = 0; face < kCubeFaceCount; ++face) {
        faces[face] = DrawFace(face);
    }
    return faces;
}

SceneTruth RenderSceneTruth(const CQualityScene& scene, const SceneView& view, std::int32_t samples)
{
    SceneTruth truth;
    const std::int32_t n = view.outSize;
    if (n < 1 || view.faceSize < 2 || samples < 1) {
        return truth;
    }
    const std::size_t pixels = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    truth.size = n;
    truth.rgb.assign(pixels * 3, 0.0f);
    truth.alpha.assign(pixels, 0.0f);
    truth.parts.assign(pixels, ScenePart::Outside);
    truth.face.assign(pixels, -1);
    const DomeGeometry geometry(view);
    const double radius = geometry.RadiusInPixels();
    const double count = static_cast<double>(samples) * samples;
    ForEachRowBand(n, std::int64_t{n} * samples * samples * 8, [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t i = first; i < end; ++i) {
            for (std::int32_t j = 0; j < n; ++j) {
                const std::size_t at = truth.Index(i, j);
                SceneColour sum{0.0, 0.0, 0.0};
                int inside = 0;
                for (int a = 0; a < samples; ++a) {
                    for (int b = 0; b < samples; ++b) {
                        const double row = i + (2.0 * a + 1 - samples) / (2.0 * samples);
                        const double column = j + (2.0 * b + 1 - samples) / (2.0 * samples);
                        double x = 0.0;
                        double y = 0.0;
                        double z = 0.0;
                        if (geometry.Look(row, column, x, y, z)) {
                            const SceneColour c = scene.At(x, y, z);
                            sum = {sum.r + c.r, sum.g + c.g, sum.b + c.b};
                            ++inside;
                        }
                    }
                }
                truth.rgb[3 * at] = static_cast<float>(sum.r / count);
                truth.rgb[3 * at + 1] = static_cast<float>(sum.g / count);
                truth.rgb[3 * at + 2] = static_cast<float>(sum.b / count);
                truth.alpha[at] = static_cast<float>(inside / count);

                // Three quarters of a pixel hold every sub-sample of any
                // supersampling within reach of the centre.
                const double distance = std::hypot(i - geometry.centre, j - geometry.centre);
                double x = 0.0;
                double y = 0.0;
                double z = 0.0;
                if (!geometry.Look(i, j, x, y, z)) {
                    truth.parts[at] = inside > 0 ? ScenePart::Rim : ScenePart::Outside;
                    continue;
                }
                truth.face[at] = FaceLookedAt(x, y, z);
                truth.parts[at] = distance + 0.75 > radius ? ScenePart::Rim : scene.PartAt(x, y, z);
            }
        }
    });
    return truth;
}

CImageBuffer SceneTruthImage(const SceneTruth& truth)
{
    CImageBuffer image;
    if (truth.size < 1 || !image.Create(truth.size, truth.size)) {
        return image;
    }
    for (std::int32_t i = 0; i < truth.size; ++i) {
        std::uint32_t* row = image.Row32(i);
        for (std::int32_t j = 0; j < truth.size; ++j) {
            const std::size_t at = truth.Index(i, j);
            row[j] = ToPixel(truth.rgb[3 * at], truth.rgb[3 * at + 1], truth.rgb[3 * at + 2], 255.0 * truth.alpha[at]);
        }
    }
    return image;
}

std::unique_ptr<CImageBuffer> RenderSceneDome(const CubeFaces& faces, const SceneView& view, CubeSampling sampling,
                                              CMessageReporter& reporter)
{
    const auto tilt = static_cast<float>(view.tilt);
    const auto pan = static_cast<float>(view.pan);
    if (sampling.IsPlain()) {
        CCubeDomeProjector projector(reporter);
        const FaceMap map = projector.BuildCubeDomeMap(view.faceSize, view.outSize, view.fov, tilt, pan);
        return map ? projector.RenderCubeDome(faces, view.faceSize, map.get(), view.outSize) : nullptr;
    }
    CCubeDomeSampler sampler;
    if (!sampler.Plan(view.faceSize, view.outSize, view.fov, tilt, pan, sampling)) {
        return nullptr;
    }
    return sampler.Render(faces, reporter);
}

}  // namespace skelvane
