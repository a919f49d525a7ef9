#include "imageio/JpegCodec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <jpeglib.h>

#include "support/HostileImages.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using test::PixelsOf;

// Smooth content, so that the lossy round trip stays close; red follows x and
// green follows y, so a flip or a red/blue swap shows.
CImageBuffer MakeGradientImage(std::int32_t width, std::int32_t height)
{
    CImageBuffer image;
    image.Create(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint32_t red = x * 255 / (width - 1);
            const std::uint32_t green = y * 255 / (height - 1);
            image.SetPixel(x, y, 0xFF000000u | red << 16 | green << 8 | 0x40u);
        }
    }
    return image;
}

int ChannelDistance(std::uint32_t a, std::uint32_t b)
{
    int worst = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 255) - static_cast<int>((b >> shift) & 255)));
    }
    return worst;
}

// The classic way: 24-bit rows swapped to red-green-blue, one at a time.
std::vector<std::uint8_t> EncodeThroughRgbRows(const CImageBuffer& image, int quality)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = image.GetWidth();
    cinfo.image_height = image.GetHeight();
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(image.GetWidth()));
    while (cinfo.next_scanline < cinfo.image_height) {
        const std::uint8_t* in = image.Row(static_cast<std::int32_t>(cinfo.next_scanline));
        for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
            row[3 * x] = in[4 * x + 2];
            row[3 * x + 1] = in[4 * x + 1];
            row[3 * x + 2] = in[4 * x];
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// The classic way: red-green-blue scanlines widened to opaque words.
std::vector<std::uint32_t> DecodeThroughRgbRows(const std::vector<std::uint8_t>& file)
{
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), file.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    std::vector<std::uint8_t> row(3 * static_cast<std::size_t>(cinfo.output_width));
    std::vector<std::uint32_t> pixels;
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW pointer = row.data();
        jpeg_read_scanlines(&cinfo, &pointer, 1);
        for (std::size_t x = 0; x < cinfo.output_width; ++x) {
            pixels.push_back(0xFF000000u | std::uint32_t{row[3 * x]} << 16 | std::uint32_t{row[3 * x + 1]} << 8 |
                             row[3 * x + 2]);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return pixels;
}

std::vector<std::uint8_t> EncodeGrayJpeg(std::int32_t width, std::int32_t height)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(width);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (std::int32_t x = 0; x < width; ++x) {
            row[x] = static_cast<std::uint8_t>(x * 4 + cinfo.next_scanline);
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

TEST(JpegCodec, RoundTripKeepsOrientationAndColours)
{
    test::TempDir dir;
    const CImageBuffer original = MakeGradientImage(37, 23);  // partial MCUs both ways
    CImageBuffer image;
    ASSERT_TRUE(image.CopyFrom(original));
    ASSERT_TRUE(image.Save(dir / "face.JPG"));
    CImageBuffer loaded;
    ASSERT_TRUE(loaded.Load(dir / "face.JPG"));
    ASSERT_EQ(loaded.GetWidth(), 37);
    ASSERT_EQ(loaded.GetHeight(), 23);
    EXPECT_EQ(loaded.GetBitCount(), 32);
    const auto expected = PixelsOf(original);
    const auto actual = PixelsOf(loaded);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_LE(ChannelDistance(expected[i], actual[i]), 6) << "pixel " << i;
    }
}

TEST(JpegCodec, EncodesTheSameFileAsRgbRows)
{
    for (const auto& [width, height, quality] : {std::tuple{1, 1, 100}, {37, 23, 100}, {64, 48, 75}, {250, 3, 10}}) {
        CImageBuffer image = test::MakePatternImage(width, height, 3);
        for (std::int32_t y = 0; y < height; ++y) {
            image.Row(y)[3] = static_cast<std::uint8_t>(y * 13);  // alpha must not matter
        }
        const auto expected = EncodeThroughRgbRows(image, quality);
        std::vector<std::uint8_t> actual;
        ASSERT_TRUE(EncodeJpeg(image, quality, actual));
        EXPECT_EQ(actual, expected) << width << "x" << height << " q" << quality;
    }
}

// A picture made a band at a time and fed to the encoder as it goes gives the
// file of the whole image: bands of one row, of fewer rows than the encoder
// takes at once, of rows that straddle its batches, and taller than the
// picture; alpha still does not matter.
TEST(JpegCodec, PicturesMadeInBandsEncodeToTheFileOfTheWholeImage)
{
    for (const auto& [width, height] : {std::pair{53, 70}, std::pair{1, 1}, std::pair{250, 3}}) {
        CImageBuffer image = test::MakePatternImage(width, height, 5);
        for (std::int32_t y = 0; y < height; ++y) {
            image.Row(y)[3] = static_cast<std::uint8_t>(y * 29);
        }
        for (const std::int32_t bandRows : {1, 5, 16, 24, height + 3}) {
            SCOPED_TRACE(testing::Message() << width << "x" << height << ", bands of " << bandRows);
            CBandedImage banded(width, height, ChannelType::Uint8, bandRows,
                                [&](std::int32_t first, std::int32_t end, CImageBuffer& band) {
                                    for (std::int32_t y = first; y < end; ++y) {
                                        std::memcpy(band.Row(y - first), image.Row(y),
                                                    static_cast<std::size_t>(image.Stride()));
                                    }
                                });
            std::vector<std::uint8_t> fromBands;
            ASSERT_TRUE(EncodeJpegRows(banded, 100, fromBands));
            CImageBuffer copy;
            ASSERT_TRUE(copy.CopyFrom(image));
            std::vector<std::uint8_t> whole;
            ASSERT_TRUE(EncodeJpeg(copy, 100, whole));
            EXPECT_EQ(fromBands, whole);
        }
    }
    CBandedImage deep(4, 4, ChannelType::Uint16, 4, [](std::int32_t, std::int32_t, CImageBuffer&) {});
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(EncodeJpegRows(deep, 100, out));
    EXPECT_TRUE(out.empty());
}

TEST(JpegCodec, DecodesTheSamePixelsAsRgbRows)
{
    std::vector<std::vector<std::uint8_t>> files;
    CImageBuffer pattern = test::MakePatternImage(45, 31, 1);
    files.push_back(EncodeThroughRgbRows(pattern, 90));
    files.push_back(EncodeGrayJpeg(19, 9));
    if (const char* testdata = std::getenv("SKELVANE_TESTDATA")) {
        for (const char* name : {"testorig.jpg", "iptc.jpg", "pil_sample_rgb.jpg", "app13-multiple.jpg"}) {
            const auto path = std::filesystem::path(testdata) / "jpeg" / name;
            if (std::filesystem::exists(path)) {
                files.push_back(test::ReadFileBytes(path));
            }
        }
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        CImageBuffer image;
        ASSERT_TRUE(DecodeJpeg(files[i], image)) << "file " << i;
        EXPECT_EQ(PixelsOf(image), DecodeThroughRgbRows(files[i])) << "file " << i;
    }
}

TEST(JpegCodec, GrayFileLoadsWithEqualChannels)
{
    CImageBuffer image;
    ASSERT_TRUE(DecodeJpeg(EncodeGrayJpeg(19, 9), image));
    ASSERT_EQ(image.GetWidth(), 19);
    for (std::uint32_t pixel : PixelsOf(image)) {
        EXPECT_EQ(pixel >> 24, 0xFFu);
        EXPECT_EQ((pixel >> 16) & 255, pixel & 255);
        EXPECT_EQ((pixel >> 8) & 255, pixel & 255);
    }
    EXPECT_NEAR(static_cast<int>(image.GetPixel(18, 8) & 255), 18 * 4 + 8, 3);
}

TEST(JpegCodec, SaveLeavesOpaque32BitBufferWithTheSameColours)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(20, 10);
    image.SetPixel(0, 0, 0x00000000u);  // outside the dome
    image.SetPixel(5, 5, 0x12345678u);
    auto expected = PixelsOf(image);
    for (auto& pixel : expected) {
        pixel |= 0xFF000000u;
    }
    ASSERT_TRUE(image.Save(dir / "dome.jpg"));
    EXPECT_EQ(image.GetBitCount(), 32);
    EXPECT_EQ(PixelsOf(image), expected);
}

