#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "imageio/StagingEntry.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

// A process that has ended, so its number names a writer that is gone.
pid_t EndedProcess()
{
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

// `name`, a staging entry's, with the writer's process number replaced.
std::string WithWriter(const std::string& name, pid_t pid)
{
    const std::size_t start = name.find(".part-") + 6;
    return name.substr(0, start) + std::to_string(pid) + name.substr(name.find('@', start));
}

TEST(StagingEntry, LeftoversOfWritersThatAreGoneGoAndNothingElse)
{
    test::TempDir dir;
    const pid_t gone = EndedProcess();
    CStagingEntry live;  // this process's, at work
    std::string error;
    ASSERT_TRUE(live.CreateFile(dir.Path(), "0001.png", error)) << error;
    ASSERT_EQ(live.Write(std::vector<std::uint8_t>{1, 2}), "");
    const std::string liveName = live.Path().filename().string();
    EXPECT_EQ(liveName.rfind(".0001.png.part-" + std::to_string(getpid()) + "@", 0), 0u) << liveName;

    // Left by a writer that is gone: a file, and a folder with a file in it.
    const std::string goneFile = WithWriter(liveName, gone);
    test::WriteFileBytes(dir / goneFile, {3});
    const std::string goneFolder = WithWriter(".skelvane-passes" + liveName.substr(9), gone);
    fs::create_directory(dir / goneFolder);
    test::WriteFileBytes(dir / goneFolder / "x264-passes.log", {4});
    // A link named like a leftover is never followed, nor removed.
    test::WriteFileBytes(dir / "target.png", {5});
    const std::string link = WithWriter(".link" + liveName.substr(9), gone);
    fs::create_symlink(dir / "target.png", dir / link);
    // A writer whose number looks gone from here (a container with a process
    // space of its own) but which holds its entry's lock.
    const std::string locked = WithWriter(".0002.png" + liveName.substr(9), gone);
    test::WriteFileBytes(dir / locked, {6});
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        const int fd = open((dir / locked).c_str(), O_RDONLY);
        flock(fd, LOCK_EX);
        char c = 0;
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    // Names that only look alike: not hidden, no writer, another machine.
    for (const std::string& name : {liveName.substr(1), std::string(".0001.png.part-0123-4"),
                                    WithWriter(liveName.substr(0, liveName.find('@') + 1) + "render-node-17" +
                                                   liveName.substr(liveName.find('+')),
                                               gone)}) {
        test::WriteFileBytes(dir / name, {7});
    }

    RemoveStaleStagingFiles(dir.Path());
    EXPECT_FALSE(fs::exists(dir / goneFile));
    EXPECT_FALSE(fs::exists(dir / goneFolder));
    EXPECT_TRUE(fs::exists(live.Path()));
    EXPECT_TRUE(fs::is_symlink(dir / link));
    EXPECT_EQ(test::ReadFileBytes(dir / "target.png"), (std::vector<std::uint8_t>{5}));
    EXPECT_TRUE(fs::exists(dir / locked)) << "its writer still holds it";
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 7u) << "the live one, the link and its target, the locked one and the three lookalikes";

    (void)!write(release[1], &c, 1);
    waitpid(holder, nullptr, 0);
    RemoveStaleStagingFiles(dir.Path());
    EXPECT_FALSE(fs::exists(dir / locked)) << "gone with its writer";
}

TEST(StagingEntry, ReleasedEntriesAreNoLongerTheirsToRemove)
{
    test::TempDir dir;
    std::string error;
    CStagingEntry file;
    ASSERT_TRUE(file.CreateFile(dir.Path(), "dome.png", error)) << error;
    ASSERT_EQ(file.Write(std::vector<std::uint8_t>{1, 2, 3}), "");
    fs::rename(file.Path(), dir / "dome.png");
    file.Release();
    {
        CStagingEntry folder;
        ASSERT_TRUE(folder.CreateFolder(dir.Path(), "passes", error)) << error;
        test::WriteFileBytes(folder.Path() / "log", {1});
    }  // unreleased: removed with what it holds
    EXPECT_EQ(test::ReadFileBytes(dir / "dome.png"), (std::vector<std::uint8_t>{1, 2, 3}));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

// The second Ctrl-C ends the program without unwinding; what it was writing
// goes first, and nothing is made after.
TEST(StagingEntry, AnAbortTakesTheProcesssOwnEntriesAlong)
{
    test::TempDir dir;
    const pid_t child = fork();
    if (child == 0) {
        std::string error;
        CStagingEntry file;
        CStagingEntry folder;
        const bool made = file.CreateFile(dir.Path(), "sweep.mov", error) &&
                          folder.CreateFolder(dir.Path(), "passes", error) && file.Write(std::vector<std::uint8_t>{1}) == "";
        RemoveOwnStagingEntries();
        CStagingEntry late;
        const bool refused = !late.CreateFile(dir.Path(), "0002.png", error) && error == "the program is ending";
        _exit(made && refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

}  // namespace
}  // namespace skelvane
