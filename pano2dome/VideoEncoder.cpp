// How a video is written:
//  1. OpenMPEG checks every setting and the target name, picks the container
//     from the extension and opens a hidden temporary file beside the target.
//  2. One pass = one encoder (pano2dome/VideoCodecSetup.h says which, with
//     which options) and one muxer on that file. Frames arrive as bottom-up
//     BGR(A) rows; swscale turns them into the stream's pixels (BT.709
//     limited-range YUV, or RGB(A) for HAP and FFV1), the encoder's packets go
//     straight to the muxer.
//  3. Single pass: constant rate factor from the quality. Two passes (x264,
//     x265): the first encodes at that rate factor while the encoder writes
//     its statistics to a private folder; its average bit rate becomes the
//     target of the second pass, which reads the statistics to spread those
//     bits where the content needs them. The first pass's file is thrown away
//     when the second starts.
//  4. CloseMPEG drains the encoder, writes the container's index (QuickTime
//     and MP4: at the front, so players can start before the whole file has
//     arrived) and renames the temporary file over the target.
#include "pano2dome/VideoEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "engine/jobs/MessageReporter.h"
#include "imageio/StagingEntry.h"
#include "pano2dome/VideoCodecSetup.h"

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

// The libraries explain their failures only in log lines; the last error line
// of this thread is kept so that a failure can be reported with its cause.
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

// The muxer for a container that CheckVideoTarget accepted.
const char* MuxerFor(const std::string& extension)
{
    if (extension == ".avi") {
        return "avi";
    }
    if (extension == ".mp4") {
        return "mp4";
    }
    return extension == ".mkv" ? "matroska" : "mov";
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

}  // namespace

double QualityToRateFactor(int quality)
{
    const int q = std::clamp(quality, CVideoEncoder::kBestQuality, CVideoEncoder::kLeastQuality);
    return 12.0 + (q - 1) * 39.0 / 41.0;
}

// Everything that exists between OpenMPEG and CloseMPEG.
struct CVideoEncoder::Session {
    fs::path target;
    CStagingEntry temporary;   // the file being written, until it is renamed or removed
    CStagingEntry statsFolder; // two-pass statistics; none for a single pass
    const char* container = nullptr;
    VideoStream kind;  // what the stream carries
    EncoderChoice choice;
    std::string encoderTitle;  // "the HEVC encoder"
    AVRational rate{25, 1};
    int passCount = 1;
    int pass = 0;
    bool failed = false;

    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* picture = nullptr;  // the converted frame handed to the encoder
    AVFrame* source = nullptr;   // the caller's rows, lent for one conversion
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    AVPixelFormat scalerInput = AV_PIX_FMT_NONE;

    std::int64_t frames = 0;      // frames added in this pass
    std::int64_t packetBytes = 0; // coded bytes of this pass
    std::vector<std::uint8_t> paddedRows;  // narrow frames, copied (kSafeRowBytes)

    ~Session()
    {
        ClosePassOutput();
        sws_freeContext(scaler);
        av_frame_free(&picture);
        av_frame_free(&source);
        av_packet_free(&packet);
        // The staging entries go with the members: the file after the muxer
        // that wrote it has closed it.
    }

    // Frees the encoder and the muxer of the current pass without finishing
    // the file.
    void ClosePassOutput()
    {
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb) {
                avio_closep(&format->pb);
            }
            avformat_free_context(format);
            format = nullptr;
        }
        stream = nullptr;
    }

    std::string StatsFile() const
    {
        return (statsFolder.Path() / (std::string(choice.encoderName) + "-passes.log")).string();
    }

    // Writes every packet the encoder has ready. Empty string when all went
    // to the file; at the end of the stream `draining` accepts the encoder's
    // end-of-file answer.
    std::string WritePackets(bool draining)
    {
        for (;;) {
            t_lastLibraryError.clear();
            int result = avcodec_receive_packet(codec, packet);
            if (result == AVERROR(EAGAIN) || (draining && result == AVERROR_EOF)) {
                return {};
            }
            if (result < 0) {
                return LibraryReason(encoderTitle + " failed", result);
            }
            packetBytes += packet->size;
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            result = av_interleaved_write_frame(format, packet);
            if (result < 0) {
                return LibraryReason("cannot write " + target.string(), result);
            }
            if (format->pb->error < 0) {
                return LibraryReason("cannot write " + target.string(), format->pb->error);
            }
        }
    }
};

