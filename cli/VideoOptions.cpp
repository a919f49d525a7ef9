#include "cli/VideoOptions.h"

#include <map>
#include <vector>

#include "pano2dome/VideoEncoder.h"
#include "pano2dome/VideoFormat.h"

namespace skelvane::cli {
namespace {

const std::map<std::string, int> kKeyFrameModes = {
    {"auto", CVideoEncoder::kKeyFramesAutomatic},
    {"every", CVideoEncoder::kKeyFramesEvery},
    {"all", CVideoEncoder::kKeyFramesAll},
};

std::vector<std::string> CodecNames()
{
    std::vector<std::string> names;
    for (VideoCodec codec : kVideoCodecs) {
        names.emplace_back(CodecName(codec));
    }
    return names;
}

}  // namespace

void AddVideoOptions(CLI::App& command, VideoOptions& options)
{
    command.add_option("--codec", options.codec, "Video codec")->check(CLI::IsMember(CodecNames()))->capture_default_str();
    command.add_option("--profile", options.profile,
                       "Video profile: main or main10 (hevc), hq or 4444 (prores), hap, alpha or q (hap); "
                       "default the first");
    command.add_flag("--alpha", options.alpha,
                     "Keep the dome's alpha in the video (prores 4444, hap alpha, ffv1); chooses 4444 or alpha "
                     "when no --profile is given");
    command.add_option("--quality", options.quality, "Video quality, 1 (best) to 42 (h264, hevc)")
        ->check(CLI::Range(CVideoEncoder::kBestQuality, CVideoEncoder::kLeastQuality))
        ->capture_default_str();
    command.add_option("--keyframes", options.keyframes, "Video key frames: encoder's choice, every N, all")
        ->check(CLI::IsMember({"auto", "every", "all"}))
        ->capture_default_str();
    command.add_option("--keyframe-every", options.keyframeEvery, "N of --keyframes every (0: encoder's choice)")
        ->check(CLI::Range(0, 100000))
        ->capture_default_str();
    command.add_flag("--two-pass", options.twoPass, "Encode the video in two passes (h264, hevc)");
}

CLI::Option* AddFrameRateOption(CLI::App& command, std::string& rate, const std::string& help)
{
    return command.add_option("--rate", rate, help + ": whole, a fraction such as 30000/1001, or 29.97")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return ParseFrameRate(text) ? std::string() : "expected a frame rate such as 25, 30000/1001 or 29.97";
            },
            "RATE"))
        ->capture_default_str();
}

FrameRate FrameRateOption(const std::string& rate)
{
    return ParseFrameRate(rate).value_or(FrameRate(0, 1));
}

std::optional<std::string> MakeVideoSettings(const VideoOptions& options, VideoEncoderSettings& settings)
{
    const VideoCodec codec = ParseVideoCodec(options.codec).value_or(VideoCodec::H264);
    settings.stream = {codec, VideoProfile::Automatic, options.alpha};
    if (!options.profile.empty()) {
        const std::optional<VideoProfile> profile = ParseVideoProfile(codec, options.profile);
        if (!profile) {
            return UnknownProfileText(codec, options.profile);
        }
        settings.stream.profile = *profile;
    }
    settings.quality = options.quality;
    settings.keyFrameMode = kKeyFrameModes.at(options.keyframes);
    settings.keyFrameEvery = options.keyframeEvery;
    settings.twoPass = options.twoPass;
    return std::nullopt;
}

std::vector<std::string> VideoArguments(const VideoOptions& options)
{
    std::vector<std::string> arguments = {"--codec",     options.codec,
                                          "--quality",   std::to_string(options.quality),
                                          "--keyframes", options.keyframes,
                                          "--keyframe-every", std::to_string(options.keyframeEvery)};
    if (!options.profile.empty()) {
        arguments.insert(arguments.end(), {"--profile", options.profile});
    }
    if (options.alpha) {
        arguments.emplace_back("--alpha");
    }
    if (options.twoPass) {
        arguments.emplace_back("--two-pass");
    }
    return arguments;
}

}  // namespace skelvane::cli
