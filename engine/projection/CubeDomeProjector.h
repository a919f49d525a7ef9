// Cube map to dome master: an equidistant fisheye view of six cube faces.
//
// 1. Fisheye directions: every output pixel inside the circle gets a 3-D
//    direction of length R (the half face size); the angle from the view axis
//    +Z grows linearly with the distance from the centre and reaches half the
//    field of view at the rim. Computed for one quadrant and mirrored.
// 2. The view is turned: first the tilt about X, then the pan about Y.
// 3. Face selection: three angles of the direction pick one of six faces by
//    six range tests applied in a fixed order (a later test that holds wins),
//    and a perspective projection onto that face gives (u, v).
// 4. The map (u, v, face per output pixel) is built once; every frame then
//    rounds each (u, v) to the nearest face pixel and copies it (the loops
//    that do so are in engine/projection/CubeDomeRows.h).
//
// X runs to the right of the output picture, Y down it, Z along the view axis.
// All geometry is done in 32-bit floats, as the pixels are pinned to it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "engine/image/ImageBuffer.h"
#include "engine/jobs/MessageReporter.h"

namespace skelvane {

enum CubeFace : int { Left = 0, Front = 1, Right = 2, Back = 3, Top = 4, Bottom = 5 };

inline constexpr int kCubeFaceCount = 6;
inline constexpr std::int32_t kMaxDomeSize = 50000;

struct Direction {
    float x;
    float y;
    float z;
};

struct FaceMapEntry {
    float u;    // column in the face
    float v;    // row in the face, counted from the top
    std::int32_t face;
};

// Both marks of a pixel outside the fisheye circle.
inline constexpr float kOutsideCircle = -1.0f;

using DirectionArray = std::unique_ptr<Direction[]>;
using FaceMap = std::unique_ptr<FaceMapEntry[]>;
using CubeFaces = std::array<CImageBuffer, kCubeFaceCount>;

// The channel type the renders give a dome of these faces: the widest of the
// faces that are there (8-bit when none is). A face of another type than
// that counts as missing.
ChannelType CubeFacesChannelType(const CubeFaces& faces);

// Pure single-pixel steps of the projection, exposed for tests.
namespace cube_geometry {
inline constexpr float kPi = 3.14159265358979323846f;

Direction FisheyeToDirection(std::int32_t row, std::int32_t column, std::int32_t faceSize, std::int32_t outSize,
                             std::int32_t fov);
Direction RotateDirectionAboutX(Direction d, float cosAngle, float sinAngle);
Direction RotateDirectionAboutY(Direction d, float cosAngle, float sinAngle);
FaceMapEntry DirectionToCubeFace(Direction d, float halfFace);
// The same selection through the three angles alone; the fast path above must
// agree with it bit for bit.
FaceMapEntry DirectionToCubeFaceByAngles(Direction d, float halfFace);
// The point (u, v) of face `face`'s plane, extended beyond the face where u
// or v lie outside 0 .. F - 1, as a direction: the inverse of the projection
// DirectionToCubeFace makes onto that face.
Direction FaceToDirection(int face, float u, float v, float halfFace);
// The nearest face pixel of a map position: truncate(p + 0.5), negative
// positions to 0, positions at or beyond the face size clamped to its last
// pixel and flagged in `overflow`.
std::int32_t RoundToFacePixel(float position, std::int32_t faceSize, bool& overflow);
}  // namespace cube_geometry

class CCubeDomeProjector {
public:
    explicit CCubeDomeProjector(CMessageReporter& reporter = DefaultReporter()) : m_reporter(reporter) {}
    virtual ~CCubeDomeProjector() = default;

    DirectionArray BuildFisheyeDirections(std::int32_t faceSize, std::int32_t outSize, std::int32_t fov);
    DirectionArray RotateAboutX(const Direction* directions, std::int32_t outSize, float tilt);
    DirectionArray RotateAboutY(const Direction* directions, std::int32_t outSize, float pan);
    FaceMap MapDirectionsToFaces(const Direction* directions, std::int32_t faceSize, std::int32_t outSize);
    FaceMap BuildCubeDomeMap(std::int32_t faceSize, std::int32_t outSize, std::int32_t fov, float tilt, float pan);

    // An N x N image of the faces' channel type (CubeFacesChannelType), or
    // null. A face smaller than faceSize is read with clamped coordinates; an
    // empty face reads as opaque black.
    std::unique_ptr<CImageBuffer> RenderCubeDome(const CubeFaces& faces, std::int32_t faceSize,
                                                 const FaceMapEntry* map, std::int32_t outSize);

private:
    CMessageReporter& m_reporter;
};

}  // namespace skelvane
