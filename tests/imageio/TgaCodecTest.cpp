#include "imageio/TgaCodec.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using test::PixelsOf;
using Bytes = std::vector<std::uint8_t>;

Bytes TgaHeader(std::uint8_t imageType, std::uint16_t width, std::uint16_t height, std::uint8_t pixelBits,
                std::uint8_t descriptor, std::uint8_t mapType = 0, std::uint16_t mapFirst = 0,
                std::uint16_t mapLength = 0, std::uint8_t mapBits = 0)
{
    return {0,
            mapType,
            imageType,
            static_cast<std::uint8_t>(mapFirst),
            static_cast<std::uint8_t>(mapFirst >> 8),
            static_cast<std::uint8_t>(mapLength),
            static_cast<std::uint8_t>(mapLength >> 8),
            mapBits,
            0,
            0,
            0,
            0,
            static_cast<std::uint8_t>(width),
            static_cast<std::uint8_t>(width >> 8),
            static_cast<std::uint8_t>(height),
            static_cast<std::uint8_t>(height >> 8),
            pixelBits,
            descriptor};
}

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The pixel data of a one-row image of the given 32-bit pixels, run-length encoded.
Bytes EncodedRow(const std::vector<std::uint32_t>& pixels)
{
    CImageBuffer image;
    image.Create(static_cast<std::int32_t>(pixels.size()), 1);
    for (std::size_t x = 0; x < pixels.size(); ++x) {
        image.SetPixel(static_cast<std::int32_t>(x), 0, pixels[x]);
    }
    Bytes file;
    EXPECT_TRUE(EncodeTga(image, true, file));
    return Bytes(file.begin() + 32, file.end());
}

// Packet bytes: a header byte followed by 32-bit pixels.
Bytes Packet(std::uint8_t header, const std::vector<std::uint32_t>& pixels)
{
    Bytes bytes{header};
    for (std::uint32_t p : pixels) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(p >> (8 * i)));
        }
    }
    return bytes;
}

TEST(TgaCodec, SaveWritesTheFixedHeaderAndImageId)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(300, 2);
    ASSERT_TRUE(image.Save(dir / "dome.tga"));
    const Bytes file = test::ReadFileBytes(dir / "dome.tga");
    const Bytes expected = {0x0E, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x18, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x01, 0x02,
                            0x00, 0x20, 0x20, 'Q', 'u', 'o', 'r', 'v', 'a', 'n', 't', 'a', ' ', '-', ' ', 'T', 'G'};
    ASSERT_GT(file.size(), expected.size());
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 32), expected);
    CImageBuffer copy;
    copy.CopyFrom(image);
    Bytes encoded;
    ASSERT_TRUE(EncodeTga(copy, true, encoded));
    EXPECT_EQ(file, encoded);
}

TEST(TgaCodec, RunLengthPacketsFollowTheWorkedExamples)
{
    const std::uint32_t A = 0xFF0000AA, B = 0xFF00BB00, C = 0x80CC0000, D = 0x00000000, X = 0x12345678;
    EXPECT_EQ(EncodedRow({A, A, A, B, C, C, D}),
              Concat(Concat(Packet(0x82, {A}), Packet(0x01, {B, C})), Packet(0x01, {C, D})));
    EXPECT_EQ(EncodedRow({B, A, A}), Concat(Packet(0x01, {B, A}), Packet(0x00, {A})));
    EXPECT_EQ(EncodedRow(std::vector<std::uint32_t>(200, X)), Concat(Packet(0xFE, {X}), Packet(0xC8, {X})));
    EXPECT_EQ(EncodedRow({X}), Packet(0x00, {X}));
    // A raw packet holds at most 127 pixels.
    std::vector<std::uint32_t> distinct(130);
    for (std::uint32_t i = 0; i < 130; ++i) {
        distinct[i] = i;
    }
    const Bytes row = EncodedRow(distinct);
    ASSERT_EQ(row.size(), 2 + 130 * 4u);
    EXPECT_EQ(row[0], 126);
    EXPECT_EQ(row[1 + 127 * 4], 2);
}