TEST(JpegCodec, FileIsExactlyTheEncodedStream)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(300, 200);
    std::vector<std::uint8_t> encoded;
    CImageBuffer copy;
    copy.CopyFrom(image);
    ASSERT_TRUE(EncodeJpeg(copy, 100, encoded));
    ASSERT_TRUE(image.Save(dir / "frame.jpeg"));
    const auto file = test::ReadFileBytes(dir / "frame.jpeg");
    EXPECT_EQ(file, encoded);
    ASSERT_GE(file.size(), 4u);
    EXPECT_EQ(file[file.size() - 2], 0xFF);
    EXPECT_EQ(file[file.size() - 1], 0xD9);
}

// The decode buffer is not zeroed: a reused block still holding other
// pixels must come back with every pixel decoded.
TEST(JpegCodec, DecodeWritesEveryPixelOfAReusedBlock)
{
    constexpr std::int32_t kSide = 1500;  // large enough for the block cache
    std::vector<std::uint8_t> file;
    {
        CImageBuffer image = MakeGradientImage(kSide, kSide);
        ASSERT_TRUE(EncodeJpeg(image, 90, file));
    }
    const std::vector<std::uint32_t> expected = DecodeThroughRgbRows(file);
    for (const std::uint8_t poison : {0x00, 0xA5}) {
        {
            std::vector<PixelBlock> blocks;
            for (int n = 0; n < 3; ++n) {
                blocks.push_back(AllocatePixelBlock(std::int64_t{4} * kSide * kSide, BlockContents::Unspecified));
                std::memset(blocks.back().get(), poison, std::size_t{4} * kSide * kSide);
            }
        }
        CImageBuffer decoded;
        ASSERT_TRUE(DecodeJpeg(file, decoded));
        EXPECT_TRUE(PixelsOf(decoded) == expected) << "poison " << int{poison};
    }
}

