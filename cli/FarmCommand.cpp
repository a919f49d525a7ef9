// skelvane-cli farm: one cube2dome or pano2dome frame sequence rendered as a
// Slurm job array, then watched, resumed and cancelled from its output folder.
// The render command's options are checked here exactly as the command itself
// would check them, so a mistake is reported before anything is submitted.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/Commands.h"
#include "cli/ConsoleJob.h"
#include "cli/VideoOptions.h"
#include "farm/FarmActions.h"
#include "farm/FarmChunks.h"
#include "farm/FarmStatus.h"
#include "pano2dome/VideoFormat.h"

namespace skelvane::cli {
namespace {
namespace fs = std::filesystem;
using namespace farm;

// farm status: complete, still at work, or stopped short of the end.
constexpr int kExitIncomplete = 1;
constexpr int kExitInProgress = 3;

// Problem chunks listed one by one before the rest is summed up.
constexpr std::size_t kListedProblems = 10;

struct SubmitOptions {
    std::string partition;
    int chunk = 10;
    int maxRunning = 0;
    std::string time;
    std::string memory;
    int threads = 1;
    std::string thenEncode;
    VideoOptions video;               // of the --then-encode video
    std::vector<std::string> render;  // the render command and its options
};

// The value of `name` among the render options ("--rate 30" or "--rate=30").
std::string OptionValue(const std::vector<std::string>& options, const std::string& name)
{
    std::string value;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (options[i] == name && i + 1 < options.size()) {
            value = options[i + 1];
        } else if (options[i].rfind(name + "=", 0) == 0) {
            value = options[i].substr(name.size() + 1);
        }
    }
    return value;
}

struct FolderOptions {
    std::string folder;
    bool wait = false;
};

// Options the farm gives each task itself.
bool IsFarmOwnedOption(const std::string& argument, std::string& name)
{
    for (const char* owned : {"--threads", "--progress", "--skip-existing"}) {
        if (argument == owned || argument.rfind(std::string(owned) + "=", 0) == 0) {
            name = owned;
            return true;
        }
    }
    return false;
}

// The render options without --frames (each task gets its own).
std::vector<std::string> WithoutFrames(const std::vector<std::string>& options)
{
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < options.size(); ++i) {
        if (options[i] == "--frames") {
            ++i;
        } else if (options[i].rfind("--frames=", 0) != 0) {
            kept.push_back(options[i]);
        }
    }
    return kept;
}

std::string ThisProgram()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string("skelvane-cli") : self.string();
}

fs::path AbsoluteFolder(const std::string& folder)
{
    std::error_code error;
    fs::path path = fs::absolute(folder, error).lexically_normal();
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

// Why the video of --then-encode could not be written from frames of
// `domeSize` at `rate`, as encode would refuse it.
std::optional<std::string> CheckThenEncode(const SubmitOptions& options, const std::string& rate,
                                           long long domeSize)
{
    VideoEncoderSettings settings;
    if (std::optional<std::string> problem = MakeVideoSettings(options.video, settings)) {
        return problem;
    }
    return CheckVideoTarget(
        {settings.stream, LowerVideoExtension(options.thenEncode), domeSize, domeSize, FrameRateOption(rate)});
}

int Submit(const SubmitOptions& options)
{
    const std::string& command = options.render.front();
    const std::vector<std::string> renderOptions(options.render.begin() + 1, options.render.end());
    for (const std::string& argument : renderOptions) {
        std::string owned;
        if (IsFarmOwnedOption(argument, owned)) {
            std::fprintf(stderr, "%s is set by the farm for each task; give --threads to farm submit instead.\n",
                         owned.c_str());
            return kExitBadArguments;
        }
    }

    // The render command's own parser and checks.
    CLI::App parser;
    const Command render =
        command == "cube2dome" ? AddCube2DomeCommand(parser) : AddPano2DomeCommand(parser);
    std::vector<std::string> args(options.render.rbegin(), options.render.rend());
    try {
        parser.parse(args);
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "%s %s\n", command.c_str(), error.what());
        return kExitBadArguments;
    }
    int status = kExitBadArguments;
    std::optional<CFrameSequence> sequence = render.plan ? render.plan(status) : std::nullopt;
    if (!sequence) {
        return status;
    }

    CFarmManifest manifest;
    manifest.program = ThisProgram();
    std::error_code error;
    manifest.workDir = fs::current_path(error).string();
    manifest.arguments = WithoutFrames(renderOptions);
    manifest.sequence = *sequence;
    manifest.sequence.folder = AbsoluteFolder(sequence->folder).string();
    manifest.chunkSize = options.chunk;
    manifest.maxRunning = options.maxRunning;
    manifest.threads = options.threads;
    manifest.time = options.time;
    manifest.memory = options.memory;
    manifest.partition = options.partition;
    if (!options.thenEncode.empty()) {
        manifest.thenEncode = fs::absolute(options.thenEncode, error).lexically_normal().string();
        manifest.encodeRate = OptionValue(renderOptions, "--rate");
        manifest.encodeOptions = VideoArguments(options.video);
        // Found now, not after the last frame of a long render.
        if (const std::optional<std::string> refusal =
                CheckThenEncode(options, manifest.encodeRate.empty() ? "25" : manifest.encodeRate, sequence->domeSize)) {
            std::fprintf(stderr, "%s\n", refusal->c_str());
            return kExitBadArguments;
        }
    }

    CProcessRunner slurm;
    std::string jobId;
    std::string problem;
    if (!SubmitFarm(manifest, slurm, jobId, problem)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return kExitFailed;
    }
    const CFarmChunks chunks(manifest.sequence, manifest.chunkSize);
    std::fprintf(stderr, "Submitted %lld frames in %lld tasks as job array %s; logs in %s/%s/.\n",
                 manifest.sequence.Count(), chunks.Count(), jobId.c_str(), manifest.sequence.folder.c_str(),
                 kLogFolderName);
    if (!manifest.encodeJobs.empty()) {
        std::fprintf(stderr, "Job %s encodes %s once every frame is done.\n", manifest.encodeJobs.back().c_str(),
                     manifest.thenEncode.c_str());
    }
    std::printf("%s\n", jobId.c_str());
    return kExitFinished;
}

