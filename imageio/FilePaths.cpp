#include "imageio/FilePaths.h"

#include <system_error>

namespace skelvane {
namespace fs = std::filesystem;

bool FileExists(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    return !error && fs::exists(status);
}

std::string TrimTrailingSeparators(std::string folder)
{
    while (!folder.empty() && folder.back() == fs::path::preferred_separator) {
        folder.pop_back();
    }
    return folder;
}

}  // namespace skelvane
