#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "engine/image/ImageBuffer.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

TEST(ImageBuffer, CreateLaysOutABottomUpBitmap)
{
    CImageBuffer image;
    ASSERT_TRUE(image.Create(3, 2));
    EXPECT_EQ(image.Stride(), 12);
    EXPECT_EQ(image.ImageSize(), 24);
    EXPECT_EQ(image.FileHeader().type, 0x4D42);
    EXPECT_EQ(image.FileHeader().size, 78u);
    EXPECT_EQ(image.FileHeader().offBits, 54u);
    EXPECT_EQ(image.InfoHeader().size, 40u);
    EXPECT_EQ(image.InfoHeader().width, 3);
    EXPECT_EQ(image.InfoHeader().height, 2);
    EXPECT_EQ(image.InfoHeader().planes, 1);
    EXPECT_EQ(image.GetBitCount(), 32);
    EXPECT_EQ(image.InfoHeader().compression, 0u);
    EXPECT_EQ(image.PaletteCount(), 0);
    // Row 0 is the top of the picture: the last row in memory.
    EXPECT_EQ(image.Row(0), image.Bits() + 12);
    EXPECT_EQ(image.Row(1), image.Bits());
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(image.GetPixel(x, y), 0u);
        }
    }
}

TEST(ImageBuffer, ZeroAreaIsTheEmptyImage)
{
    CImageBuffer image = test::MakePatternImage(4, 4);
    EXPECT_FALSE(image.Create(-5, 4));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.GetHeight(), 0);
    EXPECT_EQ(image.ImageSize(), 0);
    EXPECT_EQ(image.GetPixel(0, 0), 0xFF000000u);
    image.SetPixel(0, 0, 0x12345678u);  // must not touch memory
    EXPECT_EQ(image.GetPixel(0, 0), 0xFF000000u);
}

TEST(ImageBuffer, PixelAccessClampsIntoTheImage)
{
    CImageBuffer image = test::MakePatternImage(10, 10);
    EXPECT_EQ(image.GetPixel(-3, 1000), test::PatternPixel(0, 9));
    EXPECT_EQ(image.GetPixel(1000, -1), test::PatternPixel(9, 0));
    image.SetPixel(50, 4, 0xAB000001u);
    EXPECT_EQ(image.GetPixel(9, 4), 0xAB000001u);
    EXPECT_EQ(image.GetPixel(8, 4), test::PatternPixel(8, 4));
}

