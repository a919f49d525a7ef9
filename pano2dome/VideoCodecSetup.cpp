#include "pano2dome/VideoCodecSetup.h"

#include <algorithm>
#include <cstdio>

#include "pano2dome/VideoEncoder.h"

namespace skelvane {

double QualityToRateFactor(int quality)
{
    const int q = std::clamp(quality, CVideoEncoder::kBestQuality, CVideoEncoder::kLeastQuality);
    return 12.0 + (q - 1) * 39.0 / 41.0;
}
namespace {

// Values inside x265's ":"-separated parameter list: a folder of the
// statistics file may hold any of these.
std::string EscapedParameter(const std::string& value)
{
    std::string escaped;
    for (char c : value) {
        if (c == ':' || c == '=' || c == '\\' || c == '\'') {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

void AppendParameter(std::string& list, const std::string& parameter)
{
    if (!list.empty()) {
        list += ':';
    }
    list += parameter;
}

std::string KeyFrameGrid(int every)
{
    // A fixed grid of key frames: no extra ones at scene cuts.
    return "keyint=" + std::to_string(every) + ":min-keyint=" + std::to_string(every) + ":scenecut=0";
}

std::string RateFactorText(int quality)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", QualityToRateFactor(quality));
    return text;
}

void ConfigureH264(const PassSetup& setup, AVCodecContext& c, AVDictionary** options)
{
    if (setup.passCount == 2) {
        av_dict_set(options, "stats", setup.statsFile.c_str(), 0);
    }
    if (setup.pass == 0) {
        av_dict_set(options, "crf", RateFactorText(setup.quality).c_str(), 0);
        if (setup.passCount == 2) {
            c.flags |= AV_CODEC_FLAG_PASS1;
        }
    } else {
        c.flags |= AV_CODEC_FLAG_PASS2;
        c.bit_rate = setup.bitRate;
    }
    if (setup.keyFrameEvery > 0) {
        av_dict_set(options, "x264-params", KeyFrameGrid(setup.keyFrameEvery).c_str(), 0);
    }
}

// x265 takes the same rate factor scale as x264. Its passes and threads are
// asked through its own parameter list: the FFmpeg wrapper passes neither the
// pass flags nor a thread limit on.
void ConfigureHevc(const VideoStream& stream, const PassSetup& setup, AVCodecContext& c, AVDictionary** options)
{
    av_dict_set(options, "profile", ResolvedProfile(stream) == VideoProfile::HevcMain10 ? "main10" : "main", 0);
    std::string parameters;
    if (setup.quiet) {
        AppendParameter(parameters, "log-level=error");  // x265 writes to the error stream itself
    }
    // Closed GOPs, as H.264 has them: a player that seeks or loops to a key
    // frame can show every frame after it.
    AppendParameter(parameters, "open-gop=0");
    if (setup.keyFrameEvery > 0) {
        AppendParameter(parameters, KeyFrameGrid(setup.keyFrameEvery));
    }
    if (setup.passCount == 2) {
        AppendParameter(parameters, "pass=" + std::to_string(setup.pass + 1));
        AppendParameter(parameters, "stats=" + EscapedParameter(setup.statsFile));
    }
    if (setup.threads > 0) {
        AppendParameter(parameters, "pools=" + std::to_string(setup.threads));
    }
    av_dict_set(options, "x265-params", parameters.c_str(), 0);
    if (setup.pass == 0) {
        av_dict_set(options, "crf", RateFactorText(setup.quality).c_str(), 0);
    } else {
        c.bit_rate = setup.bitRate;  // without a rate factor the wrapper asks x265 for this average
    }
}

void ConfigureProRes(const VideoStream& stream, AVCodecContext& c, AVDictionary** options)
{
    // prores_ks numbers its profiles: 3 is 422 HQ, 4 is 4444.
    av_dict_set(options, "profile", ResolvedProfile(stream) == VideoProfile::ProRes4444 ? "4" : "3", 0);
    c.thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
}

void ConfigureHap(const VideoStream& stream, const PassSetup& setup, AVCodecContext& c, AVDictionary** options)
{
    const VideoProfile profile = ResolvedProfile(stream);
    av_dict_set(options, "format",
                profile == VideoProfile::HapAlpha ? "hap_alpha" : profile == VideoProfile::HapQ ? "hap_q" : "hap", 0);
    av_dict_set_int(options, "chunks", HapChunkCount(setup.width, setup.height, profile), 0);
    c.thread_type = FF_THREAD_SLICE;
}

// FFV1 version 3 with checksummed slices: a damaged archive copy names the
// slice that broke, and the slices decode on several cores.
void ConfigureFfv1(const PassSetup& setup, AVCodecContext& c, AVDictionary** options)
{
    c.level = 3;
    c.slices = std::min(setup.width, setup.height) >= 1024 ? 16 : 4;
    av_dict_set(options, "slicecrc", "1", 0);
    if (setup.keyFrameEvery > 0) {
        c.gop_size = setup.keyFrameEvery;  // how often the coder's contexts start afresh
    }
    c.thread_type = FF_THREAD_SLICE;
}

}  // namespace

EncoderChoice ChooseEncoder(const VideoStream& stream)
{
    const bool alpha = StreamCarriesAlpha(stream);
    switch (stream.codec) {
    case VideoCodec::H264: return {"libx264", AV_PIX_FMT_YUV420P, false};
    case VideoCodec::Hevc:
        return {"libx265", StreamBitDepth(stream) == 10 ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P, false};
    case VideoCodec::ProRes:
        if (ResolvedProfile(stream) == VideoProfile::ProRes4444) {
            return {"prores_ks", alpha ? AV_PIX_FMT_YUVA444P10LE : AV_PIX_FMT_YUV444P10LE, false};
        }
        return {"prores_ks", AV_PIX_FMT_YUV422P10LE, false};
    case VideoCodec::Hap: return {"hap", AV_PIX_FMT_RGBA, true};
    case VideoCodec::Ffv1: return {"ffv1", alpha ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR0, true};
    }
    return {};
}

void ConfigureEncoder(const VideoStream& stream, const PassSetup& setup, AVCodecContext& c, AVDictionary** options)
{
    const EncoderChoice choice = ChooseEncoder(stream);
    c.width = setup.width;
    c.height = setup.height;
    c.sample_aspect_ratio = AVRational{1, 1};
    c.pix_fmt = choice.pixelFormat;
    c.time_base = av_inv_q(setup.rate);
    c.framerate = setup.rate;
    c.color_primaries = AVCOL_PRI_BT709;
    c.color_trc = AVCOL_TRC_BT709;
    c.colorspace = choice.rgb ? AVCOL_SPC_RGB : AVCOL_SPC_BT709;
    c.color_range = choice.rgb ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    c.thread_count = setup.threads;
    switch (stream.codec) {
    case VideoCodec::H264: ConfigureH264(setup, c, options); break;
    case VideoCodec::Hevc: ConfigureHevc(stream, setup, c, options); break;
    case VideoCodec::ProRes: ConfigureProRes(stream, c, options); break;
    case VideoCodec::Hap: ConfigureHap(stream, setup, c, options); break;
    case VideoCodec::Ffv1: ConfigureFfv1(setup, c, options); break;
    }
}

int HapChunkCount(int width, int height, VideoProfile profile)
{
    // DXT1 (HAP) stores a 4 x 4 block in 8 bytes, DXT5 (Alpha, Q) in 16.
    const std::int64_t blockBytes = profile == VideoProfile::Hap ? 8 : 16;
    const std::int64_t textureBytes = std::int64_t{width / 4} * (height / 4) * blockBytes;
    return static_cast<int>(std::clamp<std::int64_t>(textureBytes / (512 * 1024), 1, 64));
}

}  // namespace skelvane
