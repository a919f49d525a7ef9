#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "engine/jobs/JobControl.h"
#include "pano2dome/SequenceVideoJob.h"
#include "pano2dome/VideoEncoder.h"
#include "support/RecordingObserver.h"
#include "support/TempDir.h"
#include "support/TestImages.h"
#include "support/VideoFacts.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

class SequenceVideoJobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CVideoEncoder::QuietLibraryMessages(); }

    // Frames 0 .. count - 1 as PNG files, each its own pattern.
    std::vector<fs::path> WriteFrames(int count, int width = 24, int height = 16)
    {
        std::vector<fs::path> paths;
        fs::create_directories(m_dir / "frames");
        for (int i = 0; i < count; ++i) {
            const fs::path path = m_dir / "frames" / ("shot_" + std::to_string(100 + i) + ".png");
            EXPECT_TRUE(test::MakePatternImage(width, height, static_cast<std::uint32_t>(i)).Save(path));
            paths.push_back(path);
        }
        return paths;
    }

    CSequenceVideoJob Job(std::vector<fs::path> frames, const std::string& name, VideoStream stream = {VideoCodec::Ffv1})
    {
        CSequenceVideoJob job;
        job.frames = std::move(frames);
        job.videoPath = (m_dir / name).string();
        job.frameRate = {30000, 1001};
        job.video.stream = stream;
        return job;
    }

    void Run(const CSequenceVideoJob& job)
    {
        ASSERT_TRUE(BeginSequenceVideoJob(m_control, job, m_observer));
        ASSERT_TRUE(m_control.WaitForEnd(std::chrono::seconds(60)));
        m_control.Join();
    }

    test::TempDir m_dir;
    CJobControl m_control{CJobControl::Options{2, false}};
    test::RecordingObserver m_observer;
};

TEST_F(SequenceVideoJobTest, EveryImageReachesTheVideoInOrderAndUnchanged)
{
    const std::vector<fs::path> frames = WriteFrames(7);
    Run(Job(frames, "archive.mkv"));
    ASSERT_EQ(m_observer.end, JobEnd::Finished) << m_observer.reason;
    EXPECT_EQ(m_observer.progress, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6}));

    int index = 0;
    const std::optional<test::VideoFacts> facts = test::ReadVideo(m_dir / "archive.mkv", [&](const AVFrame& frame) {
        const std::vector<std::uint32_t> expected =
            test::PixelsOf(test::MakePatternImage(24, 16, static_cast<std::uint32_t>(index++)));
        for (int y = 0; y < 16; ++y) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(frame.data[0] + y * frame.linesize[0]);
            for (int x = 0; x < 24; ++x) {
                ASSERT_EQ(row[x] & 0xFFFFFFu, expected[static_cast<std::size_t>(y) * 24 + x] & 0xFFFFFFu)
                    << "frame " << index - 1 << " at " << x << ", " << y;
            }
        }
    });
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->frames, 7);
    EXPECT_EQ(av_cmp_q(facts->frameRate, AVRational{30000, 1001}), 0);
}

TEST_F(SequenceVideoJobTest, AnImageThatDoesNotFitFailsNamingItAndLeavesNoVideo)
{
    std::vector<fs::path> frames = WriteFrames(5);
    ASSERT_TRUE(test::MakePatternImage(24, 18).Save(frames[3]));
    test::WriteFileBytes(m_dir / "frames" / "broken.png", {0x89, 'P', 'N', 'G'});
    struct Case {
        const char* what;
        fs::path bad;
        const char* says;
    };
    for (const Case& c : {Case{"another size", frames[3], "is 24 x 18 pixels; the video is 24 x 16."},
                          Case{"unreadable", m_dir / "frames" / "broken.png", "Cannot read the dome image"}}) {
        SCOPED_TRACE(c.what);
        std::vector<fs::path> list = frames;
        list[3] = c.bad;
        m_observer.Reset();
        Run(Job(list, "clip.mov"));
        EXPECT_EQ(m_observer.end, JobEnd::Failed);
        EXPECT_NE(m_observer.reason.find(c.bad.string()), std::string::npos) << m_observer.reason;
        EXPECT_NE(m_observer.reason.find(c.says), std::string::npos) << m_observer.reason;
        EXPECT_EQ(m_observer.progress, (std::vector<std::int64_t>{0, 1, 2}));
        EXPECT_FALSE(fs::exists(m_dir / "clip.mov"));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.Path()), fs::directory_iterator()), 1) << "only frames/";
}

TEST_F(SequenceVideoJobTest, ChecksComeBeforeAnyFrameAndTwoPassesCountTwice)
{
    const std::vector<fs::path> frames = WriteFrames(4, 66, 66);
    EXPECT_EQ(CheckSequenceVideoJob(Job({}, "a.mov")).value_or(""), "There are no frames to encode.");
    EXPECT_NE(CheckSequenceVideoJob(Job(frames, "a.mov", {VideoCodec::Hap})).value_or("").find("divisible by 4"),
              std::string::npos);
    EXPECT_NE(CheckSequenceVideoJob(Job(frames, "a.avi", {VideoCodec::ProRes})).value_or("").find(".avi"),
              std::string::npos);
    m_observer.Reset();
    Run(Job(frames, "refused.mov", {VideoCodec::Hap}));
    EXPECT_EQ(m_observer.end, JobEnd::Failed);
    EXPECT_TRUE(m_observer.progress.empty());
    EXPECT_FALSE(fs::exists(m_dir / "refused.mov"));

    CSequenceVideoJob twice = Job(frames, "two.mp4", {VideoCodec::H264});
    twice.video.twoPass = true;
    EXPECT_FALSE(CheckSequenceVideoJob(twice).has_value());
    EXPECT_EQ(SequenceVideoProgressRange(twice), 8);
    m_observer.Reset();
    Run(twice);
    ASSERT_EQ(m_observer.end, JobEnd::Finished) << m_observer.reason;
    EXPECT_EQ(m_observer.progress, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(test::ReadVideo(m_dir / "two.mp4")->frames, 4);
}

TEST_F(SequenceVideoJobTest, AStopClosesTheVideoWithTheFramesWritten)
{
    const std::vector<fs::path> frames = WriteFrames(12);
    m_observer.onProgress = [&](std::int64_t position) {
        if (position == 4) m_control.RequestStop();
    };
    Run(Job(frames, "stopped.mov", {VideoCodec::ProRes}));
    EXPECT_EQ(m_observer.end, JobEnd::Stopped);
    EXPECT_EQ(m_observer.progress, (std::vector<std::int64_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(test::ReadVideo(m_dir / "stopped.mov")->frames, 5);
}

}  // namespace
}  // namespace skelvane
