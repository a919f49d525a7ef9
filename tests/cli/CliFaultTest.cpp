// The command line under faults a render farm meets: a file-size limit that
// cuts a save short, a save folder that is read-only or gone.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "CliFaultHarness.h"

namespace skelvane::test {
namespace {
namespace fs = std::filesystem;

constexpr const char* kFailedText = "Some error has happened, the FullDome render is not finished! ";

TEST_F(CliFault, FileSizeLimitFailsTheSaveAndKeepsEarlierFrames)
{
    const fs::path sample = Sample(3, 16);
    const fs::path out = m_dir / "dome";
    // 64 x 64 domes (12 KiB) first, then 128 x 128 ones (48 KiB) that the limit cuts short.
    ASSERT_EQ(Run({"cube2dome", "--input", sample.string(), "--output", out.string(), "--frames", "1-2",
                   "--size", "64"})
                  .status,
              0);
    const auto before = FolderContents(out);
    ASSERT_EQ(before.size(), 2u);

    const CliResult result = Run({"cube2dome", "--input", sample.string(), "--output", out.string(), "--frames", "1-3",
                               "--size", "128"},
                              20000);
    EXPECT_EQ(result.status, 1) << "the limit must fail the write, not kill the program (SIGXFSZ)\n" << result.err;
    EXPECT_NE(result.err.find(kFailedText), std::string::npos) << result.err;
    EXPECT_NE(result.err.find((out / "FullDome_000(001).bmp").string() + ": " + std::strerror(EFBIG)),
              std::string::npos)
        << "names the file and why\n"
        << result.err;
    EXPECT_EQ(FolderContents(out), before) << "no partial or temporary file, earlier frames untouched";
}

TEST_F(CliFault, ReadOnlyOrMissingFolderFailsAndWritesNothing)
{
    if (!ReadOnlyFoldersHold(m_dir / "probe")) {
        GTEST_SKIP() << "this user writes into read-only folders";
    }
    const fs::path sample = Sample(2, 16);
    const fs::path out = m_dir / "dome";
    ASSERT_EQ(Run({"cube2dome", "--input", sample.string(), "--output", out.string(), "--frames", "1"}).status, 0);
    const auto before = FolderContents(out);
    const CliResult readOnly = [&] {
        ReadOnlyFolder hold(out);
        return Run({"cube2dome", "--input", sample.string(), "--output", out.string()});
    }();
    EXPECT_EQ(readOnly.status, 1) << readOnly.err;
    EXPECT_NE(readOnly.err.find(kFailedText), std::string::npos) << readOnly.err;
    EXPECT_NE(readOnly.err.find((out / "FullDome_000(001).bmp").string()), std::string::npos) << readOnly.err;
    EXPECT_EQ(FolderContents(out), before);

    // A folder whose parent cannot take it: the program cannot make it.
    const fs::path missing = out / "sub";
    const CliResult gone = [&] {
        ReadOnlyFolder hold(out);
        return Run({"cube2dome", "--input", sample.string(), "--output", missing.string()});
    }();
    EXPECT_EQ(gone.status, 1) << gone.err;
    EXPECT_NE(gone.err.find(missing.string()), std::string::npos) << gone.err;
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_EQ(FolderContents(out), before);
}

}  // namespace
}  // namespace skelvane::test
