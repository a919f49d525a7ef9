#include "farm/FarmStatus.h"

#include <algorithm>
#include <map>

#include "farm/SlurmQueries.h"

namespace skelvane::farm {

std::filesystem::path TaskLogPath(const CFarmManifest& manifest, const std::string& jobId, long long chunk)
{
    return std::filesystem::path(manifest.sequence.folder) / kLogFolderName /
           (jobId + "_" + std::to_string(chunk) + ".log");
}

CFarmStatus GatherFarmStatus(const CFarmManifest& manifest, CSlurmRunner& runner)
{
    const CFrameSequence& sequence = manifest.sequence;
    const CFarmChunks chunks(sequence, manifest.chunkSize);
    const long long chunkCount = chunks.Count();

    // The last submission of a chunk is the one that counts.
    std::map<long long, std::string> lastJobOf;
    std::vector<std::string> jobIds;
    for (const CFarmSubmission& submission : manifest.submissions) {
        for (const long long chunk : ParseArraySpec(submission.chunks, chunkCount)) {
            lastJobOf[chunk] = submission.jobId;
        }
        jobIds.push_back(submission.jobId);
    }

    CFarmStatus status;
    status.total = sequence.Count();
    const ArrayTaskStates tasks = QueryArrayTasks(runner, jobIds, chunkCount - 1, status.warning);
    for (const auto& [jobId, states] : tasks) {
        const bool live = std::any_of(states.begin(), states.end(), [](const auto& entry) {
            return entry.second == TaskState::Queued || entry.second == TaskState::Running;
        });
        if (live) {
            status.liveJobIds.push_back(jobId);
        }
    }

    for (long long chunk = 0; chunk < chunkCount; ++chunk) {
        const FrameRange frames = chunks.Frames(chunk);
        long long notDone = 0;
        for (long long frame = frames.first; frame <= frames.last; ++frame) {
            notDone += sequence.IsDone(frame) ? 0 : 1;
        }
        status.done += frames.last - frames.first + 1 - notDone;
        if (notDone == 0) {
            continue;
        }
        const auto job = lastJobOf.find(chunk);
        std::optional<TaskState> state;
        if (job != lastJobOf.end()) {
            if (const auto array = tasks.find(job->second); array != tasks.end()) {
                if (const auto task = array->second.find(chunk); task != array->second.end()) {
                    state = task->second;
                }
            }
        }
        if (state == TaskState::Running) {
            status.running += notDone;
        } else if (state == TaskState::Queued) {
            status.queued += notDone;
        } else {
            const bool failed = state == TaskState::Failed;
            (failed ? status.failed : status.missing) += notDone;
            const std::string jobId = job != lastJobOf.end() ? job->second : std::string();
            status.problems.push_back({chunk, frames, notDone, jobId, failed,
                                       jobId.empty() ? std::filesystem::path() : TaskLogPath(manifest, jobId, chunk)});
        }
    }
    return status;
}

}  // namespace skelvane::farm