std::string FrameText(const FrameRange& frames)
{
    return frames.first == frames.last ? "frame " + std::to_string(frames.first)
                                       : "frames " + std::to_string(frames.first) + "-" +
                                             std::to_string(frames.last);
}

void PrintStatus(const CFarmManifest& manifest, const CFarmStatus& status)
{
    std::printf("%s: %s %s\n", manifest.sequence.folder.c_str(), manifest.sequence.command.c_str(),
                FrameText({manifest.sequence.first, manifest.sequence.last}).c_str());
    std::printf("%lld frames: %lld done, %lld running, %lld queued, %lld failed, %lld missing.\n", status.total,
                status.done, status.running, status.queued, status.failed, status.missing);
    for (std::size_t i = 0; i < status.problems.size() && i < kListedProblems; ++i) {
        const CChunkProblem& problem = status.problems[i];
        const std::string task = problem.jobId.empty() ? std::string("no task")
                                                      : "task " + problem.jobId + "_" + std::to_string(problem.chunk);
        std::printf("  %s: %lld %s (%s%s)\n", FrameText(problem.frames).c_str(), problem.framesNotDone,
                    problem.failed ? "failed" : "missing", task.c_str(),
                    problem.failed ? (", log " + problem.log.string()).c_str() : "");
    }
    if (status.problems.size() > kListedProblems) {
        std::printf("  and %zu more chunks with frames failed or missing.\n",
                    status.problems.size() - kListedProblems);
    }
    if (!status.warning.empty()) {
        std::fprintf(stderr, "Slurm did not answer: %s\n", status.warning.c_str());
    }
}

// The manifest of the run in `folder`, or nothing when the folder holds no
// farm run (or a damaged manifest), which is said.
std::optional<CFarmManifest> ManifestOf(const fs::path& folder)
{
    std::string error;
    std::optional<CFarmManifest> manifest = ReadFarmManifest(ManifestPath(folder), error);
    if (!manifest) {
        std::fprintf(stderr, "%s\n", error.c_str());
    }
    return manifest;
}

int Status(const FolderOptions& options)
{
    const std::optional<CFarmManifest> manifest = ManifestOf(AbsoluteFolder(options.folder));
    if (!manifest) {
        return kExitBadArguments;
    }
    CProcessRunner slurm;
    CFarmStatus status = GatherFarmStatus(*manifest, slurm);
    if (options.wait) {
        while (status.InProgress() || !status.warning.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            status = GatherFarmStatus(*manifest, slurm);
        }
    }
    PrintStatus(*manifest, status);
    if (status.Complete()) {
        return kExitFinished;
    }
    return status.InProgress() || !status.warning.empty() ? kExitInProgress : kExitIncomplete;
}

