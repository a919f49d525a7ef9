// skelvane-cli cube2dome: the Cube2Dome batch render without the desktop. The
// options fill the same settings model the settings dialog fills, and its
// acceptance checks give the same messages. The domes go into numbered files
// in --output, or into one video with --video.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>
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
#include "cube2dome/Cube2DomeJob.h"
#include "cube2dome/Cube2DomeSettings.h"
#include "imageio/ImageCodecRegistry.h"
#include "imageio/PngCodec.h"
#include "pano2dome/VideoEncoder.h"

namespace skelvane::cli {
namespace {
namespace fs = std::filesystem;

struct Cube2DomeOptions {
    std::string input;
    std::array<std::string, kCubeFaceCount> faces;
    int faceCount = 5;
    std::string inFormat = "bmp";
    std::string outFormat = "bmp";
    std::string output;
    std::string prefix = "FullDome_";
    int digits = 3;
    std::string frames = "all";
    unsigned size = 0;
    bool sizeGiven = false;
    int fov = 180;
    float tilt = 60.0f;
    float pan = 0.0f;
    int threads = 0;
    bool skipExisting = false;
    std::string progress = "bar";
    ImageWriteCliOptions write;
    std::string video;  // one video instead of numbered files
    std::string rate = "25";
    VideoOptions videoOptions;
    bool overwrite = false;
    int pngLevel = kDefaultDeflateLevel;
    std::string filter = "nearest";
    int supersample = 1;
};

struct FrameChoice {
    FrameMode mode = FrameMode::All;
    unsigned first = 1;
    unsigned last = 1;
};

bool ParseFrameNumber(const std::string& text, unsigned& value)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        return false;
    }
    value = static_cast<unsigned>(std::stoul(text));
    return true;
}

// "all", "N" or "A-B"; numbers are checked against the sequence later, by
// the settings, so that the messages are the usual ones.
bool ParseFrames(const std::string& text, FrameChoice& choice)
{
    if (text == "all") {
        choice = {FrameMode::All, 1, 1};
        return true;
    }
    const std::size_t dash = text.find('-');
    if (dash == std::string::npos) {
        choice.mode = FrameMode::Single;
        return ParseFrameNumber(text, choice.first);
    }
    choice.mode = FrameMode::Range;
    return ParseFrameNumber(text.substr(0, dash), choice.first) && ParseFrameNumber(text.substr(dash + 1), choice.last);
}

