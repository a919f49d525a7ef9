#include "pano2dome/VideoFormat.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace skelvane {
namespace {

using namespace std::string_view_literals;

constexpr VideoProfile kHevcProfiles[] = {VideoProfile::HevcMain, VideoProfile::HevcMain10};
constexpr VideoProfile kProResProfiles[] = {VideoProfile::ProResHq, VideoProfile::ProRes4444};
constexpr VideoProfile kHapProfiles[] = {VideoProfile::Hap, VideoProfile::HapAlpha, VideoProfile::HapQ};

constexpr std::string_view kH264Containers[] = {".avi"sv, ".mov"sv, ".mp4"sv};
constexpr std::string_view kHevcContainers[] = {".mov"sv, ".mp4"sv};
constexpr std::string_view kMovOnly[] = {".mov"sv};
constexpr std::string_view kFfv1Containers[] = {".mkv"sv, ".mov"sv};
constexpr std::string_view kAllContainers[] = {".avi"sv, ".mov"sv, ".mp4"sv, ".mkv"sv};

// "a", "a or b", "a, b or c".
std::string JoinOr(const std::vector<std::string>& words)
{
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            text += i + 1 == words.size() ? " or " : ", ";
        }
        text += words[i];
    }
    return text;
}

// 262144 -> "262,144".
std::string Grouped(std::int64_t value)
{
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > (digits[0] == '-' ? 1 : 0); at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return digits;
}

std::string SizeText(std::int64_t width, std::int64_t height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

std::vector<std::string> Titles(std::span<const VideoCodec> codecs)
{
    std::vector<std::string> titles;
    for (VideoCodec codec : codecs) {
        titles.emplace_back(CodecTitle(codec));
    }
    return titles;
}

bool Divides(int multiple, std::int64_t width, std::int64_t height)
{
    return width % multiple == 0 && height % multiple == 0;
}

// The delivery codecs that take this size without the H.264 limits.
std::string LargeFrameCodecs(std::int64_t width, std::int64_t height)
{
    std::vector<VideoCodec> codecs;
    for (VideoCodec codec : {VideoCodec::Hevc, VideoCodec::ProRes, VideoCodec::Hap}) {
        if (Divides(RequiredSideMultiple(codec), width, height)) {
            codecs.push_back(codec);
        }
    }
    return JoinOr(Titles(codecs));
}

std::string SideRefusal(const VideoTarget& target, int multiple)
{
    const std::int64_t w = target.width;
    const std::int64_t h = target.height;
    auto down = [multiple](std::int64_t side) { return side / multiple * multiple; };
    auto up = [multiple](std::int64_t side) { return (side + multiple - 1) / multiple * multiple; };
    std::string sizes = SizeText(up(w), up(h));
    if (down(w) > 0 && down(h) > 0) {
        sizes = SizeText(down(w), down(h)) + " or " + sizes;
    }
    const std::string codec(CodecTitle(target.stream.codec));
    const std::string why = multiple == 2 ? codec + " stores colour at half resolution and needs an even width and height"
                                          : codec + " compresses blocks of 4 x 4 pixels and needs a width and height "
                                                    "divisible by 4";
    return why + "; " + SizeText(w, h) + " is not. Use " + sizes + ", or ProRes or FFV1, which take any size.";
}

std::optional<std::string> CheckH264Limits(const VideoTarget& target)
{
    const std::int64_t columns = (target.width + 15) / 16;
    const std::int64_t rows = (target.height + 15) / 16;
    const std::int64_t perFrame = columns * rows;
    const std::string size = SizeText(target.width, target.height);
    const std::string others = LargeFrameCodecs(target.width, target.height);
    if (perFrame > kH264MaxFrameMacroblocks) {
        return "H.264 cannot carry " + size + " pixels: that is " + Grouped(perFrame) +
               " macroblocks a frame, and its highest level (6.2) allows " + Grouped(kH264MaxFrameMacroblocks) +
               ". Choose " + others + ".";
    }
    if (std::max(columns, rows) > kH264MaxSideMacroblocks) {
        return "H.264 cannot carry " + size + " pixels: a side of " + Grouped(std::max(columns, rows)) +
               " macroblocks is more than its highest level (6.2) allows (" + Grouped(kH264MaxSideMacroblocks) +
               "). Choose " + others + ".";
    }
    // Compared as fractions: macroblocks x num / den against the limit.
    const FrameRate rate = target.rate;
    if (perFrame * rate.num > kH264MaxMacroblockRate * rate.den) {
        const std::int64_t fastest = kH264MaxMacroblockRate / perFrame;
        return "H.264 cannot carry " + size + " pixels at " + FrameRateText(rate) + " frames a second: that is " +
               Grouped(perFrame * rate.num / rate.den) + " macroblocks a second, and its highest level (6.2) allows " +
               Grouped(kH264MaxMacroblockRate) + ". Choose a rate of at most " + std::to_string(fastest) +
               " frames a second, or " + others + ".";
    }
    return std::nullopt;
}

}  // namespace

