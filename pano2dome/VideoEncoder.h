// The video encoder of the video jobs: H.264, HEVC, ProRes, HAP or FFV1 in
// the container the file name's extension names (pano2dome/VideoFormat.h),
// written through FFmpeg's libraries.
//
// The calling order is fixed: configure with the setters, OpenMPEG, then for
// each pass (GetPassCount()) hand every frame to AddFrame, calling
// StartNextPass between passes, and finish with CloseMPEG. A two-pass encode
// needs the same frames twice: the first pass only measures them. Only H.264
// and HEVC spread their bits that way; the others take one pass whatever
// Set2Pass says. Quality and key frames shape H.264 and HEVC; ProRes and HAP
// code every frame alone at the rate their profile sets, FFV1 is lossless
// and restarts its contexts at each key frame.
//
// The file is written under a hidden temporary name in the target folder and
// renamed over the target by a successful CloseMPEG, so the target never holds
// an unfinished video. CloseMPEG after fewer frames than planned (a stopped
// job) still gives a complete, playable file with the frames added so far.
// Any failure (open, frame, close) is kept as a readable reason in GetError();
// after a failure further frames are refused and CloseMPEG removes the
// partial file instead of publishing it. An encoder destroyed without
// CloseMPEG leaves nothing behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/image/DepthConversion.h"
#include "pano2dome/FrameRate.h"
#include "pano2dome/VideoFormat.h"

namespace skelvane {

class CVideoEncoder {
public:
    // H.264, 8-bit 4:2:0: the stream of the first encoder, kept for callers
    // that name it so. SetStream chooses any of them.
    enum MPEG_TYPE { MPEG_H264 = 7 };

    // Key frame placement, as the video settings offer it.
    enum KeyFrameSelect {
        kKeyFramesAutomatic = 0,  // the encoder's own choice (scene cuts, long GOP)
        kKeyFramesEvery = 1,      // exactly every N frames, no scene-cut key frames
        kKeyFramesAll = 2,        // intra only
    };

    static constexpr int kBestQuality = 1;
    static constexpr int kLeastQuality = 42;

    CVideoEncoder();
    ~CVideoEncoder();
    CVideoEncoder(const CVideoEncoder&) = delete;
    CVideoEncoder& operator=(const CVideoEncoder&) = delete;

    void SetMPEGFormat(MPEG_TYPE format);
    void SetStream(const VideoStream& stream);
    void SetMPEGWidth(int width);
    void SetMPEGHeight(int height);
    // The nearest fraction with a denominator up to 100000.
    void SetFrameRate(float framesPerSecond);
    void SetFrameRate(FrameRate rate);
    void Set2Pass(int twoPass);
    // 1 (best) to 42 (least).
    void SetQuality(int quality);
    void SetKeyFrameSelect(int mode);
    // Used in mode kKeyFramesEvery only; 0 there means automatic.
    void SetKeyFrameEvery(int frames);
    // Encoder and colour conversion threads; 0 lets the libraries choose.
    void SetThreadCount(int threads);
    // How deep frames are rounded for an 8-bit stream; ordered by default,
    // whose pattern stays put from frame to frame instead of crawling.
    void SetDither(Dither dither);

    // A deep frame converted in place to the depth the stream takes it at:
    // 16 bits for a 10-bit stream (floats clamped into 0..1 and rounded,
    // never through 8 bits), 8 bits with the dither for an 8-bit one.
    // 8-bit frames, and 16-bit ones bound for a 10-bit stream, stay as they
    // are. Valid once the stream is set. Jobs call it while rendering, so
    // that several frames convert at once; AddFrame converts a frame that
    // was not. Running out of memory throws std::bad_alloc.
    void FitFrameToStream(CImageBuffer& frame) const;

    // Checks the settings and the target (CheckVideoTarget), then creates the
    // temporary file and starts the first pass. The container follows the
    // extension of `path` (.avi, .mov, .mp4 or .mkv, any case). False with a
    // reason on failure; nothing is left on disk then.
    bool OpenMPEG(const std::filesystem::path& path);

    // How many times the job has to supply its frames: 2 for a two-pass
    // encode, else 1. Valid after a successful OpenMPEG.
    int GetPassCount() const;
    // Ends the measuring pass and starts the pass that writes the video.
    bool StartNextPass();

    // Appends one frame lasting 1 / frame rate: `pixels` is a bottom-up
    // device-independent bitmap block (rows padded to four bytes) of 24, 32
    // or 64 bits per pixel: bytes blue, green, red[, alpha], or at 64 bits
    // four little-endian 16-bit words in that order, which reach a 10-bit
    // stream without passing through 8 bits. Alpha is kept only by a stream
    // that carries it; frames without alpha are opaque there. The pixels are
    // converted during the call. Returns 1, or 0 with a reason.
    int AddFrame(int width, int height, int bitCount, const std::uint8_t* pixels);
    // An image of any channel type, fitted to the stream as above first.
    int AddFrame(const CImageBuffer& image);
    // Frames added in the current pass.
    std::int64_t GetFrameCount() const;

    // Flushes the encoder, completes the container and renames the file over
    // the target. False with a reason (and no file) on failure, and when the
    // current pass has no frames (an empty video would play nowhere).
    bool CloseMPEG();

    const std::string& GetError() const { return m_error; }

    // The libraries print their progress notes and statistics to the error
    // stream; programs with their own progress display turn them off here.
    static void QuietLibraryMessages();

private:
    struct Session;

    bool Fail(std::string reason);
    std::string CheckSettings(const std::filesystem::path& path) const;
    bool OpenPass(int pass, std::int64_t bitRate);
    int AddRows(int width, int height, int bitCount, const std::uint8_t* topRow, std::ptrdiff_t rowStep);
    // The channel type deep frames reach the stream at.
    ChannelType DeepFrameType() const;

    VideoStream m_stream;
    int m_width = 0;
    int m_height = 0;
    FrameRate m_rate{25, 1};
    int m_twoPass = 0;
    int m_quality = kBestQuality;
    int m_keyFrameSelect = kKeyFramesEvery;
    int m_keyFrameEvery = 24;
    int m_threads = 0;
    Dither m_dither = Dither::Ordered;

    std::unique_ptr<Session> m_session;
    std::string m_error;
};

// The encoder's constant rate factor for a quality of 1 (best) to 42: 12 to 51
// in equal steps, never the lossless 0 that most players cannot decode. x264
// and x265 take the same scale.
double QualityToRateFactor(int quality);

}  // namespace skelvane
