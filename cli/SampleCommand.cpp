// skelvane-cli sample: writes the calibration cube-map sequence and its
// panorama, so the main job and the tests have real input without downloads;
// or the quality scene's faces with the dome they should give, to measure a
// render against.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <tbb/parallel_for.h>

#include "cli/Commands.h"
#include "cli/ConsoleJob.h"
#include "cli/SampleScene.h"
#include "cube2dome/Cube2DomeSettings.h"
#include "engine/projection/QualityScene.h"
#include "imageio/ImageCodecRegistry.h"

namespace skelvane::cli {
namespace {
namespace fs = std::filesystem;

struct SampleOptions {
    std::string output;
    int frames = 10;
    int size = 512;
    std::string format = "bmp";
    std::string scene = "calibration";
    int dome = 0;  // the quality scene's truth; 0: the face size
};

// The view cube2dome renders without view options, which the truth is for.
constexpr int kTruthFov = 180;
constexpr double kTruthTilt = 60.0;
constexpr int kTruthSamples = 16;

// The name prefixes of the settings' Check group, with five-digit serials.
constexpr const char* kFilePrefixes[kCubeFaceCount] = {"L", "F", "R", "B", "T", "B"};

// Writes every frame's six faces; face(k, frame) draws face k of a frame.
// Returns false after reporting the first failure; firstFrame gets frame 1.
bool WriteFaces(const SampleOptions& options, const std::function<CImageBuffer(int, int)>& drawFace,
                CubeFaces& firstFrame)
{
    const std::string& format = options.format;
    const fs::path root(options.output);
    for (int k = 0; k < kCubeFaceCount; ++k) {
        std::error_code error;
        fs::create_directories(root / std::string(kFaceWords[k]), error);
        if (error) {
            std::fprintf(stderr, "Cannot create %s: %s\n", (root / std::string(kFaceWords[k])).c_str(),
                         error.message().c_str());
            return false;
        }
    }

    std::mutex mutex;
    std::string failure;
    const int files = options.frames * kCubeFaceCount;
    tbb::parallel_for(0, files, [&](int n) {
        const int frame = n / kCubeFaceCount + 1;
        const int k = n % kCubeFaceCount;
        CImageBuffer face = drawFace(k, frame);
        char name[32];
        std::snprintf(name, sizeof name, "%s%05d.", kFilePrefixes[k], frame);
        const fs::path path = root / std::string(kFaceWords[k]) / (name + format);
        std::string reason;
        const bool saved = face.Save(path, &reason);
        std::lock_guard lock(mutex);
        if (!saved && failure.empty()) {
            failure = "Cannot write " + path.string() + ": " + reason;
        }
        if (frame == 1) {
            firstFrame[k] = std::move(face);
        }
    });
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        return false;
    }
    return true;
}

int RunCalibration(const SampleOptions& options)
{
    const std::string& format = options.format;
    const fs::path root(options.output);
    CubeFaces firstFrame;
    if (!WriteFaces(options, [&](int k, int frame) { return DrawSampleFace(k, frame, options.size); }, firstFrame)) {
        return kExitFailed;
    }
    CImageBuffer panorama = DrawSamplePanorama(firstFrame, 4 * options.size, 2 * options.size);
    const fs::path panoramaPath = root / ("panorama." + format);
    if (std::string reason; !panorama.Save(panoramaPath, &reason)) {
        std::fprintf(stderr, "Cannot write %s: %s\n", panoramaPath.c_str(), reason.c_str());
        return kExitFailed;
    }
    std::printf("Wrote %d frames of six %dx%d faces to %s/{left,front,right,back,top,bottom} and %s\n",
                options.frames, options.size, options.size, root.c_str(), panoramaPath.c_str());
    return kExitFinished;
}

// The scene does not move: every frame holds the same faces.
int RunQualityScene(const SampleOptions& options)
{
    const fs::path root(options.output);
    const CQualityScene scene(options.size);
    const CubeFaces faces = scene.DrawFaces();
    CubeFaces firstFrame;
    const bool written = WriteFaces(
        options,
        [&](int k, int) {
            CImageBuffer copy;
            copy.CopyFrom(faces[k]);
            return copy;
        },
        firstFrame);
    if (!written) {
        return kExitFailed;
    }

    const int dome = options.dome > 0 ? options.dome : options.size;
    std::printf("Computing the %dx%d truth dome, %dx%d points a pixel...\n", dome, dome, kTruthSamples,
                kTruthSamples);
    std::fflush(stdout);
    const SceneView view{options.size, dome, kTruthFov, kTruthTilt, 0.0};
    CImageBuffer truth = SceneTruthImage(RenderSceneTruth(scene, view, kTruthSamples));
    const fs::path truthPath = root / ("truth." + options.format);
    if (std::string reason; !truth.Save(truthPath, &reason)) {
        std::fprintf(stderr, "Cannot write %s: %s\n", truthPath.c_str(), reason.c_str());
        return kExitFailed;
    }
    std::printf("Wrote %d frames of six %dx%d quality scene faces to %s/{left,front,right,back,top,bottom} and %s, "
                "the dome that skelvane-cli cube2dome --input %s --in-format %s --faces 6 --size %d --fov %d "
                "--tilt %g --pan 0 should render\n",
                options.frames, options.size, options.size, root.c_str(), truthPath.c_str(), root.c_str(),
                options.format.c_str(), dome, kTruthFov, kTruthTilt);
    return kExitFinished;
}

int RunSample(const SampleOptions& options)
{
    return options.scene == "quality" ? RunQualityScene(options) : RunCalibration(options);
}

}  // namespace

Command AddSampleCommand(CLI::App& app)
{
    auto options = std::make_shared<SampleOptions>();
    CLI::App* command = app.add_subcommand("sample", "Write a calibration cube-map sequence and its panorama");
    command->add_option("--output", options->output, "Folder to write into (face sub-folders are made)")
        ->required();
    command->add_option("--frames", options->frames, "Frames of the sequence")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    // The panorama is 4 x size wide, which must stay within the image limit.
    command->add_option("--size", options->size, "Face size in pixels")
        ->check(CLI::Range(8, kMaxImageSide / 4))
        ->capture_default_str();
    command->add_option("--format", options->format, "Image format")
        ->transform(CLI::IsMember(FormatChoices(CodecUse::Write), CLI::ignore_case))
        ->capture_default_str();
    command->add_option("--scene", options->scene,
                        "calibration: faces with their names, and a panorama; quality: the analytic scene that "
                        "renders are measured against, and its true dome")
        ->check(CLI::IsMember({"calibration", "quality"}))
        ->capture_default_str();
    command->add_option("--dome", options->dome,
                        "Size of the quality scene's true dome (fov 180, tilt 60, pan 0); default: the face size")
        ->check(CLI::Range(8, kMaxImageSide));
    return {command, [options] { return RunSample(*options); }};
}

}  // namespace skelvane::cli
