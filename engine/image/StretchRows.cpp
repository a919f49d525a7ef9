#include "engine/image/StretchRows.h"

#include <algorithm>
#include <type_traits>

#include "engine/simd/StretchRowsSimd.h"

namespace skelvane {

void StretchPixels(const StretchPlan& plan, const StretchRowSources& row, std::int32_t first, std::int32_t end,
                   std::uint32_t* out)
{
    const SplineTaps& rowTaps = kSplineTable.byFraction[row.fraction];
    for (std::int32_t j = first; j < end; ++j) {
        const StretchColumn& column = plan.columns[j];
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

namespace {

template <class P>
P StretchDeepPixel(const StretchColumn& column, const DeepStretchRowSources<P>& row, const SplineTaps& rowTaps)
{
    using Sum = std::conditional_t<std::is_same_v<P, PixelF>, float, std::int64_t>;
    const SplineTaps& colTaps = kSplineTable.byFraction[column.fraction];
    const P& centre = row.rows[1][column.columns[1]];
    Sum red = 0;
    Sum green = 0;
    Sum blue = 0;
    for (int m = 0; m < 4; ++m) {
        for (int n = 0; n < 4; ++n) {
            const std::int32_t weight = (rowTaps.w[m] * colTaps.w[n]) >> 8;
            const bool outside = ((row.outside >> m) | (column.outside >> n)) & 1;
            const P& p = outside ? centre : row.rows[m][column.columns[n]];
            red += static_cast<Sum>(p.red) * weight;
            green += static_cast<Sum>(p.green) * weight;
            blue += static_cast<Sum>(p.blue) * weight;
        }
    }
    if constexpr (std::is_same_v<P, PixelF>) {
        constexpr float kScale = 266.0f / 65536.0f;
        return {blue * kScale, green * kScale, red * kScale, 1.0f};
    } else {
        auto channel = [](std::int64_t sum) {
            return static_cast<std::uint16_t>(std::clamp<std::int64_t>((sum * 266) >> 16, 0, 65535));
        };
        return {channel(blue), channel(green), channel(red), 0xFFFF};
    }
}

template <class P>
void StretchDeepPixels(const StretchPlan& plan, const DeepStretchRowSources<P>& row, P* out)
{
    const SplineTaps& rowTaps = kSplineTable.byFraction[row.fraction];
    for (std::size_t j = 0; j < plan.columns.size(); ++j) {
        out[j] = StretchDeepPixel(plan.columns[j], row, rowTaps);
    }
}

}  // namespace

void StretchDeepRow(const StretchPlan& plan, const DeepStretchRowSources<Pixel16>& row, Pixel16* out)
{
    StretchDeepPixels(plan, row, out);
}

void StretchDeepRow(const StretchPlan& plan, const DeepStretchRowSources<PixelF>& row, PixelF* out)
{
    StretchDeepPixels(plan, row, out);
}

void PrepareStretchWeights(const StretchPlan& plan, std::int32_t rowFraction, StretchWeights& weights)
{
    if (weights.rowFraction == rowFraction) {
        return;
    }
    const SplineTaps& rowTaps = kSplineTable.byFraction[rowFraction];
    for (const std::uint8_t f : plan.fractions) {
        const SplineTaps& columnTaps = kSplineTable.byFraction[f];
        for (int m = 0; m < 4; ++m) {
            for (int n = 0; n < 4; ++n) {
                weights.byColumnFraction[f][4 * m + n] =
                    static_cast<std::uint8_t>((rowTaps.w[m] * columnTaps.w[n]) >> 8);
            }
        }
    }
    weights.rowFraction = rowFraction;
}

CStretchColumns::CStretchColumns(std::int32_t firstColumn, std::int32_t step, std::int32_t count,
                                 std::int32_t sourceWidth)
    : m_loop(ChooseStretchRowLoop())
{
    m_plan.columns.resize(static_cast<std::size_t>(count));
    for (std::int32_t j = 0; j < count; ++j) {
        const std::int32_t px = j * step;
        const std::int32_t cx = firstColumn + (px >> 8);
        StretchColumn& column = m_plan.columns[j];
        column.fraction = px & 255;
        column.outside = 0;
        for (int n = 0; n < 4; ++n) {
            const std::int32_t x = cx + n - 1;
            const bool outside = x < 0 || x >= sourceWidth;
            column.columns[n] = outside ? cx : x;
            column.outside |= static_cast<std::uint32_t>(outside) << n;
        }
    }
    // Columns move right with j, so those with every neighbour inside are
    // one run.
    std::int32_t first = 0;
    while (first < count && m_plan.columns[first].outside) {
        ++first;
    }
    std::int32_t end = first;
    while (end < count && !m_plan.columns[end].outside) {
        ++end;
    }
    m_plan.interiorFirst = first;
    m_plan.interiorEnd = first + (end - first) / 4 * 4;
    bool used[256] = {};
    for (std::int32_t j = m_plan.interiorFirst; j < m_plan.interiorEnd; ++j) {
        used[m_plan.columns[j].fraction] = true;
    }
    for (int f = 0; f < 256; ++f) {
        if (used[f]) {
            m_plan.fractions.push_back(static_cast<std::uint8_t>(f));
        }
    }
}

}  // namespace skelvane