// The packet rule written out step by step, for comparison with the encoder.
Bytes ReferenceRow(const std::vector<std::uint32_t>& row)
{
    Bytes out;
    const auto width = static_cast<std::int32_t>(row.size());
    std::int32_t x = 0;
    while (x < width) {
        std::int32_t run = 1;
        while (x + run < width && run < 127 && row[x + run] == row[x]) {
            ++run;
        }
        if (run > 1) {
            out = Concat(out, Packet(static_cast<std::uint8_t>(0x80 | (run - 1)), {row[x]}));
            x += run;
            continue;
        }
        std::vector<std::uint32_t> packet{row[x]};
        std::int32_t next = x + 1;
        while (packet.size() < 127 && next < width) {
            packet.push_back(row[next]);
            ++next;
            if (next < width && row[next - 1] == row[next]) {
                break;
            }
        }
        out = Concat(out, Packet(static_cast<std::uint8_t>(packet.size() - 1), packet));
        x = next;
    }
    return out;
}

TEST(TgaCodec, RunLengthEncoderFollowsThePacketRuleOnAnyRow)
{
    std::uint32_t state = 7;
    for (int trial = 0; trial < 400; ++trial) {
        state = state * 1664525u + 1013904223u;
        const std::size_t width = 1 + (state >> 8) % 300;
        const std::uint32_t colours = 1 + (state >> 20) % 4;  // few colours: many pairs and runs
        std::vector<std::uint32_t> row(width);
        for (auto& pixel : row) {
            state = state * 1664525u + 1013904223u;
            pixel = 0x01020304u * ((state >> 16) % colours);
        }
        ASSERT_EQ(EncodedRow(row), ReferenceRow(row)) << "trial " << trial << " width " << width;
    }
}

TEST(TgaCodec, PacketsNeverSpanRows)
{
    CImageBuffer image;
    image.Create(3, 2);  // all six pixels equal
    Bytes file;
    ASSERT_TRUE(EncodeTga(image, true, file));
    EXPECT_EQ(Bytes(file.begin() + 32, file.end()), Concat(Packet(0x82, {0}), Packet(0x82, {0})));
}

TEST(TgaCodec, UncompressedFileIsHeaderPlusTopDownRows)
{
    CImageBuffer image = test::MakePatternImage(7, 5);
    image.SetPixel(0, 0, 0x00000000);
    Bytes file;
    ASSERT_TRUE(EncodeTga(image, false, file));
    ASSERT_EQ(file.size(), 32u + 4 * 7 * 5);
    EXPECT_EQ(file[2], 2);
    const std::uint32_t secondPixel = image.GetPixel(1, 0);
    EXPECT_EQ(file[36], secondPixel & 255);
    EXPECT_EQ(file[39], secondPixel >> 24);
}

TEST(TgaCodec, RoundTripsKeepEveryPixelAndAlpha)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(41, 13);
    for (std::int32_t x = 5; x < 30; ++x) {
        image.SetPixel(x, 4, 0x00000000);  // a run, transparent
    }
    image.SetPixel(3, 3, 0x7F010203);
    const auto expected = PixelsOf(image);
    for (bool runLength : {true, false}) {
        Bytes file;
        ASSERT_TRUE(EncodeTga(image, runLength, file));
        test::WriteFileBytes(dir / "frame.tga", file);
        CImageBuffer loaded;
        ASSERT_TRUE(loaded.Load(dir / "frame.tga")) << runLength;
        EXPECT_EQ(PixelsOf(loaded), expected) << runLength;
    }
    ASSERT_TRUE(image.ConvertTo24());
    ASSERT_TRUE(image.Save(dir / "frame24.tga"));
    EXPECT_EQ(image.GetBitCount(), 32);
    CImageBuffer loaded;
    ASSERT_TRUE(loaded.Load(dir / "frame24.tga"));
    EXPECT_EQ(test::ReadFileBytes(dir / "frame24.tga")[16], 24);
    auto opaque = expected;
    for (auto& p : opaque) {
        p |= 0xFF000000u;
    }
    EXPECT_EQ(PixelsOf(loaded), opaque);
}

