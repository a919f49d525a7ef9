// The command line under faults a render farm meets: a file-size limit that
// cuts a save short, a save folder that is read-only or gone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

// Root passes every permission check; without these two capabilities (also
// dropped for what it executes) even root is held to the permission bits.
void DropFileOverrides()
{
    prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
    prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
}

// Whether a child that dropped the overrides is refused a file in a
// read-only folder (false where the capabilities cannot be dropped).
bool ReadOnlyFoldersHold(const fs::path& folder)
{
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    const pid_t pid = fork();
    const fs::path probe = folder / "probe";
    if (pid == 0) {
        DropFileOverrides();  // takes effect in what the child executes
        execl("/usr/bin/touch", "touch", probe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    fs::permissions(folder, fs::perms::owner_all);
    const bool refused = WIFEXITED(status) && WEXITSTATUS(status) == 1 && !fs::exists(probe);
    fs::remove_all(folder);
    return refused;
}

struct Result {
    int status = -1;  // exit status, or 1000 + the signal that ended it
    std::string err;
};

class CliFault : public ::testing::Test {
protected:
    // Runs the program to its end, with a file-size limit when given.
    Result Run(const std::vector<std::string>& args, std::optional<rlim_t> fileSizeLimit = std::nullopt)
    {
        const fs::path errFile = m_dir / "stderr.txt";
        const pid_t pid = fork();
        if (pid == 0) {
            DropFileOverrides();
            if (fileSizeLimit) {
                const rlimit limit{*fileSizeLimit, *fileSizeLimit};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDOUT_FILENO);
            const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, STDERR_FILENO);
            std::string program = SKELVANE_CLI_PATH;
            std::vector<std::string> copies = args;
            std::vector<char*> argv{program.data()};
            for (std::string& arg : copies) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        Result result;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        const std::vector<std::uint8_t> err = test::ReadFileBytes(errFile);
        result.err.assign(err.begin(), err.end());
        return result;
    }

    fs::path Sample(int frames, int size)
    {
        const fs::path sample = m_dir / "sample";
        const Result made = Run({"sample", "--output", sample.string(), "--frames", std::to_string(frames),
                                 "--size", std::to_string(size)});
        EXPECT_EQ(made.status, 0) << made.err;
        return sample;
    }

    // Every entry of the folder with its bytes, hidden ones included.
    static std::map<std::string, std::vector<std::uint8_t>> Contents(const fs::path& folder)
    {
        std::map<std::string, std::vector<std::uint8_t>> contents;
        for (const auto& entry : fs::directory_iterator(folder)) {
            contents[entry.path().filename().string()] = test::ReadFileBytes(entry.path());
        }
        return contents;
    }

    test::TempDir m_dir;
};

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
    const auto before = Contents(out);
    ASSERT_EQ(before.size(), 2u);

    const Result result = Run({"cube2dome", "--input", sample.string(), "--output", out.string(), "--frames", "1-3",
                               "--size", "128"},
                              20000);
    EXPECT_EQ(result.status, 1) << "the limit must fail the write, not kill the program (SIGXFSZ)\n" << result.err;
    EXPECT_NE(result.err.find(kFailedText), std::string::npos) << result.err;
    EXPECT_NE(result.err.find((out / "FullDome_000(001).bmp").string()), std::string::npos) << result.err;
    EXPECT_EQ(Contents(out), before) << "no partial or temporary file, earlier frames untouched";
}

TEST_F(CliFault, ReadOnlyOrMissingFolderFailsAndWritesNothing)
{
    if (!ReadOnlyFoldersHold(m_dir / "probe")) {
        GTEST_SKIP() << "this user writes into read-only folders";
    }
    const fs::path sample = Sample(2, 16);
    const fs::path out = m_dir / "dome";
    ASSERT_EQ(Run({"cube2dome", "--input", sample.string(), "--output", out.string(), "--frames", "1"}).status, 0);
    const auto before = Contents(out);
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
    const Result readOnly = Run({"cube2dome", "--input", sample.string(), "--output", out.string()});
    fs::permissions(out, fs::perms::owner_all);
    EXPECT_EQ(readOnly.status, 1) << readOnly.err;
    EXPECT_NE(readOnly.err.find(kFailedText), std::string::npos) << readOnly.err;
    EXPECT_NE(readOnly.err.find((out / "FullDome_000(001).bmp").string()), std::string::npos) << readOnly.err;
    EXPECT_EQ(Contents(out), before);

    // A folder whose parent cannot take it: the program cannot make it.
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec);
    const fs::path missing = out / "sub";
    const Result gone = Run({"cube2dome", "--input", sample.string(), "--output", missing.string()});
    fs::permissions(out, fs::perms::owner_all);
    EXPECT_EQ(gone.status, 1) << gone.err;
    EXPECT_NE(gone.err.find(missing.string()), std::string::npos) << gone.err;
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_EQ(Contents(out), before);
}

}  // namespace
}  // namespace skelvane
