#include "farm/FarmActions.h"

#include <system_error>

#include "farm/FarmChunks.h"
#include "farm/SlurmQueries.h"
#include "farm/TaskScript.h"
#include "imageio/MappedFile.h"

namespace skelvane::farm {
namespace fs = std::filesystem;

namespace {

fs::path ScriptPath(const CFarmManifest& manifest)
{
    return fs::path(manifest.sequence.folder) / kTaskScriptName;
}

bool WriteTaskScript(const CFarmManifest& manifest, std::string& error)
{
    const std::string script = TaskScript(manifest);
    MappedOutput output(ScriptPath(manifest));
    output.Bytes().assign(script.begin(), script.end());
    if (!output.Commit()) {
        error = "Cannot write the task script " + ScriptPath(manifest).string() + ": " + output.Error() + ".";
        return false;
    }
    return true;
}

// sbatch --parsable prints "id" or "id;cluster".
std::string ParsableJobId(const std::string& out)
{
    std::string id = out.substr(0, out.find_first_of(";\n"));
    while (!id.empty() && (id.back() == ' ' || id.back() == '\r')) {
        id.pop_back();
    }
    return id;
}

// Submits the chunks as one array; the job id, or empty with `error` set.
std::string SubmitChunks(const CFarmManifest& manifest, const std::vector<long long>& chunks, CSlurmRunner& runner,
                         std::string& error)
{
    const CommandResult result =
        runner.Run(SbatchCommand(manifest, ArraySpec(chunks, manifest.maxRunning), ScriptPath(manifest).string()));
    const std::string jobId = result.Succeeded() ? ParsableJobId(result.out) : std::string();
    if (jobId.empty()) {
        error = "Slurm did not take the job array: " + FailureText(result, "sbatch");
    }
    return jobId;
}

// Submits the encode job after the arrays; its id, or empty with `error` set.
std::string SubmitEncode(const CFarmManifest& manifest, const std::vector<std::string>& afterArrays,
                         CSlurmRunner& runner, std::string& error)
{
    const CommandResult result = runner.Run(EncodeSbatchCommand(manifest, afterArrays));
    const std::string jobId = result.Succeeded() ? ParsableJobId(result.out) : std::string();
    if (jobId.empty()) {
        error = "Slurm did not take the encode job: " + FailureText(result, "sbatch");
    }
    return jobId;
}

std::optional<CFarmManifest> ReadManifestOf(const fs::path& folder, std::string& error)
{
    return ReadFarmManifest(ManifestPath(folder), error);
}

}  // namespace

bool SubmitFarm(CFarmManifest& manifest, CSlurmRunner& runner, std::string& jobId, std::string& error)
{
    const fs::path folder(manifest.sequence.folder);
    const long long chunkCount = CFarmChunks(manifest.sequence, manifest.chunkSize).Count();
    if (const std::optional<long long> maxArray = QueryMaxArraySize(runner); maxArray && chunkCount > *maxArray) {
        error = "The sequence makes " + std::to_string(chunkCount) + " tasks of " +
                std::to_string(manifest.chunkSize) + " frames; this cluster takes arrays of at most " +
                std::to_string(*maxArray) + " (MaxArraySize). Give a larger --chunk.";
        return false;
    }
    std::error_code code;
    fs::create_directories(folder / kLogFolderName, code);
    if (code) {
        error = "Cannot make the log folder " + (folder / kLogFolderName).string() + ": " + code.message() + ".";
        return false;
    }
    manifest.submissions.clear();
    const fs::path manifestPath = ManifestPath(folder);
    if (!WriteFarmManifest(manifest, manifestPath, ManifestWrite::Create, error)) {
        if (fs::exists(manifestPath)) {
            error = folder.string() + " belongs to another farm run already (" + manifestPath.filename().string() +
                    "): see farm status, resume or cancel, or choose another output folder.";
        } else {
            error = "Cannot write the farm manifest " + error + ".";
        }
        return false;
    }
    std::vector<long long> all(static_cast<std::size_t>(chunkCount));
    for (long long chunk = 0; chunk < chunkCount; ++chunk) {
        all[static_cast<std::size_t>(chunk)] = chunk;
    }
    if (!WriteTaskScript(manifest, error) || (jobId = SubmitChunks(manifest, all, runner, error)).empty()) {
        fs::remove(manifestPath, code);
        return false;
    }
    manifest.submissions.push_back({jobId, ArraySpec(all, 0)});
    if (!manifest.thenEncode.empty()) {
        const std::string encodeJob = SubmitEncode(manifest, {jobId}, runner, error);
        if (encodeJob.empty()) {
            runner.Run({"scancel", jobId});
            fs::remove(manifestPath, code);
            return false;
        }
        manifest.encodeJobs.push_back(encodeJob);
    }
    if (!WriteFarmManifest(manifest, manifestPath, ManifestWrite::Replace, error)) {
        runner.Run({"scancel", jobId});
        fs::remove(manifestPath, code);
        error = "Cannot record the submitted job " + jobId + " in the farm manifest (" + error +
                "), so it was cancelled.";
        return false;
    }
    return true;
}

bool ResumeFarm(const fs::path& folder, CSlurmRunner& runner, CFarmStatus& status, std::string& jobId,
                std::string& error)
{
    jobId.clear();
    std::optional<CFarmManifest> manifest = ReadManifestOf(folder, error);
    if (!manifest) {
        return false;
    }
    status = GatherFarmStatus(*manifest, runner);
    // Without Slurm's word, a chunk that is running would look missing and
    // be rendered twice.
    if (!status.warning.empty()) {
        error = "Slurm cannot tell which tasks are alive: " + status.warning;
        return false;
    }
    std::vector<long long> chunks;
    for (const CChunkProblem& problem : status.problems) {
        chunks.push_back(problem.chunk);
    }
    if (chunks.empty()) {
        return true;
    }
    std::error_code code;
    fs::create_directories(fs::path(manifest->sequence.folder) / kLogFolderName, code);
    if (!WriteTaskScript(*manifest, error) || (jobId = SubmitChunks(*manifest, chunks, runner, error)).empty()) {
        return false;
    }
    manifest->submissions.push_back({jobId, ArraySpec(chunks, 0)});
    if (!manifest->thenEncode.empty()) {
        // After the new array and every older one that still renders frames;
        // the encode job of before went with the failed tasks.
        std::vector<std::string> after = {jobId};
        after.insert(after.end(), status.liveJobIds.begin(), status.liveJobIds.end());
        const std::string encodeJob = SubmitEncode(*manifest, after, runner, error);
        if (encodeJob.empty()) {
            runner.Run({"scancel", jobId});
            jobId.clear();
            return false;
        }
        manifest->encodeJobs.push_back(encodeJob);
    }
    if (!WriteFarmManifest(*manifest, ManifestPath(folder), ManifestWrite::Replace, error)) {
        runner.Run({"scancel", jobId});
        error = "Cannot record the submitted job " + jobId + " in the farm manifest (" + error +
                "), so it was cancelled.";
        jobId.clear();
        return false;
    }
    return true;
}

bool CancelFarm(const fs::path& folder, CSlurmRunner& runner, std::vector<std::string>& cancelled, std::string& error)
{
    cancelled.clear();
    std::optional<CFarmManifest> manifest = ReadManifestOf(folder, error);
    if (!manifest) {
        return false;
    }
    const CFarmStatus status = GatherFarmStatus(*manifest, runner);
    if (status.liveJobIds.empty()) {
        if (!status.warning.empty()) {
            error = "Slurm cannot tell which tasks are alive: " + status.warning;
            return false;
        }
        return true;
    }
    std::vector<std::string> command = {"scancel"};
    command.insert(command.end(), status.liveJobIds.begin(), status.liveJobIds.end());
    const CommandResult result = runner.Run(command);
    if (!result.Succeeded()) {
        error = "Slurm did not cancel the jobs: " + FailureText(result, "scancel");
        return false;
    }
    cancelled = status.liveJobIds;
    return true;
}

}  // namespace skelvane::farm