TEST(JpegCodec, TruncatedFileStillLoads)
{
    CImageBuffer image = MakeGradientImage(64, 64);
    std::vector<std::uint8_t> encoded;
    ASSERT_TRUE(EncodeJpeg(image, 100, encoded));
    encoded.resize(encoded.size() / 2);
    CImageBuffer loaded;
    ASSERT_TRUE(DecodeJpeg(encoded, loaded));
    ASSERT_EQ(loaded.GetHeight(), 64);
    EXPECT_LE(ChannelDistance(loaded.GetPixel(10, 2), image.GetPixel(10, 2)), 6);
}

// A progressive file keeps every coefficient until its last scan: at full
// colour resolution 6 bytes a pixel, which the library's memory bound must
// leave room for at the widest panoramas. Flat, so the file is as small as
// its size allows.
TEST(JpegCodec, WideProgressiveFullColourFileLoads)
{
    constexpr JDIMENSION kWidth = kMaxImageSide;
    constexpr JDIMENSION kHeight = 1024;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    for (int c = 0; c < 3; ++c) {
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(3 * kWidth);
    for (JDIMENSION x = 0; x < kWidth; ++x) {
        row[3 * x] = 0x30;
        row[3 * x + 1] = 0x70;
        row[3 * x + 2] = 0xB0;
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const std::vector<std::uint8_t> file(buffer, buffer + size);
    std::free(buffer);

    CImageBuffer image;
    std::string reason;
    ASSERT_TRUE(DecodeJpeg(file, image, &reason)) << reason << " (" << file.size() << " bytes)";
    EXPECT_EQ(image.GetWidth(), static_cast<std::int32_t>(kWidth));
    EXPECT_EQ(image.GetHeight(), static_cast<std::int32_t>(kHeight));
    EXPECT_LE(ChannelDistance(image.GetPixel(kWidth - 1, kHeight - 1), 0xFF3070B0u), 2);
}

// Memory the library cannot get is no fault of the file: the decode throws
// std::bad_alloc, so that callers say "Out of memory." rather than call the
// file damaged.
TEST(JpegCodecDeathTest, MemoryTheLibraryCannotGetIsNotADamagedFile)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "an address-space limit leaves no room for the sanitizer's shadow memory";
#endif
    // Its 384 MiB of coefficients are far within the library's bound, but
    // not within the limit the child process sets itself.
    const std::vector<std::uint8_t> file = test::DcOnlyJpeg(8192, 8192, 3, 1);
    auto decodeWithLittleRoom = [&file] {
        test::LeaveAddressSpaceRoom(std::uint64_t{128} << 20);
        CImageBuffer image;
        std::string reason;
        try {
            const bool loaded = DecodeJpeg(file, image, &reason);
            std::fprintf(stderr, "%s: %s\n", loaded ? "loaded" : "refused", reason.c_str());
            std::_Exit(1);
        } catch (const std::bad_alloc&) {
            std::_Exit(image.IsEmpty() ? 0 : 2);
        }
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(decodeWithLittleRoom(), ::testing::ExitedWithCode(0), "");
}

TEST(JpegCodec, FilesThatAreNotJpegFailAndEmptyTheBuffer)
{
    test::TempDir dir;
    test::WriteFileBytes(dir / "start-of-image-only.jpg", {0xFF, 0xD8});
    CImageBuffer png = test::MakePatternImage(8, 8);
    ASSERT_TRUE(png.Save(dir / "picture.png"));
    std::filesystem::copy_file(dir / "picture.png", dir / "png-named-jpg.jpg");
    test::WriteFileBytes(dir / "zero-width.jpg", {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00,
                                                  0x00, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xD9});
    for (const char* name : {"start-of-image-only.jpg", "png-named-jpg.jpg", "zero-width.jpg"}) {
        CImageBuffer image = test::MakePatternImage(4, 4);
        EXPECT_FALSE(image.Load(dir / name)) << name;
        EXPECT_TRUE(image.IsEmpty()) << name;
        EXPECT_EQ(image.GetWidth(), 0) << name;
    }
}

TEST(JpegCodec, MissingFileLeavesTheBufferAsItWas)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(4, 3);
    const auto before = PixelsOf(image);
    EXPECT_FALSE(image.Load(dir / "missing.jpg"));
    EXPECT_EQ(PixelsOf(image), before);
}

TEST(JpegCodec, EmptyOrNon32BitBufferIsNotSaved)
{
    test::TempDir dir;
    CImageBuffer empty;
    EXPECT_FALSE(empty.Save(dir / "empty.jpg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.jpg"));
    CImageBuffer gray;
    ASSERT_TRUE(gray.AllocateForReader(4, 4, 8));
    std::vector<std::uint8_t> out;
    EXPECT_FALSE(EncodeJpeg(gray, 100, out));
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace skelvane
