// The four-at-a-time loop of engine/image/StretchRows.h, for processors with
// AVX-512 including VNNI and VBMI (the caller checks).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/image/StretchRows.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SKELVANE_STRETCH_AVX512 1
#else
#define SKELVANE_STRETCH_AVX512 0
#endif

#if SKELVANE_STRETCH_AVX512
namespace skelvane {

bool CpuHasStretchAvx512();

// Four consecutive destination columns whose sixteen source pixels per row
// all lie inside the source. `lanes` says which of them go where: 128-bit
// lane k belongs to column k, and its 32-bit element c holds channel c
// (blue, green, red, alpha) of the four neighbours, neighbour n in byte n.
struct alignas(64) StretchGroup {
    // Narrow groups: byte indices into the pixels loaded from `start`.
    // Gathered groups: the sixteen source columns, neighbour n of column k
    // at element 4k + n.
    std::uint8_t lanes[64];
    // The first source column of the group, and which of the sixteen pixels
    // from there a narrow group loads (the others may lie past the row).
    std::int32_t start;
    std::uint16_t loadMask = 0;
    std::uint8_t fractions[4];
};

struct StretchGroups {
    // The destination column of the first group; the groups follow each
    // other without gaps.
    std::int32_t firstColumn = 0;
    // Steps above about 4.3 pixels spread a group's pixels over more than
    // sixteen; all groups are gathered then.
    bool gathered = false;
    std::vector<StretchGroup> groups;
    // Each column fraction the groups use, once.
    std::vector<std::uint8_t> fractions;
};

// The groups for `columns`; null where fewer than four columns in a row have
// all their neighbours inside the source.
std::unique_ptr<StretchGroups> PlanStretchGroups(const std::vector<StretchColumn>& columns);

// Fills the weights of the fractions the groups use for `rowFraction`.
void PrepareStretchWeights(const StretchGroups& groups, std::int32_t rowFraction, StretchWeights& weights);

// Writes the groups' pixels of one row; `out` is the row's column 0, and the
// weights are prepared for the row's fraction.
void StretchGroupsAvx512(const StretchGroups& groups, const StretchRowSources& row, const StretchWeights& weights,
                         std::uint32_t* out);

}  // namespace skelvane
#endif
