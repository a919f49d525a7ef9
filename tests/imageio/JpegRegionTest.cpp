#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include <jpeglib.h>

#include "imageio/JpegCodec.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

enum class Sampling { S420, S422, S444, Gray, Progressive420 };

// A JPEG of the pattern image with the given chroma sampling: detail in every
// channel, so that a chroma sample taken from the wrong side of a crop edge
// changes the pixel.
std::vector<std::uint8_t> EncodePattern(std::int32_t width, std::int32_t height, Sampling sampling)
{
    CImageBuffer image = test::MakePatternImage(width, height, 5);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    switch (sampling) {
    case Sampling::S422:
        cinfo.comp_info[0].v_samp_factor = 1;
        break;
    case Sampling::S444:
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
        break;
    case Sampling::Gray:
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
        break;
    case Sampling::Progressive420:
        jpeg_simple_progression(&cinfo);
        break;
    case Sampling::S420:
        break;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = image.Row(static_cast<std::int32_t>(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// Spans [first, end) over `coordinates` that start and end on both sides of
// block and block-row boundaries (8 and 16) and at the image's edges.
std::vector<std::pair<std::int32_t, std::int32_t>> Spans(std::int32_t extent)
{
    std::vector<std::int32_t> at;
    for (std::int32_t c : {0, 1, 2, 7, 8, 9, 15, 16, 17, 23, 24, 31, 32, 33}) {
        if (c < extent - 2) {
            at.push_back(c);
        }
    }
    for (std::int32_t c : {extent - 2, extent - 1, extent}) {
        at.push_back(c);
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> spans;
    for (std::size_t a = 0; a < at.size(); ++a) {
        for (std::size_t b = a + 1; b < at.size(); ++b) {
            spans.emplace_back(at[a], at[b]);
        }
    }
    return spans;
}

TEST(JpegRegion, PixelsInsideTheRegionAreThoseOfTheWholeDecode)
{
    struct Case {
        std::int32_t width, height;
        Sampling sampling;
    };
    for (const Case& c : {Case{37, 29, Sampling::S420}, Case{48, 32, Sampling::S420}, Case{45, 34, Sampling::S422},
                          Case{21, 19, Sampling::S444}, Case{27, 35, Sampling::Gray},
                          Case{41, 38, Sampling::Progressive420}, Case{3, 17, Sampling::S420}}) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " sampling "
                                        << static_cast<int>(c.sampling));
        const std::vector<std::uint8_t> file = EncodePattern(c.width, c.height, c.sampling);
        CImageBuffer whole;
        ASSERT_TRUE(DecodeJpeg(file, whole));
        const auto columns = Spans(c.width);
        const auto rows = Spans(c.height);
        std::vector<PixelRect> rects;
        for (std::size_t n = 0; n < std::max(columns.size(), rows.size()); ++n) {
            const auto& [left, right] = columns[n % columns.size()];
            const auto& [top, bottom] = rows[n * 7 % rows.size()];
            rects.push_back({left, top, right, bottom});
        }
        // Narrow columns at both edges: crops of a few pixels.
        for (std::int32_t w = 1; w <= 3; ++w) {
            rects.push_back({0, 0, w, c.height});
            rects.push_back({c.width - w, 0, c.width, c.height});
        }
        rects.push_back({-9, -9, c.width + 9, c.height + 9});
        rects.push_back(kWholeImage);
        for (const PixelRect& rect : rects) {
            CImageBuffer part;
            ASSERT_TRUE(DecodeJpegRegion(file, part, rect));
            ASSERT_EQ(part.GetWidth(), c.width);
            ASSERT_EQ(part.GetHeight(), c.height);
            ASSERT_EQ(part.GetBitCount(), 32);
            int wrong = 0;
            for (std::int32_t y = std::max(rect.top, 0); y < std::min(rect.bottom, c.height); ++y) {
                for (std::int32_t x = std::max(rect.left, 0); x < std::min(rect.right, c.width); ++x) {
                    wrong += part.GetPixel(x, y) != whole.GetPixel(x, y);
                }
            }
            EXPECT_EQ(wrong, 0) << "x " << rect.left << ".." << rect.right << " y " << rect.top << ".."
                                << rect.bottom;
        }
    }
}

TEST(JpegRegion, AnEmptyRegionStillReadsTheHeaderAndTheSize)
{
    const std::vector<std::uint8_t> file = EncodePattern(37, 29, Sampling::S420);
    for (const PixelRect& nothing : {PixelRect{}, PixelRect{5, 5, 5, 9}, PixelRect{40, 0, 60, 29}}) {
        CImageBuffer image;
        ASSERT_TRUE(DecodeJpegRegion(file, image, nothing));
        EXPECT_EQ(image.GetWidth(), 37);
        EXPECT_EQ(image.GetHeight(), 29);
        EXPECT_EQ(image.GetBitCount(), 32);
    }
    const std::vector<std::vector<std::uint8_t>> refused = {
        {},
        {0xFF, 0xD8},
        {'B', 'M', 0, 1, 2, 3},
        std::vector<std::uint8_t>(file.begin(), file.begin() + 40),
    };
    for (const auto& bytes : refused) {
        CImageBuffer image = test::MakePatternImage(4, 4);
        EXPECT_FALSE(DecodeJpegRegion(bytes, image, PixelRect{})) << bytes.size() << " bytes";
        EXPECT_TRUE(image.IsEmpty());
    }
}

TEST(JpegRegion, LoadRegionReadsOtherFormatsWholeAndFailsAsLoadDoes)
{
    test::TempDir dir;
    const CImageBuffer pattern = test::MakePatternImage(9, 7, 2);
    CImageBuffer saved;
    ASSERT_TRUE(saved.CopyFrom(pattern));
    ASSERT_TRUE(saved.Save(dir / "face.png"));
    CImageBuffer png;
    ASSERT_TRUE(png.LoadRegion(dir / "face.png", PixelRect{}));
    EXPECT_EQ(test::PixelsOf(png), test::PixelsOf(pattern));

    test::WriteFileBytes(dir / "face.jpg", EncodePattern(9, 7, Sampling::S420));
    CImageBuffer jpeg;
    ASSERT_TRUE(jpeg.LoadRegion(dir / "face.jpg", PixelRect{0, 0, 3, 3}));
    EXPECT_EQ(jpeg.GetWidth(), 9);
    std::filesystem::copy_file(dir / "face.png", dir / "png-named.jpg");
    for (const char* name : {"missing.jpg", "png-named.jpg"}) {
        CImageBuffer image;
        EXPECT_FALSE(image.LoadRegion(dir / name, PixelRect{})) << name;
        EXPECT_TRUE(image.IsEmpty()) << name;
    }
}

}  // namespace
}  // namespace skelvane
