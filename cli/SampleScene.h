// A calibration scene for trying the program without downloads: six cube
// faces, each in its own colour with a grid, its name in large block letters
// and the frame number, and the equirectangular panorama of the same scene.
#pragma once

#include <cstdint>

#include "engine/projection/CubeDomeProjector.h"
#include "engine/image/ImageBuffer.h"

namespace skelvane::cli {

// Face `face` (CubeFace order) of frame `frame` (1-based), size x size pixels.
CImageBuffer DrawSampleFace(int face, int frame, std::int32_t size);

// The panorama (width x height, 2:1 is natural) that sees what the cube of
// `faces` shows in every direction, laid out as the panorama projection reads
// it: the centre column looks along the cube's front, zenith at the top row.
CImageBuffer DrawSamplePanorama(const CubeFaces& faces, std::int32_t width, std::int32_t height);

}  // namespace skelvane::cli
