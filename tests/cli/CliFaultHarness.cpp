#include "CliFaultHarness.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string_view>
#include <thread>

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

CliChild::CliChild(const std::vector<std::string>& args, const CliLaunch& launch, fs::path errFile)
    : m_errFile(std::move(errFile))
{
    int pipeFds[2] = {-1, -1};
    if (launch.stdoutPipe && pipe2(pipeFds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no pipe";
        return;
    }
    // Everything that allocates is done before the fork.
    std::string program = SKELVANE_CLI_PATH;
    std::vector<std::string> copies = args;
    std::vector<char*> argv{program.data()};
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> variables = launch.environment;
    for (char** variable = environ; *variable; ++variable) {
        const std::string_view entry(*variable);
        const bool replaced = std::any_of(launch.environment.begin(), launch.environment.end(), [&](const auto& own) {
            return entry.substr(0, entry.find('=') + 1) == std::string_view(own).substr(0, own.find('=') + 1);
        });
        if (!replaced) {
            variables.emplace_back(entry);
        }
    }
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        DropFileOverrides();
        if (launch.fileSizeLimit) {
            const rlimit limit{*launch.fileSizeLimit, *launch.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (launch.addressSpaceLimit) {
            const rlimit limit{*launch.addressSpaceLimit, *launch.addressSpaceLimit};
            setrlimit(RLIMIT_AS, &limit);
        }
        // The test's own signal mask and dispositions must not reach the program.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            signal(sig, SIG_DFL);
        }
        dup2(launch.stdoutPipe ? pipeFds[1] : open("/dev/null", O_WRONLY | O_CLOEXEC), STDOUT_FILENO);
        dup2(open(m_errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), STDERR_FILENO);
        for (const int fd : launch.closed) {
            close(fd);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (launch.stdoutPipe) {
        close(pipeFds[1]);
        m_pipe = pipeFds[0];
    }
}

CliChild::~CliChild()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    CloseOutput();
}

bool CliChild::ReadUntil(const std::string& text)
{
    char buffer[4096];
    while (m_out.find(text) == std::string::npos) {
        const ssize_t got = m_pipe < 0 ? 0 : read(m_pipe, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        m_out.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

void CliChild::CloseOutput()
{
    if (m_pipe >= 0) {
        close(m_pipe);
        m_pipe = -1;
    }
}

bool CliChild::WaitUntilInterruptsAreTaken()
{
    const std::uint64_t wanted = (1u << (SIGINT - 1)) | (1u << (SIGTERM - 1)) | (1u << (SIGHUP - 1));
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < giveUp) {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigBlk:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) & wanted) == wanted) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

void CliChild::Signal(int signal)
{
    kill(m_pid, signal);
}

CliResult CliChild::Wait(std::chrono::seconds timeout)
{
    CliResult result;
    if (m_pid <= 0) {
        return result;
    }
    // Reading what is left of stdout may take until the end of the program.
    std::thread reader([this] { ReadUntil(std::string(1, '\0')); });
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > giveUp) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
            ADD_FAILURE() << "killed after " << timeout.count() << " s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
    reader.join();
    CloseOutput();
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    const std::vector<std::uint8_t> err = ReadFileBytes(m_errFile);
    result.err.assign(err.begin(), err.end());
    result.out = m_out;
    fs::remove(m_errFile);
    return result;
}

CliResult CliFault::Run(const std::vector<std::string>& args, std::optional<rlim_t> fileSizeLimit)
{
    CliLaunch launch;
    launch.fileSizeLimit = fileSizeLimit;
    return Run(args, launch);
}

CliResult CliFault::Run(const std::vector<std::string>& args, const CliLaunch& launch, std::chrono::seconds timeout)
{
    CliChild child(args, launch, ErrFile());
    return child.Wait(timeout);
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
