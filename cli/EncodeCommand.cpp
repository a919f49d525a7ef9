// skelvane-cli encode: a folder of numbered dome images (a render's or a
// render farm's frames) into one video, in frame-number order, with the
// video options of the render commands.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "cli/Commands.h"
#include "cli/ConsoleJob.h"
#include "cli/VideoOptions.h"
#include "pano2dome/DomeSequence.h"
#include "pano2dome/Pano2DomeJob.h"
#include "pano2dome/SequenceVideoJob.h"
#include "pano2dome/VideoEncoder.h"

namespace skelvane::cli {
namespace {
namespace fs = std::filesystem;

struct EncodeOptions {
    std::string input;
    std::string output;
    std::string prefix;
    bool prefixGiven = false;
    bool skipGaps = false;
    bool overwrite = false;
    std::string rate = "25";
    VideoOptions video;
    int threads = 0;
    std::string progress = "bar";
};

std::optional<CSequenceVideoJob> PrepareEncode(const EncodeOptions& options)
{
    CSequenceVideoJob job;
    if (const std::optional<std::string> problem = MakeVideoSettings(options.video, job.video)) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return std::nullopt;
    }
    job.videoPath = options.output;
    job.frameRate = FrameRateOption(options.rate);
    job.encoderThreads = options.threads;

    DomeSequenceChoice choice;
    if (options.prefixGiven) {
        choice.prefix = options.prefix;
    }
    choice.skipGaps = options.skipGaps;
    DomeSequence sequence;
    std::string reason;
    if (const DomeSequenceProblem problem = FindDomeSequence(options.input, choice, sequence, reason);
        problem != DomeSequenceProblem::None) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        if (problem == DomeSequenceProblem::Gap) {
            std::fprintf(stderr, "Render the missing frames, or give --skip-gaps to encode the frames there are.\n");
        } else if (problem == DomeSequenceProblem::SeveralSequences) {
            std::fprintf(stderr, "Give --prefix to choose one, or move the others to another folder.\n");
        }
        return std::nullopt;
    }
    job.frames = std::move(sequence.files);

    std::error_code error;
    if (!options.overwrite && fs::exists(options.output, error)) {
        std::fprintf(stderr, "%s exists; give --overwrite to replace it.\n", options.output.c_str());
        return std::nullopt;
    }
    if (const std::optional<std::string> refusal = CheckSequenceVideoJob(job)) {
        std::fprintf(stderr, "%s\n", refusal->c_str());
        return std::nullopt;
    }
    if (sequence.missing > 0) {
        std::fprintf(stderr, "Skipping %llu missing frames.\n", static_cast<unsigned long long>(sequence.missing));
    }
    return job;
}

int RunEncode(const EncodeOptions& options)
{
    const std::optional<CSequenceVideoJob> prepared = PrepareEncode(options);
    if (!prepared) {
        return kExitBadArguments;
    }
    const CSequenceVideoJob& job = *prepared;
    std::error_code ignored;
    fs::create_directories(fs::path(job.videoPath).parent_path(), ignored);
    CVideoEncoder::QuietLibraryMessages();

    CJobControl control(CJobControl::Options{options.threads, false});
    return RunJobOnConsole(
        control,
        [&](CJobControl& jobControl, CJobObserver& observer, CMessageReporter& reporter) {
            return BeginSequenceVideoJob(jobControl, job, observer, reporter);
        },
        SequenceVideoProgressRange(job),
        {pano2dome_text::kFinished, pano2dome_text::kStopped, pano2dome_text::kFailed},
        {options.progress == "json", 0});
}

}  // namespace

Command AddEncodeCommand(CLI::App& app)
{
    auto options = std::make_shared<EncodeOptions>();
    CLI::App* command = app.add_subcommand(
        "encode", "Encode a folder of numbered dome images (0000.jpg, FullDome_001.png, ...) into one video");
    command->add_option("--input", options->input, "Folder of the numbered images")->required();
    command->add_option("--output", options->output, "Video file: .mov, .mp4, .avi or .mkv, as the codec allows")
        ->required();
    CLI::Option* prefix = command->add_option(
        "--prefix", options->prefix, "Only images named this and a frame number (the folder holds several sequences)");
    command->add_flag("--skip-gaps", options->skipGaps, "Encode the frames there are when some are missing");
    command->add_flag("--overwrite", options->overwrite, "Replace an existing video file");
    AddFrameRateOption(*command, options->rate, "Frames per second");
    AddVideoOptions(*command, options->video);
    command->add_option("--threads", options->threads, "Threads to use (default: all cores)")
        ->check(CLI::Range(1, 1024));
    command->add_option("--progress", options->progress, "Progress as a bar, or as one JSON object a line")
        ->check(CLI::IsMember({"bar", "json"}))
        ->capture_default_str();
    return {command, [options, prefix] {
                options->prefixGiven = prefix->count() > 0;
                return RunEncode(*options);
            }};
}

}  // namespace skelvane::cli
