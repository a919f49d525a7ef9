// Every stream the encoder offers, read back with FFmpeg's own demuxers and
// decoders: codec, profile, pixels, size, rate, frame count, colour tags and
// alpha, and the colours themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "pano2dome/VideoCodecSetup.h"
#include "pano2dome/VideoEncoder.h"
#include "support/TempDir.h"
#include "support/TestImages.h"
#include "support/VideoFacts.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace skelvane {
namespace {
namespace fs = std::filesystem;

constexpr std::uint32_t kRed = 0xFFFF0000u;
constexpr std::uint32_t kBlue = 0xFF0000FFu;

// A dome master in small: a disc, red above its middle and blue below, on
// transparent black; a white square crosses the middle from frame to frame.
CImageBuffer DomeFrame(int width, int height, int index)
{
    CImageBuffer image;
    image.Create(width, height);
    const double radius = std::min(width, height) / 2.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = x + 0.5 - width / 2.0;
            const double dy = y + 0.5 - height / 2.0;
            std::uint32_t pixel = 0;
            if (dx * dx + dy * dy < radius * radius) {
                pixel = y < height / 2 ? kRed : kBlue;
                const int left = (index * 3) % (width / 2);
                if (x >= left && x < left + 6 && std::abs(y - height / 2) < 3) {
                    pixel = 0xFFFFFFFFu;
                }
            }
            image.SetPixel(x, y, pixel);
        }
    }
    return image;
}

struct Encoding {
    VideoStream stream;
    const char* name;  // file name
    int width = 64;
    int height = 64;
    FrameRate rate{30000, 1001};
    int frames = 6;
    int twoPass = 0;
};

bool Encode(const fs::path& path, const Encoding& e, std::string& error, int* passes = nullptr)
{
    CVideoEncoder encoder;
    encoder.SetStream(e.stream);
    encoder.SetMPEGWidth(e.width);
    encoder.SetMPEGHeight(e.height);
    encoder.SetFrameRate(e.rate);
    encoder.Set2Pass(e.twoPass);
    encoder.SetQuality(1);
    encoder.SetKeyFrameSelect(CVideoEncoder::kKeyFramesEvery);
    encoder.SetKeyFrameEvery(24);
    bool ok = encoder.OpenMPEG(path);
    if (passes) {
        *passes = encoder.GetPassCount();
    }
    for (int pass = 0; ok && pass < encoder.GetPassCount(); ++pass) {
        ok = pass == 0 || encoder.StartNextPass();
        for (int i = 0; ok && i < e.frames; ++i) {
            ok = encoder.AddFrame(DomeFrame(e.width, e.height, i)) == 1;
        }
    }
    ok = encoder.CloseMPEG() && ok;
    error = encoder.GetError();
    return ok;
}

// One decoded pixel as 8-bit RGBA, converted with the matrix and range the
// frame is tagged with.
struct Rgba {
    int r, g, b, a;
};

class FrameSampler {
public:
    explicit FrameSampler(const AVFrame& frame) : m_width(frame.width), m_height(frame.height)
    {
        const auto format = static_cast<AVPixelFormat>(frame.format);
        SwsContext* scaler = sws_getContext(frame.width, frame.height, format, frame.width, frame.height,
                                            AV_PIX_FMT_RGBA, SWS_POINT | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
        if (!(descriptor->flags & AV_PIX_FMT_FLAG_RGB)) {
            const int* matrix = sws_getCoefficients(frame.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT);
            const int* rgb = sws_getCoefficients(SWS_CS_DEFAULT);
            sws_setColorspaceDetails(scaler, matrix, frame.color_range == AVCOL_RANGE_JPEG, rgb, 1, 0, 1 << 16,
                                     1 << 16);
        }
        m_rgba.resize(static_cast<std::size_t>(frame.width) * frame.height * 4);
        std::uint8_t* planes[1] = {m_rgba.data()};
        const int strides[1] = {frame.width * 4};
        sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, planes, strides);
        sws_freeContext(scaler);
    }

