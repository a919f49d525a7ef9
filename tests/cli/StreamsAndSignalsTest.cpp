// skelvane-cli started the ways scripts, daemons and schedulers start it:
// with standard streams closed or going away, and stopped by any of the
// interrupt signals at any moment, before its job as well as during it.
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CliFaultHarness.h"
#include "engine/image/ImageBuffer.h"
#include "pano2dome/Pano2DomeJob.h"
#include "support/TestImages.h"
#include "support/VideoFacts.h"

namespace skelvane::test {
namespace {
namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class StreamsAndSignals : public CliFault {
protected:
    void SetUp() override
    {
        m_pano = (m_dir / "pano.png").string();
        ASSERT_TRUE(MakePatternImage(128, 64, 3).Save(m_pano));
    }

    std::vector<std::string> Args(const std::string& mode, const fs::path& output,
                                  std::vector<std::string> extra = {}, int size = 48) const
    {
        std::vector<std::string> args = {"pano2dome", "--input",           m_pano, "--output", output.string(),
                                         "--mode",    mode,                "--size", std::to_string(size),
                                         "--threads", "2"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    std::string m_pano;
};

TEST_F(StreamsAndSignals, ClosedStandardStreamsNeverReachTheFiles)
{
    // Files opened by the program would take the lowest free numbers, and the
    // progress lines would be written into them.
    const std::vector<std::string> sweep = {"--format", "bmp", "--duration", "1", "--rate", "6"};
    ASSERT_EQ(Run(Args("frames", m_dir / "reference", sweep)).status, 0);
    const auto reference = FolderContents(m_dir / "reference");
    ASSERT_EQ(reference.size(), 6u);
    for (const std::vector<int>& closed : std::vector<std::vector<int>>{{1}, {2}, {0, 1, 2}}) {
        SCOPED_TRACE(testing::PrintToString(closed));
        const fs::path frames = m_dir / "frames";
        CliLaunch launch;
        launch.closed = closed;
        const CliResult result = Run(Args("frames", frames, sweep), launch);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(FolderContents(frames), reference);
        fs::remove_all(frames);

        const fs::path video = m_dir / "sweep.mov";
        EXPECT_EQ(Run(Args("video", video, {"--duration", "1", "--rate", "6"}), launch).status, 0);
        const std::optional<VideoFacts> facts = ReadVideo(video);
        ASSERT_TRUE(facts) << "the video must play";
        EXPECT_EQ(facts->frames, 6);
        fs::remove(video);
    }
}

TEST_F(StreamsAndSignals, AReaderThatGoesAwayDoesNotEndTheRender)
{
    const fs::path frames = m_dir / "frames";
    CliLaunch launch;
    launch.stdoutPipe = true;
    CliChild child(Args("frames", frames, {"--duration", "4", "--rate", "25"}, 256), launch, ErrFile());
    ASSERT_TRUE(child.ReadUntil("frame 1/100"));
    child.CloseOutput();  // as `| head -1` does
    const CliResult result = child.Wait();
    EXPECT_EQ(result.status, 0) << result.err;
    std::size_t written = 0;
    for (const auto& entry : fs::directory_iterator(frames)) {
        written += entry.path().filename().string()[0] != '.';
    }
    EXPECT_EQ(written, 100u);
}

TEST_F(StreamsAndSignals, EveryInterruptSignalStopsAfterTheFrameAndClosesTheVideo)
{
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        const fs::path video = m_dir / "sweep.mov";
        CliLaunch launch;
        launch.stdoutPipe = true;
        CliChild child(Args("video", video, {"--duration", "40"}, 256), launch, ErrFile());
        ASSERT_TRUE(child.ReadUntil("frame 3/1000"));
        child.Signal(sig);
        const CliResult result = child.Wait();
        EXPECT_EQ(result.status, 130) << result.err;
        EXPECT_TRUE(Contains(result.out, pano2dome_text::kStopped)) << result.out;
        const std::optional<VideoFacts> facts = ReadVideo(video);
        ASSERT_TRUE(facts) << "the video is closed and plays";
        EXPECT_EQ(static_cast<std::size_t>(facts->frames), Count(result.out, "frame ")) << "every frame reported";
        EXPECT_LT(facts->frames, 1000);
        fs::remove(video);
    }
}

TEST_F(StreamsAndSignals, AnInterruptBeforeTheJobEndsTheRunAtOnce)
{
    // Long enough to load that the signal arrives before the job begins.
    const fs::path big = m_dir / "big.png";
    ASSERT_TRUE(MakePatternImage(4096, 2048, 7).Save(big));
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        const fs::path dome = m_dir / "out" / "dome.png";
        std::vector<std::string> args = Args("image", dome);
        args[2] = big.string();
        CliChild child(args, {}, ErrFile());
        ASSERT_TRUE(child.WaitUntilInterruptsAreTaken());
        child.Signal(sig);
        const CliResult result = child.Wait();
        EXPECT_EQ(result.status, 130) << result.err;
        EXPECT_TRUE(Contains(result.err, "Stopped.")) << result.err;
        EXPECT_FALSE(fs::exists(m_dir / "out")) << "nothing rendered, not even the folder made";
    }
}

TEST_F(StreamsAndSignals, APipeNamedLikeAnImageIsRefusedAtOnce)
{
    const fs::path fifo = m_dir / "pano.jpg";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::vector<std::string> args = Args("image", m_dir / "dome.png");
    args[2] = fifo.string();
    const CliResult pano = Run(args, CliLaunch{}, std::chrono::seconds(60));
    EXPECT_EQ(pano.status, 2) << pano.err;
    EXPECT_TRUE(Contains(pano.err, fifo.string() + ": it is not a regular file")) << pano.err;

    // The faces: the width probe, then the job itself.
    const fs::path sample = Sample(1, 16);
    const fs::path face = sample / "left" / "L00001.bmp";
    fs::remove(face);
    ASSERT_EQ(mkfifo(face.c_str(), 0644), 0);
    const std::vector<std::string> cube = {"cube2dome", "--input", sample.string(), "--output",
                                           (m_dir / "dome").string()};
    const CliResult probe = Run(cube, CliLaunch{}, std::chrono::seconds(60));
    EXPECT_EQ(probe.status, 2) << probe.err;
    std::vector<std::string> sized = cube;
    sized.insert(sized.end(), {"--size", "32"});
    const CliResult job = Run(sized, CliLaunch{}, std::chrono::seconds(60));
    EXPECT_EQ(job.status, 1) << job.err;
    EXPECT_TRUE(Contains(job.err, face.string())) << job.err;
}

}  // namespace
}  // namespace skelvane::test