std::string_view CodecName(VideoCodec codec)
{
    switch (codec) {
    case VideoCodec::H264: return "h264";
    case VideoCodec::Hevc: return "hevc";
    case VideoCodec::ProRes: return "prores";
    case VideoCodec::Hap: return "hap";
    case VideoCodec::Ffv1: return "ffv1";
    }
    return {};
}

std::string_view CodecTitle(VideoCodec codec)
{
    switch (codec) {
    case VideoCodec::H264: return "H.264";
    case VideoCodec::Hevc: return "HEVC";
    case VideoCodec::ProRes: return "ProRes";
    case VideoCodec::Hap: return "HAP";
    case VideoCodec::Ffv1: return "FFV1";
    }
    return {};
}

std::optional<VideoCodec> ParseVideoCodec(std::string_view name)
{
    for (VideoCodec codec : kVideoCodecs) {
        if (CodecName(codec) == name) {
            return codec;
        }
    }
    return std::nullopt;
}

std::span<const VideoProfile> ProfilesOf(VideoCodec codec)
{
    switch (codec) {
    case VideoCodec::Hevc: return kHevcProfiles;
    case VideoCodec::ProRes: return kProResProfiles;
    case VideoCodec::Hap: return kHapProfiles;
    case VideoCodec::H264:
    case VideoCodec::Ffv1: break;
    }
    return {};
}

std::string_view ProfileName(VideoProfile profile)
{
    switch (profile) {
    case VideoProfile::Automatic: return "auto";
    case VideoProfile::HevcMain: return "main";
    case VideoProfile::HevcMain10: return "main10";
    case VideoProfile::ProResHq: return "hq";
    case VideoProfile::ProRes4444: return "4444";
    case VideoProfile::Hap: return "hap";
    case VideoProfile::HapAlpha: return "alpha";
    case VideoProfile::HapQ: return "q";
    }
    return {};
}

std::string_view ProfileTitle(VideoProfile profile)
{
    switch (profile) {
    case VideoProfile::Automatic: return "Automatic";
    case VideoProfile::HevcMain: return "Main";
    case VideoProfile::HevcMain10: return "Main 10";
    case VideoProfile::ProResHq: return "422 HQ";
    case VideoProfile::ProRes4444: return "4444";
    case VideoProfile::Hap: return "HAP";
    case VideoProfile::HapAlpha: return "HAP Alpha";
    case VideoProfile::HapQ: return "HAP Q";
    }
    return {};
}

std::optional<VideoProfile> ParseVideoProfile(VideoCodec codec, std::string_view name)
{
    for (VideoProfile profile : ProfilesOf(codec)) {
        if (ProfileName(profile) == name) {
            return profile;
        }
    }
    return std::nullopt;
}

std::string UnknownProfileText(VideoCodec codec, std::string_view name)
{
    const std::string title(CodecTitle(codec));
    const std::span<const VideoProfile> profiles = ProfilesOf(codec);
    if (profiles.empty()) {
        return title + " has no profiles to choose from; leave the profile out.";
    }
    std::vector<std::string> names;
    for (VideoProfile profile : profiles) {
        names.emplace_back(ProfileName(profile));
    }
    return "\"" + std::string(name) + "\" is no profile of " + title + "; it has " + JoinOr(names) + ".";
}

VideoProfile ResolvedProfile(const VideoStream& stream)
{
    if (stream.profile != VideoProfile::Automatic) {
        return stream.profile;
    }
    switch (stream.codec) {
    case VideoCodec::Hevc: return VideoProfile::HevcMain;
    case VideoCodec::ProRes: return stream.alpha ? VideoProfile::ProRes4444 : VideoProfile::ProResHq;
    case VideoCodec::Hap: return stream.alpha ? VideoProfile::HapAlpha : VideoProfile::Hap;
    case VideoCodec::H264:
    case VideoCodec::Ffv1: break;
    }
    return VideoProfile::Automatic;
}

std::string StreamTitle(const VideoStream& stream)
{
    const VideoProfile profile = ResolvedProfile(stream);
    if (profile == VideoProfile::Automatic) {
        return std::string(CodecTitle(stream.codec));
    }
    if (stream.codec == VideoCodec::Hap) {
        return std::string(ProfileTitle(profile));  // "HAP Q" names the codec already
    }
    return std::string(CodecTitle(stream.codec)) + " " + std::string(ProfileTitle(profile));
}