    // The mean of a 5 x 5 block around (x, y).
    Rgba At(int x, int y) const
    {
        int sums[4] = {};
        for (int v = y - 2; v <= y + 2; ++v) {
            for (int u = x - 2; u <= x + 2; ++u) {
                const std::uint8_t* p = &m_rgba[(static_cast<std::size_t>(v) * m_width + u) * 4];
                for (int c = 0; c < 4; ++c) {
                    sums[c] += p[c];
                }
            }
        }
        return {sums[0] / 25, sums[1] / 25, sums[2] / 25, sums[3] / 25};
    }

    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    int m_width;
    int m_height;
    std::vector<std::uint8_t> m_rgba;
};

void ExpectNear(Rgba got, Rgba want, int tolerance, const std::string& where)
{
    EXPECT_NEAR(got.r, want.r, tolerance) << where;
    EXPECT_NEAR(got.g, want.g, tolerance) << where;
    EXPECT_NEAR(got.b, want.b, tolerance) << where;
    EXPECT_NEAR(got.a, want.a, tolerance) << where;
}

class VideoCodecsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CVideoEncoder::QuietLibraryMessages(); }
    test::TempDir m_dir;
};

TEST_F(VideoCodecsTest, EveryStreamReadsBackAsAsked)
{
    struct Case {
        Encoding encoding;
        const char* codec;
        const char* profile;
        AVPixelFormat pixels;  // as the decoder delivers them
        const char* tag;
        bool alpha;
        int tolerance;  // per channel, 8-bit levels
    };
    using P = VideoProfile;
    const Case cases[] = {
        {{{VideoCodec::H264}, "h264.mp4"}, "h264", "High", AV_PIX_FMT_YUV420P, "avc1", false, 8},
        {{{VideoCodec::H264}, "h264.avi"}, "h264", "High", AV_PIX_FMT_YUV420P, "H264", false, 8},
        {{{VideoCodec::Hevc, P::HevcMain}, "main.mp4"}, "hevc", "Main", AV_PIX_FMT_YUV420P, "hvc1", false, 8},
        {{{VideoCodec::Hevc, P::HevcMain10}, "main10.mov"}, "hevc", "Main 10", AV_PIX_FMT_YUV420P10LE, "hvc1", false,
         8},
        {{{VideoCodec::ProRes}, "hq.mov", 63, 63}, "prores", "HQ", AV_PIX_FMT_YUV422P10LE, "apch", false, 6},
        {{{VideoCodec::ProRes, P::ProRes4444}, "4444.mov"}, "prores", "4444", AV_PIX_FMT_YUV444P12LE, "ap4h", false,
         6},
        {{{VideoCodec::ProRes, P::Automatic, true}, "4444a.mov"}, "prores", "4444", AV_PIX_FMT_YUVA444P12LE, "ap4h",
         true, 6},
        {{{VideoCodec::Hap}, "hap.mov"}, "hap", "", AV_PIX_FMT_RGB0, "Hap1", false, 6},
        {{{VideoCodec::Hap, P::HapAlpha}, "hapa.mov"}, "hap", "", AV_PIX_FMT_RGBA, "Hap5", true, 6},
        {{{VideoCodec::Hap, P::HapQ}, "hapq.mov"}, "hap", "", AV_PIX_FMT_RGB0, "HapY", false, 8},
        {{{VideoCodec::Ffv1}, "ffv1.mkv", 63, 63}, "ffv1", "", AV_PIX_FMT_BGR0, "FFV1", false, 0},
        {{{VideoCodec::Ffv1, P::Automatic, true}, "ffv1a.mov"}, "ffv1", "", AV_PIX_FMT_BGRA, "FFV1", true, 0},
    };
    for (const Case& c : cases) {
        const Encoding& e = c.encoding;
        SCOPED_TRACE(e.name);
        const fs::path path = m_dir / e.name;
        std::string error;
        ASSERT_TRUE(Encode(path, e, error)) << error;

        std::vector<FrameSampler> first;
        const std::optional<test::VideoFacts> facts = test::ReadVideo(path, [&](const AVFrame& frame) {
            if (first.empty()) {
                first.emplace_back(frame);
            }
        });
        ASSERT_TRUE(facts.has_value());
        EXPECT_EQ(facts->codec, c.codec);
        EXPECT_EQ(facts->profile, c.profile);
        EXPECT_EQ(facts->pixelFormat, c.pixels) << av_get_pix_fmt_name(facts->pixelFormat);
        EXPECT_EQ(facts->codecTag, c.tag);
        EXPECT_EQ(facts->width, e.width);
        EXPECT_EQ(facts->height, e.height);
        EXPECT_EQ(av_cmp_q(facts->frameRate, AVRational{30000, 1001}), 0)
            << facts->frameRate.num << "/" << facts->frameRate.den;
        EXPECT_EQ(facts->frames, e.frames);

        const bool rgb = e.stream.codec == VideoCodec::Hap || e.stream.codec == VideoCodec::Ffv1;
        EXPECT_EQ(facts->primaries, AVCOL_PRI_BT709);
        EXPECT_EQ(facts->transfer, AVCOL_TRC_BT709);
        EXPECT_EQ(facts->matrix, rgb ? AVCOL_SPC_RGB : AVCOL_SPC_BT709);
        if (rgb) {
            EXPECT_NE(facts->range, AVCOL_RANGE_MPEG);
        } else {
            EXPECT_EQ(facts->range, AVCOL_RANGE_MPEG);
        }
        EXPECT_EQ(facts->hasAlpha, c.alpha);

        // Upright, red above blue, in the right colours; the corners are
        // transparent only when alpha was asked for.
        ASSERT_EQ(first.size(), 1u);
        const FrameSampler& frame = first.front();
        const int w = frame.Width();
        const int h = frame.Height();
        ExpectNear(frame.At(w / 2, h / 4), {255, 0, 0, 255}, c.tolerance, "top");
        ExpectNear(frame.At(w / 2, 3 * h / 4), {0, 0, 255, 255}, c.tolerance, "bottom");
        ExpectNear(frame.At(2, 2), {0, 0, 0, c.alpha ? 0 : 255}, c.tolerance, "corner");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()), std::size(cases));
}

