// Runs skelvane-cli under the faults a render farm meets: a file-size limit
// that cuts a write short, a folder that is read-only or cannot be made. The
// program runs in a child process without the capabilities that let root
// ignore permission bits, so the faults hold for every user.
#pragma once

#include <gtest/gtest.h>

#include <sys/resource.h>

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

class CliFault : public ::testing::Test {
protected:
    // Runs the program to its end, with a file-size limit when given.
    CliResult Run(const std::vector<std::string>& args, std::optional<rlim_t> fileSizeLimit = std::nullopt);
    // A cube-map sample sequence made by the program itself.
    std::filesystem::path Sample(int frames, int size);

    TempDir m_dir;
};

}  // namespace skelvane::test
