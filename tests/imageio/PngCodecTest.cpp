#include "imageio/PngCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include <png.h>
#include <zlib.h>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using test::PixelsOf;

// What a hand-made PNG holds: raw sample bytes per row, as the file stores
// them after unfiltering.
struct PngSpec {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    std::vector<std::vector<std::uint8_t>> rows;
    std::vector<png_color> palette;
    std::vector<std::uint8_t> paletteAlpha;  // tRNS for palette images
    bool colorKey = false;                   // tRNS for gray and RGB images
    png_color_16 key{};
    int filters = 0;  // png_set_filter's mask; 0 keeps the library's choice
};

PngSpec Spec(std::uint32_t width, std::uint32_t height, int colorType, int bitDepth,
             std::vector<std::vector<std::uint8_t>> rows)
{
    PngSpec spec;
    spec.width = width;
    spec.height = height;
    spec.colorType = colorType;
    spec.bitDepth = bitDepth;
    spec.rows = std::move(rows);
    return spec;
}

void AppendToVector(png_structp png, png_bytep data, std::size_t length)
{
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

std::vector<std::uint8_t> WritePng(PngSpec spec)
{
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng refused the test image";
        return {};
    }
    png_set_write_fn(png, &out, AppendToVector, nullptr);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!spec.palette.empty()) {
        png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
    }
    if (!spec.paletteAlpha.empty()) {
        png_set_tRNS(png, info, spec.paletteAlpha.data(), static_cast<int>(spec.paletteAlpha.size()), nullptr);
    }
    if (spec.colorKey) {
        png_set_tRNS(png, info, nullptr, 0, &spec.key);
    }
    if (spec.filters != 0) {
        png_set_filter(png, PNG_FILTER_TYPE_BASE, spec.filters);
    }
    png_write_info(png, info);
    for (auto& row : spec.rows) {
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::uint32_t ChunkLength(const std::vector<std::uint8_t>& file, std::size_t at)
{
    return std::uint32_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
}

std::vector<std::string> ChunkNames(const std::vector<std::uint8_t>& file)
{
    std::vector<std::string> names;
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const std::uint32_t length = ChunkLength(file, at);
        names.emplace_back(reinterpret_cast<const char*>(&file[at + 4]), 4);
        at += 12 + length;
    }
    return names;
}

std::vector<std::vector<std::uint8_t>> IdatPayloads(const std::vector<std::uint8_t>& file)
{
    std::vector<std::vector<std::uint8_t>> payloads;
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const std::uint32_t length = ChunkLength(file, at);
        if (std::memcmp(&file[at + 4], "IDAT", 4) == 0) {
            payloads.emplace_back(file.begin() + at + 8, file.begin() + at + 8 + length);
        }
        at += 12 + length;
    }
    return payloads;
}

// The IDAT payloads joined and inflated: the filtered rows.
std::vector<std::uint8_t> FilteredRows(const std::vector<std::uint8_t>& file)
{
    std::vector<std::uint8_t> stream;
    for (const auto& payload : IdatPayloads(file)) {
        stream.insert(stream.end(), payload.begin(), payload.end());
    }
    std::vector<std::uint8_t> rows(std::size_t{64} << 20);
    uLongf size = static_cast<uLongf>(rows.size());
    EXPECT_EQ(uncompress(rows.data(), &size, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
    rows.resize(size);
    return rows;
}

// SevenRowCycle repeats seven noise rows: deflate finds each row again only
// 32 KiB or so back, so it compresses well only where each piece starts with
// the right data before it.
enum class Content { Noise, Flat, FlatThenNoise, SevenRowCycle };

// Flat content makes whole pieces compress to almost nothing; noise makes
// them larger than they were.
CImageBuffer LargeImage(std::int32_t width, std::int32_t height, int bitCount, Content content)
{
    std::mt19937 random(static_cast<std::uint32_t>(bitCount * 3 + static_cast<int>(content)));
    CImageBuffer image;
    EXPECT_TRUE(image.AllocateForReader(width, height, bitCount));
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bitCount / 8;
    for (std::int32_t y = 0; y < height; ++y) {
        if (content == Content::SevenRowCycle && y >= 7) {
            std::memcpy(image.Row(y), image.Row(y - 7), rowBytes);
            continue;
        }
        const bool noise = content != Content::Flat && (content != Content::FlatThenNoise || y >= height / 2);
        for (std::size_t i = 0; i < rowBytes; ++i) {
            image.Row(y)[i] = noise ? static_cast<std::uint8_t>(random()) : static_cast<std::uint8_t>(0x3C + i % 3);
        }
    }
    if (bitCount == 8) {
        for (int i = 0; i < 256; ++i) {
            image.Palette()[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7),
                                  static_cast<std::uint8_t>(255 - i), 0};
        }
    }
    return image;
}

// What DecodePng gives back for the image: 32-bit blue-green-red-alpha,
// opaque unless the buffer had alpha, palette indices looked up.
std::vector<std::uint32_t> DecodedPixels(const CImageBuffer& image)
{
    std::vector<std::uint32_t> pixels;
    const int bytesPerPixel = image.GetBitCount() / 8;
    for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
        for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
            const std::uint8_t* p = image.Row(y) + static_cast<std::size_t>(x) * bytesPerPixel;
            if (bytesPerPixel == 1) {
                const auto& entry = image.Palette()[*p];
                pixels.push_back(0xFF000000u | std::uint32_t{entry.red} << 16 | std::uint32_t{entry.green} << 8 | entry.blue);
            } else {
                const std::uint32_t alpha = bytesPerPixel == 4 ? p[3] : 0xFF;
                pixels.push_back(alpha << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0]);
            }
        }
    }
    return pixels;
}

