#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "pano2dome/VideoEncoder.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace skelvane {
namespace {
namespace fs = std::filesystem;

// What FFmpeg's own demuxer and decoder find in a file.
struct VideoProbe {
    std::string error;
    std::string container;
    std::string codec;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};
    int pixelFormat = AV_PIX_FMT_NONE;
    int colorSpace = AVCOL_SPC_UNSPECIFIED;
    std::vector<bool> keyFrames;  // one entry per decoded frame, display order
    std::vector<int> intraFrames; // display positions of intra-coded frames
    // Mean Y, U, V of the top and the bottom half of the first frame.
    double topMean[3] = {};
    double bottomMean[3] = {};
};

void MeasureHalves(const AVFrame& frame, VideoProbe& probe)
{
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? frame.width / 2 : frame.width;
        const int h = plane ? frame.height / 2 : frame.height;
        double sums[2] = {};
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* row = frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane];
            for (int x = 0; x < w; ++x) {
                sums[y < h / 2 ? 0 : 1] += row[x];
            }
        }
        probe.topMean[plane] = sums[0] / (w * (h / 2));
        probe.bottomMean[plane] = sums[1] / (w * (h - h / 2));
    }
}

VideoProbe ProbeVideo(const fs::path& path)
{
    VideoProbe probe;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        probe.error = "cannot open";
        return probe;
    }
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto receive = [&] {
        while (avcodec_receive_frame(decoder, frame) >= 0) {
            if (probe.keyFrames.empty()) {
                MeasureHalves(*frame, probe);
                probe.colorSpace = frame->colorspace;
            }
            if (frame->pict_type == AV_PICTURE_TYPE_I) {
                probe.intraFrames.push_back(static_cast<int>(probe.keyFrames.size()));
            }
            probe.keyFrames.push_back(frame->key_frame != 0);
        }
    };
    const int index = avformat_find_stream_info(format, nullptr) >= 0
                          ? av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                          : -1;
    if (index < 0) {
        probe.error = "no video stream";
    } else {
        const AVStream* stream = format->streams[index];
        probe.container = format->iformat->name;
        probe.codec = avcodec_get_name(stream->codecpar->codec_id);
        probe.width = stream->codecpar->width;
        probe.height = stream->codecpar->height;
        probe.frameRate = stream->r_frame_rate;
        probe.pixelFormat = stream->codecpar->format;
        decoder = avcodec_alloc_context3(avcodec_find_decoder(stream->codecpar->codec_id));
        avcodec_parameters_to_context(decoder, stream->codecpar);
        if (avcodec_open2(decoder, nullptr, nullptr) < 0) {
            probe.error = "cannot decode";
        } else {
            while (av_read_frame(format, packet) >= 0) {
                if (packet->stream_index == index && avcodec_send_packet(decoder, packet) >= 0) {
                    receive();
                }
                av_packet_unref(packet);
            }
            avcodec_send_packet(decoder, nullptr);
            receive();
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return probe;
}

std::vector<int> KeyFrameIndices(const VideoProbe& probe)
{
    std::vector<int> indices;
    for (std::size_t i = 0; i < probe.keyFrames.size(); ++i) {
        if (probe.keyFrames[i]) {
            indices.push_back(static_cast<int>(i));
        }
    }
    return indices;
}

std::vector<fs::path> EntriesIn(const fs::path& folder)
{
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(folder)) {
        entries.push_back(entry.path().filename());
    }
    return entries;
}

// A square that moves over a diagonal gradient, with a cut to another scene
// at frame 10; `noise` adds a fresh random texture to every frame, which no
// encoder can predict.
CImageBuffer MovingFrame(int size, int index, bool noise = false)
{
    CImageBuffer image;
    image.Create(size, size);
    std::mt19937 random(static_cast<unsigned>(index) * 7919u + 1u);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            std::uint32_t level = static_cast<std::uint32_t>((x + y) * 255 / (2 * size));
            const int left = (index * 5) % (size - 16);
            if (x >= left && x < left + 16 && y >= size / 3 && y < size / 3 + 16) {
                level = 250;
            }
            if (index >= 10) {
                level = ((x * 37) ^ (y * 11)) & 255u;
            }
            if (noise) {
                level = (level + random() % 64) & 255u;
            }
            image.SetPixel(x, y, 0xFF000000u | level << 16 | (255u - level) << 8 | (level / 2));
        }
    }
    return image;
}

