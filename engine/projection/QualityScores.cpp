#include "engine/projection/QualityScores.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace skelvane {
namespace {

// An edge seen in fewer pairs than this is a sliver at the rim, too short to
// tell a seam from the picture.
constexpr int kFewestSteps = 8;
// How far into the faces the steps beside an edge are taken, in pixels.
constexpr int kBeside = 3;

bool Scored(ScenePart part)
{
    return part != ScenePart::Outside && part != ScenePart::Rim;
}

// How far the step from p to q departs from the mean of the steps before and
// after it on the same line, largest channel. A smooth picture gives about
// nothing (the two steps beside straddle the one between them); a seam gives
// its height.
double Departure(std::uint32_t before, std::uint32_t p, std::uint32_t q, std::uint32_t after)
{
    double largest = 0.0;
    for (int shift = 0; shift < 24; shift += 8) {
        auto channel = [shift](std::uint32_t pixel) { return static_cast<double>(pixel >> shift & 255u); };
        const double across = channel(q) - channel(p);
        const double beside = (channel(p) - channel(before) + channel(after) - channel(q)) / 2.0;
        largest = std::max(largest, std::fabs(across - beside));
    }
    return largest;
}

}  // namespace

double ScenePsnr(const CImageBuffer& dome, const SceneTruth& truth, std::optional<ScenePart> part)
{
    if (dome.GetWidth() != truth.size || dome.GetHeight() != truth.size || dome.GetBitCount() != 32) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    double squares = 0.0;
    std::int64_t samples = 0;
    for (std::int32_t i = 0; i < truth.size; ++i) {
        const std::uint32_t* row = dome.Row32(i);
        for (std::int32_t j = 0; j < truth.size; ++j) {
            const std::size_t at = truth.Index(i, j);
            if (!Scored(truth.parts[at]) || (part && truth.parts[at] != *part)) {
                continue;
            }
            for (int ch = 0; ch < 3; ++ch) {
                const double got = static_cast<double>(row[j] >> (16 - 8 * ch) & 255u);
                const double error = got - truth.rgb[3 * at + ch];
                squares += error * error;
            }
            samples += 3;
        }
    }
    if (samples == 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(samples) / squares);
}

SeamScore SceneSeamScore(const CImageBuffer& dome, const SceneTruth& truth)
{
    SeamScore score;
    const std::int32_t n = truth.size;
    if (dome.GetWidth() != n || dome.GetHeight() != n || dome.GetBitCount() != 32) {
        return score;
    }
    struct Edge {
        double across = 0.0;
        double beside = 0.0;
        int steps = 0;
    };
    std::array<Edge, kCubeFaceCount * kCubeFaceCount> edges{};
    auto inFace = [&](std::int32_t i, std::int32_t j, int face) {
        if (i < 0 || j < 0 || i >= n || j >= n) {
            return false;
        }
        const std::size_t at = truth.Index(i, j);
        return truth.parts[at] == ScenePart::Bands && truth.face[at] == face;
    };
    // (i, j) and its two neighbours across the line of steps (di, dj): where
    // all three look at one face, an edge that the line meets crosses it
    // steeply, not along it, and the pixels beside it are clear of it.
    auto clear = [&](std::int32_t i, std::int32_t j, std::int32_t di, std::int32_t dj, int face) {
        return inFace(i, j, face) && inFace(i - dj, j - di, face) && inFace(i + dj, j + di, face);
    };
    // The departure of the step from (i, j) to (i + di, j + dj), or -1 when
    // the four pixels of its line are not all clearly inside the faces given.
    auto departure = [&](std::int32_t i, std::int32_t j, std::int32_t di, std::int32_t dj, int first, int second) {
        if (!clear(i - di, j - dj, di, dj, first) || !clear(i, j, di, dj, first) ||
            !clear(i + di, j + dj, di, dj, second) || !clear(i + 2 * di, j + 2 * dj, di, dj, second)) {
            return -1.0;
        }
        return Departure(dome.Row32(i - di)[j - dj], dome.Row32(i)[j], dome.Row32(i + di)[j + dj],
                         dome.Row32(i + 2 * di)[j + 2 * dj]);
    };
    for (std::int32_t i = 0; i < n; ++i) {
        for (std::int32_t j = 0; j < n; ++j) {
            const int face = truth.face[truth.Index(i, j)];
            for (const auto [di, dj] : {std::array{0, 1}, std::array{1, 0}}) {
                if (i + di >= n || j + dj >= n) {
                    continue;
                }
                const int other = truth.face[truth.Index(i + di, j + dj)];
                if (face < 0 || other < 0 || other == face) {
                    continue;
                }
                const double across = departure(i, j, di, dj, face, other);
                if (across < 0.0) {
                    continue;
                }
                Edge& edge = edges[std::min(face, other) * kCubeFaceCount + std::max(face, other)];
                edge.across = std::max(edge.across, across);
                ++edge.steps;
                // The same line, a few pixels into each face.
                edge.beside = std::max({edge.beside, departure(i - kBeside * di, j - kBeside * dj, di, dj, face, face),
                                        departure(i + kBeside * di, j + kBeside * dj, di, dj, other, other)});
            }
        }
    }
    for (const Edge& edge : edges) {
        if (edge.steps < kFewestSteps) {
            continue;
        }
        ++score.edges;
        if (score.edges == 1 || edge.across - edge.beside > score.worst) {
            score = {edge.across - edge.beside, edge.across, edge.beside, score.edges};
        }
    }
    return score;
}

}  // namespace skelvane
