#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/image/PageAdvice.h"

namespace skelvane {
namespace {

// Whether the kernel backs memory advised for huge pages with them.
bool KernelHonoursAdvice()
{
    std::ifstream setting("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    std::getline(setting, modes);
    return modes.find("[always]") != std::string::npos || modes.find("[madvise]") != std::string::npos;
}

// Kilobytes in huge pages among the mappings that overlap [start, end).
std::int64_t HugePageKilobytes(std::uintptr_t start, std::uintptr_t end)
{
    std::ifstream smaps("/proc/self/smaps");
    std::int64_t total = 0;
    bool overlaps = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t first = 0;
        std::uintptr_t last = 0;
        char dash = 0;
        std::istringstream fields(line);
        if (fields >> std::hex >> first >> dash >> last && dash == '-') {
            overlaps = first < end && start < last;
        } else if (overlaps && line.rfind("AnonHugePages:", 0) == 0) {
            std::int64_t kilobytes = 0;
            std::istringstream(line.substr(std::strlen("AnonHugePages:"))) >> kilobytes;
            total += kilobytes;
        }
    }
    return total;
}

TEST(PageAdvice, LargeArraysGetHugePagesWhereTheKernelGivesThem)
{
    if (!KernelHonoursAdvice()) {
        GTEST_SKIP() << "transparent huge pages are off";
    }
    constexpr std::size_t kCount = std::size_t{64} << 20 >> 2;
    auto array = MakeLargeArray<std::uint32_t>(kCount);
    for (std::size_t n = 0; n < kCount; ++n) {
        array[n] = static_cast<std::uint32_t>(n);
    }
    const auto start = reinterpret_cast<std::uintptr_t>(array.get());
    // Most of the 64 MiB: whole 2 MiB pages fill all but its two ends.
    EXPECT_GE(HugePageKilobytes(start, start + kCount * 4), 32 * 1024);
    EXPECT_EQ(array[kCount - 1], kCount - 1);
}

TEST(PageAdvice, WholePagesWithinASpan)
{
    alignas(4096) static std::uint8_t bytes[4 * 4096];
    const PageSpan inside = WholePagesOf(bytes + 1, 3 * 4096);
    EXPECT_EQ(inside.first, bytes + 4096);
    EXPECT_EQ(inside.length, 2u * 4096);
    EXPECT_EQ(WholePagesOf(bytes + 1, 4096).length, 0u);
    EXPECT_EQ(WholePagesOf(bytes, 4096).length, 4096u);
}

}  // namespace
}  // namespace skelvane