CVideoEncoder::CVideoEncoder() = default;
CVideoEncoder::~CVideoEncoder() = default;

void CVideoEncoder::SetMPEGFormat(MPEG_TYPE) { m_stream = VideoStream{}; }
void CVideoEncoder::SetStream(const VideoStream& stream) { m_stream = stream; }
void CVideoEncoder::SetMPEGWidth(int width) { m_width = width; }
void CVideoEncoder::SetMPEGHeight(int height) { m_height = height; }
void CVideoEncoder::SetFrameRate(FrameRate rate) { m_rate = rate; }

void CVideoEncoder::SetFrameRate(float framesPerSecond)
{
    // A rate that is no number, or beyond any fraction, is kept as 0 and
    // refused by OpenMPEG.
    m_rate = FrameRate(0, 1);
    if (std::isfinite(framesPerSecond) && framesPerSecond > 0.0f && framesPerSecond <= kMaxVideoFrameRate) {
        const AVRational q = av_d2q(framesPerSecond, 100000);
        m_rate = FrameRate(static_cast<std::uint32_t>(q.num), static_cast<std::uint32_t>(q.den));
    }
}
void CVideoEncoder::Set2Pass(int twoPass) { m_twoPass = twoPass; }
void CVideoEncoder::SetQuality(int quality) { m_quality = quality; }
void CVideoEncoder::SetKeyFrameSelect(int mode) { m_keyFrameSelect = mode; }
void CVideoEncoder::SetKeyFrameEvery(int frames) { m_keyFrameEvery = frames; }
void CVideoEncoder::SetThreadCount(int threads) { m_threads = threads; }

void CVideoEncoder::QuietLibraryMessages()
{
    InstallLogCapture();
    av_log_set_level(AV_LOG_ERROR);
}

int CVideoEncoder::GetPassCount() const { return m_session ? m_session->passCount : 0; }
std::int64_t CVideoEncoder::GetFrameCount() const { return m_session ? m_session->frames : 0; }

bool CVideoEncoder::Fail(std::string reason)
{
    if (m_session) {
        m_session->failed = true;
    }
    m_error = std::move(reason);
    return false;
}

std::string CVideoEncoder::CheckSettings(const fs::path& path) const
{
    if (m_width < 1 || m_height < 1 || m_width > kMaxImageSide || m_height > kMaxImageSide) {
        return "video size " + std::to_string(m_width) + " x " + std::to_string(m_height) +
               ": width and height must be from 1 to " + std::to_string(kMaxImageSide);
    }
    if (m_quality < kBestQuality || m_quality > kLeastQuality) {
        return "video quality " + std::to_string(m_quality) + " is outside 1 to 42";
    }
    if (m_keyFrameSelect < kKeyFramesAutomatic || m_keyFrameSelect > kKeyFramesAll) {
        return "unknown key frame mode " + std::to_string(m_keyFrameSelect);
    }
    if (m_keyFrameSelect == kKeyFramesEvery && m_keyFrameEvery < 0) {
        return "key frame interval " + std::to_string(m_keyFrameEvery) + " is negative";
    }
    if (m_threads < 0) {
        return "thread count " + std::to_string(m_threads) + " is negative";
    }
    if (path.empty()) {
        return "no video file name";
    }
    std::error_code error;
    if (fs::is_directory(path, error)) {
        return "video file " + path.string() + " is a folder";
    }
    const VideoTarget target{m_stream, LowerVideoExtension(path.string()), m_width, m_height, m_rate};
    if (std::optional<std::string> refusal = CheckVideoTarget(target)) {
        return *refusal;
    }
    return {};
}

