// What FFmpeg's own demuxer and decoder find in a video file: the check that a
// video the program wrote really plays, and plays as it was meant to.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

namespace skelvane::test {

struct VideoFacts {
    std::string container;
    std::string codec;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};
    int frames = 0;  // decoded
    std::string profile;   // the decoder's name for it, "" without one
    int level = -99;       // as the stream declares it (H.264: 10 x level)
    std::string codecTag;  // the container's four characters, e.g. "hvc1"
    // Of the first decoded frame.
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    bool hasAlpha = false;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

// Nothing when the file cannot be opened or holds no decodable video stream.
// `onFrame` sees every decoded frame, in display order.
std::optional<VideoFacts> ReadVideo(const std::filesystem::path& path,
                                    const std::function<void(const AVFrame&)>& onFrame = {});

}  // namespace skelvane::test