// Large images are filtered and deflated in pieces; odd widths put the cuts
// between pieces inside rows.
TEST(PngCodec, LargeImagesRoundTripInEveryDepthAndContent)
{
    struct Case {
        int bitCount;
        std::int32_t width;
    };
    for (const Case c : {Case{32, 1031}, Case{24, 1031}, Case{8, 2053}}) {
        for (const Content content : {Content::Noise, Content::Flat, Content::FlatThenNoise}) {
            const std::string name =
                std::to_string(c.bitCount) + "-bit, content " + std::to_string(static_cast<int>(content));
            const CImageBuffer image = LargeImage(c.width, 1100, c.bitCount, content);
            std::vector<std::uint8_t> file{0xEE};  // appended after what is there
            ASSERT_TRUE(EncodePng(image, false, file)) << name;
            ASSERT_EQ(file[0], 0xEE);
            file.erase(file.begin());

            const auto names = ChunkNames(file);
            ASSERT_GE(names.size(), 3u) << name;
            EXPECT_EQ(names.front(), "IHDR") << name;
            EXPECT_EQ(names.back(), "IEND") << name;
            const std::size_t firstIdat = c.bitCount == 8 ? 2 : 1;
            EXPECT_EQ(names[1], c.bitCount == 8 ? "PLTE" : "IDAT") << name;
            for (std::size_t i = firstIdat; i + 1 < names.size(); ++i) {
                EXPECT_EQ(names[i], "IDAT") << name;
            }
            if (content == Content::Noise) {
                // Over a megabyte of data: more than one chunk, and chunks
                // larger than the library's own 8 KiB, as only the piece path
                // writes them.
                const auto payloads = IdatPayloads(file);
                EXPECT_GT(payloads.size(), 1u) << name;
                EXPECT_GT(payloads[0].size(), 8192u) << name;
            }
            CImageBuffer loaded;
            ASSERT_TRUE(DecodePng(file, loaded)) << name;
            EXPECT_TRUE(DecodedPixels(loaded) == DecodedPixels(image)) << name;
        }
    }
}

