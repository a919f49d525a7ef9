// Scores of a cube dome against the truth of the quality scene
// (engine/projection/QualityScene.h).
//
// PSNR: over the pixels wholly inside the circle (or those of one part of the
// scene), the three colour channels, against the truth's unrounded values.
// Seams: along each face edge the dome shows, every pair of neighbouring
// pixels whose centres look at the two faces, in the smooth bands around the
// edges, is a step across the edge. On a
// smooth picture a step equals the mean of the steps just before and after it
// on the same line; the departure from that is what an edge adds. The same
// departure a few pixels into either face, where no edge is, shows the
// render's own noise (rounding, aliasing). An edge the picture does not show
// departs across it no more than beside it.
#pragma once

#include <optional>

#include "engine/image/ImageBuffer.h"
#include "engine/projection/QualityScene.h"

namespace skelvane {

// Infinite when the two agree exactly; NaN when no pixel is scored.
double ScenePsnr(const CImageBuffer& dome, const SceneTruth& truth, std::optional<ScenePart> part = std::nullopt);

struct SeamScore {
    // Levels of 0 .. 255, largest channel, of the edge where the first most
    // exceeds the second: the largest departure across it and the largest
    // beside it, and their difference.
    double worst = 0.0;
    double across = 0.0;
    double beside = 0.0;
    int edges = 0;  // the edges scored: those with enough steps across
};

SeamScore SceneSeamScore(const CImageBuffer& dome, const SceneTruth& truth);

}  // namespace skelvane