struct EncodeSettings {
    int size = 64;
    float rate = 25.0f;
    int quality = 20;
    int keyFrameSelect = CVideoEncoder::kKeyFramesAutomatic;
    int keyFrameEvery = 24;
    int twoPass = 0;
    bool noise = false;
};

void Configure(CVideoEncoder& encoder, const EncodeSettings& settings)
{
    encoder.SetMPEGFormat(CVideoEncoder::MPEG_H264);
    encoder.SetMPEGWidth(settings.size);
    encoder.SetMPEGHeight(settings.size);
    encoder.SetFrameRate(settings.rate);
    encoder.Set2Pass(settings.twoPass);
    encoder.SetQuality(settings.quality);
    encoder.SetKeyFrameSelect(settings.keyFrameSelect);
    encoder.SetKeyFrameEvery(settings.keyFrameEvery);
}

// The job's order: open, every frame once per pass, close.
bool Encode(const fs::path& path, const EncodeSettings& settings, int frames, std::string* error = nullptr)
{
    CVideoEncoder encoder;
    Configure(encoder, settings);
    bool ok = encoder.OpenMPEG(path);
    for (int pass = 0; ok && pass < encoder.GetPassCount(); ++pass) {
        ok = pass == 0 || encoder.StartNextPass();
        for (int i = 0; ok && i < frames; ++i) {
            ok = encoder.AddFrame(MovingFrame(settings.size, i, settings.noise)) == 1;
        }
    }
    ok = encoder.CloseMPEG() && ok;
    if (error) {
        *error = encoder.GetError();
    }
    return ok;
}

class VideoEncoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CVideoEncoder::QuietLibraryMessages(); }
    test::TempDir m_dir;
};

TEST_F(VideoEncoderTest, ContainerFollowsExtensionAndStreamReadsBack)
{
    struct Case {
        const char* name;
        const char* container;
        float rate;
    };
    for (const Case& c : {Case{"clip.avi", "avi", 25.0f}, Case{"clip.MOV", "mov", 30.0f}}) {
        SCOPED_TRACE(c.name);
        std::string error;
        ASSERT_TRUE(Encode(m_dir / c.name, {.size = 64, .rate = c.rate}, 12, &error)) << error;
        const VideoProbe probe = ProbeVideo(m_dir / c.name);
        ASSERT_EQ(probe.error, "");
        EXPECT_NE(probe.container.find(c.container), std::string::npos) << probe.container;
        EXPECT_EQ(probe.codec, "h264");
        EXPECT_EQ(probe.width, 64);
        EXPECT_EQ(probe.height, 64);
        EXPECT_EQ(av_cmp_q(probe.frameRate, av_d2q(c.rate, 1000)), 0)
            << probe.frameRate.num << "/" << probe.frameRate.den;
        EXPECT_EQ(probe.pixelFormat, AV_PIX_FMT_YUV420P);
        EXPECT_EQ(probe.colorSpace, AVCOL_SPC_BT709);
        EXPECT_EQ(probe.keyFrames.size(), 12u);
    }
    // Only the two videos remain: no temporary file, no statistics.
    EXPECT_EQ(EntriesIn(m_dir.Path()).size(), 2u);
}

TEST_F(VideoEncoderTest, QuickTimeIndexPrecedesTheMediaData)
{
    ASSERT_TRUE(Encode(m_dir / "front.mov", {}, 12));
    const std::vector<std::uint8_t> bytes = test::ReadFileBytes(m_dir / "front.mov");
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t moov = text.find("moov");
    const std::size_t mdat = text.find("mdat");
    ASSERT_NE(moov, std::string::npos);
    ASSERT_NE(mdat, std::string::npos);
    EXPECT_LT(moov, mdat);
}