TEST_F(VideoCodecsTest, LosslessStreamKeepsEveryPixel)
{
    std::string error;
    ASSERT_TRUE(Encode(m_dir / "archive.mkv", {{VideoCodec::Ffv1, VideoProfile::Automatic, true}, "", 37, 21},
                       error))
        << error;
    int compared = 0;
    test::ReadVideo(m_dir / "archive.mkv", [&](const AVFrame& frame) {
        const CImageBuffer source = DomeFrame(37, 21, compared++);
        ASSERT_EQ(frame.format, AV_PIX_FMT_BGRA);
        for (int y = 0; y < 21; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(frame.data[0] + y * frame.linesize[0]);
            for (int x = 0; x < 37; ++x) {
                ASSERT_EQ(row[x], source.GetPixel(x, y)) << x << ", " << y << " of frame " << compared;
            }
        }
    });
    EXPECT_EQ(compared, 6);
}

TEST_F(VideoCodecsTest, SixteenBitFramesReachATenBitStreamWithoutEightBitSteps)
{
    // A grey ramp across four 8-bit levels: 8 bits give at most 5 distinct
    // values, a 10-bit stream fed 16 bits keeps about four times as many.
    // 64 rows: the least the HEVC encoder takes.
    constexpr int kWidth = 128;
    constexpr int kHeight = 64;
    std::vector<std::uint16_t> deep(static_cast<std::size_t>(kWidth) * kHeight * 4);
    std::vector<std::uint8_t> shallow(static_cast<std::size_t>(kWidth) * kHeight * 4);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const auto level = static_cast<std::uint16_t>(0x8000 + x * 8);
            for (int c = 0; c < 4; ++c) {
                deep[(static_cast<std::size_t>(y) * kWidth + x) * 4 + c] = c == 3 ? 0xFFFF : level;
                shallow[(static_cast<std::size_t>(y) * kWidth + x) * 4 + c] =
                    c == 3 ? 0xFF : static_cast<std::uint8_t>(level >> 8);
            }
        }
    }
    const VideoStream tenBit[] = {{VideoCodec::ProRes}, {VideoCodec::Hevc, VideoProfile::HevcMain10}};
    for (const VideoStream& stream : tenBit) {
        SCOPED_TRACE(StreamTitle(stream));
        auto distinctLumas = [&](int bitCount, const std::uint8_t* pixels, const std::string& name) {
            CVideoEncoder encoder;
            encoder.SetStream(stream);
            encoder.SetMPEGWidth(kWidth);
            encoder.SetMPEGHeight(kHeight);
            EXPECT_TRUE(encoder.OpenMPEG(m_dir / name)) << encoder.GetError();
            EXPECT_EQ(encoder.AddFrame(kWidth, kHeight, bitCount, pixels), 1) << encoder.GetError();
            EXPECT_TRUE(encoder.CloseMPEG()) << encoder.GetError();
            std::set<int> values;
            test::ReadVideo(m_dir / name, [&](const AVFrame& frame) {
                EXPECT_EQ(av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format))->comp[0].depth, 10);
                const auto* row = reinterpret_cast<const std::uint16_t*>(frame.data[0] + 8 * frame.linesize[0]);
                values.insert(row, row + kWidth);
            });
            return values.size();
        };
        const std::string codec(CodecName(stream.codec));
        EXPECT_GE(distinctLumas(64, reinterpret_cast<const std::uint8_t*>(deep.data()), codec + "-deep.mov"), 12u);
        EXPECT_LE(distinctLumas(32, shallow.data(), codec + "-shallow.mov"), 5u);
    }
}

