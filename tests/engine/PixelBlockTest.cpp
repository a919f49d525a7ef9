#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/image/PixelBlock.h"

namespace skelvane {
namespace {

bool AllZero(const std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t n = 0; n < count; ++n) {
        if (bytes[n] != 0) {
            return false;
        }
    }
    return true;
}

TEST(PixelBlock, ReusedLargeBlocksComeBackZeroed)
{
    constexpr std::int64_t kLarge = std::int64_t{24} << 20;
    for (int round = 0; round < 3; ++round) {
        PixelBlock block = AllocatePixelBlock(kLarge);
        ASSERT_TRUE(block);
        ASSERT_TRUE(AllZero(block.get(), kLarge)) << "round " << round;
        std::memset(block.get(), 0xAB, kLarge);
    }
    PixelBlock smaller = AllocatePixelBlock(kLarge - 4096);
    ASSERT_TRUE(AllZero(smaller.get(), kLarge - 4096));
}

TEST(PixelBlock, BlocksForOverwriteAreNotClearedAgain)
{
    // A size no other test uses, so the cache can only hand back this block.
    constexpr std::int64_t kLarge = (std::int64_t{40} << 20) + 4096;
    {
        PixelBlock first = AllocatePixelBlock(kLarge, BlockContents::Unspecified);
        ASSERT_TRUE(first);
        std::memset(first.get(), 0xCD, kLarge);
    }
    PixelBlock reused = AllocatePixelBlock(kLarge, BlockContents::Unspecified);
    ASSERT_TRUE(reused);
    EXPECT_EQ(reused[0], 0xCD);
    EXPECT_EQ(reused[kLarge - 1], 0xCD);
}

// A cached block goes back to the use it was last allocated for, so that a
// part of each frame that touches few of a block's pages keeps a block with
// few pages.
TEST(PixelBlock, CachedBlocksGoBackToTheUseTheyServed)
{
    // A size no other test uses, so the cache holds no other block for it.
    constexpr std::int64_t kLarge = (std::int64_t{44} << 20) + 8192;
    const std::uint8_t* forSeven = nullptr;
    const std::uint8_t* forEight = nullptr;
    {
        PixelBlock seven;
        PixelBlock eight;
        {
            const BlockUse use(7);
            seven = AllocatePixelBlock(kLarge, BlockContents::Unspecified);
        }
        {
            const BlockUse use(8);
            eight = AllocatePixelBlock(kLarge, BlockContents::Unspecified);
        }
        forSeven = seven.get();
        forEight = eight.get();
        ASSERT_NE(forSeven, forEight);
        eight.reset();  // cached first, so the older of the two
    }
    const BlockUse outer(8);
    PixelBlock again;
    {
        const BlockUse inner(7);
        again = AllocatePixelBlock(kLarge, BlockContents::Unspecified);
        EXPECT_EQ(again.get(), forSeven);
    }
    PixelBlock other = AllocatePixelBlock(kLarge, BlockContents::Unspecified);
    EXPECT_EQ(other.get(), forEight) << "the outer use holds again after the inner one ends";
}

TEST(PixelBlock, SmallAndEmptyBlocks)
{
    EXPECT_FALSE(AllocatePixelBlock(0));
    EXPECT_FALSE(AllocatePixelBlock(-5));
    PixelBlock block = AllocatePixelBlock(100);
    ASSERT_TRUE(block);
    EXPECT_TRUE(AllZero(block.get(), 100));
}

// The report of a failed load names the size that could not be had.
TEST(PixelBlock, AFailedAllocationSaysHowMuchWasAskedFor)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer ends the program on a request of this size";
#endif
    try {
        AllocatePixelBlock(INT64_MAX);
        ADD_FAILURE() << "allocated";
    } catch (const CAllocationFailure& failure) {
        EXPECT_EQ(failure.Bytes(), INT64_MAX);
    }
}

// Rows of whole 64-byte lines then start on line boundaries, which the
// dome renders' streaming stores need to cover them whole.
TEST(PixelBlock, PixelsStartOnALine)
{
    for (const std::int64_t bytes : {std::int64_t{1}, std::int64_t{100}, std::int64_t{24} << 20}) {
        for (int round = 0; round < 2; ++round) {
            PixelBlock block = AllocatePixelBlock(bytes, round ? BlockContents::Unspecified : BlockContents::Zeroed);
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.get()) % 64, 0u) << bytes << " bytes";
            block[bytes - 1] = 1;
        }
    }
}

TEST(PixelBlock, ThreadsAllocateAndReleaseConcurrently)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int n = 0; n < 20; ++n) {
                const std::int64_t size = (std::int64_t{9} + (n + t) % 5) << 20;
                PixelBlock block = AllocatePixelBlock(size);
                ASSERT_TRUE(AllZero(block.get(), size));
                std::memset(block.get(), t + 1, size);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// Pages are faulted in beside a writer that is already filling them, from
// the start as the writer does: whatever the writer wrote, before or while
// the pages were populated, is still there once both are done.
TEST(PixelBlock, PagesFaultedAheadKeepWhatTheWriterWrote)
{
    for (const std::int64_t size : {std::int64_t{64} << 20, (std::int64_t{24} << 20) + 4095}) {
        PixelBlock block = AllocatePixelBlock(size, BlockContents::Unspecified);
        std::uint8_t* bytes = block.get();
        {
            const PageFaultsAhead ahead(bytes, size);
            for (std::int64_t at = 0; at < size; ++at) {
                bytes[at] = static_cast<std::uint8_t>(at * 7 + 1);
            }
        }
        for (std::int64_t at = 0; at < size; at += 997) {
            ASSERT_EQ(bytes[at], static_cast<std::uint8_t>(at * 7 + 1)) << size << " " << at;
        }
        ASSERT_EQ(bytes[size - 1], static_cast<std::uint8_t>((size - 1) * 7 + 1));
    }
    // Nothing to do: no span, or one too small to be worth a thread.
    const PageFaultsAhead none(nullptr, 0);
    std::uint8_t small[64] = {};
    const PageFaultsAhead tiny(small, sizeof small);
}

}  // namespace
}  // namespace skelvane
