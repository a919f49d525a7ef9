// What a farm run was asked to do, kept in its output folder: the render
// command with its options, the frames and how they are named, how they are
// cut into tasks, the Slurm resources, and every job array submitted for
// them (the first, then one per resume). Status, resume and cancel work from
// this file alone.
//
// The file is text, one "key value" line each, written whole under a
// temporary name and renamed, so a reader never sees half of it:
//   skelvane-farm 1
//   command cube2dome
//   argument --input
//   argument /data/shot12
//   ...
//   submission 4711 0-23
//   submission 4790 3,7
// Backslashes and line breaks in values are escaped (\\ and \n).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "farm/FrameSequence.h"

namespace skelvane::farm {

inline constexpr const char* kManifestName = "skelvane-farm.manifest";
inline constexpr const char* kTaskScriptName = "skelvane-farm.sh";
inline constexpr const char* kLogFolderName = "log";

struct CFarmSubmission {
    std::string jobId;  // the array's job id as sbatch gave it
    std::string chunks; // its array indices, as given to --array without the throttle
};

struct CFarmManifest {
    std::string program;                 // the skelvane-cli the tasks run
    std::string workDir;                 // where relative paths in the options start
    std::vector<std::string> arguments;  // the render command's options, as given
    CFrameSequence sequence;
    int chunkSize = 10;
    int maxRunning = 0;  // 0: no limit of our own
    int threads = 1;     // per task
    std::string time;       // Slurm's --time, empty for the partition's default
    std::string memory;     // Slurm's --mem, empty for the default
    std::string partition;  // empty for the default partition
    std::string thenEncode; // video made from the frames once all are done; empty for none
    std::string encodeRate; // its frame rate (the sweep's), empty for encode's default
    std::vector<std::string> encodeOptions;  // its stream and encoder options, as encode takes them
    std::vector<CFarmSubmission> submissions;
    std::vector<std::string> encodeJobs;  // the encode job of each submission, when thenEncode
};

std::filesystem::path ManifestPath(const std::filesystem::path& outputFolder);

// Create fails when the file exists (another farm run owns the folder);
// Replace updates it. False with the reason in `error` when the file cannot
// be written; an existing manifest is then left as it was.
enum class ManifestWrite { Create, Replace };
bool WriteFarmManifest(const CFarmManifest& manifest, const std::filesystem::path& file, ManifestWrite mode,
                       std::string& error);

// Nothing, with the reason in `error`, for a file that is missing, not a
// manifest, or inconsistent (no frames, a chunk outside the sequence).
std::optional<CFarmManifest> ReadFarmManifest(const std::filesystem::path& file, std::string& error);

}  // namespace skelvane::farm
