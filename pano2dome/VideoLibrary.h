// The video encoders live in a library of their own, libskelvane-video.so,
// loaded when the first video is written: FFmpeg and the codec libraries it
// brings (over a hundred shared objects) take longer to load than a still
// image takes to render, and a program that writes no video never pays for
// them. The core keeps everything else of a video (settings, checks, the
// temporary file and its rename); the library encodes and muxes one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "pano2dome/FrameRate.h"
#include "pano2dome/VideoFormat.h"

namespace skelvane {

// One pass of one encode, from the encoder's settings.
struct VideoPassRequest {
    VideoStream stream;
    int width = 0;
    int height = 0;
    FrameRate rate;
    int quality = 1;                    // 1 (best) to 42
    int keyFrameEvery = 0;              // 0 the encoder's choice, 1 intra only, else a fixed grid
    int threads = 0;                    // 0 the libraries' choice
    int pass = 0;                       // 0-based
    int passCount = 1;
    std::filesystem::path statsFolder;  // two passes only: where the encoder keeps its statistics
    std::int64_t bitRate = 0;           // the second pass's target, bits a second
    std::string container;              // the muxer: "mov", "mp4", "avi" or "matroska"
    std::filesystem::path file;         // the existing, empty file the pass writes
    std::filesystem::path target;       // the name the finished video takes, for messages
};

// The encoder and muxer of one pass. Each call gives an empty string when it
// succeeded, else the reason. Destroying the writer closes the file without
// finishing it.
class IVideoPassWriter {
public:
    virtual ~IVideoPassWriter() = default;
    // Converts and encodes frame `index` (from 0 in the pass): `height` rows
    // of `width` pixels of 24, 32 or 64 bits (pano2dome/VideoEncoder.h),
    // starting at `topRow`, `rowStep` bytes apart (negative for a bottom-up
    // block). The size and depth were checked by the caller.
    virtual std::string AddRows(int width, int height, int bitCount, const std::uint8_t* topRow,
                                std::ptrdiff_t rowStep, std::int64_t index) = 0;
    // Flushes the encoder into the file (the end of a measuring pass).
    virtual std::string Drain() = 0;
    // Bytes the encoder has coded in this pass.
    virtual std::int64_t CodedBytes() const = 0;
    // Drains the encoder, completes the container and closes the file.
    virtual std::string Finish() = 0;
};

struct VideoLibrary {
    // Starts a pass: null with the reason when the encoder or the container
    // cannot be set up.
    std::unique_ptr<IVideoPassWriter> (*openPass)(const VideoPassRequest& request, std::string& error);
    // The nearest fraction with a denominator up to 100000.
    FrameRate (*nearestRate)(float framesPerSecond);
    // The libraries' own notes and statistics kept off the error stream.
    void (*quietMessages)();
};

// The library's entry point, as the loader looks it up.
using VideoLibraryEntry = const VideoLibrary* (*)();
inline constexpr const char* kVideoLibraryEntryName = "SkelvaneVideoLibrary";
inline constexpr const char* kVideoLibraryFileName = "libskelvane-video.so";

// Loads the library the first time (once per process; it stays loaded).
// Null, with the reason in `error`, when it cannot be loaded.
const VideoLibrary* LoadVideoLibrary(std::string* error = nullptr);

}  // namespace skelvane