TEST_F(VideoCodecsTest, OnlyH264AndHevcTakeTwoPasses)
{
    for (const VideoCodec codec : kVideoCodecs) {
        const VideoStream stream{codec};
        const std::string name = "two-" + std::string(CodecName(codec)) + std::string(ContainersOf(codec)[0]);
        SCOPED_TRACE(name);
        std::string error;
        int passes = 0;
        ASSERT_TRUE(Encode(m_dir / name, {stream, "", 64, 64, 25, 8, 1}, error, &passes)) << error;
        EXPECT_EQ(passes, TakesTwoPasses(codec) ? 2 : 1);
        const std::optional<test::VideoFacts> facts = test::ReadVideo(m_dir / name);
        ASSERT_TRUE(facts.has_value());
        EXPECT_EQ(facts->frames, 8);
    }
    EXPECT_TRUE(TakesTwoPasses(VideoCodec::Hevc));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()), 5);
}

// Streams that end before the encoder's B-frame delay has passed: x265 dates
// such packets by a time it never measured. Repeated, because what that time
// holds depends on what the process allocated before.
TEST_F(VideoCodecsTest, VideosOfOneToThreeFramesHoldEveryFrame)
{
    const VideoStream streams[] = {{VideoCodec::Hevc}, {VideoCodec::Hevc, VideoProfile::HevcMain10}, {VideoCodec::H264}};
    for (int round = 0; round < 4; ++round) {
        for (const VideoStream& stream : streams) {
            for (int frames = 1; frames <= 3; ++frames) {
                for (const char* extension : {".mov", ".mp4"}) {
                    const std::string name = StreamTitle(stream) + "-" + std::to_string(frames) + extension;
                    SCOPED_TRACE(name);
                    std::string error;
                    ASSERT_TRUE(Encode(m_dir / name, {stream, "", 64, 64, 25, frames}, error)) << error;
                    std::vector<std::int64_t> shown;
                    const std::optional<test::VideoFacts> facts =
                        test::ReadVideo(m_dir / name, [&](const AVFrame& frame) { shown.push_back(frame.pts); });
                    ASSERT_TRUE(facts.has_value());
                    EXPECT_EQ(facts->frames, frames);
                    // 25 frames a second: one frame every 512 ticks of 1/12800 s.
                    for (std::size_t i = 0; i < shown.size(); ++i) {
                        EXPECT_EQ(shown[i], static_cast<std::int64_t>(i) * 512);
                    }
                }
            }
        }
    }
}