TEST_F(VideoEncoderTest, PixelsArriveUprightWithBt709Colours)
{
    // Top half red, bottom half blue, given once as an image buffer and once
    // as a raw bottom-up 24-bit block. BT.709 puts red at Y 63 and blue at Y
    // 32 (BT.601 would give 81 and 41); a flip or a red/blue swap shows in Y.
    CImageBuffer image;
    image.Create(32, 32);
    std::vector<std::uint8_t> raw(32 * 32 * 3);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const bool top = y < 16;
            image.SetPixel(x, y, top ? 0xFFFF0000u : 0x000000FFu);
            std::uint8_t* pixel = &raw[((31 - y) * 32 + x) * 3];
            pixel[0] = top ? 0 : 255;  // blue
            pixel[2] = top ? 255 : 0;  // red
        }
    }
    for (const bool fromBlock : {false, true}) {
        SCOPED_TRACE(fromBlock ? "raw block" : "image buffer");
        const fs::path path = m_dir / (fromBlock ? "block.mov" : "image.mov");
        CVideoEncoder encoder;
        Configure(encoder, {.size = 32, .quality = 1});
        ASSERT_TRUE(encoder.OpenMPEG(path)) << encoder.GetError();
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(fromBlock ? encoder.AddFrame(32, 32, 24, raw.data()) : encoder.AddFrame(image), 1)
                << encoder.GetError();
        }
        ASSERT_TRUE(encoder.CloseMPEG()) << encoder.GetError();
        const VideoProbe probe = ProbeVideo(path);
        ASSERT_EQ(probe.keyFrames.size(), 3u);
        EXPECT_NEAR(probe.topMean[0], 63, 4);
        EXPECT_NEAR(probe.topMean[2], 240, 4);  // Cr of red
        EXPECT_NEAR(probe.bottomMean[0], 32, 4);
        EXPECT_NEAR(probe.bottomMean[1], 240, 4);  // Cb of blue
    }
}

TEST_F(VideoEncoderTest, KeyFramesFollowTheChosenMode)
{
    // The clip cuts to another scene at frame 10, where the encoder codes an
    // intra frame of its own choice (a key frame only from 25 frames on).
    const int frames = 18;
    ASSERT_TRUE(Encode(m_dir / "auto.avi", {.keyFrameSelect = CVideoEncoder::kKeyFramesAutomatic}, frames));
    EXPECT_EQ(ProbeVideo(m_dir / "auto.avi").intraFrames, (std::vector<int>{0, 10}));
    // An interval of 0 leaves the choice to the encoder, as automatic does.
    ASSERT_TRUE(Encode(m_dir / "every0.avi", {.keyFrameSelect = CVideoEncoder::kKeyFramesEvery, .keyFrameEvery = 0},
                       frames));
    EXPECT_EQ(ProbeVideo(m_dir / "every0.avi").intraFrames, (std::vector<int>{0, 10}));

    for (const char* name : {"every6.avi", "every6.mov"}) {
        ASSERT_TRUE(Encode(m_dir / name, {.keyFrameSelect = CVideoEncoder::kKeyFramesEvery, .keyFrameEvery = 6},
                           frames));
        const VideoProbe probe = ProbeVideo(m_dir / name);
        EXPECT_EQ(KeyFrameIndices(probe), (std::vector<int>{0, 6, 12})) << name;
        EXPECT_EQ(probe.intraFrames, (std::vector<int>{0, 6, 12})) << "no extra intra frame at the cut";
    }

    ASSERT_TRUE(Encode(m_dir / "all.avi", {.keyFrameSelect = CVideoEncoder::kKeyFramesAll}, frames));
    const VideoProbe all = ProbeVideo(m_dir / "all.avi");
    ASSERT_EQ(all.keyFrames.size(), 18u);
    EXPECT_EQ(KeyFrameIndices(all).size(), 18u);
}

TEST_F(VideoEncoderTest, QualityMapsMonotonicallyOntoRateFactor)
{
    EXPECT_DOUBLE_EQ(QualityToRateFactor(1), 12.0);
    EXPECT_DOUBLE_EQ(QualityToRateFactor(42), 51.0);
    for (int q = 2; q <= 42; ++q) {
        EXPECT_GT(QualityToRateFactor(q), QualityToRateFactor(q - 1)) << q;
    }
    std::uintmax_t previous = UINTMAX_MAX;
    for (const int quality : {1, 21, 42}) {
        const fs::path path = m_dir / ("q" + std::to_string(quality) + ".mov");
        ASSERT_TRUE(Encode(path, {.size = 128, .quality = quality, .noise = true}, 6));
        const std::uintmax_t size = fs::file_size(path);
        EXPECT_LT(size, previous) << "quality " << quality;
        previous = size;
    }
}

