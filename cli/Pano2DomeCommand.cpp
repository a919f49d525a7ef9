// skelvane-cli pano2dome: the Pano2Dome render without the desktop. The
// options fill the same job block the page fills, and the page's Begin checks
// refuse with the same messages.
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "cli/AngleRange.h"
#include "cli/Commands.h"
#include "cli/ConsoleJob.h"
#include "cli/OutOfMemory.h"
#include "cli/ImageWriteCliOptions.h"
#include "cli/PngLevelOption.h"
#include "cli/VideoOptions.h"
#include "engine/projection/PanoDomeProjector.h"
#include "imageio/ImageCodecRegistry.h"
#include "imageio/PngCodec.h"
#include "pano2dome/Pano2DomeJob.h"
#include "pano2dome/PanoTargets.h"
#include "pano2dome/SharpMapAhead.h"
#include "pano2dome/VideoEncoder.h"

namespace skelvane::cli {
namespace {
namespace fs = std::filesystem;

struct Pano2DomeOptions {
    std::string input;
    std::string output;
    std::string mode = "image";
    int size = 0;
    bool sizeGiven = false;
    unsigned fov = 180;
    float tilt = 60.0f;
    float pan = 0.0f;
    int from = -180;
    int to = 180;
    unsigned duration = 5;
    std::string rate = "25";
    std::string format = "jpg";
    ImageWriteCliOptions write;
    VideoOptions video;
    int threads = 0;
    std::string frames = "all";
    bool skipExisting = false;
    bool overwrite = false;
    bool sharp = false;
    int supersample = 1;
    std::string progress = "bar";
    int pngLevel = kDefaultDeflateLevel;
};

// "all", "N" or "A-B" in the sweep's own numbering (from 0); -1 as the last
// frame means the sweep's end.
bool ParseSweepFrames(const std::string& text, std::int64_t& first, std::int64_t& last)
{
    auto number = [](const std::string& digits, std::int64_t& value) {
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        value = std::stoll(digits);
        return true;
    };
    if (text == "all") {
        first = 0;
        last = -1;
        return true;
    }
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos) {
        return number(text, first) && number(text, last);
    }
    return number(text.substr(0, dash), first) && number(text.substr(dash + 1), last);
}

const std::map<std::string, int> kModes = {{"image", kPanoImage}, {"frames", kPanoFrames}, {"video", kPanoVideo}};

// The dome's side: the one asked for, or as the page proposes it when a
// panorama is opened; a video's rounded down to even, which its pixel format
// needs (1155 for a panorama 1024 high would otherwise refuse the default).
std::int32_t DomeSizeOf(const Pano2DomeOptions& options, std::int32_t panoHeight)
{
    if (options.sizeGiven) {
        return options.size;
    }
    const std::int32_t size = PanoOutputSize(panoHeight, options.fov);
    return options.mode == "video" ? size & ~1 : size;
}

// The job the options ask for, checked as the page's Begin checks it; the
// refusal is printed. The panorama is loaded here; a sweep that is to run
// (`willRun`) and is sharp has its map built meanwhile.
std::optional<CPano2DomeJob> PreparePano2Dome(const Pano2DomeOptions& options, bool willRun, int& exitStatus)
{
    exitStatus = kExitBadArguments;
    CPano2DomeJob job;
    job.mode = kModes.at(options.mode);
    if (willRun && options.sharp && job.mode != kPanoImage && options.supersample == 1) {
        job.sharpMapAhead = std::make_shared<CSharpMapAhead>(
            options.input, [&options](std::int32_t panoHeight) { return DomeSizeOf(options, panoHeight); },
            static_cast<std::int32_t>(options.fov), options.tilt, options.threads);
    }
    auto panorama = std::make_shared<CImageBuffer>();
    // Why a panorama did not load, for the line under "No input image! ": a
    // farm's log must tell a wrong path from a damaged file.
    std::string whyNotLoaded;
    bool loaded = false;
    try {
        loaded = panorama->Load(options.input, &whyNotLoaded);
    } catch (const std::bad_alloc& failure) {
        std::fprintf(stderr, "%s\n", OutOfMemoryReport(failure, "Loading the panorama " + options.input).c_str());
        exitStatus = kExitFailed;
        return std::nullopt;
    }
    if (loaded) {
        job.panorama = std::move(panorama);
    }
    job.fov = options.fov;
    job.outputWidth = DomeSizeOf(options, loaded ? job.panorama->GetHeight() : 0);
    job.verticalAngle = options.tilt;
    job.horizontalAngle = options.pan;
    job.fromAngle = options.from;
    job.toAngle = options.to;
    job.duration = options.duration;
    job.frameRate = FrameRateOption(options.rate);
    job.frameFormat = options.format;
    job.writeOptions = MakeImageWriteOptions(options.write);
    if (const std::optional<std::string> problem = MakeVideoSettings(options.video, job.video)) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return std::nullopt;
    }
    job.encoderThreads = options.threads;
    (job.mode == kPanoFrames ? job.frameDir : job.mode == kPanoVideo ? job.videoPath : job.imagePath) =
        options.output;
    ParseSweepFrames(options.frames, job.firstFrame, job.lastFrame);  // checked by the option's validator
    job.skipExisting = options.skipExisting;
    job.sharp = options.sharp;
    job.supersample = options.supersample;

