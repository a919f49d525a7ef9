// Which video streams the program writes, what each can carry, and the
// checks that refuse a stream before any frame is rendered.
//
// | codec  | profiles (first = default)     | pixels                        | containers       |
// |--------|--------------------------------|-------------------------------|------------------|
// | H.264  | (the encoder's own)            | 8-bit 4:2:0                   | .avi .mov .mp4   |
// | HEVC   | Main, Main 10                  | 8- or 10-bit 4:2:0            | .mov .mp4        |
// | ProRes | 422 HQ, 4444 (alpha if asked)  | 10-bit 4:2:2, 4:4:4(:4)       | .mov             |
// | HAP    | HAP, HAP Alpha, HAP Q          | DXT1, DXT5, YCoCg-DXT5        | .mov             |
// | FFV1   | (one)                          | lossless 8-bit RGB(A)         | .mkv .mov        |
//
// YUV streams are BT.709 in limited range, as players expect them; RGB
// streams (HAP, FFV1) are BT.709 in full range. Alpha is written only when
// asked for, and only by the streams that have it (ProRes 4444, HAP Alpha,
// FFV1).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pano2dome/FrameRate.h"

namespace skelvane {

enum class VideoCodec { H264, Hevc, ProRes, Hap, Ffv1 };

// Automatic is the codec's default: HEVC Main, ProRes 422 HQ (4444 with
// alpha), HAP (HAP Alpha with alpha); H.264 and FFV1 have nothing to choose.
enum class VideoProfile { Automatic, HevcMain, HevcMain10, ProResHq, ProRes4444, Hap, HapAlpha, HapQ };

struct VideoStream {
    VideoCodec codec = VideoCodec::H264;
    VideoProfile profile = VideoProfile::Automatic;
    bool alpha = false;  // keep the frames' alpha channel
};

inline constexpr VideoCodec kVideoCodecs[] = {VideoCodec::H264, VideoCodec::Hevc, VideoCodec::ProRes,
                                              VideoCodec::Hap, VideoCodec::Ffv1};

// Command-line names ("h264", "hevc", "prores", "hap", "ffv1") and the names
// people read ("H.264", "HEVC", "ProRes", "HAP", "FFV1").
std::string_view CodecName(VideoCodec codec);
std::string_view CodecTitle(VideoCodec codec);
std::optional<VideoCodec> ParseVideoCodec(std::string_view name);

// The profiles one can choose for `codec`, default first (empty for H.264
// and FFV1), their command-line names ("main", "main10", "hq", "4444",
// "hap", "alpha", "q") and titles ("Main 10", "4444", "HAP Q", ...).
std::span<const VideoProfile> ProfilesOf(VideoCodec codec);
std::string_view ProfileName(VideoProfile profile);
std::string_view ProfileTitle(VideoProfile profile);
// Nothing when `name` is no profile of `codec`.
std::optional<VideoProfile> ParseVideoProfile(VideoCodec codec, std::string_view name);
// Why `name` is no profile of `codec`, naming the ones it has.
std::string UnknownProfileText(VideoCodec codec, std::string_view name);

// The profile a stream is written with: Automatic resolved, the alpha wish
// choosing the default (ProRes 4444, HAP Alpha) when no profile was named.
VideoProfile ResolvedProfile(const VideoStream& stream);
// "HEVC Main 10", "ProRes 4444", "HAP Q", "H.264".
std::string StreamTitle(const VideoStream& stream);

// The file name extensions (lower case, with the dot) of the containers that
// carry `codec`, the preferred first.
std::span<const std::string_view> ContainersOf(VideoCodec codec);
bool IsVideoContainer(std::string_view lowerExtension);
// The extension of `path` in lower case, with the dot.
std::string LowerVideoExtension(std::string_view path);

// Stream pixels: 10 for HEVC Main 10 and ProRes, else 8.
int StreamBitDepth(const VideoStream& stream);
// HAP Alpha always; ProRes 4444 and FFV1 when alpha is asked for.
bool StreamCarriesAlpha(const VideoStream& stream);
// Whether a first pass's statistics can spread the bits (x264, x265); the
// other codecs ignore a two-pass wish.
bool TakesTwoPasses(VideoCodec codec);
// 4:2:0 streams need even sides, HAP's 4 x 4 texture blocks sides divisible
// by 4; ProRes and FFV1 take any size.
int RequiredSideMultiple(VideoCodec codec);

// The HEVC encoder (x265 3.5) writes past the end of its own lookahead
// buffers on frames narrower than 50 pixels; one coding tree block (64) is
// the least it is given.
inline constexpr std::int64_t kHevcMinSide = 64;

// H.264's largest level (6.2) allows 139,264 macroblocks a frame, sides of
// at most 1,055 macroblocks and 16,711,680 macroblocks a second.
inline constexpr std::int64_t kH264MaxFrameMacroblocks = 139'264;
inline constexpr std::int64_t kH264MaxSideMacroblocks = 1'055;
inline constexpr std::int64_t kH264MaxMacroblockRate = 16'711'680;
// Above this no encoder here keeps up, and containers' time bases get coarse.
inline constexpr double kMaxVideoFrameRate = 1000.0;

struct VideoTarget {
    VideoStream stream;
    std::string extension;  // of the output file, lower case with the dot
    std::int64_t width = 0;
    std::int64_t height = 0;
    FrameRate rate;
};

// The first reason why `target` cannot be written, saying why and naming a
// codec, profile, container or size that can: the container, the profile's
// alpha, the sides the codec needs, then H.264's frame size and macroblock
// rate, HEVC's smallest frame. Nothing when the stream can be written. Sizes and the rate are
// assumed to be within the image limit and positive (the callers' own
// checks come first).
std::optional<std::string> CheckVideoTarget(const VideoTarget& target);

}  // namespace skelvane
