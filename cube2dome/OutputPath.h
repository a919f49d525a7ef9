// How Cube2Dome names its dome images: folder, prefix, zero-padded serial of
// the frame index, extension; never the name of an existing entry.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace skelvane {

// Numbered variants tried after the plain name before naming gives up.
inline constexpr int kMaxOutputSuffix = 9999;

// folder/prefix + serial + suffix + extension, where frameIndex is the frame
// number - 1, serial is its last serialDigits digits of twelve (index 1000
// with 3 digits gives 000) and suffix is "." or, while the name exists,
// "(001).", "(002).", ... "(9999).". Nothing when all of those exist.
std::optional<std::filesystem::path> MakeOutputPath(std::string_view folder, std::string_view prefix,
                                                    long long frameIndex, int serialDigits,
                                                    std::string_view extension);

// The name with the given suffix number (0 = none), whether or not it exists.
std::filesystem::path OutputPathWithSuffix(std::string_view folder, std::string_view prefix, long long frameIndex,
                                           int serialDigits, std::string_view extension, int suffix);

}  // namespace skelvane
