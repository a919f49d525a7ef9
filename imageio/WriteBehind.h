// Files written by a job leave for the disk as they are made. A frame job
// writes hundreds of megabytes to many gigabytes; left in the page cache the
// frames would stay there, dirty, until the kernel's thresholds, pushing the
// job's own inputs out of memory, and every frame would take fresh pages,
// which a virtual machine that hands free memory back to its host must have
// faulted in again (copying into them cost a 125-frame sweep of 2048² JPEG
// domes 0.5 s of its 5 s of processor time). So each file's writeback starts
// at once, and a file a few files back, by then written out, gives its
// pages up for the next ones.
#pragma once

#include <filesystem>

namespace skelvane {

// Starts writing the file at `path`, just written, to its disk, and lets go
// of the cached pages of the file written kWriteBehindFiles files before it
// in this process, waiting for its writeback if that is still under way.
// Advice only: where the file system cannot start writeback or drop pages,
// they stay cached as they would have.
void WriteBehind(const std::filesystem::path& path);

inline constexpr int kWriteBehindFiles = 4;

}  // namespace skelvane
