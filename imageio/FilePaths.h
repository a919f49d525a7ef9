// Path helpers for everything that writes into a folder the user chose: the
// jobs' output folders and the names they must not take.
#pragma once

#include <filesystem>
#include <string>

namespace skelvane {

// True when an entry of that exact name exists: file, folder or link (even a
// dangling one). An entry that cannot be examined counts as absent; writing
// to it then fails and is reported.
bool FileExists(const std::filesystem::path& path);

// The folder without trailing separators ("/out/" -> "/out", "/" -> "").
std::string TrimTrailingSeparators(std::string folder);

}  // namespace skelvane
