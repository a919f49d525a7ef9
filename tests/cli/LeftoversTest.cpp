// What runs that did not end normally leave: a run killed mid-video (SIGKILL)
// leaves its hidden partial video and two-pass statistics, which the next run
// writing there removes, and never a file under the video's name; a run
// aborted by a second Ctrl-C removes its own.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CliFaultHarness.h"
#include "support/TestImages.h"
#include "support/VideoFacts.h"

namespace skelvane::test {
namespace {
namespace fs = std::filesystem;

std::vector<std::string> HiddenIn(const fs::path& folder)
{
    std::vector<std::string> hidden;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string()[0] == '.') {
            hidden.push_back(entry.path().filename().string());
        }
    }
    return hidden;
}

class Leftovers : public CliFault {
protected:
    void SetUp() override
    {
        m_pano = (m_dir / "pano.png").string();
        ASSERT_TRUE(MakePatternImage(256, 128, 4).Save(m_pano));
        fs::create_directories(m_out);
        fs::create_directories(m_temp);
        m_launch.stdoutPipe = true;
        m_launch.environment = {"TMPDIR=" + m_temp.string()};
    }

    std::vector<std::string> TwoPassVideo(const std::string& name, int size, int seconds = 40) const
    {
        return {"pano2dome",  "--input",   m_pano,    "--output",           (m_out / name).string(),
                "--mode",     "video",     "--size",  std::to_string(size), "--duration",
                std::to_string(seconds), "--two-pass", "--threads", "2"};
    }

    bool ErrorSays(const std::string& text) const
    {
        for (int wait = 0; wait < 6000; ++wait) {
            const std::vector<std::uint8_t> err = ReadFileBytes(ErrFile());
            if (std::string(err.begin(), err.end()).find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::string m_pano;
    fs::path m_out = m_dir / "out";
    fs::path m_temp = m_dir / "tmp";
    CliLaunch m_launch;
};

TEST_F(Leftovers, AKilledRunsPartsGoWithTheNextRunWritingThere)
{
    {
        CliChild killed(TwoPassVideo("old.mov", 256), m_launch, ErrFile());
        ASSERT_TRUE(killed.ReadUntil("frame 3/2000"));
        killed.Signal(SIGKILL);
        EXPECT_EQ(killed.Wait().status, 1000 + SIGKILL);
    }
    ASSERT_EQ(HiddenIn(m_out).size(), 1u) << "the partial video";
    ASSERT_FALSE(fs::is_empty(m_temp)) << "the statistics";

    const CliResult result = Run(TwoPassVideo("new.mov", 32, 1), m_launch);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(HiddenIn(m_out).empty());
    EXPECT_TRUE(fs::is_empty(m_temp));
    EXPECT_TRUE(ReadVideo(m_out / "new.mov"));
}

TEST_F(Leftovers, AKilledVideoOfCubeFramesOrOfASequenceIsNeverUnderItsName)
{
    const fs::path faces = Sample(150, 64);
    const fs::path domes = m_dir / "domes";
    const CliResult rendered = Run({"pano2dome", "--input", m_pano, "--output", domes.string(), "--mode", "frames",
                                    "--size", "256", "--duration", "6", "--format", "bmp"});
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    struct Case {
        std::vector<std::string> args;
        fs::path video;
    };
    const Case cases[] = {
        {{"cube2dome", "--input", faces.string(), "--video", (m_out / "cube.mov").string(), "--size", "512",
          "--codec", "prores"},
         m_out / "cube.mov"},
        {{"encode", "--input", domes.string(), "--output", (m_out / "domes.mp4").string(), "--codec", "hevc",
          "--two-pass"},
         m_out / "domes.mp4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        CliChild killed(c.args, m_launch, ErrFile());
        ASSERT_TRUE(killed.ReadUntil("frame 3/"));
        killed.Signal(SIGKILL);
        EXPECT_EQ(killed.Wait().status, 1000 + SIGKILL);
        EXPECT_FALSE(fs::exists(c.video)) << "never a partial video under its name";
        EXPECT_EQ(HiddenIn(m_out).size(), 1u) << "the partial video, for the next run to remove";
        fs::remove_all(m_out);
        fs::create_directories(m_out);
    }
}

TEST_F(Leftovers, ASecondInterruptAbortsAndTakesTheRunsPartsAlong)
{
    // Four sub-samples a pixel make each frame slow enough that the
    // second interrupt still finds the first frame running on a busy machine.
    std::vector<std::string> video = TwoPassVideo("sweep.mov", 2048);
    video.insert(video.end(), {"--supersample", "2"});
    for (const std::vector<std::string>& args :
         {video, std::vector<std::string>{"pano2dome", "--input", m_pano, "--output", m_out.string(), "--mode",
                                          "frames", "--size", "2048", "--duration", "40", "--format", "bmp",
                                          "--threads", "2", "--supersample", "2"}}) {
        SCOPED_TRACE(args[6]);
        CliChild child(args, m_launch, ErrFile());
        ASSERT_TRUE(child.ReadUntil("frame 1/"));
        child.Signal(SIGINT);
        ASSERT_TRUE(ErrorSays("press Ctrl-C again to abort"));
        child.Signal(SIGINT);
        const CliResult result = child.Wait();
        EXPECT_EQ(result.status, 130);
        EXPECT_NE(result.err.find("Aborted."), std::string::npos) << result.err;
        EXPECT_TRUE(HiddenIn(m_out).empty()) << testing::PrintToString(HiddenIn(m_out));
        EXPECT_TRUE(fs::is_empty(m_temp));
        EXPECT_FALSE(fs::exists(m_out / "sweep.mov")) << "never a partial video under its name";
    }
}

}  // namespace
}  // namespace skelvane::test