int Resume(const FolderOptions& options)
{
    const fs::path folder = AbsoluteFolder(options.folder);
    if (!ManifestOf(folder)) {
        return kExitBadArguments;
    }
    CProcessRunner slurm;
    CFarmStatus before;
    std::string jobId;
    std::string error;
    if (!ResumeFarm(folder, slurm, before, jobId, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailed;
    }
    if (jobId.empty()) {
        std::fprintf(stderr, "Nothing to resume: %lld of %lld frames done, %lld running or queued.\n", before.done,
                     before.total, before.running + before.queued);
        return kExitFinished;
    }
    std::fprintf(stderr, "Resubmitted %lld frames in %zu tasks as job array %s.\n", before.failed + before.missing,
                 before.problems.size(), jobId.c_str());
    std::printf("%s\n", jobId.c_str());
    return kExitFinished;
}

int Cancel(const FolderOptions& options)
{
    const fs::path folder = AbsoluteFolder(options.folder);
    if (!ManifestOf(folder)) {
        return kExitBadArguments;
    }
    CProcessRunner slurm;
    std::vector<std::string> cancelled;
    std::string error;
    if (!CancelFarm(folder, slurm, cancelled, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kExitFailed;
    }
    if (cancelled.empty()) {
        std::fprintf(stderr, "Nothing to cancel: no task of this run is queued or running.\n");
        return kExitFinished;
    }
    std::string list;
    for (const std::string& id : cancelled) {
        list += (list.empty() ? "" : ", ") + id;
    }
    std::fprintf(stderr, "Cancelled job array%s %s.\n", cancelled.size() > 1 ? "s" : "", list.c_str());
    return kExitFinished;
}

CLI::App* AddFolderCommand(CLI::App& farm, const char* name, const char* description, FolderOptions& options)
{
    CLI::App* command = farm.add_subcommand(name, description);
    command->add_option("FOLDER", options.folder, "Output folder of the sequence (where farm submit put it)")
        ->required();
    return command;
}

}  // namespace

Command AddFarmCommand(CLI::App& app)
{
    auto submit = std::make_shared<SubmitOptions>();
    auto folder = std::make_shared<FolderOptions>();
    CLI::App* farm = app.add_subcommand("farm", "Render a frame sequence on a Slurm cluster, resumably");
    farm->require_subcommand(1);

    CLI::App* submitCommand = farm->add_subcommand(
        "submit", "Submit a cube2dome or pano2dome (--mode frames) sequence as a job array");
    submitCommand->add_option("--partition", submit->partition, "Slurm partition (default: the cluster's)");
    submitCommand->add_option("--chunk", submit->chunk, "Frames per task")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    submitCommand->add_option("--max-running", submit->maxRunning, "Tasks running at once, at most (0: no limit)")
        ->check(CLI::Range(0, 1000000))
        ->capture_default_str();
    submitCommand->add_option("--time", submit->time, "Time limit per task, as Slurm's --time (e.g. 2:00:00)");
    submitCommand->add_option("--mem", submit->memory, "Memory per task, as Slurm's --mem (e.g. 8G)");
    submitCommand->add_option("--threads", submit->threads, "Threads (CPUs) per task")
        ->check(CLI::Range(1, 1024))
        ->capture_default_str();
    CLI::Option* thenEncode = submitCommand->add_option(
        "--then-encode", submit->thenEncode,
        "Encode the frames into this video (skelvane-cli encode) once every task succeeded");
    AddVideoOptions(*submitCommand, submit->video);
    for (const char* name : {"--codec", "--profile", "--alpha", "--quality", "--keyframes", "--keyframe-every",
                             "--two-pass"}) {
        submitCommand->get_option(name)->needs(thenEncode);
    }
    submitCommand
        ->add_option("command", submit->render,
                     "After --: cube2dome or pano2dome and its options (its --frames selects the sequence)")
        ->required();

    CLI::App* statusCommand =
        AddFolderCommand(*farm, "status", "Frames done, running, queued, failed and missing; exit status 0 when "
                                          "complete, 3 while tasks are queued or running, 1 otherwise",
                         *folder);
    statusCommand->add_flag("--wait", folder->wait, "Wait until no task is queued or running, then tell");
    CLI::App* resumeCommand =
        AddFolderCommand(*farm, "resume", "Submit the frames that failed or are missing again", *folder);
    CLI::App* cancelCommand = AddFolderCommand(*farm, "cancel", "Cancel the tasks queued or running", *folder);

    return {farm, [=] {
                if (submitCommand->parsed()) {
                    const std::string& command = submit->render.front();
                    if (command != "cube2dome" && command != "pano2dome") {
                        std::fprintf(stderr, "farm submit renders cube2dome or pano2dome, not \"%s\".\n",
                                     command.c_str());
                        return kExitBadArguments;
                    }
                    return Submit(*submit);
                }
                if (statusCommand->parsed()) {
                    return Status(*folder);
                }
                if (resumeCommand->parsed()) {
                    return Resume(*folder);
                }
                if (cancelCommand->parsed()) {
                    return Cancel(*folder);
                }
                return kExitBadArguments;
            }};
}

}  // namespace skelvane::cli
