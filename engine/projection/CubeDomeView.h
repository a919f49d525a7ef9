// The walk over a cube dome's view that every cube map is built through: the
// float face map (CCubeDomeProjector::BuildCubeDomeMap) and the packed gather
// map (CFaceGatherMap::BuildFromView) take their entries from the same
// geometry steps in the same order, and differ only in how they store them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/jobs/ParallelRows.h"
#include "engine/projection/CubeDomeProjector.h"

namespace skelvane::cube_geometry {

// Visits the quadrant rows and columns 0 .. (N + 1) / 2 - 1 and hands each
// pixel with its three mirror positions to `body`, in the order: itself,
// mirrored left-right, mirrored top-bottom, mirrored both ways. For odd N the
// centre row and column are their own mirrors; the later write wins.
template <class Body>
void ForEachQuadrantPixel(std::int32_t outSize, Body&& body)
{
    const std::int32_t half = (outSize + 1) / 2;
    ForEachRowBand(half, 2 * static_cast<std::int64_t>(outSize), [&](std::int32_t first, std::int32_t end) {
        for (std::int32_t i = first; i < end; ++i) {
            const std::size_t row = static_cast<std::size_t>(i) * outSize;
            const std::size_t mirrorRow = static_cast<std::size_t>(outSize - 1 - i) * outSize;
            for (std::int32_t j = 0; j < half; ++j) {
                const std::size_t mirrorColumn = static_cast<std::size_t>(outSize - 1 - j);
                body(i, j, row + j, row + mirrorColumn, mirrorRow + j, mirrorRow + mirrorColumn);
            }
        }
    });
}

// A view of the cube: its sizes, field of view, and tilt and pan as cosines
// and sines.
struct CubeView {
    std::int32_t faceSize;
    std::int32_t outSize;
    std::int32_t fov;
    float halfFace;
    float cosTilt;
    float sinTilt;
    float cosPan;
    float sinPan;

    // Steps 2 and 3 of a fisheye direction: the tilt, then the pan, then the
    // face it falls on.
    FaceMapEntry Project(Direction d) const
    {
        return DirectionToCubeFace(RotateDirectionAboutY(RotateDirectionAboutX(d, cosTilt, sinTilt), cosPan, sinPan),
                                   halfFace);
    }
};

CubeView MakeCubeView(std::int32_t faceSize, std::int32_t outSize, std::int32_t fov, float tilt, float pan);

// Calls store(n, entry) with the face map entry of every output pixel n (row
// major), each inside direction computed once for its quadrant and mirrored;
// pixels outside the circle get the outside entry. Rows run in parallel
// bands; store must be safe for that.
template <class Store>
void ForEachViewEntry(const CubeView& view, Store&& store)
{
    ForEachQuadrantPixel(view.outSize, [&](std::int32_t i, std::int32_t j, std::size_t self, std::size_t flipX,
                                           std::size_t flipY, std::size_t flipBoth) {
        const Direction d = FisheyeToDirection(i, j, view.faceSize, view.outSize, view.fov);
        if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) {
            const FaceMapEntry outside{kOutsideCircle, kOutsideCircle, 0};
            store(self, outside);
            store(flipX, outside);
            store(flipY, outside);
            store(flipBoth, outside);
            return;
        }
        store(self, view.Project(d));
        store(flipX, view.Project({-d.x, d.y, d.z}));
        store(flipY, view.Project({d.x, -d.y, d.z}));
        store(flipBoth, view.Project({-d.x, -d.y, d.z}));
    });
}

}  // namespace skelvane::cube_geometry