TEST_F(VideoCodecsTest, AFailedEncodeOfAnyCodecKeepsTheOldTarget)
{
    for (const VideoCodec codec : kVideoCodecs) {
        SCOPED_TRACE(CodecName(codec));
        const fs::path target = m_dir / "old.mov";
        test::WriteFileBytes(target, {4, 5, 6});
        CVideoEncoder encoder;
        encoder.SetStream({codec});
        encoder.SetMPEGWidth(64);
        encoder.SetMPEGHeight(64);
        ASSERT_TRUE(encoder.OpenMPEG(target)) << encoder.GetError();
        ASSERT_EQ(encoder.AddFrame(DomeFrame(64, 64, 0)), 1) << encoder.GetError();
        EXPECT_EQ(encoder.AddFrame(DomeFrame(32, 32, 1)), 0);
        EXPECT_FALSE(encoder.CloseMPEG());
        EXPECT_EQ(test::ReadFileBytes(target), (std::vector<std::uint8_t>{4, 5, 6}));
        EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()), 1);
    }
}

TEST_F(VideoCodecsTest, LevelFollowsSizeAndRate)
{
    for (const VideoCodec codec : {VideoCodec::H264, VideoCodec::Hevc}) {
        SCOPED_TRACE(CodecName(codec));
        int levels[2] = {};
        for (const int rate : {25, 1000}) {
            const fs::path path = m_dir / (std::string(CodecName(codec)) + std::to_string(rate) + ".mp4");
            std::string error;
            ASSERT_TRUE(Encode(path, {{codec}, "", 64, 64, rate, 3}, error)) << error;
            const std::optional<test::VideoFacts> facts = test::ReadVideo(path);
            ASSERT_TRUE(facts.has_value());
            levels[rate == 1000] = facts->level;
        }
        EXPECT_GT(levels[0], 0);
        EXPECT_GT(levels[1], levels[0]) << "a faster rate needs a higher level";
    }
}

// The number of chunks a HAP frame is split into, from its decode
// instructions: the top section's long header, the instructions' short
// header, then the compressor table with one byte per chunk.
int HapChunksOfFirstFrame(const fs::path& path)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        return -1;
    }
    int chunks = -1;
    AVPacket* packet = av_packet_alloc();
    if (av_read_frame(format, packet) >= 0 && packet->size > 16) {
        const std::uint8_t* p = packet->data;
        const bool complex = (p[3] & 0xF0) == 0xC0;
        chunks = !complex ? 1 : p[15] == 0x02 ? p[12] | p[13] << 8 | p[14] << 16 : -2;
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    return chunks;
}

TEST_F(VideoCodecsTest, HapFramesComeInChunksForSeveralCores)
{
    EXPECT_EQ(HapChunkCount(64, 64, VideoProfile::Hap), 1);
    EXPECT_EQ(HapChunkCount(2048, 2048, VideoProfile::Hap), 4);
    EXPECT_EQ(HapChunkCount(4096, 4096, VideoProfile::Hap), 16);
    EXPECT_EQ(HapChunkCount(4096, 4096, VideoProfile::HapQ), 32);
    EXPECT_EQ(HapChunkCount(8192, 8192, VideoProfile::HapAlpha), 64);

    std::string error;
    ASSERT_TRUE(Encode(m_dir / "chunks.mov", {{VideoCodec::Hap}, "", 2048, 2048, 25, 1}, error)) << error;
    EXPECT_EQ(HapChunksOfFirstFrame(m_dir / "chunks.mov"), 4);
    ASSERT_TRUE(Encode(m_dir / "one.mov", {{VideoCodec::Hap}, "", 64, 64, 25, 1}, error)) << error;
    EXPECT_EQ(HapChunksOfFirstFrame(m_dir / "one.mov"), 1);
}

}  // namespace
}  // namespace skelvane
