#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "imageio/BmpCodec.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Get32(const Bytes& bytes, std::size_t offset)
{
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 | std::uint32_t{bytes[offset + 3]} << 24;
}

std::uint16_t Get16(const Bytes& bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

void Put16(Bytes& bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(Bytes& bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void Set32(Bytes& bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// A Windows 3 information header; `size` > 40 pads it with zeros (V4, V5).
Bytes InfoHeader(std::int32_t width, std::int32_t height, std::uint16_t bitCount, std::uint32_t compression = 0,
                 std::uint32_t colorsUsed = 0, std::uint32_t size = 40)
{
    Bytes info;
    Put32(info, size);
    Put32(info, static_cast<std::uint32_t>(width));
    Put32(info, static_cast<std::uint32_t>(height));
    Put16(info, 1);
    Put16(info, bitCount);
    Put32(info, compression);
    Put32(info, 0);  // image size
    Put32(info, 2835);
    Put32(info, 2835);
    Put32(info, colorsUsed);
    Put32(info, 0);
    info.resize(size, 0);
    return info;
}

// A whole file: headers, whatever lies between header and pixels (palette,
// masks), then the pixel bytes.
Bytes BmpFile(const Bytes& info, const Bytes& between, const Bytes& pixels)
{
    Bytes file;
    const auto offset = static_cast<std::uint32_t>(14 + info.size() + between.size());
    Put16(file, 0x4D42);
    Put32(file, static_cast<std::uint32_t>(offset + pixels.size()));
    Put32(file, 0);
    Put32(file, offset);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), between.begin(), between.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

// Palette entries blue, green, red, reserved for colours 0x00RRGGBB.
Bytes Palette(std::initializer_list<std::uint32_t> colours)
{
    Bytes palette;
    for (std::uint32_t colour : colours) {
        Put32(palette, colour);
    }
    return palette;
}

// Decodes and expects a 32-bit image of the given size.
CImageBuffer Decoded(const Bytes& file, std::int32_t width, std::int32_t height)
{
    CImageBuffer image;
    std::string error;
    EXPECT_TRUE(DecodeBmp(file, image, &error)) << error;
    EXPECT_EQ(image.GetWidth(), width);
    EXPECT_EQ(image.GetHeight(), height);
    EXPECT_EQ(image.GetBitCount(), 32);
    return image;
}

TEST(BmpWriter, WritesThe3x2LayoutByteForByte)
{
    CImageBuffer image;
    ASSERT_TRUE(image.Create(3, 2));
    image.SetPixel(0, 0, 0x80112233);  // top left, half transparent
    image.SetPixel(2, 0, 0xFF445566);
    image.SetPixel(0, 1, 0x00778899);  // bottom left, transparent
    image.SetPixel(2, 1, 0xFFAABBCC);
    Bytes file;
    ASSERT_TRUE(EncodeBmp(image, file));
    ASSERT_EQ(file.size(), 80u);
    EXPECT_EQ(Get16(file, 0), 0x4D42);
    EXPECT_EQ(Get32(file, 2), 80u);
    EXPECT_EQ(Get16(file, 6), 0);
    EXPECT_EQ(Get16(file, 8), 0);
    EXPECT_EQ(Get32(file, 10), 56u);
    EXPECT_EQ(Get32(file, 14), 40u);
    EXPECT_EQ(Get32(file, 18), 3u);
    EXPECT_EQ(Get32(file, 22), 2u);
    EXPECT_EQ(Get16(file, 26), 1);
    EXPECT_EQ(Get16(file, 28), 24);
    for (std::size_t offset = 30; offset < 56; ++offset) {
        EXPECT_EQ(file[offset], 0) << "byte " << offset;
    }
    // Bottom row first, blue green red, three zero fill bytes per row.
    const Bytes bottom = {0x99, 0x88, 0x77, 0, 0, 0, 0xCC, 0xBB, 0xAA, 0, 0, 0};
    const Bytes top = {0x33, 0x22, 0x11, 0, 0, 0, 0x66, 0x55, 0x44, 0, 0, 0};
    EXPECT_EQ(Bytes(file.begin() + 56, file.begin() + 68), bottom);
    EXPECT_EQ(Bytes(file.begin() + 68, file.end()), top);

    // The buffer is back in 32 bits, every pixel opaque.
    EXPECT_EQ(image.GetBitCount(), 32);
    EXPECT_EQ(image.Stride(), 12);
    EXPECT_EQ(image.GetPixel(0, 0), 0xFF112233u);
    EXPECT_EQ(image.GetPixel(0, 1), 0xFF778899u);
    EXPECT_EQ(image.GetPixel(1, 1), 0xFF000000u);
}

TEST(BmpWriter, RefusesEmptyAndNon32BitImages)
{
    Bytes out = {1, 2, 3};
    CImageBuffer empty;
    EXPECT_FALSE(EncodeBmp(empty, out));
    CImageBuffer paletted;
    ASSERT_TRUE(paletted.AllocateForReader(4, 4, 8));
    EXPECT_FALSE(EncodeBmp(paletted, out));
    EXPECT_EQ(out, (Bytes{1, 2, 3}));
    EXPECT_EQ(paletted.GetBitCount(), 8);

    test::TempDir dir;
    EXPECT_FALSE(paletted.Save(dir / "paletted.bmp"));
    EXPECT_FALSE(empty.Save(dir / "empty.bmp"));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(BmpRoundTrip, KeepsColoursOfOddSizedImagesAndMakesThemOpaque)
{
    test::TempDir dir;
    for (const auto& [width, height] : {std::pair{1, 1}, {3, 2}, {5, 3}, {7, 4}, {126, 5}}) {
        CImageBuffer image = test::MakePatternImage(width, height, static_cast<std::uint32_t>(width));
        image.SetPixel(0, 0, image.GetPixel(0, 0) & 0x00FFFFFF);  // alpha 0 must come back 0xFF
        const std::vector<std::uint32_t> saved = test::PixelsOf(image);
        const auto path = dir / ("pattern-" + std::to_string(width) + ".bmp");
        ASSERT_TRUE(image.Save(path));

        CImageBuffer loaded;
        ASSERT_TRUE(loaded.Load(path)) << width;
        ASSERT_EQ(loaded.GetWidth(), width);
        ASSERT_EQ(loaded.GetHeight(), height);
        std::vector<std::uint32_t> expected = saved;
        for (std::uint32_t& pixel : expected) {
            pixel |= 0xFF000000u;
        }
        EXPECT_EQ(test::PixelsOf(loaded), expected) << width << "x" << height;
        EXPECT_EQ(test::PixelsOf(image), expected) << "buffer after saving";
        EXPECT_EQ(test::ReadFileBytes(path).size(), 56 + PaddedRowBytes(width, 24) * height);
    }
}

TEST(BmpFiles, SaveReplacesAnExistingFileAndAFailedSaveLeavesNothing)
{
    test::TempDir dir;
    const auto path = dir / "dome.bmp";
    test::WriteFileBytes(path, Bytes(5000, 0xAB));
    CImageBuffer image = test::MakePatternImage(3, 2);
    ASSERT_TRUE(image.Save(path));
    EXPECT_EQ(test::ReadFileBytes(path).size(), 80u);

    EXPECT_FALSE(image.Save(dir / "missing-folder" / "dome.bmp"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing-folder"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(BmpFiles, LoadingAMissingFileEmptiesTheBuffer)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(4, 4);
    EXPECT_FALSE(image.Load(dir / "missing.bmp"));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
}

TEST(BmpReader, Reads24BitRowsPaddedInTheFile)
{
    // 5 pixels of 3 bytes: 15 bytes padded to 16 per row, bottom row first.
    Bytes pixels;
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < 5; ++x) {
            pixels.insert(pixels.end(), {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(row), 0x30});
        }
        pixels.push_back(0xEE);  // padding must not show up anywhere
    }
    CImageBuffer image = Decoded(BmpFile(InfoHeader(5, 2, 24), {}, pixels), 5, 2);
    EXPECT_EQ(image.Stride(), 20);
    EXPECT_EQ(image.GetPixel(0, 1), 0xFF300000u);
    EXPECT_EQ(image.GetPixel(4, 1), 0xFF300004u);
    EXPECT_EQ(image.GetPixel(4, 0), 0xFF300104u);
}

TEST(BmpReader, ReadsTopDownRowsAndNormalisesTheHeader)
{
    Bytes pixels;
    for (std::uint8_t row = 0; row < 3; ++row) {
        Put32(pixels, row);  // 1 pixel, padded to 4
    }
    CImageBuffer image = Decoded(BmpFile(InfoHeader(1, -3, 24), {}, pixels), 1, 3);
    EXPECT_EQ(image.GetPixel(0, 0), 0xFF000000u);
    EXPECT_EQ(image.GetPixel(0, 2), 0xFF000002u);
    EXPECT_EQ(image.InfoHeader().height, 3);
    EXPECT_EQ(image.InfoHeader().compression, 0u);
    EXPECT_EQ(image.FileHeader().offBits, 54u);
}

TEST(BmpReader, Reads8BitPalettesOfEveryDeclaredSize)
{
    // Two rows of 3 indices padded to 4.
    const Bytes pixels = {0, 1, 2, 0, 15, 200, 1, 0};
    Bytes full(1024, 0);
    full[4 * 1 + 2] = 0xFF;      // entry 1 red
    full[4 * 200 + 1] = 0x80;    // entry 200 green
    CImageBuffer all = Decoded(BmpFile(InfoHeader(3, 2, 8, 0, 0), full, pixels), 3, 2);
    EXPECT_EQ(all.PaletteCount(), 256);
    EXPECT_EQ(all.GetPixel(1, 0), 0xFF008000u);  // top row is the file's second
    EXPECT_EQ(all.GetPixel(1, 1), 0xFFFF0000u);

    // Sixteen entries: index 200 lies beyond them and must not read the
    // pixel bytes that follow the palette.
    Bytes sixteen = Palette({0x000000, 0xFF0000, 0x00FF00});
    sixteen.resize(64, 0x11);
    CImageBuffer some = Decoded(BmpFile(InfoHeader(3, 2, 8, 0, 16), sixteen, pixels), 3, 2);
    EXPECT_EQ(some.PaletteCount(), 16);
    EXPECT_EQ(some.GetPixel(1, 0), 0xFF000000u);
    EXPECT_EQ(some.GetPixel(0, 0), 0xFF111111u);  // entry 15
    EXPECT_EQ(some.GetPixel(2, 1), 0xFF00FF00u);
}

TEST(BmpReader, Reads1And4BitPixelsLeftmostInTheHighBits)
{
    // 10 pixels of 1 bit: 0b1010'0000'01 -> two bytes, padded to 4.
    const Bytes one = {0b1010'0000, 0b0100'0000, 0, 0};
    CImageBuffer mono = Decoded(BmpFile(InfoHeader(10, 1, 1), Palette({0x000000, 0xFFFFFF}), one), 10, 1);
    const std::vector<std::uint32_t> expectedMono = {~0u, 0xFF000000u, ~0u, 0xFF000000u, 0xFF000000u,
                                                     0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u, ~0u};
    EXPECT_EQ(test::PixelsOf(mono), expectedMono);

    // 3 pixels of 4 bits: indices 2, 0, 1.
    const Bytes four = {0x20, 0x10, 0, 0};
    CImageBuffer nibbles =
        Decoded(BmpFile(InfoHeader(3, 1, 4, 0, 3), Palette({0x000010, 0x000020, 0x000030}), four), 3, 1);
    EXPECT_EQ(test::PixelsOf(nibbles), (std::vector<std::uint32_t>{0xFF000030, 0xFF000010, 0xFF000020}));
}

TEST(BmpReader, FindsThePaletteAfterLongAndOs2Headers)
{
    const Bytes pixels = {1, 0, 0, 0};
    CImageBuffer v5 = Decoded(BmpFile(InfoHeader(1, 1, 8, 0, 2, 124), Palette({0, 0x123456}), pixels), 1, 1);
    EXPECT_EQ(v5.GetPixel(0, 0), 0xFF123456u);

    // OS/2 1.x: 16-bit sides and three-byte palette entries.
    Bytes os2;
    Put32(os2, 12);
    Put16(os2, 1);
    Put16(os2, 1);
    Put16(os2, 1);
    Put16(os2, 8);
    CImageBuffer old = Decoded(BmpFile(os2, {0, 0, 0, 0x56, 0x34, 0x12}, pixels), 1, 1);
    EXPECT_EQ(old.GetPixel(0, 0), 0xFF123456u);
}

TEST(BmpReader, Widens16BitChannelsSoWhiteStaysWhite)
{
    // Plain 16-bit is 5-5-5: white, then blue 3 (exactly 3 * 255 / 31 = 24.7).
    Bytes pixels;
    Put16(pixels, 0x7FFF);
    Put16(pixels, 0x0003);
    CImageBuffer plain = Decoded(BmpFile(InfoHeader(2, 1, 16), {}, pixels), 2, 1);
    EXPECT_EQ(plain.GetPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(plain.GetPixel(1, 0), 0xFF000019u);

    // 5-6-5 through bit fields: white, and green 1 of 63 (4.05).
    Bytes wide;
    Put16(wide, 0xFFFF);
    Put16(wide, 0x0020);
    Bytes masks;
    Put32(masks, 0xF800);
    Put32(masks, 0x07E0);
    Put32(masks, 0x001F);
    CImageBuffer bitFields = Decoded(BmpFile(InfoHeader(2, 1, 16, 3), masks, wide), 2, 1);
    EXPECT_EQ(bitFields.GetPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(bitFields.GetPixel(1, 0), 0xFF000400u);
}

TEST(BmpReader, Takes32BitAlphaOnlyWhenTheFileMeansIt)
{
    // Plain rows with zeros in every fourth byte: opaque, not transparent.
    const Bytes zeros = {0x10, 0x20, 0x30, 0, 0x40, 0x50, 0x60, 0};
    CImageBuffer plain = Decoded(BmpFile(InfoHeader(2, 1, 32), {}, zeros), 2, 1);
    EXPECT_EQ(test::PixelsOf(plain), (std::vector<std::uint32_t>{0xFF302010, 0xFF605040}));

    // One pixel sets it: then it is alpha in every pixel.
    const Bytes someAlpha = {0x10, 0x20, 0x30, 0x80, 0x40, 0x50, 0x60, 0};
    CImageBuffer alpha = Decoded(BmpFile(InfoHeader(2, 1, 32), {}, someAlpha), 2, 1);
    EXPECT_EQ(test::PixelsOf(alpha), (std::vector<std::uint32_t>{0x80302010, 0x00605040}));

    // V5 bit fields in the order red, green, blue, alpha from the low byte.
    Bytes v5 = InfoHeader(2, 1, 32, 3, 0, 124);
    Set32(v5, 40, 0x000000FF);
    Set32(v5, 44, 0x0000FF00);
    Set32(v5, 48, 0x00FF0000);
    Set32(v5, 52, 0xFF000000);
    CImageBuffer declared = Decoded(BmpFile(v5, {}, someAlpha), 2, 1);
    EXPECT_EQ(test::PixelsOf(declared), (std::vector<std::uint32_t>{0x80102030, 0x00405060}));

    // Bit fields without an alpha mask: the spare byte means nothing.
    Set32(v5, 52, 0);
    CImageBuffer undeclared = Decoded(BmpFile(v5, {}, someAlpha), 2, 1);
    EXPECT_EQ(test::PixelsOf(undeclared), (std::vector<std::uint32_t>{0xFF102030, 0xFF405060}));
}

TEST(BmpReader, DecodesRunLengthPacketsWithMovesAndLiterals)
{
    // 4 x 3, bottom row first: a run of 3, end of line; a move of (1, 1) to
    // the top row; a literal of 3; end of bitmap. Row 1 is never written.
    const Bytes rle8 = {3, 7, 0, 0, 0, 2, 1, 1, 0, 3, 4, 5, 6, 0, 0, 1};
    Bytes palette(1024, 0);
    for (int i = 0; i < 8; ++i) {
        palette[4 * i] = static_cast<std::uint8_t>(0x10 * i);
    }
    CImageBuffer image = Decoded(BmpFile(InfoHeader(4, 3, 8, 1), palette, rle8), 4, 3);
    const auto c = [](std::uint32_t i) { return 0xFF000000u | 0x10 * i; };
    EXPECT_EQ(test::PixelsOf(image),
              (std::vector<std::uint32_t>{c(0), c(4), c(5), c(6), c(0), c(0), c(0), c(0), c(7), c(7), c(7), c(0)}));

    // RLE4: a run of 3 alternating 1 and 2, then a literal of 5 nibbles.
    const Bytes rle4 = {3, 0x12, 0, 0, 0, 5, 0x34, 0x56, 0x70, 0, 0, 1};
    CImageBuffer nibbles = Decoded(BmpFile(InfoHeader(5, 2, 4, 2, 8), Bytes(palette.begin(), palette.begin() + 32), rle4), 5, 2);
    EXPECT_EQ(test::PixelsOf(nibbles), (std::vector<std::uint32_t>{c(3), c(4), c(5), c(6), c(7),
                                                                   c(1), c(2), c(1), c(0), c(0)}));
}

// Files named after their fault: each must fail with an empty buffer,
// without reading outside the file.
TEST(BmpReader, RefusesCorruptFilesCleanly)
{
    const Bytes rgb = BmpFile(InfoHeader(4, 4, 24), {}, Bytes(48, 0x55));
    Bytes masks;
    Put32(masks, 0xFF00);
    Put32(masks, 0x0FF0);  // overlaps red
    Put32(masks, 0x000F);

    std::vector<std::pair<std::string, Bytes>> fixtures = {
        {"not-bm.bmp", Bytes{'P', 'K', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0}},
        {"truncated-header.bmp", Bytes(rgb.begin(), rgb.begin() + 30)},
        {"truncated-pixels.bmp", Bytes(rgb.begin(), rgb.end() - 13)},
        {"huge-width.bmp", BmpFile(InfoHeader(kMaxImageSide + 1, 1, 24), {}, Bytes(64, 0))},
        {"huge-height-top-down.bmp", BmpFile(InfoHeader(1, INT32_MIN, 24), {}, Bytes(64, 0))},
        {"negative-width.bmp", BmpFile(InfoHeader(-4, 4, 24), {}, Bytes(48, 0))},
        {"zero-height.bmp", BmpFile(InfoHeader(4, 0, 24), {}, Bytes(48, 0))},
        {"bit-count-7.bmp", BmpFile(InfoHeader(4, 4, 7), {}, Bytes(64, 0))},
        {"header-size-66.bmp", BmpFile(InfoHeader(4, 4, 24, 0, 0, 66), {}, Bytes(48, 0))},
        {"palette-count-absurd.bmp", BmpFile(InfoHeader(4, 1, 8, 0, 0x12345678), Bytes(1024, 0), Bytes(4, 0))},
        {"pixel-offset-past-end.bmp", [&] { Bytes f = rgb; Set32(f, 10, 1u << 30); return f; }()},
        {"overlapping-masks.bmp", BmpFile(InfoHeader(2, 1, 16, 3), masks, Bytes(4, 0))},
        {"masks-missing.bmp", BmpFile(InfoHeader(2, 1, 16, 3), {}, {})},
        {"bit-fields-on-8-bit.bmp", BmpFile(InfoHeader(4, 1, 8, 3), masks, Bytes(4, 0))},
        {"jpeg-inside.bmp", BmpFile(InfoHeader(4, 1, 0, 4), {}, Bytes(64, 0))},
        {"rle-run-past-row.bmp", BmpFile(InfoHeader(4, 2, 8, 1), Bytes(1024, 0), {5, 1, 0, 1})},
        {"rle-literal-past-row.bmp", BmpFile(InfoHeader(4, 2, 8, 1), Bytes(1024, 0), {2, 1, 0, 3, 1, 2, 3, 0, 0, 1})},
        {"rle-move-past-image.bmp", BmpFile(InfoHeader(4, 2, 8, 1), Bytes(1024, 0), {0, 2, 0, 2, 1, 1, 0, 1})},
        {"rle-missing-end.bmp", BmpFile(InfoHeader(4, 2, 8, 1), Bytes(1024, 0), {4, 1, 0, 0, 4, 1})},
        {"rle-literal-cut-short.bmp", BmpFile(InfoHeader(4, 2, 8, 1), Bytes(1024, 0), {0, 4, 1, 2})},
        {"rle-too-short-for-size.bmp", BmpFile(InfoHeader(30000, 30000, 8, 1), Bytes(1024, 0), {0, 1})},
        {"rle-top-down.bmp", BmpFile(InfoHeader(4, -2, 8, 1), Bytes(1024, 0), {0, 1})},
        {"rle8-with-4-bits.bmp", BmpFile(InfoHeader(4, 2, 4, 1), Bytes(64, 0), {0, 1})},
    };
    test::TempDir dir;
    for (const auto& [name, bytes] : fixtures) {
        CImageBuffer image = test::MakePatternImage(2, 2);
        std::string error;
        EXPECT_FALSE(DecodeBmp(bytes, image, &error)) << name;
        EXPECT_TRUE(image.IsEmpty()) << name;
        EXPECT_FALSE(error.empty()) << name;

        test::WriteFileBytes(dir / name, bytes);
        CImageBuffer fromFile = test::MakePatternImage(2, 2);
        EXPECT_FALSE(fromFile.Load(dir / name)) << name;
        EXPECT_TRUE(fromFile.IsEmpty()) << name;
        EXPECT_EQ(fromFile.GetWidth(), 0) << name;
    }
}

TEST(BmpReader, ReadsALastRowWithoutItsPadding)
{
    // Files whose last row stops at its last pixel are common; nothing past
    // the file is needed to read them.
    Bytes pixels(16 + 15, 0x40);
    CImageBuffer image = Decoded(BmpFile(InfoHeader(5, 2, 24), {}, pixels), 5, 2);
    EXPECT_EQ(image.GetPixel(4, 0), 0xFF404040u);
}

}  // namespace
}  // namespace skelvane
