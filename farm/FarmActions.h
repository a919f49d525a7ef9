// The farm's three actions on Slurm: submit a sequence as one job array,
// resume it (a new array over the chunks that still have frames missing or
// failed, nothing else), and cancel what is queued or running.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "farm/FarmManifest.h"
#include "farm/FarmStatus.h"
#include "farm/SlurmRunner.h"

namespace skelvane::farm {

// Submits every chunk of `manifest` (its sequence folder absolute, no
// submissions yet): makes the folder and its log folder, claims the folder
// with a new manifest (refused when one is there: another farm run owns it),
// writes the task script, submits the array and records its job id. False
// with the reason in `error`; then nothing stays submitted and no manifest
// is left behind.
bool SubmitFarm(CFarmManifest& manifest, CSlurmRunner& runner, std::string& jobId, std::string& error);

// Submits the chunks with failed or missing frames again, each as the same
// task as before (written frames are skipped), and records the new array.
// `status` is where the run stood before. True with an empty `jobId` when
// there is nothing to resume (all done, or the rest still queued or running).
bool ResumeFarm(const std::filesystem::path& folder, CSlurmRunner& runner, CFarmStatus& status, std::string& jobId,
                std::string& error);

// Cancels the arrays of the run that still have tasks queued or running;
// `cancelled` names them (empty when nothing was alive).
bool CancelFarm(const std::filesystem::path& folder, CSlurmRunner& runner, std::vector<std::string>& cancelled,
                std::string& error);

}  // namespace skelvane::farm