// The job the options ask for, checked as the settings dialog checks it; the
// refusal is printed. The face lists are read here.
std::optional<CCube2DomeJob> PrepareCube2Dome(const Cube2DomeOptions& options, int& exitStatus)
{
    exitStatus = kExitBadArguments;
    if (options.output.empty() == options.video.empty()) {
        std::fprintf(stderr, "Give --output, a folder for numbered dome masters, or --video, one video file.\n");
        return std::nullopt;
    }
    Cube2DomeSettings settings;
    settings.faceCount = options.faceCount;
    settings.inputFormat = options.inFormat;
    settings.outputFormat = options.outFormat;
    if (!options.input.empty()) {
        settings.upperDir = options.input;
    }
    FrameChoice frames;
    ParseFrames(options.frames, frames);  // checked by the option's validator
    settings.ChooseFrameMode(frames.mode);
    if (frames.mode == FrameMode::Single) {
        settings.singleFrame = frames.first;
    } else if (frames.mode == FrameMode::Range) {
        settings.fromFrame = frames.first;
        settings.toFrame = frames.last;
    }
    if (!options.input.empty()) {
        settings.FillFromUpperDir();
    } else {
        for (int k = 0; k < kCubeFaceCount; ++k) {
            if (!options.faces[k].empty()) {
                settings.facePath[k] = options.faces[k];
                settings.RebuildFace(k);
            }
        }
    }
    settings.outputPrefix = options.prefix;
    settings.serialDigits = options.digits;
    settings.verticalAngle = options.tilt;
    settings.saveDir = options.output;
    settings.writeVideo = !options.video.empty();
    settings.videoPath = options.video;
    settings.frameRate = FrameRateOption(options.rate);

    bool faceWidthUnknown = false;
    std::string whyNotLoaded;
    if (options.sizeGiven) {
        settings.SetOutputWidth(options.size);
    } else if (settings.faceList[Left] && settings.faceList[Left]->Count() > 0) {
        // As the settings dialog does: twice the width of the first Left face.
        CImageBuffer face;
        const std::string path = settings.faceList[Left]->At(0).string();
        try {
            if (face.Load(path, &whyNotLoaded)) {
                settings.ApplyFaceImageWidth(face.GetWidth());
            } else {
                faceWidthUnknown = true;
            }
        } catch (const std::bad_alloc& failure) {
            std::fprintf(stderr, "%s\n", OutOfMemoryReport(failure, "Reading " + path + " for the face width").c_str());
            exitStatus = kExitFailed;
            return std::nullopt;
        }
    }

    if (const std::optional<std::string> message = settings.ValidateSettings()) {
        std::fprintf(stderr, "%s\n", message->c_str());
        if (faceWidthUnknown && settings.outputWidth == 0) {
            std::fprintf(stderr, "(%s cannot be read to take the face width from: %s; give --size.)\n",
                         settings.faceList[Left]->At(0).c_str(), whyNotLoaded.c_str());
        }
        // Frame n is named with the serial n - 1; too few digits would give
        // two frames one name.
        const unsigned last = frames.mode == FrameMode::All      ? static_cast<unsigned>(settings.frameCount)
                              : frames.mode == FrameMode::Single ? frames.first
                                                                 : frames.last;
        if (last > 0 && last <= static_cast<unsigned>(settings.frameCount) &&
            SerialDigitsNeeded(last - 1) > options.digits) {
            std::fprintf(stderr, "(Frame %u is named with the serial %u, which takes %d digits; give --digits %d.)\n",
                         last, last - 1, SerialDigitsNeeded(last - 1), SerialDigitsNeeded(last - 1));
        }
        return std::nullopt;
    }
    CCube2DomeJob job = MakeCube2DomeJob(settings, options.fov, options.pan);
    job.skipExisting = options.skipExisting;
    job.sampling = {*CubeFilterNamed(options.filter), options.supersample};  // both checked by their options
    job.writeOptions = MakeImageWriteOptions(options.write);
    if (const std::optional<std::string> refusal = CheckCube2DomeImages(job)) {
        std::fprintf(stderr, "%s\n", refusal->c_str());
        return std::nullopt;
    }
    if (settings.writeVideo) {
        if (const std::optional<std::string> problem = MakeVideoSettings(options.videoOptions, job.video)) {
            std::fprintf(stderr, "%s\n", problem->c_str());
            return std::nullopt;
        }
        job.encoderThreads = options.threads;
        if (const std::optional<std::string> refusal = CheckCube2DomeVideo(job)) {
            std::fprintf(stderr, "%s\n", refusal->c_str());
            return std::nullopt;
        }
        std::error_code error;
        if (!options.overwrite && fs::exists(job.videoPath, error)) {
            std::fprintf(stderr, "%s exists; give --overwrite to replace it.\n", job.videoPath.c_str());
            return std::nullopt;
        }
    }
    return job;
}

int RunCube2Dome(const Cube2DomeOptions& options)
{
    int refusal = kExitBadArguments;
    const std::optional<CCube2DomeJob> prepared = PrepareCube2Dome(options, refusal);
    if (!prepared) {
        return refusal;
    }
    const CCube2DomeJob& job = *prepared;

    // A farm's output folder may not exist yet; one that cannot be made fails
    // the job at its first frame (or its video), naming the file.
    std::error_code ignored;
    fs::create_directories(job.videoPath.empty() ? fs::path(job.saveDir) : fs::path(job.videoPath).parent_path(),
                           ignored);
    if (!job.videoPath.empty()) {
        CVideoEncoder::QuietLibraryMessages();
    }

    CJobControl control(CJobControl::Options{options.threads, false});
    return RunJobOnConsole(
        control,
        [&](CJobControl& jobControl, CJobObserver& observer, CMessageReporter& reporter) {
            return BeginCube2DomeJob(jobControl, job, observer, reporter);
        },
        Cube2DomeProgressRange(job), {cube2dome_text::kFinished, cube2dome_text::kStopped, cube2dome_text::kFailed},
        {options.progress == "json", job.fromFrame});
}

}  // namespace

