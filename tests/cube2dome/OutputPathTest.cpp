#include <gtest/gtest.h>

#include <fstream>

#include "cube2dome/OutputPath.h"
#include "imageio/FilePaths.h"
#include "support/TempDir.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

void Touch(const fs::path& path)
{
    std::ofstream(path) << "x";
}

TEST(MakeOutputPath, SerialIsTheLastDigitsOfTheFrameIndex)
{
    EXPECT_EQ(OutputPathWithSuffix("/out", "FullDome_", 0, 3, "bmp", 0), "/out/FullDome_000.bmp");
    EXPECT_EQ(OutputPathWithSuffix("/out", "FullDome_", 4, 4, "png", 0), "/out/FullDome_0004.png");
    EXPECT_EQ(OutputPathWithSuffix("/out", "FullDome_", 1000, 3, "bmp", 0), "/out/FullDome_000.bmp");
    EXPECT_EQ(OutputPathWithSuffix("/out", "x", 123456789012LL, 12, "tga", 0), "/out/x123456789012.tga");
    EXPECT_EQ(OutputPathWithSuffix("/out", "", 7, 12, "jpg", 0), "/out/000000000007.jpg");
    EXPECT_EQ(OutputPathWithSuffix("/out", "p", 2, 3, "bmp", 1), "/out/p002(001).bmp");
    EXPECT_EQ(OutputPathWithSuffix("/out", "p", 2, 3, "bmp", 999), "/out/p002(999).bmp");
    EXPECT_EQ(OutputPathWithSuffix("/out", "p", 2, 3, "bmp", 1000), "/out/p002(1000).bmp");
    // A trailing separator is not doubled; the root folder stays the root.
    EXPECT_EQ(OutputPathWithSuffix("/out/", "p", 0, 3, "bmp", 0), "/out/p000.bmp");
    EXPECT_EQ(OutputPathWithSuffix(TrimTrailingSeparators("/"), "p", 0, 3, "bmp", 0), "/p000.bmp");
    EXPECT_EQ(TrimTrailingSeparators("/dome///"), "/dome");
}

TEST(MakeOutputPath, ExistingNamesGetANumberedSuffix)
{
    test::TempDir dir;
    const std::string folder = dir.Path().string();
    EXPECT_EQ(MakeOutputPath(folder, "FullDome_", 0, 3, "bmp"), dir / "FullDome_000.bmp");
    Touch(dir / "FullDome_000.bmp");
    EXPECT_EQ(MakeOutputPath(folder, "FullDome_", 0, 3, "bmp"), dir / "FullDome_000(001).bmp");
    Touch(dir / "FullDome_000(001).bmp");
    EXPECT_EQ(MakeOutputPath(folder, "FullDome_", 0, 3, "bmp"), dir / "FullDome_000(002).bmp");
    // Other frames and other extensions are not affected.
    EXPECT_EQ(MakeOutputPath(folder, "FullDome_", 1, 3, "bmp"), dir / "FullDome_001.bmp");
    EXPECT_EQ(MakeOutputPath(folder, "FullDome_", 0, 3, "png"), dir / "FullDome_000.png");
}

TEST(MakeOutputPath, AFolderOrADanglingLinkOfTheNameCountsAsExisting)
{
    test::TempDir dir;
    fs::create_directory(dir / "FullDome_000.bmp");
    fs::create_symlink(dir / "nowhere", dir / "FullDome_001.bmp");
    EXPECT_TRUE(FileExists(dir / "FullDome_000.bmp"));
    EXPECT_EQ(MakeOutputPath(dir.Path().string(), "FullDome_", 0, 3, "bmp"), dir / "FullDome_000(001).bmp");
    EXPECT_EQ(MakeOutputPath(dir.Path().string(), "FullDome_", 1, 3, "bmp"), dir / "FullDome_001(001).bmp");
}

TEST(MakeOutputPath, GivesUpAfterTheLastNumberedVariant)
{
    test::TempDir dir;
    for (int n = 0; n < kMaxOutputSuffix; ++n) {
        Touch(OutputPathWithSuffix(dir.Path().string(), "p", 0, 3, "bmp", n));
    }
    EXPECT_EQ(MakeOutputPath(dir.Path().string(), "p", 0, 3, "bmp"), dir / "p000(9999).bmp");
    Touch(dir / "p000(9999).bmp");
    EXPECT_EQ(MakeOutputPath(dir.Path().string(), "p", 0, 3, "bmp"), std::nullopt);
}

}  // namespace
}  // namespace skelvane