bool CVideoEncoder::OpenMPEG(const fs::path& path)
{
    InstallLogCapture();
    m_session.reset();
    m_error.clear();
    if (std::string problem = CheckSettings(path); !problem.empty()) {
        return Fail(std::move(problem));
    }

    auto session = std::make_unique<Session>();
    std::error_code error;
    session->target = fs::absolute(path, error);
    if (error) {
        return Fail("video file " + path.string() + ": " + error.message());
    }
    session->container = MuxerFor(LowerVideoExtension(path.string()));
    session->kind = m_stream;
    session->choice = ChooseEncoder(m_stream);
    session->encoderTitle = "the " + StreamTitle(m_stream) + " encoder";
    session->rate = AVRational{static_cast<int>(m_rate.num), static_cast<int>(m_rate.den)};
    session->passCount = m_twoPass && TakesTwoPasses(m_stream.codec) ? 2 : 1;
    session->picture = av_frame_alloc();
    session->source = av_frame_alloc();
    session->packet = av_packet_alloc();
    if (!session->picture || !session->source || !session->packet) {
        return Fail(kOutOfMemoryText);
    }
    session->picture->format = session->choice.pixelFormat;
    session->picture->width = m_width;
    session->picture->height = m_height;
    session->picture->color_range = session->choice.rgb ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    session->picture->colorspace = session->choice.rgb ? AVCOL_SPC_RGB : AVCOL_SPC_BT709;
    session->picture->color_primaries = AVCOL_PRI_BT709;
    session->picture->color_trc = AVCOL_TRC_BT709;
    if (int result = av_frame_get_buffer(session->picture, 0); result < 0) {
        return Fail(LibraryReason("cannot hold a video frame", result));
    }

    if (session->passCount == 2) {
        const fs::path temp = fs::temp_directory_path(error);
        std::string why = error ? error.message() : std::string();
        if (!error) {
            RemoveStaleStagingFiles(temp);  // statistics of killed runs
        }
        if (error || !session->statsFolder.CreateFolder(temp, "skelvane-passes", why)) {
            return Fail("cannot create a folder for the two-pass statistics in " + temp.string() + ": " + why);
        }
    }

    m_session = std::move(session);
    if (!OpenPass(0, 0)) {
        m_session.reset();  // removes whatever the failed start left
        return false;
    }
    return true;
}

