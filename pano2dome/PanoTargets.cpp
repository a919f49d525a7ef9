#include "pano2dome/PanoTargets.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

#include "imageio/FilePaths.h"

namespace skelvane {
namespace fs = std::filesystem;
namespace {

bool SameFile(const fs::path& a, const fs::path& b)
{
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

// The frame number of a name the job itself would give ("0042.jpg",
// "10000.jpg"), or nothing ("042.jpg", "0042.JPG", "0042.jpg.bak").
std::optional<std::int64_t> FrameNumberOf(std::string_view name, std::string_view format)
{
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos || name.substr(dot + 1) != format) {
        return std::nullopt;
    }
    std::int64_t number = -1;
    const auto [end, error] = std::from_chars(name.data(), name.data() + dot, number);
    if (error != std::errc() || end != name.data() + dot || number < 0 ||
        PanoFrameFileName(number, format) != name) {
        return std::nullopt;
    }
    return number;
}

}  // namespace

PanoTargets FindPanoTargets(const CPano2DomeJob& job, const fs::path& input)
{
    PanoTargets targets;
    if (job.mode != kPanoFrames) {
        const fs::path target = job.mode == kPanoVideo ? job.videoPath : job.imagePath;
        std::error_code error;
        if (fs::exists(fs::symlink_status(target, error))) {
            targets.existing = 1;
            targets.firstExisting = target.string();
            if (SameFile(target, input)) {
                targets.input = target.string();
            }
        }
        return targets;
    }

    const PanoFrameSpan frames = PanoFramesOf(job);
    CPano2DomeJob wholeSweep = job;
    wholeSweep.firstFrame = 0;
    wholeSweep.lastFrame = -1;
    const std::int64_t sweepEnd = PanoFramesOf(wholeSweep).count;
    const std::string folder = TrimTrailingSeparators(job.frameDir);
    std::int64_t firstExisting = -1;
    std::error_code error;
    for (fs::directory_iterator entry(folder.empty() ? "/" : folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::optional<std::int64_t> number = FrameNumberOf(entry->path().filename().string(), job.frameFormat);
        if (!number) {
            continue;
        }
        if (*number >= frames.first && *number < frames.first + frames.count) {
            ++targets.existing;
            if (firstExisting < 0 || *number < firstExisting) {
                firstExisting = *number;
            }
            if (targets.input.empty() && SameFile(entry->path(), input)) {
                targets.input = entry->path().string();
            }
        } else if (*number >= sweepEnd) {
            ++targets.beyond;
            targets.firstBeyond = targets.firstBeyond < 0 ? *number : std::min(targets.firstBeyond, *number);
            targets.lastBeyond = std::max(targets.lastBeyond, *number);
        }
    }
    if (firstExisting >= 0) {
        targets.firstExisting = PanoFramePath(folder, firstExisting, job.frameFormat);
    }
    return targets;
}

}  // namespace skelvane
