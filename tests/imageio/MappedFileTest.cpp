#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "engine/image/ImageBuffer.h"
#include "imageio/MappedFile.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {

std::size_t EntriesIn(const std::filesystem::path& folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

TEST(MappedInput, ReadsWholeFileAndRefusesMissingOrEmpty)
{
    test::TempDir dir;
    test::WriteFileBytes(dir / "data.bin", {1, 2, 3, 4, 5});
    MappedInput input;
    ASSERT_TRUE(input.Open(dir / "data.bin"));
    ASSERT_EQ(input.Data().size(), 5u);
    EXPECT_EQ(input.Data()[4], 5);

    test::WriteFileBytes(dir / "empty.bin", {});
    EXPECT_FALSE(input.Open(dir / "empty.bin"));
    EXPECT_FALSE(input.Open(dir / "missing.bin"));
    EXPECT_TRUE(input.Data().empty());
}

// A face path that turned into a folder used to be "read" as a stream ending
// at the largest offset: an allocation of 2^63 bytes, reported as out of
// memory. A pipe would block the reader for good.
TEST(MappedInput, RefusesFoldersAndPipes)
{
    test::TempDir dir;
    std::filesystem::create_directory(dir / "face.bmp");
    MappedInput input;
    EXPECT_FALSE(input.Open(dir / "face.bmp"));
    EXPECT_EQ(input.Error(), "it is a folder");
    CImageBuffer image;
    EXPECT_FALSE(image.Load(dir / "face.bmp"));
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    EXPECT_FALSE(input.Open(dir / "pipe.png"));
    EXPECT_EQ(input.Error(), "it is not a regular file");
    EXPECT_TRUE(input.Data().empty());
    // Through a link as well: the check is on what is opened.
    std::filesystem::create_symlink(dir / "pipe.png", dir / "link.png");
    EXPECT_FALSE(input.Open(dir / "link.png"));
    EXPECT_EQ(input.Error(), "it is not a regular file");
}

TEST(MappedOutput, ReplacesTargetWithExactBytesAndLeavesNoTemporary)
{
    test::TempDir dir;
    test::WriteFileBytes(dir / "out.bin", std::vector<std::uint8_t>(1000, 7));
    MappedOutput output(dir / "out.bin");
    output.Bytes() = {9, 8, 7};
    ASSERT_TRUE(output.Commit());
    EXPECT_EQ(test::ReadFileBytes(dir / "out.bin"), (std::vector<std::uint8_t>{9, 8, 7}));
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

// Byte buffers are reused from save to save: a short file after a long one
// holds only its own bytes, and nothing of the earlier save leaks into it.
TEST(MappedOutput, EachSaveStartsFromNoBytes)
{
    test::TempDir dir;
    for (int round = 0; round < 3; ++round) {
        {
            MappedOutput output(dir / "long.bin");
            EXPECT_TRUE(output.Bytes().empty());
            output.Bytes().assign(std::size_t{3} << 20, 0xAB);
            ASSERT_TRUE(output.Commit());
        }
        MappedOutput output(dir / "short.bin");
        EXPECT_TRUE(output.Bytes().empty());
        output.Bytes().push_back(static_cast<std::uint8_t>(round));
        ASSERT_TRUE(output.Commit());
        EXPECT_EQ(test::ReadFileBytes(dir / "short.bin"), (std::vector<std::uint8_t>{static_cast<std::uint8_t>(round)}));
    }
}

TEST(MappedOutput, FailedWriteDamagesNothing)
{
    test::TempDir dir;
    MappedOutput intoMissingFolder(dir / "no-such-folder" / "out.bin");
    intoMissingFolder.Bytes() = {1};
    EXPECT_FALSE(intoMissingFolder.Commit());
    EXPECT_FALSE(intoMissingFolder.Error().empty());

    // A folder in the way of the target: the rename fails, the folder stays.
    std::filesystem::create_directory(dir / "taken.bin");
    MappedOutput overFolder(dir / "taken.bin");
    overFolder.Bytes() = {1, 2};
    EXPECT_FALSE(overFolder.Commit());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken.bin"));
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}

TEST(MappedOutput, ExclusiveModeNeverReplaces)
{
    test::TempDir dir;
    test::WriteFileBytes(dir / "frame.bmp", {1, 1});
    MappedOutput output(dir / "frame.bmp", MappedOutput::Mode::Exclusive);
    output.Bytes() = {2, 2, 2};
    EXPECT_FALSE(output.Commit());
    EXPECT_EQ(test::ReadFileBytes(dir / "frame.bmp"), (std::vector<std::uint8_t>{1, 1}));
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);

    MappedOutput fresh(dir / "other.bmp", MappedOutput::Mode::Exclusive);
    fresh.Bytes() = {3};
    EXPECT_TRUE(fresh.Commit());
    EXPECT_EQ(test::ReadFileBytes(dir / "other.bmp"), (std::vector<std::uint8_t>{3}));
}

}  // namespace
}  // namespace skelvane
