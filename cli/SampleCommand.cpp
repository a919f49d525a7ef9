// skelvane-cli sample: writes the calibration cube-map sequence and its
// panorama, so the main job and the tests have real input without downloads.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include <tbb/parallel_for.h>

#include "cli/Commands.h"
#include "cli/ConsoleJob.h"
#include "cli/SampleScene.h"
#include "cube2dome/Cube2DomeSettings.h"
#include "imageio/ImageCodecRegistry.h"

namespace skelvane::cli {
namespace {
namespace fs = std::filesystem;

struct SampleOptions {
    std::string output;
    int frames = 10;
    int size = 512;
    std::string format = "bmp";
};

// The name prefixes of the settings' Check group, with five-digit serials.
constexpr const char* kFilePrefixes[kCubeFaceCount] = {"L", "F", "R", "B", "T", "B"};

int RunSample(const SampleOptions& options)
{
    const std::string& format = options.format;
    const fs::path root(options.output);
    for (int k = 0; k < kCubeFaceCount; ++k) {
        std::error_code error;
        fs::create_directories(root / std::string(kFaceWords[k]), error);
        if (error) {
            std::fprintf(stderr, "Cannot create %s: %s\n", (root / std::string(kFaceWords[k])).c_str(),
                         error.message().c_str());
            return kExitFailed;
        }
    }

    std::mutex mutex;
    std::string failure;
    CubeFaces firstFrame;
    const int files = options.frames * kCubeFaceCount;
    tbb::parallel_for(0, files, [&](int n) {
        const int frame = n / kCubeFaceCount + 1;
        const int k = n % kCubeFaceCount;
        CImageBuffer face = DrawSampleFace(k, frame, options.size);
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
    return {command, [options] { return RunSample(*options); }};
}

}  // namespace skelvane::cli
