#include <gtest/gtest.h>

#include <cstdint>

#include "engine/image/PageAdvice.h"

namespace skelvane {
namespace {

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
