#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pano2dome/FrameRate.h"
#include "pano2dome/Pano2DomeJob.h"
#include "pano2dome/VideoFormat.h"

namespace skelvane {
namespace {

TEST(FrameRate, ParsesWholeFractionalAndBroadcastRatesExactly)
{
    struct Case {
        const char* text;
        std::uint32_t num;
        std::uint32_t den;
    };
    const Case cases[] = {
        {"25", 25, 1},          {"0", 0, 1},           {"30000/1001", 30000, 1001}, {"50/2", 25, 1},
        {"29.97", 30000, 1001}, {"23.976", 24000, 1001}, {"23.98", 24000, 1001},   {"47.952", 48000, 1001},
        {"59.94", 60000, 1001}, {"119.88", 120000, 1001}, {"12.5", 25, 2},         {"25.0", 25, 1},
        {"59.9", 599, 10},
    };
    for (const Case& c : cases) {
        const std::optional<FrameRate> rate = ParseFrameRate(c.text);
        ASSERT_TRUE(rate.has_value()) << c.text;
        EXPECT_EQ(rate->num, c.num) << c.text;
        EXPECT_EQ(rate->den, c.den) << c.text;
    }
    for (const char* bad : {"", "abc", "25/0", "1/", "/2", "2.5.1", "-25", "25fps", "1e3", "30000/1001/2", "25.",
                            ".5", "0.1234567", "99999999999", "1000001", "1/1000001", " 25"}) {
        EXPECT_FALSE(ParseFrameRate(bad).has_value()) << '"' << bad << '"';
    }
    EXPECT_EQ(FrameRateText({30000, 1001}), "30000/1001");
    EXPECT_EQ(FrameRateText(25), "25");
    EXPECT_EQ(FrameRate(50, 2), FrameRate(25));
    EXPECT_FALSE(FrameRate(30000, 1001) == FrameRate(2997, 100));
}

TEST(FrameRate, FrameCountsAreRoundedToWholeFrames)
{
    EXPECT_EQ(FramesInSeconds(25, 5), 125u);
    EXPECT_EQ(FramesInSeconds({30000, 1001}, 5), 150u);   // 149.85
    EXPECT_EQ(FramesInSeconds({24000, 1001}, 5), 120u);   // 119.88
    EXPECT_EQ(FramesInSeconds({30000, 1001}, 60), 1798u); // 1798.2
    EXPECT_EQ(FramesInSeconds({1, 2}, 1), 1u);            // half a frame rounds up
    EXPECT_EQ(FramesInSeconds({1, 3}, 1), 0u);
    EXPECT_EQ(FramesInSeconds(4'000'000'000u, 4'000'000'000u), 16'000'000'000'000'000'000u);
}

TEST(FrameRate, SweepAtABroadcastRateStepsByTheExactRate)
{
    const CPanoSweep ntsc(-180, 180, 5, {30000, 1001});
    EXPECT_EQ(ntsc.FrameCount(), 150u);
    EXPECT_EQ(ntsc.DegreesPerSecond(), 72u);
    EXPECT_EQ(ntsc.Step(), static_cast<float>(72.0 * 1001 / 30000));
    // A whole rate written as a fraction is the same sweep as the whole rate.
    const CPanoSweep whole(-180, 180, 7, 25);
    const CPanoSweep fraction(-180, 180, 7, {50, 2});
    EXPECT_EQ(whole.FrameCount(), fraction.FrameCount());
    EXPECT_EQ(whole.Step(), fraction.Step());
    EXPECT_EQ(whole.Step(), static_cast<float>(51.0 / 25));
}

TEST(VideoFormat, NamesRoundTripAndProfilesBelongToTheirCodec)
{
    for (VideoCodec codec : kVideoCodecs) {
        EXPECT_EQ(ParseVideoCodec(CodecName(codec)), codec);
        for (VideoProfile profile : ProfilesOf(codec)) {
            EXPECT_EQ(ParseVideoProfile(codec, ProfileName(profile)), profile) << ProfileName(profile);
        }
    }
    EXPECT_FALSE(ParseVideoCodec("H264").has_value());
    EXPECT_FALSE(ParseVideoProfile(VideoCodec::ProRes, "main10").has_value());
    EXPECT_FALSE(ParseVideoProfile(VideoCodec::H264, "high").has_value());
    EXPECT_EQ(UnknownProfileText(VideoCodec::Hap, "xq"), "\"xq\" is no profile of HAP; it has hap, alpha or q.");

    EXPECT_EQ(StreamTitle({VideoCodec::Hevc, VideoProfile::HevcMain10}), "HEVC Main 10");
    EXPECT_EQ(StreamTitle({VideoCodec::ProRes, VideoProfile::Automatic, true}), "ProRes 4444");
    EXPECT_EQ(StreamTitle({VideoCodec::ProRes}), "ProRes 422 HQ");
    EXPECT_EQ(StreamTitle({VideoCodec::Hap, VideoProfile::Automatic, true}), "HAP Alpha");
    EXPECT_EQ(StreamTitle({VideoCodec::H264}), "H.264");
    EXPECT_EQ(StreamBitDepth({VideoCodec::Hevc, VideoProfile::HevcMain10}), 10);
    EXPECT_EQ(StreamBitDepth({VideoCodec::Hevc}), 8);
    EXPECT_EQ(StreamBitDepth({VideoCodec::ProRes}), 10);
    EXPECT_EQ(LowerVideoExtension("/a.b/Clip.MOV"), ".mov");
    EXPECT_EQ(LowerVideoExtension("/a.b/clip"), "");
    EXPECT_EQ(LowerVideoExtension("/a/.mov"), "");
}

TEST(VideoFormat, ContainersCarryTheirCodecsOnly)
{
    // Rows: codecs in kVideoCodecs order; columns .avi .mov .mp4 .mkv.
    const char* const extensions[] = {".avi", ".mov", ".mp4", ".mkv"};
    const bool carries[5][4] = {
        {true, true, true, false},    // H.264
        {false, true, true, false},   // HEVC
        {false, true, false, false},  // ProRes
        {false, true, false, false},  // HAP
        {false, true, false, true},   // FFV1
    };
    for (int c = 0; c < 5; ++c) {
        for (int e = 0; e < 4; ++e) {
            const VideoTarget target{{kVideoCodecs[c]}, extensions[e], 64, 64, 25};
            const std::optional<std::string> refusal = CheckVideoTarget(target);
            EXPECT_EQ(!refusal.has_value(), carries[c][e])
                << CodecName(kVideoCodecs[c]) << " in " << extensions[e] << ": " << refusal.value_or("");
        }
    }
    const std::optional<std::string> prores = CheckVideoTarget({{VideoCodec::ProRes}, ".avi", 64, 64, 25});
    EXPECT_EQ(prores, "A .avi file cannot carry ProRes: ProRes is written into .mov files, and .avi files carry "
                      "H.264.");
    EXPECT_EQ(CheckVideoTarget({{VideoCodec::H264}, ".webm", 64, 64, 25}),
              "A video file name must end in .avi, .mov, .mp4 or .mkv; H.264 is written into .avi, .mov or .mp4 "
              "files.");
}

TEST(VideoFormat, RefusalsSayWhyAndNameWhatCan)
{
    struct Target {
        VideoStream stream;
        const char* extension;
        std::int64_t width;
        std::int64_t height;
        FrameRate rate;
    };
    struct Case {
        const char* what;
        Target target;
        std::vector<std::string> says;  // empty: accepted
    };
    const Case cases[] = {
        {"8192 square H.264",
         {{VideoCodec::H264}, ".mov", 8192, 8192, 25},
         {"262,144 macroblocks a frame", "6.2", "139,264", "Choose HEVC, ProRes or HAP."}},
        {"H.264 at the largest level's frame size", {{VideoCodec::H264}, ".mov", 5968, 5968, 25}, {}},
        {"one macroblock beyond it on each side", {{VideoCodec::H264}, ".mov", 5984, 5984, 25}, {"139,876"}},
        {"H.264 side beyond 1055 macroblocks",
         {{VideoCodec::H264}, ".mp4", 16896, 32, 25},
         {"a side of 1,056 macroblocks", "(1,055)"}},
        {"4096 square H.264 at 60", {{VideoCodec::H264}, ".mp4", 4096, 4096, 60}, {}},
        {"4096 square H.264 at 300",
         {{VideoCodec::H264}, ".mp4", 4096, 4096, 300},
         {"19,660,800 macroblocks a second", "16,711,680", "at most 255 frames a second"}},
        {"broadcast rate compared exactly",
         {{VideoCodec::H264}, ".mp4", 4096, 4096, {255000, 1001}},
         {}},
        {"8192 square HEVC", {{VideoCodec::Hevc}, ".mp4", 8192, 8192, 60}, {}},
        {"8192 square ProRes", {{VideoCodec::ProRes}, ".mov", 8192, 8192, 60}, {}},
        {"8192 square HAP", {{VideoCodec::Hap}, ".mov", 8192, 8192, 60}, {}},
        {"odd H.264",
         {{VideoCodec::H264}, ".mov", 63, 63, 25},
         {"H.264 stores colour at half resolution", "63 x 63 is not", "62 x 62 or 64 x 64", "ProRes or FFV1"}},
        {"odd HEVC Main 10", {{VideoCodec::Hevc, VideoProfile::HevcMain10}, ".mov", 64, 63, 25}, {"64 x 62 or 64 x 64"}},
        {"HEVC too small for its encoder",
         {{VideoCodec::Hevc}, ".mp4", 62, 64, 25},
         {"at least 64 x 64 pixels; 62 x 64 is smaller", "H.264, ProRes or FFV1"}},
        {"HEVC at its least", {{VideoCodec::Hevc}, ".mp4", 64, 64, 25}, {}},
        {"odd ProRes", {{VideoCodec::ProRes}, ".mov", 63, 63, 25}, {}},
        {"odd FFV1", {{VideoCodec::Ffv1}, ".mkv", 63, 63, 25}, {}},
        {"HAP not divisible by 4",
         {{VideoCodec::Hap}, ".mov", 66, 66, 25},
         {"blocks of 4 x 4 pixels", "66 x 66 is not", "64 x 64 or 68 x 68"}},
        {"HAP of 2 pixels", {{VideoCodec::Hap}, ".mov", 2, 2, 25}, {"Use 4 x 4, or"}},
        {"H.264 with alpha",
         {{VideoCodec::H264, VideoProfile::Automatic, true}, ".mov", 64, 64, 25},
         {"H.264 has no alpha channel", "ProRes 4444, HAP Alpha and FFV1"}},
        {"ProRes HQ with alpha",
         {{VideoCodec::ProRes, VideoProfile::ProResHq, true}, ".mov", 64, 64, 25},
         {"ProRes 422 HQ has no alpha"}},
        {"ProRes with alpha takes 4444", {{VideoCodec::ProRes, VideoProfile::Automatic, true}, ".mov", 64, 64, 25}, {}},
        {"HAP with alpha takes HAP Alpha", {{VideoCodec::Hap, VideoProfile::Automatic, true}, ".mov", 64, 64, 25}, {}},
        {"HAP Q with alpha", {{VideoCodec::Hap, VideoProfile::HapQ, true}, ".mov", 64, 64, 25}, {"HAP Q has no alpha"}},
        {"FFV1 with alpha", {{VideoCodec::Ffv1, VideoProfile::Automatic, true}, ".mov", 64, 64, 25}, {}},
        {"a profile of another codec",
         {{VideoCodec::Hevc, VideoProfile::HapQ}, ".mov", 64, 64, 25},
         {"\"q\" is no profile of HEVC; it has main or main10."}},
        {"rate 0", {{VideoCodec::ProRes}, ".mov", 64, 64, 0}, {"above 0 and at most 1000", "; 0 is not"}},
        {"rate over 1000", {{VideoCodec::ProRes}, ".mov", 64, 64, {1001, 1}}, {"1001 is not"}},
    };
    for (const Case& c : cases) {
        const Target& t = c.target;
        const std::optional<std::string> refusal = CheckVideoTarget({t.stream, t.extension, t.width, t.height, t.rate});
        if (c.says.empty()) {
            EXPECT_FALSE(refusal.has_value()) << c.what << ": " << *refusal;
            continue;
        }
        ASSERT_TRUE(refusal.has_value()) << c.what;
        for (const std::string& part : c.says) {
            EXPECT_NE(refusal->find(part), std::string::npos) << c.what << ": " << *refusal;
        }
    }
}

TEST(VideoFormat, PanoJobRefusesAStreamBeforeAnyFrame)
{
    CPano2DomeJob job;
    job.mode = kPanoVideo;
    job.panorama = [] {
        auto panorama = std::make_shared<CImageBuffer>();
        panorama->Create(8, 4);
        return panorama;
    }();
    job.videoPath = "/tmp/clip.avi";
    job.outputWidth = 1001;
    job.video.stream = {VideoCodec::ProRes};
    EXPECT_EQ(CheckPano2DomeJob(job).value_or(""),
              "A .avi file cannot carry ProRes: ProRes is written into .mov files, and .avi files carry H.264.");
    job.videoPath = "/tmp/clip.mov";
    EXPECT_FALSE(CheckPano2DomeJob(job).has_value()) << "ProRes takes an odd width";
    job.video.stream = {VideoCodec::Hevc};
    EXPECT_EQ(CheckPano2DomeJob(job), pano2dome_text::kOddWidth);
    job.video.stream = {VideoCodec::Hap};
    EXPECT_NE(CheckPano2DomeJob(job).value_or("").find("1000 x 1000 or 1004 x 1004"), std::string::npos);
    job.outputWidth = 8192;
    job.video.stream = {VideoCodec::H264};
    EXPECT_NE(CheckPano2DomeJob(job).value_or("").find("HEVC, ProRes or HAP"), std::string::npos);
    job.frameRate = {1, 3};  // a third of a frame in one second
    job.duration = 1;
    EXPECT_EQ(CheckPano2DomeJob(job), pano2dome_text::kNoFrames);
}

}  // namespace
}  // namespace skelvane