TEST(ImageBuffer, ConvertTo32FromEachDepth)
{
    CImageBuffer image;
    ASSERT_TRUE(image.AllocateForReader(2, 1, 24));
    const std::uint8_t bgr[] = {0x10, 0x20, 0x30, 0x01, 0x02, 0x03};
    std::memcpy(image.Row(0), bgr, sizeof bgr);
    ASSERT_TRUE(image.ConvertTo32());
    EXPECT_EQ(image.GetPixel(0, 0), 0xFF302010u);
    EXPECT_EQ(image.GetPixel(1, 0), 0xFF030201u);
    EXPECT_EQ(image.Stride(), 8);
    EXPECT_EQ(image.FileHeader().size, 8u + 54u);

    // Five-bit channels widen so that full intensity stays full.
    ASSERT_TRUE(image.AllocateForReader(3, 1, 16));
    const std::uint8_t words[] = {0xFF, 0x7F, 0x00, 0x7C, 0x21, 0x04};
    std::memcpy(image.Row(0), words, sizeof words);
    ASSERT_TRUE(image.ConvertTo32());
    EXPECT_EQ(image.GetPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(image.GetPixel(1, 0), 0xFFFF0000u);
    EXPECT_EQ(image.GetPixel(2, 0), 0xFF080808u);

    ASSERT_TRUE(image.AllocateForReader(2, 2, 8));
    image.Palette()[0] = {1, 2, 3, 0};
    image.Palette()[200] = {0x40, 0x50, 0x60, 0};
    image.SetPaletteCount(256);
    image.Row(0)[1] = 200;
    ASSERT_TRUE(image.ConvertTo32());
    EXPECT_EQ(image.GetPixel(0, 0), 0xFF030201u);
    EXPECT_EQ(image.GetPixel(1, 0), 0xFF605040u);
    EXPECT_EQ(image.GetPixel(1, 1), 0xFF030201u);
}

TEST(ImageBuffer, ConvertTo24KeepsColoursAndZeroesPadding)
{
    CImageBuffer image = test::MakePatternImage(5, 3);
    CImageBuffer alreadyConverted;
    ASSERT_TRUE(image.ConvertTo24());
    EXPECT_EQ(image.Stride(), 16);
    EXPECT_EQ(image.BytesPerPixel(), 3);
    EXPECT_EQ(image.ImageSize(), 48);
    EXPECT_EQ(image.GetBitCount(), 24);
    for (int y = 0; y < 3; ++y) {
        const std::uint8_t* row = image.Row(y);
        EXPECT_EQ(row[15], 0);
        const std::uint32_t p = test::PatternPixel(4, y);
        EXPECT_EQ(row[12], p & 255);
        EXPECT_EQ(row[13], (p >> 8) & 255);
        EXPECT_EQ(row[14], (p >> 16) & 255);
    }
    EXPECT_FALSE(image.ConvertTo24());
    EXPECT_EQ(image.GetBitCount(), 24);
    ASSERT_TRUE(image.ConvertTo32());
    EXPECT_EQ(test::PixelsOf(image), test::PixelsOf(test::MakePatternImage(5, 3)));
    EXPECT_FALSE(alreadyConverted.ConvertTo24());
    EXPECT_FALSE(alreadyConverted.ConvertTo32());
}

TEST(ImageBuffer, ConvertTo32NormalisesTheHeader)
{
    CImageBuffer image;
    ASSERT_TRUE(image.AllocateForReader(4, 2, 8));
    image.SetPaletteCount(16);
    ASSERT_TRUE(image.ConvertTo32());
    EXPECT_EQ(image.InfoHeader().clrUsed, 0u);
    EXPECT_EQ(image.InfoHeader().compression, 0u);
    EXPECT_GT(image.InfoHeader().height, 0);
    EXPECT_EQ(image.FileHeader().offBits, 54u);
}

TEST(ImageBuffer, CopyFromMakesADeepCopyAndRefusesAnEmptySource)
{
    CImageBuffer source = test::MakePatternImage(7, 5, 3);
    CImageBuffer copy;
    ASSERT_TRUE(copy.CopyFrom(source));
    source.SetPixel(0, 0, 0);
    EXPECT_EQ(copy.GetPixel(0, 0), test::PatternPixel(0, 0, 3));
    EXPECT_EQ(copy.Stride(), 28);
    EXPECT_EQ(copy.FileHeader().size, source.FileHeader().size);

    CImageBuffer empty;
    EXPECT_FALSE(copy.CopyFrom(empty));
    EXPECT_EQ(copy.GetWidth(), 7);
    EXPECT_EQ(copy.GetPixel(6, 4), test::PatternPixel(6, 4, 3));
}

TEST(ImageBuffer, MoveLeavesTheSourceEmpty)
{
    CImageBuffer source = test::MakePatternImage(3, 3);
    CImageBuffer target(std::move(source));
    EXPECT_TRUE(source.IsEmpty());
    EXPECT_EQ(source.GetWidth(), 0);
    EXPECT_EQ(target.GetPixel(2, 2), test::PatternPixel(2, 2));
}

TEST(ImageBuffer, ReaderAllocationRefusesAbsurdSizes)
{
    CImageBuffer image = test::MakePatternImage(2, 2);
    EXPECT_FALSE(image.AllocateForReader(kMaxImageSide + 1, 1, 24));
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_FALSE(image.AllocateForReader(1, 0, 24));
    EXPECT_FALSE(image.AllocateForReader(4, 4, 4));
    EXPECT_TRUE(image.AllocateForReader(3, 3, 24));
    EXPECT_EQ(image.Stride(), 12);
}

TEST(ImageBuffer, ReleaseResetsEveryField)
{
    CImageBuffer image = test::MakePatternImage(3, 3);
    image.SetPaletteCount(5);
    image.Release();
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.Stride(), 0);
    EXPECT_EQ(image.BytesPerPixel(), 0);
    EXPECT_EQ(image.PaletteCount(), 0);
    EXPECT_EQ(image.FileHeader().type, 0);
    EXPECT_EQ(image.GetBitCount(), 0);
}

}  // namespace
}  // namespace skelvane
