#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "imageio/StagedImageFile.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

std::size_t EntriesIn(const fs::path& folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

TEST(StagedImageFile, PublishesUnderAFreeNameOnly)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(5, 3, 1);
    test::WriteFileBytes(dir / "taken.bmp", {1, 2, 3});
    fs::create_directory(dir / "folder.bmp");

    CStagedImageFile staged;
    std::string error;
    ASSERT_TRUE(staged.Stage(image, dir.Path(), "bmp", error));
    EXPECT_EQ(staged.Publish(dir / "taken.bmp", error), CStagedImageFile::PublishResult::NameTaken);
    EXPECT_EQ(staged.Publish(dir / "folder.bmp", error), CStagedImageFile::PublishResult::NameTaken);
    EXPECT_TRUE(staged.IsStaged());
    EXPECT_EQ(staged.Publish(dir / "free.bmp", error), CStagedImageFile::PublishResult::Published);
    EXPECT_FALSE(staged.IsStaged());

    EXPECT_EQ(test::ReadFileBytes(dir / "taken.bmp"), (std::vector<std::uint8_t>{1, 2, 3}));
    CImageBuffer loaded;
    ASSERT_TRUE(loaded.Load(dir / "free.bmp"));
    EXPECT_EQ(test::PixelsOf(loaded), test::PixelsOf(image));
    EXPECT_EQ(EntriesIn(dir.Path()), 3u) << "no temporary file left";
}

TEST(StagedImageFile, UnpublishedStagingLeavesNothingBehind)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(4, 4);
    std::string error;
    {
        CStagedImageFile staged;
        ASSERT_TRUE(staged.Stage(image, dir.Path(), "bmp", error));
        EXPECT_EQ(EntriesIn(dir.Path()), 1u);
    }
    EXPECT_EQ(EntriesIn(dir.Path()), 0u);

    CStagedImageFile refused;
    EXPECT_FALSE(refused.Stage(image, dir / "missing", "bmp", error));
    EXPECT_EQ(error, std::strerror(ENOENT)) << "the system's reason, for the job's message";
    CImageBuffer empty;
    EXPECT_FALSE(refused.Stage(empty, dir.Path(), "bmp", error));
    EXPECT_EQ(error, "the image cannot be encoded as a .bmp file");
    EXPECT_FALSE(refused.IsStaged());
    EXPECT_EQ(EntriesIn(dir.Path()), 0u);
}

std::vector<std::string> NamesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(StagedImageFile, StagingFilesOfProcessesThatDiedGoWithTheNextRun)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(5, 3, 1);
    // A process killed mid-frame: its staged file stays behind.
    const pid_t child = fork();
    if (child == 0) {
        CStagedImageFile staged;
        std::string error;
        _exit(staged.Stage(image, dir.Path(), "png", error) ? 0 : 1);  // no destructor runs
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    std::vector<std::string> left = NamesIn(dir.Path());
    ASSERT_EQ(left.size(), 1u);
    // Its partial file, and the same process's files on another machine
    // sharing the folder, which may still be at work.
    const std::string dead = left[0];
    test::WriteFileBytes(dir / ("." + dead + ".part-0123-4"), {1});
    std::string elsewhere = dead;
    elsewhere.replace(elsewhere.find('@'), elsewhere.find('+') - elsewhere.find('@'), "@render-node-17.example");
    test::WriteFileBytes(dir / elsewhere, {2});
    test::WriteFileBytes(dir / ".hidden.png", {3});
    test::WriteFileBytes(dir / "0001.png", {4});
    // This live process's own staged file.
    CStagedImageFile mine;
    std::string error;
    ASSERT_TRUE(mine.Stage(image, dir.Path(), "png", error));

    RemoveStaleStagingFiles(dir.Path());
    std::vector<std::string> kept = NamesIn(dir.Path());
    EXPECT_EQ(std::count(kept.begin(), kept.end(), dead), 0);
    EXPECT_EQ(std::count(kept.begin(), kept.end(), "." + dead + ".part-0123-4"), 0);
    EXPECT_EQ(kept.size(), 4u) << "the other machine's, the hidden file, the frame and our own staged file";
    EXPECT_EQ(std::count(kept.begin(), kept.end(), elsewhere), 1);
    EXPECT_EQ(mine.Publish(dir / "0002.png", error), CStagedImageFile::PublishResult::Published) << error;
}

// How the Cube2Dome job writes a frame: a later image never takes the name of
// an earlier one, whose file stays as it was.
TEST(StagedImageFile, NeverReplacesAnEarlierImage)
{
    test::TempDir dir;
    CImageBuffer first = test::MakePatternImage(3, 3, 1);
    CImageBuffer second = test::MakePatternImage(3, 3, 2);
    std::string error;
    CStagedImageFile staged;
    ASSERT_TRUE(staged.Stage(first, dir.Path(), "bmp", error));
    ASSERT_EQ(staged.Publish(dir / "dome.bmp", error), CStagedImageFile::PublishResult::Published);
    ASSERT_TRUE(staged.Stage(second, dir.Path(), "bmp", error));
    EXPECT_EQ(staged.Publish(dir / "dome.bmp", error), CStagedImageFile::PublishResult::NameTaken);
    staged.Discard();
    CImageBuffer loaded;
    ASSERT_TRUE(loaded.Load(dir / "dome.bmp"));
    EXPECT_EQ(test::PixelsOf(loaded), test::PixelsOf(first));
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

// A dome made in bands is staged as the file of the whole dome, and published
// like any other.
TEST(StagedImageFile, APictureMadeInBandsStagesTheFileOfTheWholeImage)
{
    test::TempDir dir;
    CImageBuffer image = test::MakePatternImage(19, 40, 4);
    CBandedImage banded(19, 40, ChannelType::Uint8, 16, [&](std::int32_t first, std::int32_t end, CImageBuffer& band) {
        for (std::int32_t y = first; y < end; ++y) {
            std::copy_n(image.Row(y), image.Stride(), band.Row(y - first));
        }
    });
    std::string error;
    CStagedImageFile staged;
    ASSERT_TRUE(staged.Stage(banded, dir.Path(), "jpg", ImageWriteOptions{}, error)) << error;
    ASSERT_EQ(staged.Publish(dir / "banded.jpg", error), CStagedImageFile::PublishResult::Published);
    ASSERT_TRUE(image.Save(dir / "whole.jpg"));
    EXPECT_EQ(test::ReadFileBytes(dir / "banded.jpg"), test::ReadFileBytes(dir / "whole.jpg"));
    EXPECT_FALSE(staged.Stage(banded, dir.Path(), "png", ImageWriteOptions{}, error));
    EXPECT_FALSE(staged.IsStaged());
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(EntriesIn(dir.Path()), 2u);
}

}  // namespace
}  // namespace skelvane
