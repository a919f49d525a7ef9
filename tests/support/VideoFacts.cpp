#include "support/VideoFacts.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace skelvane::test {

std::optional<VideoFacts> ReadVideo(const std::filesystem::path& path, const std::function<void(const AVFrame&)>& onFrame)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        return std::nullopt;
    }
    std::optional<VideoFacts> facts;
    const int index = avformat_find_stream_info(format, nullptr) >= 0
                          ? av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                          : -1;
    const AVCodec* codec = index >= 0 ? avcodec_find_decoder(format->streams[index]->codecpar->codec_id) : nullptr;
    AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (decoder && avcodec_parameters_to_context(decoder, format->streams[index]->codecpar) >= 0 &&
        avcodec_open2(decoder, codec, nullptr) >= 0) {
        const AVStream& stream = *format->streams[index];
        const AVCodecParameters& parameters = *stream.codecpar;
        facts.emplace();
        facts->container = format->iformat->name;
        facts->codec = codec->name;
        facts->width = parameters.width;
        facts->height = parameters.height;
        facts->frameRate = stream.avg_frame_rate;
        const char* profile = avcodec_profile_name(parameters.codec_id, parameters.profile);
        facts->profile = profile ? profile : "";
        facts->level = parameters.level;
        char tag[AV_FOURCC_MAX_STRING_SIZE] = {};
        av_fourcc_make_string(tag, parameters.codec_tag);
        facts->codecTag = tag;

        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        auto drain = [&] {
            while (avcodec_receive_frame(decoder, frame) >= 0) {
                if (facts->frames++ == 0) {
                    facts->pixelFormat = static_cast<AVPixelFormat>(frame->format);
                    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(facts->pixelFormat);
                    facts->hasAlpha = descriptor && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA);
                    facts->primaries = frame->color_primaries;
                    facts->transfer = frame->color_trc;
                    facts->matrix = frame->colorspace;
                    facts->range = frame->color_range;
                }
                if (onFrame) {
                    onFrame(*frame);
                }
            }
        };
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == index && avcodec_send_packet(decoder, packet) >= 0) {
                drain();
            }
            av_packet_unref(packet);
        }
        avcodec_send_packet(decoder, nullptr);
        drain();
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return facts;
}

}  // namespace skelvane::test
