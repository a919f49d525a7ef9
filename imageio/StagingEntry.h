// Hidden files and folders that a run writes before they are complete: a save
// on its way to its final name, a staged frame waiting for its turn, a video
// being encoded, two-pass statistics. A run killed mid-write (SIGKILL, a
// second Ctrl-C, a crash) leaves them behind; the next run that writes into
// the folder removes them, and never those of a run that is still at work:
// 1. Every entry is hidden and names its writer, process and machine (a
//    folder may be shared by many machines): ".STEM.part-PID@HOST+UNIQUE".
// 2. Its writer holds a lock on it (flock) for as long as it exists; the
//    kernel drops the lock when the process ends, however it ends.
// 3. RemoveStaleStagingFiles(folder) removes the entries whose writer is
//    gone: of this machine, whose process no longer exists and whose lock is
//    free. A process can look gone from a container with a process space of
//    its own, which the lock answers for; a network file system may keep its
//    locks to each machine, so the entries of other machines wait for a run
//    there.
// 4. A process that aborts removes its own first (RemoveOwnStagingEntries).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace skelvane {

class CStagingEntry {
public:
    CStagingEntry() = default;
    ~CStagingEntry();  // removes an entry that was not released
    CStagingEntry(CStagingEntry&& other) noexcept;
    CStagingEntry& operator=(CStagingEntry&& other) noexcept;
    CStagingEntry(const CStagingEntry&) = delete;
    CStagingEntry& operator=(const CStagingEntry&) = delete;

    // Creates an empty file, or folder, in `folder` named after `stem` (cut to
    // keep the name within the file system's limit). A previous entry is
    // removed first. False with the system's reason in `error`.
    bool CreateFile(const std::filesystem::path& folder, std::string_view stem, std::string& error);
    bool CreateFolder(const std::filesystem::path& folder, std::string_view stem, std::string& error);

    bool Exists() const { return !m_path.empty(); }
    const std::filesystem::path& Path() const { return m_path; }

    // Appends `bytes` to the file. Empty when all were written (as far as the
    // file system can tell before the file is closed), else the system's
    // reason.
    std::string Write(std::span<const std::uint8_t> bytes);

    // The entry has taken its final name (renamed or linked): it is no longer
    // a staging entry, and its lock goes.
    void Release();
    // Removes the entry (a folder with what it holds).
    void Remove();

private:
    bool Register(std::string& error);
    void Forget();

    std::filesystem::path m_path;
    int m_descriptor = -1;  // holds the lock; a file's is open for writing
    bool m_folder = false;
    std::uint64_t m_id = 0;  // in the list of the process's own entries
};

// Removes the entries in `folder` that writers which are gone left (see
// above). Never follows links; an entry that cannot be removed stays.
void RemoveStaleStagingFiles(const std::filesystem::path& folder);

// Removes every entry this process holds, for a program that is about to end
// without unwinding (an abort); entries made afterwards are removed at once.
// Other threads may still be writing them.
void RemoveOwnStagingEntries();

}  // namespace skelvane
