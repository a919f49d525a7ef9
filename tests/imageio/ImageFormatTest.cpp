#include <gtest/gtest.h>

#include "engine/image/ImageBuffer.h"
#include "imageio/ImageFormat.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

TEST(ImageFormat, ExtensionDecidesIgnoringCase)
{
    EXPECT_EQ(GetImageFormat("dir/FACE.JPG"), ImageFormat::Jpeg);
    EXPECT_EQ(GetImageFormat("dir/face.Jpeg"), ImageFormat::Jpeg);
    EXPECT_EQ(GetImageFormat("dir/face.jpeg"), ImageFormat::Jpeg);
    EXPECT_EQ(GetImageFormat("f.PNG"), ImageFormat::Png);
    EXPECT_EQ(GetImageFormat("f.bmp"), ImageFormat::Bmp);
    EXPECT_EQ(GetImageFormat("f.Tga"), ImageFormat::Tga);
    EXPECT_EQ(GetImageFormat("f.gif"), ImageFormat::Gif);
    EXPECT_EQ(GetImageFormat("f.pcx"), ImageFormat::Pcx);
    EXPECT_EQ(GetImageFormat("f.tif"), ImageFormat::Tif);
}

TEST(ImageFormat, UnknownOrMissingExtensionIsNoFormat)
{
    EXPECT_EQ(GetImageFormat("face.jpe"), ImageFormat::NoFormat);
    EXPECT_EQ(GetImageFormat("face.tiff"), ImageFormat::NoFormat);
    EXPECT_EQ(GetImageFormat("face"), ImageFormat::NoFormat);
    EXPECT_EQ(GetImageFormat("frames.old/face"), ImageFormat::NoFormat);
    EXPECT_EQ(GetImageFormat("face.bmp.bak"), ImageFormat::NoFormat);
}

TEST(ImageFormat, FormatsWithoutCodecTouchNothing)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(4, 3);
    EXPECT_FALSE(image.Save(dir / "frame.gif"));
    EXPECT_FALSE(std::filesystem::exists(dir / "frame.gif"));
    EXPECT_FALSE(image.Save(dir / "frame"));

    test::WriteFileBytes(dir / "frame.gif", {'G', 'I', 'F', '8', '9', 'a'});
    EXPECT_FALSE(image.Load(dir / "frame.gif"));
    ASSERT_FALSE(image.IsEmpty());
    EXPECT_EQ(image.GetPixel(2, 1), test::PatternPixel(2, 1));
}

}  // namespace
}  // namespace skelvane