// The rows must be filtered exactly as the library filters them (Up for true
// colour, none for palettes), so files keep their size and any reader's
// unfiltering gives the same pixels. The files may be at most 5 % larger than
// the library's own at zlib's default level, and a cut between pieces may cost
// the 32 KiB window the piece after it cannot see, no more: seven 1160-pixel
// rows span just under deflate's reach, so the cycle costs that much at a cut
// and must cost nothing anywhere else.
TEST(PngCodec, LargeImagesAreFilteredAndCompressedAsTheLibraryDoes)
{
    struct Case {
        int bitCount;
        std::int32_t width;
        Content content;
    };
    for (const Case c : {Case{32, 1031, Content::FlatThenNoise}, Case{24, 1031, Content::FlatThenNoise},
                         Case{8, 2053, Content::FlatThenNoise}, Case{32, 1160, Content::SevenRowCycle}}) {
        const int bitCount = c.bitCount;
        const CImageBuffer image = LargeImage(c.width, 1100, bitCount, c.content);
        const int bytesPerPixel = bitCount / 8;
        PngSpec spec = Spec(static_cast<std::uint32_t>(image.GetWidth()), 1100,
                            bitCount == 32 ? PNG_COLOR_TYPE_RGB_ALPHA
                                           : (bitCount == 24 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_PALETTE),
                            8, {});
        spec.filters = bitCount == 8 ? PNG_FILTER_NONE : PNG_FILTER_UP;
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            std::vector<std::uint8_t> row(image.Row(y), image.Row(y) + image.GetWidth() * bytesPerPixel);
            for (std::size_t x = 0; bytesPerPixel > 1 && x < row.size(); x += bytesPerPixel) {
                std::swap(row[x], row[x + 2]);
            }
            spec.rows.push_back(std::move(row));
        }
        for (int i = 0; bitCount == 8 && i < 256; ++i) {
            spec.palette.push_back({image.Palette()[i].red, image.Palette()[i].green, image.Palette()[i].blue});
        }
        const auto reference = WritePng(spec);
        std::vector<std::uint8_t> file;
        ASSERT_TRUE(EncodePng(image, false, file));
        EXPECT_TRUE(FilteredRows(file) == FilteredRows(reference)) << bitCount << "-bit, width " << c.width;
        constexpr double kWindowAtACut = 33 * 1024;
        EXPECT_LE(static_cast<double>(file.size()), reference.size() * 1.05 + kWindowAtACut)
            << bitCount << "-bit, width " << c.width;
    }
}

TEST(PngCodec, DomeImageRoundTripsAsRgbaWithTransparentOutside)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(31, 17);
    image.SetPixel(0, 0, 0x00000000u);
    image.SetPixel(30, 16, 0x00000000u);
    image.SetPixel(7, 3, 0x80123456u);
    const auto expected = PixelsOf(image);
    ASSERT_TRUE(image.Save(dir / "dome.png"));
    EXPECT_EQ(PixelsOf(image), expected);  // writing does not convert

    const auto file = test::ReadFileBytes(dir / "dome.png");
    ASSERT_GT(file.size(), 33u);
    EXPECT_EQ(file[24], 8);  // bit depth
    EXPECT_EQ(file[25], PNG_COLOR_TYPE_RGB_ALPHA);
    EXPECT_EQ(ChunkNames(file), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    std::vector<std::uint8_t> encoded;
    ASSERT_TRUE(EncodePng(image, false, encoded));
    EXPECT_EQ(file, encoded);

    CImageBuffer loaded;
    ASSERT_TRUE(loaded.Load(dir / "dome.png"));
    EXPECT_EQ(PixelsOf(loaded), expected);
}