TEST_F(VideoEncoderTest, TwoPassesNeedTheFramesTwiceAndGiveAValidFile)
{
    std::string error;
    ASSERT_TRUE(Encode(m_dir / "two.mov", {.size = 64, .twoPass = 1, .noise = true}, 12, &error)) << error;
    const VideoProbe probe = ProbeVideo(m_dir / "two.mov");
    EXPECT_EQ(probe.codec, "h264");
    EXPECT_EQ(probe.keyFrames.size(), 12u);
    EXPECT_EQ(EntriesIn(m_dir.Path()).size(), 1u);

    CVideoEncoder encoder;
    Configure(encoder, {.twoPass = 1});
    ASSERT_TRUE(encoder.OpenMPEG(m_dir / "passes.avi"));
    EXPECT_EQ(encoder.GetPassCount(), 2);
    EXPECT_FALSE(encoder.StartNextPass()) << "a pass without frames cannot guide the next";

    CVideoEncoder single;
    Configure(single, {});
    ASSERT_TRUE(single.OpenMPEG(m_dir / "single.avi"));
    EXPECT_EQ(single.GetPassCount(), 1);
    ASSERT_EQ(single.AddFrame(MovingFrame(64, 0)), 1);
    EXPECT_FALSE(single.StartNextPass());
    EXPECT_NE(single.GetError(), "");
}

TEST_F(VideoEncoderTest, StoppedVideoHoldsTheFramesAddedSoFar)
{
    for (const int twoPass : {0, 1}) {
        SCOPED_TRACE(twoPass ? "stopped in the second pass" : "single pass");
        const fs::path path = m_dir / (twoPass ? "stop2.mov" : "stop1.avi");
        CVideoEncoder encoder;
        Configure(encoder, {.twoPass = twoPass});
        ASSERT_TRUE(encoder.OpenMPEG(path));
        if (twoPass) {
            for (int i = 0; i < 12; ++i) {
                ASSERT_EQ(encoder.AddFrame(MovingFrame(64, i)), 1);
            }
            ASSERT_TRUE(encoder.StartNextPass()) << encoder.GetError();
        }
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(encoder.AddFrame(MovingFrame(64, i)), 1);
        }
        EXPECT_EQ(encoder.GetFrameCount(), 5);
        ASSERT_TRUE(encoder.CloseMPEG()) << encoder.GetError();
        EXPECT_EQ(ProbeVideo(path).keyFrames.size(), 5u);
    }

    // A stop before the first frame of the written pass leaves the old target.
    for (const int twoPass : {0, 1}) {
        const fs::path path = m_dir / "empty.avi";
        test::WriteFileBytes(path, {7});
        CVideoEncoder encoder;
        Configure(encoder, {.twoPass = twoPass});
        ASSERT_TRUE(encoder.OpenMPEG(path));
        if (twoPass) {
            ASSERT_EQ(encoder.AddFrame(MovingFrame(64, 0)), 1);
            ASSERT_TRUE(encoder.StartNextPass()) << encoder.GetError();
        }
        EXPECT_FALSE(encoder.CloseMPEG());
        EXPECT_NE(encoder.GetError().find("no frames"), std::string::npos) << encoder.GetError();
        EXPECT_EQ(test::ReadFileBytes(path), std::vector<std::uint8_t>{7});
    }
}

