// The video library's one pass (pano2dome/VideoLibrary.h), on FFmpeg:
//  1. One pass = one encoder (pano2dome/VideoCodecSetup.h says which, with
//     which options) and one muxer on the file the core created. Frames
//     arrive as BGR(A) rows; swscale turns them into the stream's pixels
//     (BT.709 limited-range YUV, or RGB(A) for HAP and FFV1), the encoder's
//     packets go straight to the muxer.
//  2. QuickTime and MP4 get their index at the front, so players can start
//     before the whole file has arrived.
//  3. The libraries explain their failures only in log lines; the last error
//     line of the thread is added to the reason a call gives.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/jobs/MessageReporter.h"
#include "pano2dome/DecodeTimeCheck.h"
#include "pano2dome/VideoCodecSetup.h"
#include "pano2dome/VideoLibrary.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace skelvane {
namespace fs = std::filesystem;

namespace {

thread_local std::string t_lastLibraryError;

void CaptureLibraryLog(void* context, int level, const char* format, va_list arguments)
{
    if (level <= AV_LOG_ERROR) {
        va_list copy;
        va_copy(copy, arguments);
        char line[512];
        int printPrefix = 0;
        av_log_format_line2(nullptr, level, format, copy, line, sizeof line, &printPrefix);
        va_end(copy);
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
            text.pop_back();
        }
        t_lastLibraryError = std::move(text);
    }
    av_log_default_callback(context, level, format, arguments);
}

void InstallLogCapture()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(&CaptureLibraryLog); });
}

std::string LibraryReason(const std::string& what, int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    std::string reason = what + ": " + text;
    if (!t_lastLibraryError.empty()) {
        reason += " (" + t_lastLibraryError + ")";
    }
    return reason;
}

AVPixelFormat InputFormat(int bitCount)
{
    switch (bitCount) {
    case 24: return AV_PIX_FMT_BGR24;
    case 32: return AV_PIX_FMT_BGRA;
    case 64: return AV_PIX_FMT_BGRA64LE;
    default: return AV_PIX_FMT_NONE;
    }
}

// swscale and the encoder keep no pointer to a frame's rows after a call, so
// the caller's rows are lent to them without a copy.
void KeepCallerRows(void*, std::uint8_t*) {}

// swscale's vector loops read a row in blocks of up to this many bytes and,
// on rows narrower than one block, past the row's end: past the caller's
// block on the last row. Such rows are copied into padded ones first.
constexpr int kSafeRowBytes = 64;

class FfmpegPassWriter final : public IVideoPassWriter {
public:
    ~FfmpegPassWriter() override
    {
        ClosePassOutput();
        sws_freeContext(m_scaler);
        av_frame_free(&m_picture);
        av_frame_free(&m_source);
        av_packet_free(&m_packet);
    }

    std::string Open(const VideoPassRequest& request);
    std::string AddRows(int width, int height, int bitCount, const std::uint8_t* topRow, std::ptrdiff_t rowStep,
                        std::int64_t index) override;
    std::string Drain() override;
    std::int64_t CodedBytes() const override { return m_packetBytes; }
    std::string Finish() override;

private:
    void ClosePassOutput();
    std::string WritePackets(bool draining);

    fs::path m_target;
    EncoderChoice m_choice;
    std::string m_encoderTitle;  // "the HEVC encoder"
    int m_threads = 0;

    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    AVStream* m_stream = nullptr;
    AVFrame* m_picture = nullptr;  // the converted frame handed to the encoder
    AVFrame* m_source = nullptr;   // the caller's rows, lent for one conversion
    AVPacket* m_packet = nullptr;
    SwsContext* m_scaler = nullptr;
    AVPixelFormat m_scalerInput = AV_PIX_FMT_NONE;
    std::int64_t m_packetBytes = 0;
    std::int64_t m_framesSent = 0;
    DecodeTimeCheck m_decodeTimes;
    std::vector<std::uint8_t> m_paddedRows;  // narrow frames, copied (kSafeRowBytes)
};

// Frees the encoder and the muxer without finishing the file.
void FfmpegPassWriter::ClosePassOutput()
{
    avcodec_free_context(&m_codec);
    if (m_format) {
        if (m_format->pb) {
            avio_closep(&m_format->pb);
        }
        avformat_free_context(m_format);
        m_format = nullptr;
    }
    m_stream = nullptr;
}

