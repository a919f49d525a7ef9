#include "engine/image/StretchRows.h"

#include <algorithm>

#include "engine/simd/LoopSwitch.h"
#include "engine/simd/StretchRowsAvx2.h"
#include "engine/simd/StretchRowsAvx512.h"

namespace skelvane {

#if !SKELVANE_STRETCH_AVX512
struct StretchGroups {};
#endif

namespace {

#if SKELVANE_STRETCH_AVX512
LoopSwitch g_avx2{CpuHasStretchAvx2};
LoopSwitch g_avx512{CpuHasStretchAvx512};
#else
LoopSwitch g_avx2{nullptr};
LoopSwitch g_avx512{nullptr};
#endif

void StretchPixels(const StretchRowSources& row, const StretchColumn* columns, std::int32_t first, std::int32_t end,
                   std::uint32_t* out)
{
    const SplineTaps& rowTaps = kSplineTable.byFraction[row.fraction];
    for (std::int32_t j = first; j < end; ++j) {
        const StretchColumn& column = columns[j];
        const SplineTaps& colTaps = kSplineTable.byFraction[column.fraction];
        const std::uint32_t centre = row.rows[1][column.columns[1]];
        std::int32_t red = 0;
        std::int32_t green = 0;
        std::int32_t blue = 0;
        for (int m = 0; m < 4; ++m) {
            for (int n = 0; n < 4; ++n) {
                const std::int32_t weight = (rowTaps.w[m] * colTaps.w[n]) >> 8;
                const bool outside = ((row.outside >> m) | (column.outside >> n)) & 1;
                const std::uint32_t p = outside ? centre : row.rows[m][column.columns[n]];
                red += ((static_cast<std::int32_t>((p >> 16) & 255) << 8) * weight) >> 8;
                green += ((static_cast<std::int32_t>((p >> 8) & 255) << 8) * weight) >> 8;
                blue += ((static_cast<std::int32_t>(p & 255) << 8) * weight) >> 8;
            }
        }
        red = std::clamp((red * 266) >> 16, 0, 255);
        green = std::clamp((green * 266) >> 16, 0, 255);
        blue = std::clamp((blue * 266) >> 16, 0, 255);
        out[j] = 0xFF000000u | static_cast<std::uint32_t>(red) << 16 | static_cast<std::uint32_t>(green) << 8 |
                 static_cast<std::uint32_t>(blue);
    }
}

}  // namespace

CStretchColumns::CStretchColumns(std::int32_t firstColumn, std::int32_t step, std::int32_t count,
                                 std::int32_t sourceWidth)
    : m_columns(static_cast<std::size_t>(count))
{
    for (std::int32_t j = 0; j < count; ++j) {
        const std::int32_t px = j * step;
        const std::int32_t cx = firstColumn + (px >> 8);
        StretchColumn& column = m_columns[j];
        column.fraction = px & 255;
        column.outside = 0;
        for (int n = 0; n < 4; ++n) {
            const std::int32_t x = cx + n - 1;
            const bool outside = x < 0 || x >= sourceWidth;
            column.columns[n] = outside ? cx : x;
            column.outside |= static_cast<std::uint32_t>(outside) << n;
        }
    }
#if SKELVANE_STRETCH_AVX512
    m_loop = g_avx512.On() ? PixelLoop::Avx512 : g_avx2.On() ? PixelLoop::Avx2 : PixelLoop::OnePixel;
    if (m_loop != PixelLoop::OnePixel) {
        m_groups = PlanStretchGroups(m_columns);
    }
#endif
}

CStretchColumns::~CStretchColumns() = default;

void CStretchColumns::RenderRow(const StretchRowSources& row, std::uint32_t* out, StretchWeights& weights) const
{
    const auto count = static_cast<std::int32_t>(m_columns.size());
#if SKELVANE_STRETCH_AVX512
    if (m_groups && !row.outside) {
        const std::int32_t first = m_groups->firstColumn;
        const std::int32_t end = first + 4 * static_cast<std::int32_t>(m_groups->groups.size());
        StretchPixels(row, m_columns.data(), 0, first, out);
        PrepareStretchWeights(*m_groups, row.fraction, weights);
        if (m_loop == PixelLoop::Avx512) {
            StretchGroupsAvx512(*m_groups, row, weights, out);
        } else {
            StretchGroupsAvx2(*m_groups, m_columns.data(), row, weights, out);
        }
        StretchPixels(row, m_columns.data(), end, count, out);
        return;
    }
#else
    (void)weights;
#endif
    StretchPixels(row, m_columns.data(), 0, count, out);
}

bool UseStretchLoop(PixelLoop loop)
{
    return UsePixelLoop(loop, g_avx2, g_avx512);
}

}  // namespace skelvane