Command AddCube2DomeCommand(CLI::App& app)
{
    auto options = std::make_shared<Cube2DomeOptions>();
    CLI::App* command = app.add_subcommand("cube2dome", "Render cube-face sequences into numbered dome masters or one video");

    CLI::Option* input =
        command->add_option("--input", options->input,
                            "Upper folder with the sub-folders left, front, right, back, top, bottom");
    CLI::Option* faces[kCubeFaceCount];
    for (int k = 0; k < kCubeFaceCount; ++k) {
        const std::string word(kFaceWords[k]);
        faces[k] = command->add_option("--" + word, options->faces[k], "Folder of the " + word + " face");
        faces[k]->excludes(input);
        input->excludes(faces[k]);
    }
    command->add_option("--faces", options->faceCount, "Faces in use: 5 leaves out the bottom face")
        ->check(CLI::IsMember({5, 6}))
        ->capture_default_str();
    command->add_option("--in-format", options->inFormat, "Extension of the face files")
        ->transform(CLI::IsMember(FormatChoices(CodecUse::Read), CLI::ignore_case))
        ->capture_default_str();
    command->add_option("--out-format", options->outFormat, "Format of the dome masters")
        ->transform(CLI::IsMember(FormatChoices(CodecUse::Write), CLI::ignore_case))
        ->capture_default_str();
    CLI::Option* output = command->add_option("--output", options->output, "Folder the dome masters are written to");
    CLI::Option* video =
        command->add_option("--video", options->video, "One video of the frames instead (.mov, .mp4, .avi or .mkv)");
    output->excludes(video);
    video->excludes(output);
    AddFrameRateOption(*command, options->rate, "Frames per second of the video");
    AddVideoOptions(*command, options->videoOptions);
    command->add_flag("--overwrite", options->overwrite, "Replace an existing video file")->needs(video);
    command
        ->add_option("--prefix", options->prefix, "First part of every output file name")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                if (text.size() > kMaxOutputPrefixChars) {
                    return "at most " + std::to_string(kMaxOutputPrefixChars) + " characters";
                }
                if (text.find('/') != std::string::npos) {
                    return "a prefix names files, not folders: no '/'";
                }
                return {};
            },
            "PREFIX"))
        ->capture_default_str();
    command->add_option("--digits", options->digits, "Digits of the frame serial in file names")
        ->check(CLI::Range(kMinSerialDigits, kMaxSerialDigits))
        ->capture_default_str();
    command
        ->add_option("--frames", options->frames, "Frames to render: all, N, or A-B (numbered from 1)")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                FrameChoice choice;
                return ParseFrames(text, choice) ? std::string() : "expected all, N or A-B";
            },
            "all|N|A-B"))
        ->capture_default_str();
    command->add_option("--size", options->size, "Dome size in pixels (default: twice the face width)");
    command->add_option("--fov", options->fov, "Field of view in degrees")
        ->check(CLI::Range(90, 360))
        ->capture_default_str();
    command->add_option("--tilt", options->tilt, "Vertical view angle in degrees")
        ->check(AngleRange(-90.0f, 90.0f))
        ->capture_default_str();
    command->add_option("--pan", options->pan, "Horizontal view angle in degrees")
        ->check(AngleRange(-180.0f, 180.0f))
        ->capture_default_str();
    command->add_option("--filter", options->filter, "How the faces are read between their pixels")
        ->check(CLI::IsMember({"nearest", "bilinear", "bicubic"}))
        ->capture_default_str();
    command
        ->add_option("--supersample", options->supersample,
                     "N x N samples per dome pixel, averaged: smooth rim and no shimmer (1 to 4)")
        ->check(CLI::Range(1, kMaxSupersample))
        ->capture_default_str();
    command->add_option("--threads", options->threads, "Threads to use (default: all cores)")
        ->check(CLI::Range(1, 1024));
    command
        ->add_flag("--skip-existing", options->skipExisting,
                   "Leave a frame alone when its file exists (instead of writing a numbered variant)")
        ->excludes(video);
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
                return RunCube2Dome(*options);
            },
            [options, size](int& exitStatus) -> std::optional<farm::CFrameSequence> {
                options->sizeGiven = size->count() > 0;
                const std::optional<CCube2DomeJob> job = PrepareCube2Dome(*options, exitStatus);
                if (job && !job->videoPath.empty()) {
                    std::fprintf(stderr, "The farm renders numbered frames: give cube2dome --output, not --video.\n");
                    exitStatus = kExitBadArguments;
                }
                if (!job || !job->videoPath.empty()) {
                    return std::nullopt;
                }
                return farm::CFrameSequence{"cube2dome", job->saveDir, job->outputPrefix, job->serialDigits,
                                            job->outputFormat, job->fromFrame, job->toFrame, job->outputSize};
            }};
}

}  // namespace skelvane::cli