    if (const std::optional<std::string> message = CheckPano2DomeJob(job)) {
        std::fprintf(stderr, "%s\n", message->c_str());
        if (!loaded) {
            std::fprintf(stderr, "%s: %s.\n", options.input.c_str(), whyNotLoaded.c_str());
        } else if (*message == pano2dome_text::kImageFormat) {
            std::fprintf(stderr, "%s: %s.\n", options.output.c_str(),
                         UnsupportedFormatReason(options.output, CodecUse::Write).c_str());
        }
        return std::nullopt;
    }
    if (job.mode != kPanoFrames && (options.frames != "all" || options.skipExisting)) {
        std::fprintf(stderr, "--frames and --skip-existing are for --mode frames.\n");
        return std::nullopt;
    }
    return job;
}

// True when the job may write where it would: what exists there is replaced
// only when --overwrite says so (frames also stay with --skip-existing), and
// the input never. Says why not, and how many older frames beyond the new
// sequence stay in the folder.
bool MayWriteTargets(const CPano2DomeJob& job, const Pano2DomeOptions& options)
{
    const PanoTargets targets = FindPanoTargets(job, options.input);
    const bool keepsFrames = job.mode == kPanoFrames && job.skipExisting;
    if (!targets.input.empty() && !keepsFrames) {
        std::fprintf(stderr, "%s is the input panorama; it is never written over: choose another output.\n",
                     targets.input.c_str());
        return false;
    }
    if (targets.existing > 0 && !keepsFrames && !options.overwrite) {
        if (job.mode != kPanoFrames) {
            std::fprintf(stderr, "%s exists; give --overwrite to replace it.\n", targets.firstExisting.c_str());
        } else if (targets.existing == 1) {
            std::fprintf(stderr, "%s exists; give --overwrite to replace it or --skip-existing to keep it.\n",
                         targets.firstExisting.c_str());
        } else {
            std::fprintf(stderr,
                         "%s and %lld more frames of this sweep exist; give --overwrite to replace them or "
                         "--skip-existing to keep them.\n",
                         targets.firstExisting.c_str(), static_cast<long long>(targets.existing - 1));
        }
        return false;
    }
    if (targets.beyond == 1) {
        std::fprintf(stderr, "1 older frame beyond the new sequence remains: %s.\n",
                     PanoFramePath(job.frameDir, targets.firstBeyond, job.frameFormat).c_str());
    } else if (targets.beyond > 1) {
        std::fprintf(stderr, "%lld older frames beyond the new sequence remain: %s to %s.\n",
                     static_cast<long long>(targets.beyond),
                     PanoFramePath(job.frameDir, targets.firstBeyond, job.frameFormat).c_str(),
                     PanoFrameFileName(targets.lastBeyond, job.frameFormat).c_str());
    }
    return true;
}

int RunPano2Dome(const Pano2DomeOptions& options)
{
    int refusal = kExitBadArguments;
    const std::optional<CPano2DomeJob> prepared = PreparePano2Dome(options, true, refusal);
    if (!prepared) {
        return refusal;
    }
    const CPano2DomeJob& job = *prepared;
    if (!MayWriteTargets(job, options)) {
        return kExitBadArguments;
    }

    // A farm's output folder may not exist yet; one that cannot be made fails
    // the job, naming the file.
    std::error_code ignored;
    const fs::path output(options.output);
    fs::create_directories(job.mode == kPanoFrames ? output : output.parent_path(), ignored);
    if (job.mode == kPanoVideo) {
        CVideoEncoder::QuietLibraryMessages();
    }

    CJobControl control(CJobControl::Options{options.threads, false});
    return RunJobOnConsole(
        control,
        [&](CJobControl& jobControl, CJobObserver& observer, CMessageReporter& reporter) {
            return BeginPano2DomeJob(jobControl, job, observer, reporter);
        },
        PanoProgressRange(job), {pano2dome_text::kFinished, pano2dome_text::kStopped, pano2dome_text::kFailed},
        {options.progress == "json", PanoFramesOf(job).first});
}

}  // namespace

