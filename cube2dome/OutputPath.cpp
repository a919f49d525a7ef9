#include "cube2dome/OutputPath.h"

#include <algorithm>
#include <cstdio>

#include "imageio/FilePaths.h"

namespace skelvane {
namespace fs = std::filesystem;

fs::path OutputPathWithSuffix(std::string_view folder, std::string_view prefix, long long frameIndex,
                              int serialDigits, std::string_view extension, int suffix)
{
    char twelve[32];
    std::snprintf(twelve, sizeof twelve, "%.12lld", std::max(frameIndex, 0LL));
    const std::string_view digits(twelve);
    const auto keep = static_cast<std::size_t>(std::clamp(serialDigits, 1, 12));
    const std::string_view serial = digits.substr(digits.size() - std::min(keep, digits.size()));

    char numbered[32] = ".";
    if (suffix > 0) {
        std::snprintf(numbered, sizeof numbered, "(%.3d).", suffix);
    }
    std::string path(folder);
    if (path.empty() || path.back() != fs::path::preferred_separator) {
        path += fs::path::preferred_separator;
    }
    path.append(prefix).append(serial).append(numbered).append(extension);
    return path;
}

std::optional<fs::path> MakeOutputPath(std::string_view folder, std::string_view prefix, long long frameIndex,
                                       int serialDigits, std::string_view extension)
{
    for (int suffix = 0; suffix <= kMaxOutputSuffix; ++suffix) {
        fs::path path = OutputPathWithSuffix(folder, prefix, frameIndex, serialDigits, extension, suffix);
        if (!FileExists(path)) {
            return path;
        }
    }
    return std::nullopt;
}

}  // namespace skelvane
