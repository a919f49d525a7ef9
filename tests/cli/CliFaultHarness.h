// Runs skelvane-cli under the faults a render farm meets: a file-size limit
// that cuts a write short, a folder that is read-only or cannot be made,
// standard streams that are closed or go away, signals at any moment. The
// program runs in a child process without the capabilities that let root
// ignore permission bits, so the faults hold for every user.
#pragma once

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace skelvane::test {

// Whether a child that dropped the overrides is refused a file in a
// read-only folder (false where the capabilities cannot be dropped). Uses
// and removes `folder`.
bool ReadOnlyFoldersHold(const std::filesystem::path& folder);

struct CliResult {
    int status = -1;  // exit status, or 1000 + the signal that ended it
    std::string err;
    std::string out;  // when stdout was a pipe
};

// Every entry of the folder with its bytes, hidden ones included.
std::map<std::string, std::vector<std::uint8_t>> FolderContents(const std::filesystem::path& folder);

// Makes a folder read-only (owner read and search) until the end of scope.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::filesystem::path folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

private:
    std::filesystem::path m_folder;
};

// How the program is started.
struct CliLaunch {
    std::optional<rlim_t> fileSizeLimit;     // RLIMIT_FSIZE
    std::optional<rlim_t> addressSpaceLimit; // RLIMIT_AS
    std::vector<int> closed;                 // standard descriptors it starts without
    bool stdoutPipe = false;                 // stdout to a pipe the test reads, else /dev/null
    std::vector<std::string> environment;    // "NAME=value" set for the program
};

// One run of the program in a child process; stderr goes to `errFile`.
class CliChild {
public:
    CliChild(const std::vector<std::string>& args, const CliLaunch& launch, std::filesystem::path errFile);
    ~CliChild();
    CliChild(const CliChild&) = delete;
    CliChild& operator=(const CliChild&) = delete;

    // Reads the stdout pipe until `text` appears (true) or it ends.
    bool ReadUntil(const std::string& text);
    // Closes the test's end of the stdout pipe, as `| head -1` does.
    void CloseOutput();
    // Waits until the program has blocked SIGINT, SIGTERM and SIGHUP, the
    // first thing it does: a signal sent earlier would find the defaults.
    bool WaitUntilInterruptsAreTaken();
    void Signal(int signal);
    // Waits for the end, killing the program after `timeout`.
    CliResult Wait(std::chrono::seconds timeout = std::chrono::seconds(300));
    const std::string& Output() const { return m_out; }

private:
    pid_t m_pid = -1;
    int m_pipe = -1;
    std::filesystem::path m_errFile;
    std::string m_out;
};

class CliFault : public ::testing::Test {
protected:
    // Runs the program to its end, with a file-size limit when given.
    CliResult Run(const std::vector<std::string>& args, std::optional<rlim_t> fileSizeLimit = std::nullopt);
    CliResult Run(const std::vector<std::string>& args, const CliLaunch& launch,
                  std::chrono::seconds timeout = std::chrono::seconds(300));
    std::filesystem::path ErrFile() const { return m_dir / "stderr.txt"; }
    // A cube-map sample sequence made by the program itself.
    std::filesystem::path Sample(int frames, int size);

    TempDir m_dir;
};

}  // namespace skelvane::test