Command AddPano2DomeCommand(CLI::App& app)
{
    auto options = std::make_shared<Pano2DomeOptions>();
    CLI::App* command =
        app.add_subcommand("pano2dome", "Render an equirectangular panorama into a dome master, frames or a video");

    command->add_option("--input", options->input, "Panorama file (" + FormatNames(CodecUse::Read) + ")")->required();
    command
        ->add_option("--output", options->output,
                     "Image file (image), folder of numbered frames (frames) or .mov/.mp4/.avi/.mkv file (video)")
        ->required();
    command->add_option("--mode", options->mode, "What to render")
        ->check(CLI::IsMember({"image", "frames", "video"}))
        ->capture_default_str();
    command->add_option("--size", options->size,
                        "Dome size in pixels (default: 2 x panorama height x sqrt(fov / (180 pi)))");
    command->add_option("--fov", options->fov, "Field of view in degrees")
        ->check(CLI::Range(90u, 360u))
        ->capture_default_str();
    command->add_option("--tilt", options->tilt, "Vertical view angle in degrees")
        ->check(AngleRange(-90.0f, 90.0f))
        ->capture_default_str();
    command->add_option("--pan", options->pan, "Horizontal view angle in degrees (image mode)")
        ->check(AngleRange(-180.0f, 180.0f))
        ->capture_default_str();
    command->add_option("--from", options->from, "First horizontal angle of the sweep in degrees")
        ->check(CLI::Range(-180, 180))
        ->capture_default_str();
    command->add_option("--to", options->to, "Horizontal angle the sweep heads for in degrees")
        ->check(CLI::Range(-180, 180))
        ->capture_default_str();
    command->add_option("--duration", options->duration, "Length of the sweep in seconds")->capture_default_str();
    AddFrameRateOption(*command, options->rate, "Frames per second");
    command->add_option("--format", options->format, "Format of the frame files")
        ->transform(CLI::IsMember(FormatChoices(CodecUse::Write, options->format), CLI::ignore_case))
        ->capture_default_str();
    AddVideoOptions(*command, options->video);
    command->add_option("--threads", options->threads, "Threads to use (default: all cores)")
        ->check(CLI::Range(1, 1024));
    command
        ->add_option("--frames", options->frames,
                     "Frames of the sweep to write (frames mode): all, N, or A-B (numbered from 0)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                std::int64_t first = 0;
                std::int64_t last = 0;
                return ParseSweepFrames(text, first, last) && (last < 0 || first <= last) ? std::string()
                                                                                          : "expected all, N or A-B";
            },
            "all|N|A-B"))
        ->capture_default_str();
    command->add_flag("--skip-existing", options->skipExisting,
                      "Leave a frame alone when its file exists (frames mode)");
    command->add_flag("--sharp", options->sharp,
                      "Sample every frame of a sweep from the full panorama, as an image is sampled (frames and video "
                      "modes; slower, and the panorama and a map of the dome stay in memory)");
    command
        ->add_option("--supersample", options->supersample,
                     "N x N samples per dome pixel, averaged: smooth rim and no shimmer (1 to 4)")
        ->check(CLI::Range(1, kMaxPanoSupersample))
        ->capture_default_str();
    command->add_flag("--overwrite", options->overwrite,
                      "Replace an existing image, video or frames (never the input panorama)");
    AddPngLevelOption(*command, options->pngLevel);
    AddImageWriteOptions(*command, options->write);
    command->add_option("--progress", options->progress, "Progress as a bar, or as one JSON object a line")
        ->check(CLI::IsMember({"bar", "json"}))
        ->capture_default_str();

    CLI::Option* size = command->get_option("--size");
    return {command,
            [options, size] {
                options->sizeGiven = size->count() > 0;
                SetPngSaveLevel(options->pngLevel);
                return RunPano2Dome(*options);
            },
            [options, size](int& exitStatus) -> std::optional<farm::CFrameSequence> {
                options->sizeGiven = size->count() > 0;
                const std::optional<CPano2DomeJob> job = PreparePano2Dome(*options, false, exitStatus);
                if (!job) {
                    return std::nullopt;
                }
                if (job->mode != kPanoFrames) {
                    std::fprintf(stderr, "The farm renders numbered frames: give pano2dome --mode frames.\n");
                    exitStatus = kExitBadArguments;
                    return std::nullopt;
                }
                const PanoFrameSpan frames = PanoFramesOf(*job);
                return farm::CFrameSequence{"pano2dome", job->frameDir, "", 4, job->frameFormat, frames.first,
                                            frames.first + frames.count - 1, job->outputWidth};
            }};
}

}  // namespace skelvane::cli
