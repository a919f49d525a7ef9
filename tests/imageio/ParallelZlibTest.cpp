#include "imageio/ParallelZlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>

#include <zlib.h>

namespace skelvane {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

// Hands out the bytes asked for, checking that no piece reaches past the end.
std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& data, int level, std::size_t pieceBytes)
{
    return ZlibCompressInPieces(
        data.size(),
        [&data](std::size_t begin, std::span<std::uint8_t> out) {
            EXPECT_LE(begin + out.size(), data.size());
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(begin),
                        std::min(out.size(), data.size() - std::min(begin, data.size())), out.begin());
        },
        level, pieceBytes);
}

// Inflates with zlib's one-call reader, which checks the header and the
// Adler-32 at the end.
std::vector<std::uint8_t> Inflate(const std::vector<std::uint8_t>& stream, std::size_t size)
{
    std::vector<std::uint8_t> out(size + 1);
    uLongf length = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(out.data(), &length, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
    out.resize(length);
    return out;
}

// Cuts at, before and after piece boundaries, pieces smaller than the window,
// and data that compresses to almost nothing beside data that does not
// compress at all (stored blocks, which end on a byte boundary, beside
// Huffman blocks, which end anywhere in a byte), at every kind of level.
TEST(ParallelZlib, EveryCutReadsBackAsOneStream)
{
    const auto noise = RandomBytes(100000, 1);
    std::vector<std::uint8_t> mixed = noise;
    mixed.insert(mixed.end(), 60000, 0x5A);
    mixed.insert(mixed.end(), noise.begin(), noise.begin() + 30000);
    struct Case {
        std::size_t size;
        std::size_t pieceBytes;
    };
    const Case cases[] = {{0, 1000},     {1, 1000},       {999, 1000},   {1000, 1000}, {1001, 1000},
                          {3500, 1000},  {190000, 1000},  {190000, 65536}, {65536 * 2, 65536}};
    for (const auto& data : {noise, mixed, std::vector<std::uint8_t>(190000, 0)}) {
        for (const Case& c : cases) {
            const std::string name = std::to_string(c.size) + " bytes in pieces of " + std::to_string(c.pieceBytes);
            const std::size_t size = std::min(c.size, data.size());
            const std::vector<std::uint8_t> input(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size));
            for (int level : {kMinDeflateLevel, 1, kDefaultDeflateLevel, kMaxDeflateLevel}) {
                const auto stream = Compress(input, level, c.pieceBytes);
                EXPECT_EQ(Inflate(stream, size), input) << name << " at level " << level;
            }
        }
    }
}

TEST(ParallelZlib, HeaderMatchesZlibsOwnAtTheDefaultLevel)
{
    const auto data = RandomBytes(5000, 2);
    std::vector<std::uint8_t> whole(compressBound(5000));
    uLongf length = static_cast<uLongf>(whole.size());
    ASSERT_EQ(compress2(whole.data(), &length, data.data(), 5000, Z_DEFAULT_COMPRESSION), Z_OK);
    constexpr int kZlibsDefaultLevel = 6;
    const auto pieces = Compress(data, kZlibsDefaultLevel, 1024);
    ASSERT_GE(pieces.size(), 2u);
    EXPECT_EQ(pieces[0], whole[0]);
    EXPECT_EQ(pieces[1], whole[1]);
}

// A 20 KiB random block repeated: each piece starts without the data before
// it, so it may store the block once, but must find every later copy within
// itself; beyond that a cut may cost no more than the window it cannot see.
TEST(ParallelZlib, PiecesLoseNoMoreThanTheWindowBeforeThem)
{
    const auto block = RandomBytes(20 * 1024, 3);
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 64; ++i) {
        data.insert(data.end(), block.begin(), block.end());
    }
    constexpr std::size_t kPieces = 16;
    const auto stream = Compress(data, kDefaultDeflateLevel, data.size() / kPieces);
    EXPECT_EQ(Inflate(stream, data.size()), data);
    EXPECT_LT(stream.size(), kPieces * (block.size() + 1024));

    std::vector<std::uint8_t> whole(compressBound(static_cast<uLong>(data.size())));
    uLongf length = static_cast<uLongf>(whole.size());
    ASSERT_EQ(compress2(whole.data(), &length, data.data(), static_cast<uLong>(data.size()), Z_DEFAULT_COMPRESSION),
              Z_OK);
    EXPECT_LT(stream.size(), length + (kPieces - 1) * (32 * 1024 + 64));
}

TEST(ParallelZlib, RefusesLevelsAndPieceSizesOutOfRange)
{
    const std::vector<std::uint8_t> data(100, 7);
    EXPECT_THROW(Compress(data, kMinDeflateLevel - 1, 64), std::invalid_argument);
    EXPECT_THROW(Compress(data, kMaxDeflateLevel + 1, 64), std::invalid_argument);
    EXPECT_THROW(Compress(data, kDefaultDeflateLevel, 0), std::invalid_argument);
}

}  // namespace
}  // namespace skelvane
