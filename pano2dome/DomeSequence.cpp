#include "pano2dome/DomeSequence.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <system_error>
#include <utility>

#include "imageio/ImageCodecRegistry.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

// Longer runs of digits are no frame numbers (and would not fit 64 bits).
constexpr std::size_t kMaxNumberDigits = 18;

struct NumberedName {
    std::string prefix;
    std::string extension;  // lower case, with the dot
    std::uint64_t number = 0;
};

std::optional<NumberedName> ParseNumberedName(const fs::path& path)
{
    const std::string stem = path.stem().string();
    std::size_t digits = stem.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(stem[digits - 1]))) {
        --digits;
    }
    const std::size_t count = stem.size() - digits;
    if (count == 0 || count > kMaxNumberDigits) {
        return std::nullopt;
    }
    NumberedName name;
    name.prefix = stem.substr(0, digits);
    name.number = std::stoull(stem.substr(digits));
    name.extension = path.extension().string();
    std::transform(name.extension.begin(), name.extension.end(), name.extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

struct Frame {
    std::uint64_t number;
    fs::path path;
};

using Sequences = std::map<std::pair<std::string, std::string>, std::vector<Frame>>;

std::string Describe(const std::vector<Frame>& frames)
{
    const std::string first = frames.front().path.filename().string();
    const std::string last = frames.back().path.filename().string();
    const std::string count = std::to_string(frames.size()) + (frames.size() == 1 ? " frame" : " frames");
    return frames.size() == 1 ? first + " (" + count + ")" : first + " to " + last + " (" + count + ")";
}

}  // namespace

DomeSequenceProblem FindDomeSequence(const fs::path& folder, const DomeSequenceChoice& choice,
                                     DomeSequence& sequence, std::string& reason)
{
    sequence = {};
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        reason = fs::exists(folder, error) ? folder.string() + " is not a folder."
                                           : folder.string() + ": there is no such folder.";
        return DomeSequenceProblem::Folder;
    }

    Sequences found;
    fs::directory_iterator entries(folder, error);
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        const fs::path& path = entries->path();
        const std::string name = path.filename().string();
        std::error_code typeError;
        if (name.empty() || name[0] == '.' || !entries->is_regular_file(typeError)) {
            continue;
        }
        const std::optional<NumberedName> numbered = ParseNumberedName(path);
        if (!numbered || !IsImageFormat(numbered->extension, CodecUse::Read) ||
            (choice.prefix && numbered->prefix != *choice.prefix)) {
            continue;
        }
        found[{numbered->prefix, numbered->extension}].push_back({numbered->number, path});
    }
    if (error) {
        reason = "Cannot list " + folder.string() + ": " + error.message() + ".";
        return DomeSequenceProblem::Folder;
    }

    if (found.empty()) {
        reason = folder.string() + " holds no numbered images" +
                 (choice.prefix ? " named \"" + *choice.prefix + "\" and a frame number"
                                : " (names that end in a frame number, such as 0000.jpg or FullDome_001.png)") +
                 ".";
        return DomeSequenceProblem::NoSequence;
    }
    for (auto& [key, frames] : found) {
        std::sort(frames.begin(), frames.end(), [](const Frame& a, const Frame& b) {
            return a.number != b.number ? a.number < b.number : a.path.filename() < b.path.filename();
        });
    }
    if (found.size() > 1) {
        reason = folder.string() + " holds " + std::to_string(found.size()) + " numbered sequences:";
        const char* separator = " ";
        for (const auto& [key, frames] : found) {
            reason += separator;
            reason += Describe(frames);
            separator = "; ";
        }
        reason += '.';
        return DomeSequenceProblem::SeveralSequences;
    }

    const std::vector<Frame>& frames = found.begin()->second;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        const std::uint64_t before = frames[i - 1].number;
        const std::uint64_t number = frames[i].number;
        if (number == before) {
            reason = frames[i - 1].path.filename().string() + " and " + frames[i].path.filename().string() +
                     " are both frame " + std::to_string(number) + ".";
            return DomeSequenceProblem::NumberTwice;
        }
        if (number != before + 1) {
            sequence.missing += number - before - 1;
            if (!choice.skipGaps) {
                const std::string gap = number == before + 2
                                            ? "Frame " + std::to_string(before + 1) + " is"
                                            : "Frames " + std::to_string(before + 1) + " to " +
                                                  std::to_string(number - 1) + " are";
                reason = gap + " missing between " + frames[i - 1].path.filename().string() + " and " +
                         frames[i].path.filename().string() + ".";
                return DomeSequenceProblem::Gap;
            }
        }
    }
    for (const Frame& frame : frames) {
        sequence.files.push_back(frame.path);
        sequence.numbers.push_back(frame.number);
    }
    return DomeSequenceProblem::None;
}

}  // namespace skelvane
