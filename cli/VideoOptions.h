// The options of every command that writes a video: the stream (codec,
// profile, alpha), the frame rate and the encoder settings of the desktop's
// video dialog.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "pano2dome/FrameRate.h"
#include "pano2dome/VideoEncoderSettings.h"

namespace skelvane::cli {

struct VideoOptions {
    std::string codec = "h264";
    std::string profile;  // empty: the codec's default
    bool alpha = false;
    int quality = 1;
    std::string keyframes = "every";
    int keyframeEvery = 24;
    bool twoPass = false;
};

// --codec, --profile, --alpha, --quality, --keyframes, --keyframe-every,
// --two-pass.
void AddVideoOptions(CLI::App& command, VideoOptions& options);

// --rate: whole ("25"), a fraction ("30000/1001") or a decimal ("29.97").
CLI::Option* AddFrameRateOption(CLI::App& command, std::string& rate, const std::string& help);
// The text of an option AddFrameRateOption has checked.
FrameRate FrameRateOption(const std::string& rate);

// The encoder settings the options ask for, or why they cannot be met (a
// profile the codec does not have): a message for the error stream.
std::optional<std::string> MakeVideoSettings(const VideoOptions& options, VideoEncoderSettings& settings);

// The options as a command line gives them, every one spelled out, for a
// later `skelvane-cli encode` that must write the same stream.
std::vector<std::string> VideoArguments(const VideoOptions& options);

}  // namespace skelvane::cli
