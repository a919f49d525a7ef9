// The PNG files we write, read back by other programs' decoders: Pillow's own
// and FFmpeg's, neither of which goes through libpng.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "imageio/PngCodec.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

// Runs a shell command and returns what it wrote to its standard output;
// an exit status other than 0 fails the test.
std::vector<std::uint8_t> Output(const std::string& command)
{
    std::vector<std::uint8_t> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return out;
    }
    std::uint8_t buffer[1 << 16];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.insert(out.end(), buffer, buffer + got);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return out;
}

std::vector<std::uint8_t> ReadWithPillow(const std::filesystem::path& file)
{
    return Output("/usr/bin/python3 -c 'import sys; from PIL import Image; "
                  "sys.stdout.buffer.write(Image.open(sys.argv[1]).convert(\"RGBA\").tobytes())' '" +
                  file.string() + "'");
}

std::vector<std::uint8_t> ReadWithFfmpeg(const std::filesystem::path& file)
{
    return Output("ffmpeg -hide_banner -loglevel error -nostdin -i '" + file.string() +
                  "' -f rawvideo -pix_fmt rgba -");
}

// Red, green, blue, alpha of every pixel, top row first, as a reader that
// converts to 8-bit RGBA delivers them.
std::vector<std::uint8_t> Rgba(const CImageBuffer& image)
{
    std::vector<std::uint8_t> rgba;
    const int bytesPerPixel = image.GetBitCount() / 8;
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
            const std::uint8_t* p = image.Row(y) + static_cast<std::size_t>(x) * bytesPerPixel;
            if (bytesPerPixel == 1) {
                const auto& entry = image.Palette()[*p];
                rgba.insert(rgba.end(), {entry.red, entry.green, entry.blue, 0xFF});
            } else {
                rgba.insert(rgba.end(), {p[2], p[1], p[0], bytesPerPixel == 4 ? p[3] : std::uint8_t{0xFF}});
            }
        }
    }
    return rgba;
}

// Smooth gradients with grain, as rendered photographs are, and a band of
// pure noise: deflate emits both Huffman and stored blocks, so the pieces'
// seams fall after blocks of both kinds.
CImageBuffer Picture(std::int32_t width, std::int32_t height, int bitCount)
{
    std::mt19937 random(static_cast<std::uint32_t>(width * 31 + bitCount));
    CImageBuffer image;
    EXPECT_TRUE(image.AllocateForReader(width, height, bitCount));
    const int bytesPerPixel = bitCount / 8;
    for (std::int32_t y = 0; y < height; ++y) {
        const bool noise = y > height / 3 && y < height / 2;
        for (std::int32_t x = 0; x < width; ++x) {
            for (int c = 0; c < bytesPerPixel; ++c) {
                const auto smooth = static_cast<unsigned>(x * (c + 1) / 7 + y * (3 - c) / 5 + random() % 4);
                image.Row(y)[x * bytesPerPixel + c] = static_cast<std::uint8_t>(noise ? random() : smooth);
            }
        }
    }
    for (int i = 0; bitCount == 8 && i < 256; ++i) {
        image.Palette()[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 5),
                              static_cast<std::uint8_t>(255 - i), 0};
    }
    return image;
}

// Sizes from one pixel and one row to several megabytes in pieces, odd
// widths putting the seams inside rows, at the fastest, default and smallest
// levels.
TEST(PngReaders, PillowAndFfmpegReadTheSamePixels)
{
    struct Case {
        std::int32_t width;
        std::int32_t height;
        int bitCount;
        int level;
    };
    const Case cases[] = {
        {1, 1, 32, kDefaultDeflateLevel},        {7, 1, 24, kDefaultDeflateLevel},
        {1031, 2100, 32, kDefaultDeflateLevel},  {1031, 1500, 24, kDefaultDeflateLevel},
        {2053, 2100, 8, kDefaultDeflateLevel},   {1031, 2100, 32, kMinDeflateLevel},
        {1031, 1100, 32, 1},                     {517, 1100, 24, kMaxDeflateLevel},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height) + ", " +
                                 std::to_string(c.bitCount) + "-bit, level " + std::to_string(c.level);
        const CImageBuffer image = Picture(c.width, c.height, c.bitCount);
        std::vector<std::uint8_t> file;
        ASSERT_TRUE(EncodePng(image, false, file, nullptr, c.level)) << name;
        const auto path = dir / "picture.png";
        test::WriteFileBytes(path, file);
        const auto expected = Rgba(image);
        EXPECT_TRUE(ReadWithPillow(path) == expected) << name;
        EXPECT_TRUE(ReadWithFfmpeg(path) == expected) << name;
    }
}

}  // namespace
}  // namespace skelvane