TEST_F(VideoEncoderTest, RefusalsNameTheirReasonAndLeaveNothing)
{
    struct Case {
        const char* what;
        fs::path path;
        EncodeSettings settings;
    };
    fs::create_directory(m_dir / "folder.avi");
    const Case cases[] = {
        {"missing folder", m_dir / "missing" / "clip.avi", {}},
        {"target is a folder", m_dir / "folder.avi", {}},
        {"other extension", m_dir / "clip.webm", {}},
        {"container without H.264", m_dir / "clip.mkv", {}},
        {"odd size", m_dir / "clip.avi", {.size = 63}},
        {"quality 0", m_dir / "clip.avi", {.quality = 0}},
        {"quality 43", m_dir / "clip.avi", {.quality = 43}},
        {"frame rate 0", m_dir / "clip.avi", {.rate = 0.0f}},
        {"negative interval", m_dir / "clip.avi",
         {.keyFrameSelect = CVideoEncoder::kKeyFramesEvery, .keyFrameEvery = -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CVideoEncoder encoder;
        Configure(encoder, c.settings);
        EXPECT_FALSE(encoder.OpenMPEG(c.path));
        EXPECT_NE(encoder.GetError(), "");
        EXPECT_EQ(encoder.AddFrame(MovingFrame(64, 0)), 0);
        EXPECT_FALSE(encoder.CloseMPEG());
    }
    EXPECT_EQ(EntriesIn(m_dir.Path()), std::vector<fs::path>{"folder.avi"});
    EXPECT_TRUE(fs::is_empty(m_dir / "folder.avi"));
}

TEST_F(VideoEncoderTest, FailedOrAbandonedVideoKeepsTheOldTarget)
{
    const fs::path target = m_dir / "old.mov";
    test::WriteFileBytes(target, {1, 2, 3});
    {
        CVideoEncoder encoder;
        Configure(encoder, {});
        ASSERT_TRUE(encoder.OpenMPEG(target));
        ASSERT_EQ(encoder.AddFrame(MovingFrame(64, 0)), 1);
        EXPECT_EQ(encoder.AddFrame(MovingFrame(32, 1)), 0);
        EXPECT_NE(encoder.GetError().find("32 x 32"), std::string::npos) << encoder.GetError();
        EXPECT_EQ(encoder.AddFrame(MovingFrame(64, 2)), 0) << "no frames after a failure";
        EXPECT_FALSE(encoder.CloseMPEG());
    }
    {
        CVideoEncoder encoder;  // destroyed without CloseMPEG
        Configure(encoder, {});
        ASSERT_TRUE(encoder.OpenMPEG(target));
        ASSERT_EQ(encoder.AddFrame(MovingFrame(64, 0)), 1);
    }
    EXPECT_EQ(test::ReadFileBytes(target), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(EntriesIn(m_dir.Path()).size(), 1u);

    ASSERT_TRUE(Encode(target, {}, 3));
    EXPECT_EQ(ProbeVideo(target).keyFrames.size(), 3u) << "a finished video replaces the target";
}

TEST_F(VideoEncoderTest, NarrowFramesAreReadWithinTheirRows)
{
    // Each frame block ends where readable memory ends, so that a read past
    // its last row faults.
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* area = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    ASSERT_EQ(mprotect(static_cast<std::uint8_t*>(area) + page, page, PROT_NONE), 0);
    struct Case {
        VideoStream stream;
        int width;
    };
    for (const Case& c : {Case{{VideoCodec::H264}, 2}, Case{{VideoCodec::H264}, 4}, Case{{VideoCodec::ProRes}, 3},
                          Case{{VideoCodec::ProRes}, 4}}) {
        SCOPED_TRACE(std::string(CodecName(c.stream.codec)) + " " + std::to_string(c.width));
        const int height = 2;
        const auto bytes = static_cast<std::size_t>(PaddedRowBytes(c.width, 32) * height);
        std::uint8_t* block = static_cast<std::uint8_t*>(area) + page - bytes;
        std::fill(block, block + bytes, std::uint8_t{0x80});
        const fs::path path = m_dir / "narrow.mov";
        CVideoEncoder encoder;
        encoder.SetStream(c.stream);
        encoder.SetMPEGWidth(c.width);
        encoder.SetMPEGHeight(height);
        ASSERT_TRUE(encoder.OpenMPEG(path)) << encoder.GetError();
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(encoder.AddFrame(c.width, height, 32, block), 1) << encoder.GetError();
        }
        ASSERT_TRUE(encoder.CloseMPEG()) << encoder.GetError();
        EXPECT_EQ(ProbeVideo(path).keyFrames.size(), 3u);
    }
    munmap(area, 2 * page);
}

TEST_F(VideoEncoderTest, LongAndUnusualPathsWork)
{
    fs::path folder = m_dir.Path();
    for (int i = 0; i < 4; ++i) {
        folder /= std::string(90, static_cast<char>('a' + i));
    }
    fs::create_directories(folder);
    for (const std::string& name : {std::string(200, 'v') + ".mov", std::string("a:b #1%20.avi")}) {
        const fs::path path = folder / name;
        ASSERT_GT(path.string().size(), 260u);
        std::string error;
        ASSERT_TRUE(Encode(path, {}, 2, &error)) << error;
        EXPECT_EQ(ProbeVideo(path).keyFrames.size(), 2u);
    }
    EXPECT_EQ(EntriesIn(folder).size(), 2u);
}

}  // namespace
}  // namespace skelvane
