// A picture defined on the sphere, for measuring how close a cube dome comes
// to what it should show.
//
// 1. The scene: every direction has one exact colour, so a face texel and a
//    dome pixel can both be computed from it, with no picture in between.
//    Around each face's axis lies a grey zone plate whose frequency rises
//    from nothing at the axis to nearly the faces' own limit at its rim (up
//    to 24 degrees out); around that, from 28 to 40 degrees, dark spokes
//    thinner than a face texel; and everywhere else, across all twelve face
//    edges, coloured bands that change smoothly in every direction, so that
//    a filter that treats an edge wrongly leaves a step where none belongs.
//    The detail scales with the face size the scene is made for.
// 2. Faces: each texel the mean of 4 x 4 points spread over its square of
//    the face's plane (edge texels straddle the edge), as an antialiasing
//    renderer would make them.
// 3. The truth of a dome: each pixel the mean of n x n points spread evenly
//    over it, their directions from the fisheye, the tilt and the pan in
//    double precision; points beyond the circle count as transparent black,
//    as the renders count them.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "engine/jobs/MessageReporter.h"
#include "engine/projection/CubeDomeProjector.h"
#include "engine/projection/CubeDomeSampler.h"

namespace skelvane {

// What part of the scene a dome pixel shows; the scores look at each apart.
enum class ScenePart : std::uint8_t { Outside, Rim, Bands, ZonePlate, Lines };

struct SceneColour {
    double r;
    double g;
    double b;
};

class CQualityScene {
public:
    explicit CQualityScene(std::int32_t faceSize);

    std::int32_t FaceSize() const { return m_faceSize; }

    // Channels 0 .. 255 at the unit direction (x, y, z) of the cube's frame.
    SceneColour At(double x, double y, double z) const;
    // Rim and Outside are the dome's business: this gives one of the others.
    ScenePart PartAt(double x, double y, double z) const;

    // Face `face` (a CubeFace), FaceSize() square, opaque.
    CImageBuffer DrawFace(int face) const;
    CubeFaces DrawFaces() const;

private:
    std::int32_t m_faceSize;
    double m_zonePlateRate;  // phase of the zone plate per squared radian
    double m_lineHalfWidth;  // radians
};

// A dome view of the cube as cube2dome takes it.
struct SceneView {
    std::int32_t faceSize;
    std::int32_t outSize;
    std::int32_t fov;
    double tilt;  // degrees
    double pan;   // degrees
};

// The scene as a dome should show it.
struct SceneTruth {
    std::int32_t size = 0;
    std::vector<float> rgb;        // three channels a pixel, row major, 0 .. 255
    std::vector<float> alpha;      // the share of the pixel inside the circle
    std::vector<ScenePart> parts;  // Rim: partly outside (or within a pixel of it)
    std::vector<std::int8_t> face; // the face the pixel's centre looks at; -1 outside

    std::size_t Index(std::int32_t row, std::int32_t column) const
    {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(size) + static_cast<std::size_t>(column);
    }
};

// samples x samples points a pixel. Throws std::bad_alloc.
SceneTruth RenderSceneTruth(const CQualityScene& scene, const SceneView& view, std::int32_t samples);

// The truth rounded to an 8-bit picture with alpha, as a render would hold it.
CImageBuffer SceneTruthImage(const SceneTruth& truth);

// The dome cube2dome renders from `faces` with `sampling`: the face map for
// the plain nearest render, the filtering sampler for the others. Null when
// out of memory (reported) or for a view neither accepts.
std::unique_ptr<CImageBuffer> RenderSceneDome(const CubeFaces& faces, const SceneView& view, CubeSampling sampling,
                                              CMessageReporter& reporter);

}  // namespace skelvane
