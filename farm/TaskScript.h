// The batch script every task of a farm run executes, and the sbatch command
// line that submits it as a job array. The script works out its frames from
// SLURM_ARRAY_TASK_ID alone, so the first submission and every resume run the
// same file; the Slurm options (resources, log files) go on sbatch's command
// line, where no quoting can go wrong.
#pragma once

#include <string>
#include <vector>

#include "farm/FarmManifest.h"

namespace skelvane::farm {

// The text as a POSIX shell reads one word: 'it'\''s'.
std::string ShellQuote(const std::string& text);

// The script for the manifest's command, frames and chunk size: the render
// command with its options, the chunk's frames, --skip-existing (a retried
// chunk leaves written frames alone), --progress json (the log counts the
// frames) and the threads per task.
std::string TaskScript(const CFarmManifest& manifest);

// sbatch's arguments (program name first) for an array over `arraySpec`.
std::vector<std::string> SbatchCommand(const CFarmManifest& manifest, const std::string& arraySpec,
                                       const std::string& scriptPath);

// sbatch's arguments for the job that encodes the frames into the video of
// `thenEncode` once every array in `afterArrays` has ended well (Slurm
// cancels it when one of them cannot: cancelled or failed tasks).
std::vector<std::string> EncodeSbatchCommand(const CFarmManifest& manifest, const std::vector<std::string>& afterArrays);

}  // namespace skelvane::farm
