#include <gtest/gtest.h>

#include "engine/ImageBuffer.h"

namespace skelvane {
namespace {

TEST(ImageBuffer, CreateThreeByTwo)
{
    CImageBuffer image;
    ASSERT_TRUE(image.Create(3, 2));
    EXPECT_EQ(image.Stride(), 12);
    EXPECT_EQ(image.ImageSize(), 24);
    EXPECT_EQ(image.FileHeader().type, 0x4D42);
    EXPECT_EQ(image.FileHeader().size, 78u);
    EXPECT_EQ(image.FileHeader().offBits, 54u);
    EXPECT_EQ(image.InfoHeader().size, 40u);
    EXPECT_EQ(image.InfoHeader().planes, 1);
    EXPECT_EQ(image.GetBitCount(), 32);
    EXPECT_EQ(image.Row(0), image.Bits() + 12);
    EXPECT_EQ(image.Row(1), image.Bits());
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(image.GetPixel(x, y), 0u);
        }
    }
}

}  // namespace
}  // namespace skelvane
