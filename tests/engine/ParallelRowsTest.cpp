#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/jobs/ParallelRows.h"

namespace skelvane {
namespace {

std::vector<std::pair<std::int32_t, std::int32_t>> BandsOf(std::int32_t rows, std::int64_t pixelsPerRow,
                                                           std::int32_t minBandRows)
{
    std::mutex mutex;
    std::vector<std::pair<std::int32_t, std::int32_t>> bands;
    ForEachRowBand(rows, pixelsPerRow, minBandRows, [&](std::int32_t first, std::int32_t end) {
        std::lock_guard lock(mutex);
        bands.emplace_back(first, end);
    });
    std::sort(bands.begin(), bands.end());
    return bands;
}

TEST(ParallelRows, BandsCoverEveryRowOnceAndKeepTheirLeastRows)
{
    for (const std::int32_t rows : {1000, 65, 20}) {
        const auto bands = BandsOf(rows, 4096, 32);
        ASSERT_FALSE(bands.empty());
        std::int32_t next = 0;
        for (const auto& [first, end] : bands) {
            EXPECT_EQ(first, next);
            EXPECT_GE(end - first, std::min(rows, 32)) << rows;
            next = end;
        }
        EXPECT_EQ(next, rows);
    }
}

}  // namespace
}  // namespace skelvane
