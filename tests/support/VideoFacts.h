// What FFmpeg's own demuxer and decoder find in a video file: the check that a
// video the program wrote really plays.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

extern "C" {
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
};

// Nothing when the file cannot be opened or holds no decodable video stream.
std::optional<VideoFacts> ReadVideo(const std::filesystem::path& path);

}  // namespace skelvane::test