std::span<const std::string_view> ContainersOf(VideoCodec codec)
{
    switch (codec) {
    case VideoCodec::H264: return kH264Containers;
    case VideoCodec::Hevc: return kHevcContainers;
    case VideoCodec::ProRes:
    case VideoCodec::Hap: return kMovOnly;
    case VideoCodec::Ffv1: return kFfv1Containers;
    }
    return {};
}

bool IsVideoContainer(std::string_view lowerExtension)
{
    return std::find(std::begin(kAllContainers), std::end(kAllContainers), lowerExtension) != std::end(kAllContainers);
}

std::string LowerVideoExtension(std::string_view path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    std::string extension(name.substr(dot));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

int StreamBitDepth(const VideoStream& stream)
{
    const VideoProfile profile = ResolvedProfile(stream);
    return profile == VideoProfile::HevcMain10 || stream.codec == VideoCodec::ProRes ? 10 : 8;
}

bool StreamCarriesAlpha(const VideoStream& stream)
{
    const VideoProfile profile = ResolvedProfile(stream);
    if (profile == VideoProfile::HapAlpha) {
        return true;  // choosing HAP Alpha is asking for alpha
    }
    return stream.alpha && (profile == VideoProfile::ProRes4444 || stream.codec == VideoCodec::Ffv1);
}

bool TakesTwoPasses(VideoCodec codec)
{
    return codec == VideoCodec::H264 || codec == VideoCodec::Hevc;
}

int RequiredSideMultiple(VideoCodec codec)
{
    switch (codec) {
    case VideoCodec::H264:
    case VideoCodec::Hevc: return 2;
    case VideoCodec::Hap: return 4;
    case VideoCodec::ProRes:
    case VideoCodec::Ffv1: break;
    }
    return 1;
}

std::optional<std::string> CheckVideoTarget(const VideoTarget& target)
{
    const VideoStream& stream = target.stream;
    const std::string codec(CodecTitle(stream.codec));
    if (stream.profile != VideoProfile::Automatic) {
        const std::span<const VideoProfile> profiles = ProfilesOf(stream.codec);
        if (std::find(profiles.begin(), profiles.end(), stream.profile) == profiles.end()) {
            return UnknownProfileText(stream.codec, ProfileName(stream.profile));
        }
    }

    const std::span<const std::string_view> containers = ContainersOf(stream.codec);
    std::vector<std::string> carriers(containers.begin(), containers.end());
    if (!IsVideoContainer(target.extension)) {
        return "A video file name must end in .avi, .mov, .mp4 or .mkv; " + codec + " is written into " +
               JoinOr(carriers) + " files.";
    }
    if (std::find(containers.begin(), containers.end(), target.extension) == containers.end()) {
        std::vector<VideoCodec> carried;
        for (VideoCodec other : kVideoCodecs) {
            const std::span<const std::string_view> its = ContainersOf(other);
            if (std::find(its.begin(), its.end(), target.extension) != its.end()) {
                carried.push_back(other);
            }
        }
        return "A " + target.extension + " file cannot carry " + codec + ": " + codec + " is written into " +
               JoinOr(carriers) + " files, and " + target.extension + " files carry " + JoinOr(Titles(carried)) + ".";
    }

    if (stream.alpha && !StreamCarriesAlpha(stream)) {
        return StreamTitle(stream) + " has no alpha channel; ProRes 4444, HAP Alpha and FFV1 keep alpha.";
    }

    if (const int multiple = RequiredSideMultiple(stream.codec);
        !Divides(multiple, target.width, target.height)) {
        return SideRefusal(target, multiple);
    }

    if (stream.codec == VideoCodec::Hevc && std::min(target.width, target.height) < kHevcMinSide) {
        return "The HEVC encoder needs frames of at least " + SizeText(kHevcMinSide, kHevcMinSide) + " pixels; " +
               SizeText(target.width, target.height) + " is smaller. Use H.264, ProRes or FFV1 for frames this small.";
    }

    if (!target.rate.IsPositive() || target.rate.PerSecond() > kMaxVideoFrameRate) {
        return "A video's frame rate must be above 0 and at most " + std::to_string(static_cast<int>(kMaxVideoFrameRate)) +
               " frames a second; " + FrameRateText(target.rate) + " is not.";
    }

    if (stream.codec == VideoCodec::H264) {
        return CheckH264Limits(target);
    }
    return std::nullopt;
}

}  // namespace skelvane