// Writes every packet the encoder has ready. Empty string when all went to
// the file; at the end of the stream `draining` accepts the encoder's
// end-of-file answer.
std::string FfmpegPassWriter::WritePackets(bool draining)
{
    for (;;) {
        t_lastLibraryError.clear();
        int result = avcodec_receive_packet(m_codec, m_packet);
        if (result == AVERROR(EAGAIN) || (draining && result == AVERROR_EOF)) {
            return {};
        }
        if (result < 0) {
            return LibraryReason(m_encoderTitle + " failed", result);
        }
        m_packetBytes += m_packet->size;
        // Both in frames until rescaled: the encoder counts in frames.
        if (m_packet->pts != AV_NOPTS_VALUE && m_packet->dts != AV_NOPTS_VALUE) {
            m_packet->dts = m_decodeTimes.Next(m_packet->pts, m_packet->dts, m_framesSent);
        }
        av_packet_rescale_ts(m_packet, m_codec->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        result = av_interleaved_write_frame(m_format, m_packet);
        if (result < 0) {
            return LibraryReason("cannot write " + m_target.string(), result);
        }
        if (m_format->pb->error < 0) {
            return LibraryReason("cannot write " + m_target.string(), m_format->pb->error);
        }
    }
}

std::string FfmpegPassWriter::Open(const VideoPassRequest& request)
{
    InstallLogCapture();
    m_target = request.target;
    m_choice = ChooseEncoder(request.stream);
    m_encoderTitle = "the " + StreamTitle(request.stream) + " encoder";
    m_threads = request.threads;
    const AVRational rate{static_cast<int>(request.rate.num), static_cast<int>(request.rate.den)};
    m_picture = av_frame_alloc();
    m_source = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_picture || !m_source || !m_packet) {
        return kOutOfMemoryText;
    }
    m_picture->format = m_choice.pixelFormat;
    m_picture->width = request.width;
    m_picture->height = request.height;
    m_picture->color_range = m_choice.rgb ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    m_picture->colorspace = m_choice.rgb ? AVCOL_SPC_RGB : AVCOL_SPC_BT709;
    m_picture->color_primaries = AVCOL_PRI_BT709;
    m_picture->color_trc = AVCOL_TRC_BT709;
    if (int result = av_frame_get_buffer(m_picture, 0); result < 0) {
        return LibraryReason("cannot hold a video frame", result);
    }

    const std::string url = "file:" + request.file.string();
    t_lastLibraryError.clear();
    int result = avformat_alloc_output_context2(&m_format, nullptr, request.container.c_str(), url.c_str());
    if (result < 0 || !m_format) {
        return LibraryReason("cannot start a " + request.container + " container", result);
    }

    const AVCodec* encoder = avcodec_find_encoder_by_name(m_choice.encoderName);
    if (!encoder) {
        return "this FFmpeg build has no " + std::string(m_choice.encoderName) + " encoder";
    }
    m_codec = avcodec_alloc_context3(encoder);
    if (!m_codec) {
        return kOutOfMemoryText;
    }
    AVCodecContext& c = *m_codec;
    PassSetup setup;
    setup.width = request.width;
    setup.height = request.height;
    setup.rate = rate;
    setup.quality = request.quality;
    setup.keyFrameEvery = request.keyFrameEvery;
    setup.threads = request.threads;
    setup.pass = request.pass;
    setup.passCount = request.passCount;
    setup.statsFile = request.passCount == 2
                          ? (request.statsFolder / (std::string(m_choice.encoderName) + "-passes.log")).string()
                          : std::string();
    setup.bitRate = request.bitRate;
    setup.quiet = av_log_get_level() < AV_LOG_INFO;
    AVDictionary* options = nullptr;
    ConfigureEncoder(request.stream, setup, c, &options);
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER) {
        c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    t_lastLibraryError.clear();
    result = avcodec_open2(m_codec, encoder, &options);
    const bool optionsLeft = av_dict_count(options) > 0;
    av_dict_free(&options);
    if (result < 0) {
        return LibraryReason("cannot start " + m_encoderTitle, result);
    }
    if (optionsLeft) {
        return m_encoderTitle + " does not know every option it was given";
    }

    m_stream = avformat_new_stream(m_format, nullptr);
    if (!m_stream) {
        return kOutOfMemoryText;
    }
    m_stream->time_base = c.time_base;
    m_stream->avg_frame_rate = rate;
    m_stream->r_frame_rate = rate;
    result = avcodec_parameters_from_context(m_stream->codecpar, m_codec);
    if (result < 0) {
        return LibraryReason("cannot describe the video stream", result);
    }
    if (request.stream.codec == VideoCodec::Hevc) {
        // "hvc1": the parameter sets live in the sample description, as the
        // players of QuickTime and MP4 files want them.
        m_stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    }

    t_lastLibraryError.clear();
    result = avio_open2(&m_format->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
    if (result < 0) {
        return LibraryReason("cannot create a video file in " + m_target.parent_path().string(), result);
    }
    AVDictionary* muxerOptions = nullptr;
    if (request.container == "mov" || request.container == "mp4") {
        av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
    }
    t_lastLibraryError.clear();
    result = avformat_write_header(m_format, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (result < 0) {
        return LibraryReason("cannot write " + m_target.string(), result);
    }
    return {};
}

std::string FfmpegPassWriter::AddRows(int width, int height, int bitCount, const std::uint8_t* topRow,
                                      std::ptrdiff_t rowStep, std::int64_t index)
{
    const AVPixelFormat input = InputFormat(bitCount);
    if (m_scalerInput != input) {
        sws_freeContext(m_scaler);
        m_scalerInput = AV_PIX_FMT_NONE;
        m_scaler = sws_alloc_context();
        if (!m_scaler) {
            return kOutOfMemoryText;
        }
        av_opt_set_int(m_scaler, "srcw", width, 0);
        av_opt_set_int(m_scaler, "srch", height, 0);
        av_opt_set_int(m_scaler, "src_format", input, 0);
        av_opt_set_int(m_scaler, "dstw", width, 0);
        av_opt_set_int(m_scaler, "dsth", height, 0);
        av_opt_set_int(m_scaler, "dst_format", m_choice.pixelFormat, 0);
        av_opt_set_int(m_scaler, "sws_flags", SWS_BILINEAR | SWS_ACCURATE_RND, 0);
        av_opt_set_int(m_scaler, "threads", m_threads, 0);
        t_lastLibraryError.clear();
        if (int result = sws_init_context(m_scaler, nullptr, nullptr); result < 0) {
            return LibraryReason("cannot set up the colour conversion", result);
        }
        if (!m_choice.rgb) {
            // Full-range RGB in, BT.709 limited-range YUV out, as the stream is tagged.
            const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
            sws_setColorspaceDetails(m_scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
        }
        m_scalerInput = input;
    }

    t_lastLibraryError.clear();
    if (int result = av_frame_make_writable(m_picture); result < 0) {
        return LibraryReason("cannot hold a video frame", result);
    }
    const int bytesPerPixel = bitCount / 8;
    const std::ptrdiff_t rowBytes = std::ptrdiff_t{width} * bytesPerPixel;
    if (rowBytes < kSafeRowBytes) {
        m_paddedRows.assign(static_cast<std::size_t>(2 * kSafeRowBytes) * (height + 1), 0);
        for (int y = 0; y < height; ++y) {
            std::memcpy(&m_paddedRows[static_cast<std::size_t>(2 * kSafeRowBytes) * y], topRow + rowStep * y,
                        static_cast<std::size_t>(rowBytes));
        }
        topRow = m_paddedRows.data();
        rowStep = 2 * kSafeRowBytes;
    }
    const std::uint8_t* lowest = rowStep < 0 ? topRow + rowStep * (height - 1) : topRow;
    const std::size_t blockBytes =
        static_cast<std::size_t>(std::abs(rowStep)) * static_cast<std::size_t>(height - 1) +
        static_cast<std::size_t>(width) * bytesPerPixel;
    AVFrame& src = *m_source;
    src.format = input;
    src.width = width;
    src.height = height;
    src.data[0] = const_cast<std::uint8_t*>(topRow);
    src.linesize[0] = static_cast<int>(rowStep);
    src.buf[0] = av_buffer_create(const_cast<std::uint8_t*>(lowest), blockBytes, &KeepCallerRows, nullptr,
                                  AV_BUFFER_FLAG_READONLY);
    if (!src.buf[0]) {
        av_frame_unref(&src);
        return kOutOfMemoryText;
    }
    const int converted = sws_scale_frame(m_scaler, m_picture, &src);
    av_frame_unref(&src);
    if (converted < 0) {
        return LibraryReason("the colour conversion failed", converted);
    }

    m_picture->pts = index;
    m_picture->pict_type = AV_PICTURE_TYPE_NONE;
    t_lastLibraryError.clear();
    if (int result = avcodec_send_frame(m_codec, m_picture); result < 0) {
        return LibraryReason(m_encoderTitle + " refused frame " + std::to_string(index + 1), result);
    }
    ++m_framesSent;
    return WritePackets(false);
}

std::string FfmpegPassWriter::Drain()
{
    t_lastLibraryError.clear();
    if (int result = avcodec_send_frame(m_codec, nullptr); result < 0) {
        return LibraryReason(m_encoderTitle + " failed", result);
    }
    return WritePackets(true);
}

std::string FfmpegPassWriter::Finish()
{
    if (std::string problem = Drain(); !problem.empty()) {
        return problem;
    }
    t_lastLibraryError.clear();
    if (int result = av_write_trailer(m_format); result < 0) {
        return LibraryReason("cannot finish " + m_target.string(), result);
    }
    if (int result = avio_closep(&m_format->pb); result < 0) {
        return LibraryReason("cannot finish " + m_target.string(), result);
    }
    ClosePassOutput();
    return {};
}

std::unique_ptr<IVideoPassWriter> OpenPass(const VideoPassRequest& request, std::string& error)
{
    auto writer = std::make_unique<FfmpegPassWriter>();
    error = writer->Open(request);
    if (!error.empty()) {
        return nullptr;
    }
    return writer;
}

FrameRate NearestRate(float framesPerSecond)
{
    const AVRational q = av_d2q(framesPerSecond, 100000);
    return FrameRate(static_cast<std::uint32_t>(q.num), static_cast<std::uint32_t>(q.den));
}

void QuietMessages()
{
    InstallLogCapture();
    av_log_set_level(AV_LOG_ERROR);
}

constexpr VideoLibrary kLibrary{&OpenPass, &NearestRate, &QuietMessages};

}  // namespace

}  // namespace skelvane

extern "C" __attribute__((visibility("default"))) const skelvane::VideoLibrary* SkelvaneVideoLibrary()
{
    return &skelvane::kLibrary;
}