TEST(PngCodec, InterlacedAnd24BitBuffersRoundTrip)
{
    CImageBuffer image = test::MakePatternImage(13, 9, 2);
    const auto expected = PixelsOf(image);
    std::vector<std::uint8_t> interlaced;
    ASSERT_TRUE(EncodePng(image, true, interlaced));
    EXPECT_EQ(interlaced[28], 1);  // Adam7
    CImageBuffer loaded;
    ASSERT_TRUE(DecodePng(interlaced, loaded));
    EXPECT_EQ(PixelsOf(loaded), expected);

    ASSERT_TRUE(image.ConvertTo24());
    std::vector<std::uint8_t> rgb;
    ASSERT_TRUE(EncodePng(image, false, rgb));
    EXPECT_EQ(rgb[25], PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(image.GetBitCount(), 24);
    ASSERT_TRUE(DecodePng(rgb, loaded));
    EXPECT_EQ(PixelsOf(loaded), expected);
}

TEST(PngCodec, EightBitBufferSavesAsPaletteImage)
{
    CImageBuffer image;
    ASSERT_TRUE(image.AllocateForReader(5, 2, 8));
    for (int i = 0; i < 256; ++i) {
        image.Palette()[i] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7, 0};
    }
    for (std::int32_t x = 0; x < 5; ++x) {
        image.Row(0)[x] = static_cast<std::uint8_t>(x * 50);
        image.Row(1)[x] = static_cast<std::uint8_t>(255 - x);
    }
    std::vector<std::uint8_t> file;
    ASSERT_TRUE(EncodePng(image, false, file));
    EXPECT_EQ(file[25], PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(ChunkNames(file), (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
    CImageBuffer loaded;
    ASSERT_TRUE(DecodePng(file, loaded));
    EXPECT_EQ(loaded.PaletteCount(), 256);
    EXPECT_EQ(loaded.GetPixel(2, 0), 0xFF079B64u);  // index 100: red 7, green 155, blue 100
    EXPECT_EQ(loaded.GetPixel(4, 1), 0xFF0704FBu);  // index 251

    CImageBuffer sixteen;
    ASSERT_TRUE(sixteen.AllocateForReader(2, 2, 16));
    std::vector<std::uint8_t> refused;
    EXPECT_FALSE(EncodePng(sixteen, false, refused));
    EXPECT_TRUE(refused.empty());
}

TEST(PngCodec, PaletteImageWithSixteenEntriesLoadsThroughItsPalette)
{
    PngSpec spec;
    spec.width = 4;
    spec.height = 4;
    spec.colorType = PNG_COLOR_TYPE_PALETTE;
    for (int i = 0; i < 16; ++i) {
        spec.palette.push_back({static_cast<png_byte>(i * 16), static_cast<png_byte>(i), static_cast<png_byte>(200)});
    }
    for (std::uint8_t y = 0; y < 4; ++y) {
        spec.rows.push_back({static_cast<std::uint8_t>(4 * y), static_cast<std::uint8_t>(4 * y + 1),
                             static_cast<std::uint8_t>(4 * y + 2), static_cast<std::uint8_t>(4 * y + 3)});
    }
    CImageBuffer image;
    ASSERT_TRUE(DecodePng(WritePng(spec), image));
    EXPECT_EQ(image.PaletteCount(), 16);
    EXPECT_EQ(image.GetBitCount(), 32);
    EXPECT_EQ(image.GetPixel(0, 0), 0xFF0000C8u);
    EXPECT_EQ(image.GetPixel(3, 2), 0xFFB00BC8u);  // index 11
}

struct DecodedCase {
    const char* name;
    PngSpec spec;
    std::vector<std::uint32_t> expected;  // top row first
};

// Every kind of 8 bits a sample or fewer the library can deliver must land at
// the width allocated, with the right pixels.
TEST(PngCodec, EveryColourTypeLoadsAs32Bit)
{
    PngSpec gray1 = Spec(8, 1, PNG_COLOR_TYPE_GRAY, 1, {{0b10100000}});
    PngSpec gray8Key = Spec(3, 1, PNG_COLOR_TYPE_GRAY, 8, {{0, 77, 255}});
    gray8Key.colorKey = true;
    gray8Key.key.gray = 77;
    PngSpec grayAlpha8 = Spec(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {{10, 20, 30, 40}});
    PngSpec rgb8Key = Spec(2, 1, PNG_COLOR_TYPE_RGB, 8, {{1, 2, 3, 4, 5, 6}});
    rgb8Key.colorKey = true;
    rgb8Key.key.red = 4;
    rgb8Key.key.green = 5;
    rgb8Key.key.blue = 6;
    PngSpec palette4 = Spec(3, 1, PNG_COLOR_TYPE_PALETTE, 4, {{0x12, 0x00}});
    palette4.palette = {{9, 9, 9}, {255, 0, 0}, {0, 0, 255}};
    palette4.paletteAlpha = {128, 255};

    const DecodedCase cases[] = {
        {"gray 1-bit", gray1, {0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000}},
        {"gray 8-bit with tRNS", gray8Key, {0xFF000000, 0x004D4D4D, 0xFFFFFFFF}},
        {"gray + alpha 8-bit", grayAlpha8, {0x140A0A0A, 0x281E1E1E}},
        {"RGB 8-bit with tRNS", rgb8Key, {0xFF010203, 0x00040506}},
        {"palette 4-bit with tRNS", palette4, {0xFFFF0000, 0xFF0000FF, 0x80090909}},
    };
    for (const auto& c : cases) {
        const auto file = WritePng(c.spec);
        CImageBuffer image;
        ASSERT_TRUE(DecodePng(file, image)) << c.name;
        EXPECT_EQ(image.GetBitCount(), 32) << c.name;
        EXPECT_EQ(PixelsOf(image), c.expected) << c.name;
    }
}

// 16-bit files keep every bit: gray widened to three equal channels, tRNS
// and missing alpha as for 8 bits, samples turned little-endian.
TEST(PngCodec, SixteenBitFilesLoadAtTheirDepth)
{
    PngSpec gray16Key = Spec(2, 1, PNG_COLOR_TYPE_GRAY, 16, {{0x12, 0x34, 0xAB, 0xCD}});
    gray16Key.colorKey = true;
    gray16Key.key.gray = 0xABCD;
    PngSpec grayAlpha16 = Spec(1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16, {{0x01, 0x02, 0x80, 0x01}});
    PngSpec rgb16 = Spec(1, 2, PNG_COLOR_TYPE_RGB, 16, {{0x11, 0xFF, 0x22, 0x00, 0x33, 0x80}, {0xFF, 0xFF, 0, 0, 0x7F, 0xFF}});
    PngSpec rgba16 = Spec(1, 1, PNG_COLOR_TYPE_RGB_ALPHA, 16, {{0x11, 0, 0x22, 1, 0x33, 2, 0x44, 0xFF}});
    struct DeepCase {
        const char* name;
        PngSpec spec;
        std::vector<Pixel16> expected;  // top row first
    };
    const DeepCase cases[] = {
        {"gray with tRNS", gray16Key, {{0x1234, 0x1234, 0x1234, 0xFFFF}, {0xABCD, 0xABCD, 0xABCD, 0}}},
        {"gray + alpha", grayAlpha16, {{0x0102, 0x0102, 0x0102, 0x8001}}},
        {"RGB", rgb16, {{0x3380, 0x2200, 0x11FF, 0xFFFF}, {0x7FFF, 0x0000, 0xFFFF, 0xFFFF}}},
        {"RGBA", rgba16, {{0x3302, 0x2201, 0x1100, 0x44FF}}},
    };
    for (const auto& c : cases) {
        CImageBuffer image;
        ASSERT_TRUE(DecodePng(WritePng(c.spec), image)) << c.name;
        ASSERT_EQ(image.GetChannelType(), ChannelType::Uint16) << c.name;
        std::vector<Pixel16> pixels;
        for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
            pixels.insert(pixels.end(), image.Row16(y), image.Row16(y) + image.GetWidth());
        }
        EXPECT_EQ(pixels, c.expected) << c.name;
    }
}

TEST(PngCodec, DamagedFilesFailAndEmptyTheBuffer)
{
    test::TempDir dir;
    CImageBuffer source = test::MakePatternImage(40, 40);
    std::vector<std::uint8_t> good;
    ASSERT_TRUE(EncodePng(source, false, good));
    ASSERT_EQ(ChunkNames(good)[1], "IDAT");

    auto truncated = good;
    truncated.resize(good.size() / 2);
    auto badCrc = good;
    badCrc[29] ^= 0x01;  // last byte of the IHDR CRC
    auto badSignature = good;
    badSignature[1] = 'Q';
    auto hugeHeader = good;  // 30000 x 30000 claimed by a file of a few kilobytes
    hugeHeader[16] = hugeHeader[20] = 0;
    hugeHeader[17] = hugeHeader[21] = 0;
    hugeHeader[18] = hugeHeader[22] = 0x75;
    hugeHeader[19] = hugeHeader[23] = 0x30;
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, &hugeHeader[12], 17));
    for (int i = 0; i < 4; ++i) {
        hugeHeader[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    }

    const std::pair<const char*, std::vector<std::uint8_t>> files[] = {
        {"truncated-idat.png", truncated},
        {"bad-ihdr-crc.png", badCrc},
        {"bad-signature.png", badSignature},
        {"huge-size-small-file.png", hugeHeader},
        {"signature-only.png", std::vector<std::uint8_t>(good.begin(), good.begin() + 8)},
    };
    for (const auto& [name, bytes] : files) {
        test::WriteFileBytes(dir / name, bytes);
        CImageBuffer image = test::MakePatternImage(3, 3);
        EXPECT_FALSE(image.Load(dir / name)) << name;
        EXPECT_TRUE(image.IsEmpty()) << name;
    }
}

TEST(PngCodec, MissingFileLeavesTheBufferAsItWas)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(4, 3);
    const auto before = PixelsOf(image);
    EXPECT_FALSE(image.Load(dir / "missing.png"));
    EXPECT_EQ(PixelsOf(image), before);
    CImageBuffer empty;
    EXPECT_FALSE(empty.Save(dir / "empty.png"));
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.png"));
}

}  // namespace
}  // namespace skelvane
