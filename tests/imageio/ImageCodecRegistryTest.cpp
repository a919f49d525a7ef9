#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "imageio/ImageCodecRegistry.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

TEST(ImageCodecRegistry, TheExtensionOfTheFileNameDecidesIgnoringCase)
{
    struct Case {
        const char* path;
        const char* format;  // the codec's name, or null for none
    };
    for (const Case& c : {Case{"dir/FACE.JPG", "JPEG"}, {"dir/face.Jpeg", "JPEG"}, {"dir/face.jpeg", "JPEG"},
                          {"f.PNG", "PNG"}, {"f.bmp", "BMP"}, {"f.Tga", "TGA"}, {".bmp", "BMP"},
                          {"f.tif", "TIFF"}, {"face.TIFF", "TIFF"}, {"sky.exr", "OpenEXR"},
                          // Known to the world, not to us; or no extension at all.
                          {"f.gif", nullptr}, {"f.pcx", nullptr}, {"face.jpe", nullptr}, {"sky.hdr", nullptr},
                          {"face", nullptr}, {"frames.old/face", nullptr},
                          {"face.bmp.bak", nullptr}, {"face.", nullptr}}) {
        const ImageCodec* codec = ImageCodecForPath(c.path);
        if (c.format) {
            ASSERT_NE(codec, nullptr) << c.path;
            EXPECT_EQ(codec->name, c.format) << c.path;
        } else {
            EXPECT_EQ(codec, nullptr) << c.path;
        }
    }
    EXPECT_EQ(FindImageCodec(".JPEG"), FindImageCodec("jpg"));
    EXPECT_EQ(FindImageCodec(""), nullptr);
}

TEST(ImageCodecRegistry, ListsComeInRegistryOrderWithTheDefaultInFront)
{
    using Choices = std::vector<std::string>;
    EXPECT_EQ(FormatChoices(CodecUse::Read), (Choices{"bmp", "jpg", "png", "tga", "tif", "exr"}));
    EXPECT_EQ(FormatChoices(CodecUse::Write), (Choices{"bmp", "jpg", "png", "tga", "tif", "exr"}));
    EXPECT_EQ(FormatChoices(CodecUse::Write, "jpg"), (Choices{"jpg", "bmp", "png", "tga", "tif", "exr"}));
    EXPECT_EQ(FormatChoices(CodecUse::Write, "tga"), (Choices{"tga", "bmp", "jpg", "png", "tif", "exr"}));
    EXPECT_EQ(FormatChoices(CodecUse::Write, "gif"), (Choices{"bmp", "jpg", "png", "tga", "tif", "exr"}));
    EXPECT_EQ(FormatNames(CodecUse::Read), "BMP, JPEG, PNG, TGA, TIFF or OpenEXR");

    for (const ImageCodec* codec : ImageCodecs()) {
        EXPECT_TRUE(codec->CanRead() && codec->CanWrite()) << codec->name;
        for (std::string_view extension : codec->extensions) {
            EXPECT_EQ(FindImageCodec(extension), codec) << extension;
            EXPECT_TRUE(IsImageFormat(std::string(extension), CodecUse::Write)) << extension;
        }
    }
    EXPECT_FALSE(IsImageFormat("gif", CodecUse::Read));
    EXPECT_FALSE(IsImageFormat("", CodecUse::Write));
}

TEST(ImageCodecRegistry, NamesWithoutAFormatSayWhatCanBeUsed)
{
    EXPECT_EQ(UnsupportedFormatReason("out/dome.gif", CodecUse::Write),
              "a file name ending in .gif is not an image format that can be written (bmp, jpg, png, tga, tif, exr)");
    EXPECT_EQ(UnsupportedFormatReason("frames.old/dome", CodecUse::Read),
              "the file name has no extension to tell which image format to use (bmp, jpg, png, tga, tif, exr)");
    EXPECT_EQ(UnsupportedFormatReason("dome.JPEG", CodecUse::Write), "");
}

TEST(ImageCodecRegistry, FormatsWithoutCodecTouchNothing)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(4, 3);
    std::string reason;
    EXPECT_FALSE(image.Save(dir / "frame.gif", &reason));
    EXPECT_NE(reason.find(".gif"), std::string::npos) << reason;
    EXPECT_FALSE(std::filesystem::exists(dir / "frame.gif"));
    EXPECT_FALSE(image.Save(dir / "frame"));

    test::WriteFileBytes(dir / "frame.gif", {'G', 'I', 'F', '8', '9', 'a'});
    EXPECT_FALSE(image.Load(dir / "frame.gif", &reason));
    EXPECT_NE(reason.find("can be read"), std::string::npos) << reason;
    ASSERT_FALSE(image.IsEmpty());
    EXPECT_EQ(image.GetPixel(2, 1), test::PatternPixel(2, 1));
}

// Only a format whose writer takes rows, asked for the depth the picture
// already has, writes pictures made in bands; a picture that would need
// converting goes whole.
TEST(ImageCodecRegistry, PicturesMadeInBandsGoToFormatsThatWriteRowsAtTheirOwnDepth)
{
    ImageWriteOptions sixteenBits;
    sixteenBits.depth = kDepth16;
    struct Case {
        const char* name;
        ImageWriteOptions options;
        ChannelType type, fileType;
        bool inBands;
    };
    for (const Case& c : {Case{"dome.jpg", {}, ChannelType::Uint8, ChannelType::Uint8, true},
                          Case{"dome.JPEG", {}, ChannelType::Uint8, ChannelType::Uint16, true},
                          Case{"dome.jpg", {}, ChannelType::Uint16, ChannelType::Uint16, false},
                          Case{"dome.jpg", sixteenBits, ChannelType::Uint8, ChannelType::Uint8, false},
                          Case{"dome.png", {}, ChannelType::Uint8, ChannelType::Uint8, false},
                          Case{"dome.gif", {}, ChannelType::Uint8, ChannelType::Uint8, false}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EncodesInBands(c.name, c.options, c.type, c.fileType), c.inBands);
        CBandedImage picture(6, 5, c.type, 2, [](std::int32_t first, std::int32_t end, CImageBuffer& band) {
            for (std::int32_t y = first; y < end; ++y) {
                std::fill_n(band.Row(y - first), band.Stride(), static_cast<std::uint8_t>(y * 40));
            }
        });
        picture.SetFileChannelType(c.fileType);
        std::vector<std::uint8_t> bytes;
        std::string reason;
        EXPECT_EQ(EncodeImageRows(picture, c.name, c.options, bytes, &reason), c.inBands) << reason;
        EXPECT_EQ(reason.empty(), c.inBands) << reason;
    }
}

}  // namespace
}  // namespace skelvane