TEST(TgaCodec, OriginBitsChooseRowOrderAndDirection)
{
    // Two rows of two 24-bit pixels: file order P0 P1 / P2 P3.
    const Bytes pixels = {1, 0, 0, 2, 0, 0, 3, 0, 0, 4, 0, 0};
    struct Case {
        std::uint8_t descriptor;
        std::vector<std::uint32_t> expected;  // top row first
    };
    const Case cases[] = {
        {0x00, {0xFF000003, 0xFF000004, 0xFF000001, 0xFF000002}},  // bottom-up
        {0x20, {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004}},  // top-down
        {0x30, {0xFF000002, 0xFF000001, 0xFF000004, 0xFF000003}},  // top-down, right to left
        {0x10, {0xFF000004, 0xFF000003, 0xFF000002, 0xFF000001}},  // bottom-up, right to left
    };
    for (const auto& c : cases) {
        CImageBuffer image;
        ASSERT_TRUE(DecodeTga(Concat(TgaHeader(2, 2, 2, 24, c.descriptor), pixels), image));
        EXPECT_EQ(PixelsOf(image), c.expected) << int(c.descriptor);
    }
}

TEST(TgaCodec, ColourMappedAndGrayImagesLoadAsColour)
{
    Bytes map;
    for (int i = 0; i < 256; ++i) {
        map.insert(map.end(), {static_cast<std::uint8_t>(i), 0x10, static_cast<std::uint8_t>(255 - i)});
    }
    const Bytes raw = Concat(Concat(TgaHeader(1, 3, 1, 8, 0x20, 1, 0, 256, 24), map), {0, 7, 255});
    const Bytes rle = Concat(Concat(TgaHeader(9, 3, 1, 8, 0x20, 1, 0, 256, 24), map), {0x00, 0, 0x81, 7});
    CImageBuffer image;
    ASSERT_TRUE(DecodeTga(raw, image));
    EXPECT_EQ(PixelsOf(image), (std::vector<std::uint32_t>{0xFFFF1000, 0xFFF81007, 0xFF0010FF}));
    ASSERT_TRUE(DecodeTga(rle, image));
    EXPECT_EQ(PixelsOf(image), (std::vector<std::uint32_t>{0xFFFF1000, 0xFFF81007, 0xFFF81007}));

    // A map that starts at entry 2: indices address entries directly.
    const Bytes offsetMap = Concat(Concat(TgaHeader(1, 2, 1, 8, 0x20, 1, 2, 1, 24), {9, 8, 7}), {2, 0});
    ASSERT_TRUE(DecodeTga(offsetMap, image));
    EXPECT_EQ(PixelsOf(image), (std::vector<std::uint32_t>{0xFF070809, 0xFF000000}));

    ASSERT_TRUE(DecodeTga(Concat(TgaHeader(3, 2, 1, 8, 0x20), {0x00, 0x9A}), image));
    EXPECT_EQ(PixelsOf(image), (std::vector<std::uint32_t>{0xFF000000, 0xFF9A9A9A}));
    ASSERT_TRUE(DecodeTga(Concat(TgaHeader(11, 3, 1, 8, 0x20), {0x82, 0x40}), image));
    EXPECT_EQ(PixelsOf(image), (std::vector<std::uint32_t>(3, 0xFF404040)));
    ASSERT_TRUE(DecodeTga(Concat(TgaHeader(3, 1, 1, 16, 0x20), {0x40, 0x80}), image));  // gray + alpha
    EXPECT_EQ(image.GetPixel(0, 0), 0x80404040u);
}