// Creates the temporary file, the muxer and the encoder of one pass.
bool CVideoEncoder::OpenPass(int pass, std::int64_t bitRate)
{
    Session& s = *m_session;
    s.pass = pass;
    s.frames = 0;
    s.packetBytes = 0;
    std::string why;
    if (!s.temporary.CreateFile(s.target.parent_path(), s.target.filename().string(), why)) {
        return Fail("cannot create a video file in " + s.target.parent_path().string() + ": " + why);
    }
    const std::string url = "file:" + s.temporary.Path().string();

    t_lastLibraryError.clear();
    int result = avformat_alloc_output_context2(&s.format, nullptr, s.container, url.c_str());
    if (result < 0 || !s.format) {
        return Fail(LibraryReason("cannot start a " + std::string(s.container) + " container", result));
    }

    const AVCodec* encoder = avcodec_find_encoder_by_name(s.choice.encoderName);
    if (!encoder) {
        return Fail("this FFmpeg build has no " + std::string(s.choice.encoderName) + " encoder");
    }
    s.codec = avcodec_alloc_context3(encoder);
    if (!s.codec) {
        return Fail(kOutOfMemoryText);
    }
    AVCodecContext& c = *s.codec;
    PassSetup setup;
    setup.width = m_width;
    setup.height = m_height;
    setup.rate = s.rate;
    setup.quality = m_quality;
    setup.keyFrameEvery =
        m_keyFrameSelect == kKeyFramesAll ? 1 : m_keyFrameSelect == kKeyFramesEvery ? m_keyFrameEvery : 0;
    setup.threads = m_threads;
    setup.pass = pass;
    setup.passCount = s.passCount;
    setup.statsFile = s.passCount == 2 ? s.StatsFile() : std::string();
    setup.bitRate = bitRate;
    setup.quiet = av_log_get_level() < AV_LOG_INFO;
    AVDictionary* options = nullptr;
    ConfigureEncoder(s.kind, setup, c, &options);
    if (s.format->oformat->flags & AVFMT_GLOBALHEADER) {
        c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    t_lastLibraryError.clear();
    result = avcodec_open2(s.codec, encoder, &options);
    const bool optionsLeft = av_dict_count(options) > 0;
    av_dict_free(&options);
    if (result < 0) {
        return Fail(LibraryReason("cannot start " + s.encoderTitle, result));
    }
    if (optionsLeft) {
        return Fail(s.encoderTitle + " does not know every option it was given");
    }

    s.stream = avformat_new_stream(s.format, nullptr);
    if (!s.stream) {
        return Fail(kOutOfMemoryText);
    }
    s.stream->time_base = c.time_base;
    s.stream->avg_frame_rate = s.rate;
    s.stream->r_frame_rate = s.rate;
    result = avcodec_parameters_from_context(s.stream->codecpar, s.codec);
    if (result < 0) {
        return Fail(LibraryReason("cannot describe the video stream", result));
    }
    if (s.kind.codec == VideoCodec::Hevc) {
        // "hvc1": the parameter sets live in the sample description, as the
        // players of QuickTime and MP4 files want them.
        s.stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    }

    t_lastLibraryError.clear();
    result = avio_open2(&s.format->pb, url.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
    if (result < 0) {
        return Fail(LibraryReason("cannot create a video file in " + s.target.parent_path().string(), result));
    }
    AVDictionary* muxerOptions = nullptr;
    if (std::string(s.container) == "mov" || std::string(s.container) == "mp4") {
        av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
    }
    t_lastLibraryError.clear();
    result = avformat_write_header(s.format, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (result < 0) {
        return Fail(LibraryReason("cannot write " + s.target.string(), result));
    }
    return true;
}

bool CVideoEncoder::StartNextPass()
{
    if (!m_session) {
        return Fail("no video file is open");
    }
    Session& s = *m_session;
    if (s.failed) {
        return false;
    }
    if (s.pass + 1 >= s.passCount) {
        return Fail("the video has no further pass");
    }
    if (s.frames == 0) {
        return Fail("the first pass saw no frames, so the second has nothing to distribute");
    }
    t_lastLibraryError.clear();
    if (int result = avcodec_send_frame(s.codec, nullptr); result < 0) {
        return Fail(LibraryReason(s.encoderTitle + " failed", result));
    }
    if (std::string problem = s.WritePackets(true); !problem.empty()) {
        return Fail(std::move(problem));
    }
    // The average rate the first pass needed for the chosen quality; the
    // encoder counts whole kilobits per second.
    const double seconds = static_cast<double>(s.frames) / av_q2d(s.rate);
    const auto bitRate = std::max<std::int64_t>(1000, std::llround(s.packetBytes * 8.0 / seconds));

    // Closing the encoder is what completes its statistics file.
    s.ClosePassOutput();
    s.temporary.Remove();
    return OpenPass(s.pass + 1, bitRate);
}

int CVideoEncoder::AddFrame(int width, int height, int bitCount, const std::uint8_t* pixels)
{
    if (!pixels || InputFormat(bitCount) == AV_PIX_FMT_NONE || width <= 0 || height <= 0 ||
        width > kMaxImageSide || height > kMaxImageSide) {
        if (!m_session) {
            return Fail("no video file is open");
        }
        return Fail("a video frame must be a 24-, 32- or 64-bit image");
    }
    const std::int64_t stride = PaddedRowBytes(width, bitCount);
    return AddRows(width, height, bitCount, pixels + stride * (height - 1), -stride);
}

int CVideoEncoder::AddFrame(const CImageBuffer& image)
{
    if (image.IsEmpty()) {
        return Fail("a video frame is empty");
    }
    const std::int32_t height = image.GetHeight();
    const std::ptrdiff_t rowStep = height > 1 ? image.Row(1) - image.Row(0) : -std::ptrdiff_t{image.Stride()};
    return AddRows(image.GetWidth(), height, image.GetBitCount(), image.Row(0), rowStep);
}

int CVideoEncoder::AddRows(int width, int height, int bitCount, const std::uint8_t* topRow, std::ptrdiff_t rowStep)
{
    if (!m_session) {
        return Fail("no video file is open");
    }
    Session& s = *m_session;
    if (s.failed) {
        return 0;
    }
    if (width != m_width || height != m_height) {
        return Fail("a video frame of " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels does not fit a video of " + std::to_string(m_width) + " x " +
                    std::to_string(m_height));
    }
    const AVPixelFormat input = InputFormat(bitCount);
    if (input == AV_PIX_FMT_NONE) {
        return Fail("a video frame must be a 24-, 32- or 64-bit image");
    }

    if (s.scalerInput != input) {
        sws_freeContext(s.scaler);
        s.scalerInput = AV_PIX_FMT_NONE;
        s.scaler = sws_alloc_context();
        if (!s.scaler) {
            return Fail(kOutOfMemoryText);
        }
        av_opt_set_int(s.scaler, "srcw", width, 0);
        av_opt_set_int(s.scaler, "srch", height, 0);
        av_opt_set_int(s.scaler, "src_format", input, 0);
        av_opt_set_int(s.scaler, "dstw", width, 0);
        av_opt_set_int(s.scaler, "dsth", height, 0);
        av_opt_set_int(s.scaler, "dst_format", s.choice.pixelFormat, 0);
        av_opt_set_int(s.scaler, "sws_flags", SWS_BILINEAR | SWS_ACCURATE_RND, 0);
        av_opt_set_int(s.scaler, "threads", m_threads, 0);
        t_lastLibraryError.clear();
        if (int result = sws_init_context(s.scaler, nullptr, nullptr); result < 0) {
            return Fail(LibraryReason("cannot set up the colour conversion", result));
        }
        if (!s.choice.rgb) {
            // Full-range RGB in, BT.709 limited-range YUV out, as the stream is tagged.
            const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
            sws_setColorspaceDetails(s.scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
        }
        s.scalerInput = input;
    }

    t_lastLibraryError.clear();
    if (int result = av_frame_make_writable(s.picture); result < 0) {
        return Fail(LibraryReason("cannot hold a video frame", result));
    }
    const int bytesPerPixel = bitCount / 8;
    const std::ptrdiff_t rowBytes = std::ptrdiff_t{width} * bytesPerPixel;
    if (rowBytes < kSafeRowBytes) {
        s.paddedRows.assign(static_cast<std::size_t>(2 * kSafeRowBytes) * (height + 1), 0);
        for (int y = 0; y < height; ++y) {
            std::memcpy(&s.paddedRows[static_cast<std::size_t>(2 * kSafeRowBytes) * y], topRow + rowStep * y,
                        static_cast<std::size_t>(rowBytes));
        }
        topRow = s.paddedRows.data();
        rowStep = 2 * kSafeRowBytes;
    }
    const std::uint8_t* lowest = rowStep < 0 ? topRow + rowStep * (height - 1) : topRow;
    const std::size_t blockBytes =
        static_cast<std::size_t>(std::abs(rowStep)) * static_cast<std::size_t>(height - 1) +
        static_cast<std::size_t>(width) * bytesPerPixel;
    AVFrame& src = *s.source;
    src.format = input;
    src.width = width;
    src.height = height;
    src.data[0] = const_cast<std::uint8_t*>(topRow);
    src.linesize[0] = static_cast<int>(rowStep);
    src.buf[0] = av_buffer_create(const_cast<std::uint8_t*>(lowest), blockBytes, &KeepCallerRows, nullptr,
                                  AV_BUFFER_FLAG_READONLY);
    if (!src.buf[0]) {
        av_frame_unref(&src);
        return Fail(kOutOfMemoryText);
    }
    const int converted = sws_scale_frame(s.scaler, s.picture, &src);
    av_frame_unref(&src);
    if (converted < 0) {
        return Fail(LibraryReason("the colour conversion failed", converted));
    }

    s.picture->pts = s.frames;
    s.picture->pict_type = AV_PICTURE_TYPE_NONE;
    t_lastLibraryError.clear();
    if (int result = avcodec_send_frame(s.codec, s.picture); result < 0) {
        return Fail(LibraryReason(s.encoderTitle + " refused frame " + std::to_string(s.frames + 1), result));
    }
    if (std::string problem = s.WritePackets(false); !problem.empty()) {
        return Fail(std::move(problem));
    }
    ++s.frames;
    return 1;
}

bool CVideoEncoder::CloseMPEG()
{
    if (!m_session) {
        return Fail(m_error.empty() ? "no video file is open" : m_error);
    }
    // Whatever happens below, the session ends here; its destructor removes
    // any file that was not published.
    std::unique_ptr<Session> session = std::move(m_session);
    Session& s = *session;
    if (s.failed) {
        return false;  // the first failure's reason stays in m_error
    }
    if (s.frames == 0) {
        // A container without a single frame is no video any player accepts.
        return Fail("no frames were added, so " + s.target.string() + " was not written");
    }
    t_lastLibraryError.clear();
    if (int result = avcodec_send_frame(s.codec, nullptr); result < 0) {
        return Fail(LibraryReason(s.encoderTitle + " failed", result));
    }
    if (std::string problem = s.WritePackets(true); !problem.empty()) {
        return Fail(std::move(problem));
    }
    t_lastLibraryError.clear();
    if (int result = av_write_trailer(s.format); result < 0) {
        return Fail(LibraryReason("cannot finish " + s.target.string(), result));
    }
    if (int result = avio_closep(&s.format->pb); result < 0) {
        return Fail(LibraryReason("cannot finish " + s.target.string(), result));
    }
    s.ClosePassOutput();

    std::error_code error;
    fs::rename(s.temporary.Path(), s.target, error);
    if (error) {
        return Fail("cannot create " + s.target.string() + ": " + error.message());
    }
    s.temporary.Release();
    return true;
}

}  // namespace skelvane
