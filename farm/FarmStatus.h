// Where a farm run stands, frame by frame: a frame is done when its file is
// on disk (whatever Slurm says), and a frame not done takes the state of the
// task last submitted for its chunk: queued or running while that task is
// alive, failed when it ended badly (failed, timed out, out of memory, its
// node died), and missing otherwise (cancelled, never run, ended without
// writing it, or forgotten by Slurm).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "farm/FarmChunks.h"
#include "farm/FarmManifest.h"
#include "farm/SlurmRunner.h"

namespace skelvane::farm {

struct CChunkProblem {
    long long chunk = 0;
    FrameRange frames;
    long long framesNotDone = 0;
    std::string jobId;  // the array of the chunk's last task
    bool failed = false;  // false: missing
    std::filesystem::path log;  // that task's log
};

struct CFarmStatus {
    long long total = 0;
    long long done = 0;
    long long running = 0;
    long long queued = 0;
    long long failed = 0;
    long long missing = 0;
    std::vector<CChunkProblem> problems;     // chunks with failed or missing frames, ascending
    std::vector<std::string> liveJobIds;     // arrays with a task queued or running
    std::string warning;                     // a Slurm query that did not answer

    bool Complete() const { return done == total; }
    bool InProgress() const { return running + queued > 0; }
};

CFarmStatus GatherFarmStatus(const CFarmManifest& manifest, CSlurmRunner& runner);

// The log file of one task.
std::filesystem::path TaskLogPath(const CFarmManifest& manifest, const std::string& jobId, long long chunk);

}  // namespace skelvane::farm