TEST(TgaCodec, UnusedColourMapOfTrueColourImageIsSkipped)
{
    const Bytes file =
        Concat(Concat(TgaHeader(2, 1, 1, 16, 0x20, 1, 0, 300, 16), Bytes(600, 0xEE)), {0xFF, 0x7F});
    CImageBuffer image;
    ASSERT_TRUE(DecodeTga(file, image));
    EXPECT_EQ(image.GetPixel(0, 0), 0xFFFFFFFFu);
}

TEST(TgaCodec, PacketMayContinueIntoTheNextRow)
{
    const Bytes file = Concat(TgaHeader(11, 2, 2, 8, 0x20), {0x82, 0x11, 0x00, 0x22});
    CImageBuffer image;
    ASSERT_TRUE(DecodeTga(file, image));
    EXPECT_EQ(PixelsOf(image), (std::vector<std::uint32_t>{0xFF111111, 0xFF111111, 0xFF111111, 0xFF222222}));
}

TEST(TgaCodec, DamagedFilesFailAndEmptyTheBuffer)
{
    test::TempDir dir;
    const Bytes fourPixels24(12, 0x33);
    const std::pair<const char*, Bytes> files[] = {
        {"short-header.tga", Bytes(17, 0)},
        {"header-only.tga", TgaHeader(2, 2, 2, 24, 0)},
        {"truncated-pixels.tga", Concat(TgaHeader(2, 2, 2, 24, 0), Bytes(11, 0x33))},
        {"truncated-packets.tga", Concat(TgaHeader(10, 2, 2, 24, 0), {0x81, 1, 2, 3, 0x00})},
        {"packet-past-last-pixel.tga", Concat(TgaHeader(11, 2, 2, 8, 0), {0x84, 0x55})},
        {"raw-packet-past-end-of-file.tga", Concat(TgaHeader(11, 2, 2, 8, 0), {0x03, 1, 2})},
        {"zero-width.tga", Concat(TgaHeader(2, 0, 2, 24, 0), fourPixels24)},
        {"huge-size.tga", Concat(TgaHeader(2, 0xFFFF, 0xFFFF, 24, 0), fourPixels24)},
        {"unknown-type.tga", Concat(TgaHeader(32, 2, 2, 24, 0), fourPixels24)},
        {"no-image-type.tga", Concat(TgaHeader(0, 2, 2, 24, 0), fourPixels24)},
        {"pixel-depth-12.tga", Concat(TgaHeader(2, 2, 2, 12, 0), fourPixels24)},
        {"colour-mapped-without-map.tga", Concat(TgaHeader(1, 2, 2, 8, 0), fourPixels24)},
        {"map-past-entry-255.tga", Concat(Concat(TgaHeader(1, 1, 1, 8, 0, 1, 200, 60, 24), Bytes(180, 0)), {0})},
        {"map-entry-size-8.tga", Concat(Concat(TgaHeader(1, 1, 1, 8, 0, 1, 0, 4, 8), Bytes(4, 0)), {0})},
        {"map-past-end-of-file.tga", Concat(TgaHeader(1, 1, 1, 8, 0, 1, 0, 256, 24), Bytes(100, 0))},
    };
    for (const auto& [name, bytes] : files) {
        test::WriteFileBytes(dir / name, bytes);
        CImageBuffer image = test::MakePatternImage(3, 3);
        EXPECT_FALSE(image.Load(dir / name)) << name;
        EXPECT_TRUE(image.IsEmpty()) << name;
    }
}

TEST(TgaCodec, MissingFileLeavesTheBufferAsItWas)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(4, 3);
    const auto before = PixelsOf(image);
    EXPECT_FALSE(image.Load(dir / "missing.tga"));
    EXPECT_EQ(PixelsOf(image), before);
    CImageBuffer empty;
    EXPECT_FALSE(empty.Save(dir / "empty.tga"));
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.tga"));
}

}  // namespace
}  // namespace skelvane
