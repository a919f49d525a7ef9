#include "CliFaultHarness.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/TestImages.h"

namespace skelvane::test {
namespace fs = std::filesystem;

namespace {

// Root passes every permission check; without these two capabilities (also
// dropped for what it executes) even root is held to the permission bits.
void DropFileOverrides()
{
    prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
    prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
}

}  // namespace

bool ReadOnlyFoldersHold(const fs::path& folder)
{
    fs::create_directories(folder);
    const fs::path probe = folder / "probe";
    int status = 0;
    {
        ReadOnlyFolder readOnly(folder);
        const pid_t pid = fork();
        if (pid == 0) {
            DropFileOverrides();  // takes effect in what the child executes
            execl("/usr/bin/touch", "touch", probe.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        waitpid(pid, &status, 0);
    }
    const bool refused = WIFEXITED(status) && WEXITSTATUS(status) == 1 && !fs::exists(probe);
    fs::remove_all(folder);
    return refused;
}

std::map<std::string, std::vector<std::uint8_t>> FolderContents(const fs::path& folder)
{
    std::map<std::string, std::vector<std::uint8_t>> contents;
    for (const auto& entry : fs::directory_iterator(folder)) {
        contents[entry.path().filename().string()] = ReadFileBytes(entry.path());
    }
    return contents;
}

ReadOnlyFolder::ReadOnlyFolder(fs::path folder) : m_folder(std::move(folder))
{
    fs::permissions(m_folder, fs::perms::owner_read | fs::perms::owner_exec);
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    std::error_code ignored;
    fs::permissions(m_folder, fs::perms::owner_all, ignored);
}

CliResult CliFault::Run(const std::vector<std::string>& args, std::optional<rlim_t> fileSizeLimit)
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
    CliResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    const std::vector<std::uint8_t> err = ReadFileBytes(errFile);
    result.err.assign(err.begin(), err.end());
    fs::remove(errFile);
    return result;
}

fs::path CliFault::Sample(int frames, int size)
{
    const fs::path sample = m_dir / "sample";
    const CliResult made = Run({"sample", "--output", sample.string(), "--frames", std::to_string(frames), "--size",
                                std::to_string(size)});
    EXPECT_EQ(made.status, 0) << made.err;
    return sample;
}

}  // namespace skelvane::test
