// Files that claim more than they hold, or more than the image limit: every
// reader refuses them before allocating and says why, and the reason is what
// Load hands its callers.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <string>

#include "engine/image/ImageBuffer.h"
#include "imageio/JpegCodec.h"
#include "support/HostileImages.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

using test::Bytes;

struct Refusal {
    const char* name;  // its extension picks the reader
    Bytes file;
    const char* reason;  // a part of the reason Load gives
};

TEST(ReaderRefusal, EachReaderSaysWhyItRefusesAFileBeforeAllocating)
{
    const Refusal refusals[] = {
        // One pixel over the limit, in every format.
        {"wide.bmp", test::BmpClaiming(32769, 1, 32769 * 3 + 1), "header claims 32769 x 1 pixels, more than the 32768 limit"},
        {"tall.bmp", test::BmpClaiming(1, -32769, 4 * 32769), "header claims 1 x 32769 pixels, more than the 32768 limit"},
        {"wide.jpg", test::JpegClaiming(32769, 8), "header claims 32769 x 8 pixels, more than the 32768 limit"},
        {"wide.png", test::PngClaiming(32769, 1), "header claims 32769 x 1 pixels, more than the 32768 limit"},
        {"wide.tga", test::RunLengthTgaClaiming(32769, 1, 1024), "header claims 32769 x 1 pixels, more than the 32768 limit"},
        // A few hundred bytes claiming gigabytes.
        {"bomb.jpg", test::JpegClaiming(32768, 32768), "header claims 32768 x 32768 pixels, which take at least"},
        {"progressive-bomb.jpg", test::DcOnlyJpeg(16, 16, 3, 1, 32768, 32768),
         "header claims 32768 x 32768 pixels, which take at least 6291456 bytes"},
        {"bomb.png", test::PngClaiming(32768, 32768), "header claims 32768 x 32768 pixels, which take at least"},
        // Data enough for the claim, but in a chunk that is no image data.
        {"padded-bomb.png", test::PngClaiming(8192, 8192, 300000), "which take at least 260116 bytes of image data; the file has 52"},
        {"bomb.tga", test::RunLengthTgaClaiming(32768, 32768, 400), "the file has 400"},
        {"short.tga", test::RunLengthTgaClaiming(300, 2, 12), "header claims 300 x 2 pixels, which take at least 20 bytes of image data; the file has 12"},
        {"bomb.bmp", test::RunLengthBmpClaiming(32768, 32768), "header claims 32768 x 32768 pixels, which take at least"},
        {"short.bmp", test::BmpClaiming(5, 3, 40), "which take at least 47 bytes of image data; the file has 40"},
        // Data enough, but more library memory than any file may take.
        {"coefficients.jpg", test::DcOnlyJpeg(32768, 32768, 3, 1), "would take more than 4096 MiB of working memory"},
        {"scans.jpg", test::DcOnlyJpeg(8, 8, 1, kMaxJpegScans + 1), "more than 1000 scans"},
    };
    test::TempDir dir;
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        test::WriteFileBytes(dir / refusal.name, refusal.file);
        CImageBuffer image = test::MakePatternImage(2, 2);
        std::string reason;
        EXPECT_FALSE(image.Load(dir / refusal.name, &reason));
        EXPECT_NE(reason.find(refusal.reason), std::string::npos) << reason;
        EXPECT_TRUE(image.IsEmpty());
    }
}

// The same makers, within what the files can hold, give pictures: the
// refusals above are the claims, not the makers.
TEST(ReaderRefusal, FilesAtTheLeastDataTheirSizeTakesStillLoad)
{
    struct Accepted {
        const char* name;
        Bytes file;
        std::int32_t width;
        std::int32_t height;
    };
    const Accepted accepted[] = {
        {"full.bmp", test::BmpClaiming(5, 3, 16 * 2 + 15), 5, 3},
        {"dc-only.jpg", test::DcOnlyJpeg(40, 24, 3, 1), 40, 24},
        {"dc-only-gray.jpg", test::DcOnlyJpeg(8, 8, 1, kMaxJpegScans), 8, 8},
        {"runs.tga", test::RunLengthTgaClaiming(256, 2, 16), 256, 2},
    };
    test::TempDir dir;
    for (const Accepted& file : accepted) {
        SCOPED_TRACE(file.name);
        test::WriteFileBytes(dir / file.name, file.file);
        CImageBuffer image;
        std::string reason;
        ASSERT_TRUE(image.Load(dir / file.name, &reason)) << reason;
        EXPECT_EQ(image.GetWidth(), file.width);
        EXPECT_EQ(image.GetHeight(), file.height);
    }
}

// A flat picture is the most a file of its size can hold, which the checks
// against decompression bombs must allow: the widest panoramas of one colour
// load in every format.
TEST(ReaderRefusal, FlatPanoramasAtTheWidthLimitLoadInEveryFormat)
{
    constexpr std::int32_t kHeight = 512;
    test::TempDir dir;
    CImageBuffer flat = test::MakeUniformImage(kMaxImageSide, kHeight, 0xFF3070B0u);
    for (const char* name : {"flat.bmp", "flat.jpg", "flat.png", "flat.tga"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(flat.Save(dir / name));
        CImageBuffer loaded;
        std::string reason;
        ASSERT_TRUE(loaded.Load(dir / name, &reason)) << reason;
        EXPECT_EQ(loaded.GetWidth(), kMaxImageSide);
        EXPECT_EQ(loaded.GetHeight(), kHeight);
        EXPECT_NEAR(static_cast<int>(loaded.GetPixel(kMaxImageSide - 1, kHeight - 1) & 255), 0xB0, 2);
        std::filesystem::remove(dir / name);
    }
}

TEST(ReaderRefusal, FilesThatCannotBeReadSayWhyAtOnce)
{
    test::TempDir dir;
    std::filesystem::create_directory(dir / "folder.png");
    ASSERT_EQ(mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
    test::WriteFileBytes(dir / "empty.tga", {});
    const Bytes png = test::ReadFileBytes([&] {
        EXPECT_TRUE(test::MakePatternImage(64, 64).Save(dir / "whole.png"));
        return dir / "whole.png";
    }());
    test::WriteFileBytes(dir / "header-only.png", Bytes(png.begin(), png.begin() + 40));
    test::WriteFileBytes(dir / "text.png", {'n', 'o', 't', ' ', 'a', ' ', 'P', 'N', 'G'});
    struct Case {
        const char* name;
        const char* reason;
    };
    for (const Case& c : {Case{"missing.bmp", "there is no such file"}, {"folder.png", "it is a folder"},
                          {"pipe.jpg", "it is not a regular file"}, {"empty.tga", "the file is empty"},
                          {"header-only.png", "cut short before its image data"},
                          {"text.png", "not a PNG file"}}) {
        SCOPED_TRACE(c.name);
        const auto start = std::chrono::steady_clock::now();
        CImageBuffer image;
        std::string reason;
        EXPECT_FALSE(image.Load(dir / c.name, &reason));
        EXPECT_EQ(reason, c.reason);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << "never waits for a writer";
    }
}

}  // namespace
}  // namespace skelvane
