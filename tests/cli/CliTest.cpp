// Runs the built skelvane-cli as a user or a script would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/image/DepthConversion.h"
#include "engine/image/ImageBuffer.h"
#include "engine/projection/CubeDomeSampler.h"
#include "engine/projection/PanoDomeProjector.h"
#include "engine/projection/QualityScene.h"
#include "imageio/ImageCodec.h"
#include "pano2dome/Pano2DomeJob.h"
#include "support/TempDir.h"
#include "support/TestImages.h"
#include "support/VideoFacts.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// Starts the program with stdout on a pipe and stderr in a file.
class Process {
public:
    Process(const std::vector<std::string>& args, const fs::path& errFile)
    {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, STDERR_FILENO);
            close(pipeFds[0]);
            std::vector<char*> argv;
            std::string program = SKELVANE_CLI_PATH;
            argv.push_back(program.data());
            std::vector<std::string> copies = args;
            for (std::string& arg : copies) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        m_out = pipeFds[0];
    }

    // Reads stdout until `text` appears (true) or the program closes it.
    bool ReadUntil(const std::string& text)
    {
        char buffer[4096];
        while (m_text.find(text) == std::string::npos) {
            const ssize_t got = read(m_out, buffer, sizeof buffer);
            if (got <= 0) {
                return false;
            }
            m_text.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }

    void Signal(int signal) { kill(m_pid, signal); }

    Result Wait(const fs::path& errFile)
    {
        ReadUntil(std::string(1, '\0'));  // no program prints this: reads to the end
        close(m_out);
        int status = 0;
        waitpid(m_pid, &status, 0);
        Result result;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        result.out = m_text;
        const std::vector<std::uint8_t> err = test::ReadFileBytes(errFile);
        result.err.assign(err.begin(), err.end());
        return result;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_text;
};

class Cli : public ::testing::Test {
protected:
    Result Run(const std::vector<std::string>& args)
    {
        Process process(args, ErrFile());
        return process.Wait(ErrFile());
    }
    fs::path ErrFile() const { return m_dir / "stderr.txt"; }
    const fs::path& Dir() const { return m_dir.Path(); }

    // The sample sequence, made by the program itself.
    fs::path Sample(int frames, int size)
    {
        const fs::path sample = m_dir / "sample";
        const Result made = Run({"sample", "--output", sample.string(), "--frames", std::to_string(frames),
                                 "--size", std::to_string(size)});
        EXPECT_EQ(made.status, 0) << made.err;
        return sample;
    }

    static std::vector<std::string> FilesIn(const fs::path& folder)
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    test::TempDir m_dir;
};

TEST_F(Cli, BadArgumentsExitWithTwo)
{
    const fs::path out = Dir() / "out";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"nonsense"},
             {"cube2dome"},  // no --output
             {"cube2dome", "--output", out.string(), "--faces", "7"},
             {"cube2dome", "--output", out.string(), "--digits", "2"},
             {"cube2dome", "--output", out.string(), "--frames", "3-"},
             {"cube2dome", "--output", out.string(), "--frames", "x"},
             {"cube2dome", "--output", out.string(), "--fov", "400"},
             {"cube2dome", "--output", out.string(), "--prefix", "../escape_"},
             {"cube2dome", "--output", out.string(), "--in-format", "gif"},
             {"cube2dome", "--output", out.string(), "--input", "a", "--left", "b"},
             {"sample", "--output", out.string(), "--size", "99999"},
         }) {
        const Result result = Run(args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(args) << "\n" << result.err;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(Run({"--help"}).status, 0);
}

TEST_F(Cli, SettingsChecksGiveTheirMessages)
{
    const fs::path sample = Sample(3, 16);
    const std::string out = (Dir() / "out").string();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--output", out}, "Parameter wrong, please check! "},
        {{"--input", (Dir() / "empty").string(), "--output", out}, "The input picture is null, please check! "},
        {{"--input", sample.string(), "--output", out, "--frames", "3-2"}, "Parameter wrong, please check! "},
        {{"--input", sample.string(), "--output", out, "--frames", "0"}, "Parameter wrong, please check! "},
        {{"--input", sample.string(), "--output", out, "--frames", "4"},
         "The single frame's number is too big, please check! "},
        {{"--input", sample.string(), "--output", out, "--size", "0"}, "The output 'width' is zero, please check! "},
        {{"--input", sample.string(), "--output", out, "--in-format", "png"},
         "The input picture is null, please check! "},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"cube2dome"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result result = Run(args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.message) << testing::PrintToString(args);
    }
    fs::remove_all(sample / "front");
    const Result fiveFaces = Run({"cube2dome", "--input", sample.string(), "--output", out});
    EXPECT_EQ(fiveFaces.err.substr(0, fiveFaces.err.find('\n')), "The input picture number is not same, please check! ");
}

TEST_F(Cli, RendersTheSampleAndReportsEachFrame)
{
    const fs::path sample = Sample(3, 32);
    EXPECT_TRUE(fs::exists(sample / "panorama.bmp"));
    const fs::path out = Dir() / "dome" / "nested";  // made by the program
    const Result result =
        Run({"cube2dome", "--input", sample.string(), "--output", out.string(), "--faces", "6", "--frames", "2-3"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("frame 1/2"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("frame 2/2"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("The FullDome render have finished! \n"), std::string::npos) << result.out;
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"FullDome_001.bmp", "FullDome_002.bmp"}));
    CImageBuffer dome;
    ASSERT_TRUE(dome.Load(out / "FullDome_001.bmp"));
    EXPECT_EQ(dome.GetWidth(), 64) << "twice the face width";
}

TEST_F(Cli, FacesByFolderWithOwnNamingAndSize)
{
    const fs::path sample = Sample(2, 16);
    const fs::path out = Dir() / "dome";
    std::vector<std::string> args = {"cube2dome", "--output", out.string(), "--prefix", "shot_", "--digits",
                                     "5", "--size", "40", "--frames", "2", "--tilt", "90", "--pan", "-30"};
    for (const char* face : {"left", "front", "right", "back", "top"}) {
        args.push_back(std::string("--") + face);
        args.push_back((sample / face).string());
    }
    const Result result = Run(args);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(FilesIn(out), std::vector<std::string>{"shot_00001.bmp"});
    CImageBuffer dome;
    ASSERT_TRUE(dome.Load(out / "shot_00001.bmp"));
    EXPECT_EQ(dome.GetWidth(), 40);
}

TEST_F(Cli, AFaceThatCannotBeReadIsExplained)
{
    const fs::path sample = Sample(1, 16);
    const fs::path face = sample / "left" / "L00001.bmp";
    test::WriteFileBytes(face, {'B', 'M', 0, 0});
    const std::string out = (Dir() / "out").string();
    // Without --size the width is taken from this face.
    const Result probe = Run({"cube2dome", "--input", sample.string(), "--output", out});
    EXPECT_EQ(probe.status, 2);
    EXPECT_NE(probe.err.find("(" + face.string() + " cannot be read to take the face width from: not a BMP file; "
                             "give --size.)\n"),
              std::string::npos)
        << probe.err;
    const Result job = Run({"cube2dome", "--input", sample.string(), "--output", out, "--size", "32"});
    EXPECT_EQ(job.status, 1);
    EXPECT_NE(job.err.find("Cannot read the face file " + face.string() + ": not a BMP file.\n"), std::string::npos)
        << job.err;
}

TEST_F(Cli, CubeFramesIntoOneVideo)
{
    const fs::path sample = Sample(4, 32);
    const fs::path video = Dir() / "movie" / "cube.mov";  // folder made by the program
    const std::vector<std::string> base = {"cube2dome", "--input", sample.string(), "--faces", "6", "--frames", "2-4"};
    auto run = [&](std::vector<std::string> more) {
        std::vector<std::string> args = base;
        args.insert(args.end(), more.begin(), more.end());
        return Run(args);
    };
    const Result made = run({"--video", video.string(), "--codec", "prores", "--rate", "24000/1001"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("frame 3/3"), std::string::npos) << made.out;
    EXPECT_NE(made.out.find("The FullDome render have finished! \n"), std::string::npos) << made.out;
    const std::optional<test::VideoFacts> facts = test::ReadVideo(video);
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->codec, "prores");
    EXPECT_EQ(facts->frames, 3);
    EXPECT_EQ(facts->width, 64) << "twice the face width";
    EXPECT_EQ(av_cmp_q(facts->frameRate, AVRational{24000, 1001}), 0);
    EXPECT_EQ(FilesIn(video.parent_path()), std::vector<std::string>{"cube.mov"});

    struct Case {
        std::vector<std::string> args;
        std::string message;  // the first line on the error stream; empty: the parser's own
    };
    const std::vector<Case> cases = {
        {{}, "Give --output, a folder for numbered dome masters, or --video, one video file."},
        {{"--video", video.string()}, video.string() + " exists; give --overwrite to replace it."},
        {{"--video", (Dir() / "hap.mov").string(), "--codec", "hap", "--size", "66"},
         "HAP compresses blocks of 4 x 4 pixels and needs a width and height divisible by 4; 66 x 66 is not. Use "
         "64 x 64 or 68 x 68, or ProRes or FFV1, which take any size."},
        {{"--video", (Dir() / "v.mov").string(), "--output", (Dir() / "out").string()}, ""},
        {{"--video", (Dir() / "v.mov").string(), "--skip-existing"}, ""},
        {{"--output", (Dir() / "out").string(), "--overwrite"}, ""},
    };
    for (const Case& c : cases) {
        const Result result = run(c.args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(c.args);
        if (!c.message.empty()) {
            EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.message) << testing::PrintToString(c.args);
        }
    }
    EXPECT_FALSE(fs::exists(Dir() / "hap.mov"));
    EXPECT_FALSE(fs::exists(Dir() / "out"));
    EXPECT_EQ(run({"--video", video.string(), "--overwrite", "--codec", "hevc", "--size", "64"}).status, 0);
    EXPECT_EQ(test::ReadVideo(video)->codec, "hevc");
}

TEST_F(Cli, AFolderThatCannotBeWrittenFailsWithOne)
{
    const fs::path sample = Sample(1, 16);
    test::WriteFileBytes(Dir() / "plain-file", {1});
    const fs::path out = Dir() / "plain-file" / "dome";
    const Result result = Run({"cube2dome", "--input", sample.string(), "--output", out.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Some error has happened, the FullDome render is not finished! "), std::string::npos);
    EXPECT_NE(result.err.find((out / "FullDome_000.bmp").string()), std::string::npos) << result.err;
}

TEST_F(Cli, InterruptStopsAfterTheFrameInProgress)
{
    const fs::path sample = Sample(200, 64);
    const fs::path out = Dir() / "dome";
    Process process({"cube2dome", "--input", sample.string(), "--output", out.string(), "--size", "1024",
                     "--threads", "2"},
                    ErrFile());
    ASSERT_TRUE(process.ReadUntil("frame 2/200"));
    process.Signal(SIGINT);
    const Result result = process.Wait(ErrFile());
    EXPECT_EQ(result.status, 130) << result.err;
    EXPECT_NE(result.out.find("User break down the task! "), std::string::npos);
    EXPECT_NE(result.err.find("Stopping after the frame in progress"), std::string::npos);
    const std::vector<std::string> files = FilesIn(out);
    ASSERT_LT(files.size(), 200u);
    std::size_t reported = 0;
    for (std::size_t at = result.out.find("frame "); at != std::string::npos; at = result.out.find("frame ", at + 1)) {
        ++reported;
    }
    EXPECT_EQ(files.size(), reported) << "every frame written was reported, nothing else is left";
    EXPECT_EQ(files.back(), "FullDome_" + std::string(3 - std::to_string(files.size() - 1).size(), '0') +
                                std::to_string(files.size() - 1) + ".bmp");
}


TEST_F(Cli, AnglesThatAreNotNumbersAreBadArguments)
{
    // Each would render black domes and end "finished".
    const fs::path sample = Sample(1, 16);
    const fs::path out = Dir() / "out";
    const std::string pano = (sample / "panorama.bmp").string();
    for (const char* option : {"--tilt", "--pan"}) {
        for (const char* value : {"nan", "-nan", "NaN", "inf", "-infinity"}) {
            for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
                     {"cube2dome", "--input", sample.string(), "--output", out.string()},
                     {"pano2dome", "--input", pano, "--output", (out / "dome.png").string()},
                 }) {
                std::vector<std::string> args = command;
                args.insert(args.end(), {option, value});
                const Result result = Run(args);
                EXPECT_EQ(result.status, 2) << testing::PrintToString(args) << "\n" << result.err;
                EXPECT_NE(result.err.find(option), std::string::npos) << result.err;
                EXPECT_FALSE(fs::exists(out));
            }
        }
    }
}

TEST_F(Cli, TooFewSerialDigitsAreRefusedWithTheDigitsToGive)
{
    const fs::path sample = Sample(1001, 8);
    const fs::path out = Dir() / "out";
    const Result refused = Run({"cube2dome", "--input", sample.string(), "--output", out.string(), "--frames", "1001"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "Parameter wrong, please check! \n"
                           "(Frame 1001 is named with the serial 1000, which takes 4 digits; give --digits 4.)\n");
    const Result rendered = Run({"cube2dome", "--input", sample.string(), "--output", out.string(), "--frames",
                                 "999-1001", "--digits", "4"});
    EXPECT_EQ(rendered.status, 0) << rendered.err;
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"FullDome_0998.bmp", "FullDome_0999.bmp", "FullDome_1000.bmp"}));
}

// ------------------------------------------------------------ pano2dome

class PanoCli : public Cli {
protected:
    // A 64 x 32 panorama file; its proposed dome size at 180 degrees is 36.
    std::string Panorama()
    {
        const fs::path path = Dir() / "pano.bmp";
        if (!fs::exists(path)) {
            CImageBuffer pano = test::MakePatternImage(64, 32, 5);
            EXPECT_TRUE(pano.Save(path));
        }
        return path.string();
    }
};

TEST_F(PanoCli, RefusalsGiveThePagesMessagesAndExitWithTwo)
{
    const std::string pano = Panorama();
    const std::string frames = (Dir() / "frames").string();
    const std::string video = (Dir() / "v.mov").string();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--input", (Dir() / "missing.png").string(), "--output", frames}, "No input image! "},
        {{"--input", pano, "--output", frames, "--size", "0"}, "Please check output 'Width'! "},
        {{"--input", pano, "--output", ""}, "Empty path!"},
        {{"--input", pano, "--output", video, "--mode", "video", "--size", "33"},
         "Output 'width' must be a even number"},
        {{"--input", pano, "--output", frames, "--mode", "frames", "--from", "10", "--to", "-10"},
         "Please check horizontal angle range"},
        {{"--input", pano, "--output", frames, "--mode", "frames", "--duration", "0"}, "Please check 'Duration'! "},
        {{"--input", pano, "--output", video, "--mode", "video", "--rate", "0"}, "Please check 'FrameRate'! "},
        {{"--input", pano, "--output", frames, "--mode", "frames", "--duration", "100000", "--rate", "100"},
         "Too many frames, please check 'Duration' and 'FrameRate'! "},
        // Found before the render, which would only fail to save it.
        {{"--input", pano, "--output", (Dir() / "dome.gif").string(), "--size", "8000"},
         "Please check the image format! "},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"pano2dome"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result result = Run(args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.message) << testing::PrintToString(args);
    }
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"pano2dome", "--output", frames},
             {"pano2dome", "--input", pano, "--output", frames, "--mode", "movie"},
             {"pano2dome", "--input", pano, "--output", frames, "--fov", "80"},
             {"pano2dome", "--input", pano, "--output", frames, "--format", "gif"},
             {"pano2dome", "--input", pano, "--output", frames, "--quality", "43"},
             {"pano2dome", "--input", pano, "--output", frames, "--keyframes", "some"},
         }) {
        EXPECT_EQ(Run(args).status, 2) << testing::PrintToString(args);
    }
    EXPECT_FALSE(fs::exists(frames));
    EXPECT_FALSE(fs::exists(video));
    EXPECT_FALSE(fs::exists(Dir() / "dome.gif"));
    const Result gif = Run({"pano2dome", "--input", pano, "--output", (Dir() / "dome.gif").string()});
    EXPECT_NE(gif.err.find("dome.gif: a file name ending in .gif is not an image format that can be written "
                           "(bmp, jpg, png, tga, tif, exr).\n"),
              std::string::npos)
        << gif.err;
}

TEST_F(PanoCli, FormatChoicesIgnoreCase)
{
    const fs::path frames = Dir() / "frames";
    const Result pano = Run({"pano2dome", "--input", Panorama(), "--output", frames.string(), "--mode", "frames",
                             "--size", "8", "--duration", "1", "--rate", "1", "--format", "PnG"});
    ASSERT_EQ(pano.status, 0) << pano.err;
    EXPECT_EQ(FilesIn(frames), (std::vector<std::string>{"0000.png"}));

    const fs::path domes = Dir() / "domes";
    const Result cube = Run({"cube2dome", "--input", Sample(1, 8).string(), "--output", domes.string(), "--in-format",
                             "BMP", "--out-format", "TGA"});
    ASSERT_EQ(cube.status, 0) << cube.err;
    EXPECT_EQ(FilesIn(domes), (std::vector<std::string>{"FullDome_000.tga"}));
}

TEST_F(PanoCli, VideoStreamsAreCheckedBeforeAnyFrame)
{
    const std::string pano = Panorama();
    struct Case {
        std::vector<std::string> args;
        std::string message;  // the first line on the error stream; empty: the parser's own
    };
    const std::vector<Case> cases = {
        {{"--output", (Dir() / "v.avi").string(), "--codec", "prores"},
         "A .avi file cannot carry ProRes: ProRes is written into .mov files, and .avi files carry H.264."},
        {{"--output", (Dir() / "v.mov").string(), "--codec", "hevc", "--profile", "hq"},
         "\"hq\" is no profile of HEVC; it has main or main10."},
        {{"--output", (Dir() / "v.mov").string(), "--size", "8192"},
         "H.264 cannot carry 8192 x 8192 pixels: that is 262,144 macroblocks a frame, and its highest level (6.2) "
         "allows 139,264. Choose HEVC, ProRes or HAP."},
        {{"--output", (Dir() / "v.mov").string(), "--codec", "hap", "--size", "66"},
         "HAP compresses blocks of 4 x 4 pixels and needs a width and height divisible by 4; 66 x 66 is not. Use "
         "64 x 64 or 68 x 68, or ProRes or FFV1, which take any size."},
        {{"--output", (Dir() / "v.mov").string(), "--alpha"},
         "H.264 has no alpha channel; ProRes 4444, HAP Alpha and FFV1 keep alpha."},
        {{"--output", (Dir() / "v.mov").string(), "--codec", "vp9"}, ""},
        {{"--output", (Dir() / "v.mov").string(), "--rate", "29.97fps"}, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"pano2dome", "--input", pano, "--mode", "video"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result result = Run(args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(args);
        if (!c.message.empty()) {
            EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.message) << testing::PrintToString(args);
        }
    }
    EXPECT_FALSE(fs::exists(Dir() / "v.avi"));
    EXPECT_FALSE(fs::exists(Dir() / "v.mov"));
}

TEST_F(PanoCli, VideoOfAnyCodecAtABroadcastRate)
{
    struct Case {
        std::vector<std::string> args;
        const char* name;
        const char* codec;
        const char* profile;
        int size;
    };
    const Case cases[] = {
        {{"--codec", "hevc", "--profile", "main10", "--rate", "29.97", "--size", "64"}, "sweep.mp4", "hevc", "Main 10",
         64},
        {{"--codec", "prores", "--alpha", "--rate", "30000/1001", "--size", "33"}, "odd.mov", "prores", "4444", 33},
    };
    for (const Case& c : cases) {
        const fs::path video = Dir() / c.name;
        std::vector<std::string> args = {"pano2dome", "--input", Panorama(), "--output", video.string(), "--mode",
                                         "video", "--duration", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result result = Run(args);
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find("frame 30/30"), std::string::npos) << "29.97 frames a second for a second";
        const std::optional<test::VideoFacts> facts = test::ReadVideo(video);
        ASSERT_TRUE(facts.has_value()) << c.name;
        EXPECT_EQ(facts->codec, c.codec);
        EXPECT_EQ(facts->profile, c.profile);
        EXPECT_EQ(facts->width, c.size);
        EXPECT_EQ(facts->frames, 30);
        EXPECT_EQ(facts->frameRate.num, 30000);
        EXPECT_EQ(facts->frameRate.den, 1001);
    }
}

TEST_F(PanoCli, ImageModeUsesTheProposedSize)
{
    const fs::path out = Dir() / "out" / "dome.png";  // folder made by the program
    const Result result = Run({"pano2dome", "--input", Panorama(), "--output", out.string(), "--pan", "90"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("Finished! \n"), std::string::npos) << result.out;
    CImageBuffer dome;
    ASSERT_TRUE(dome.Load(out));
    EXPECT_EQ(dome.GetWidth(), 36) << "2 x 32 x sqrt(180 / (180 pi))";
}

// The level changes only the compression: stored is larger, the pixels the
// same; levels outside the range are refused before any work.
TEST_F(PanoCli, PngLevelTradesSizeForTimeWithTheSamePixels)
{
    std::vector<std::uintmax_t> sizes;
    std::vector<std::vector<std::uint32_t>> pixels;
    for (const char* level : {"0", "6", "12"}) {
        const fs::path out = Dir() / (std::string("dome-") + level + ".png");
        const Result result = Run({"pano2dome", "--input", Panorama(), "--output", out.string(), "--size", "300",
                                   "--png-level", level});
        ASSERT_EQ(result.status, 0) << result.err;
        CImageBuffer dome;
        ASSERT_TRUE(dome.Load(out)) << level;
        sizes.push_back(fs::file_size(out));
        pixels.push_back(test::PixelsOf(dome));
    }
    EXPECT_GT(sizes[0], sizes[1] * 2);
    EXPECT_LE(sizes[2], sizes[1]);
    EXPECT_EQ(pixels[0], pixels[1]);
    EXPECT_EQ(pixels[2], pixels[1]);
    for (const char* level : {"-1", "13", "fast"}) {
        const fs::path out = Dir() / "refused.png";
        const Result refused =
            Run({"pano2dome", "--input", Panorama(), "--output", out.string(), "--png-level", level});
        EXPECT_EQ(refused.status, 2) << level;
        EXPECT_NE(refused.err.find("--png-level"), std::string::npos) << refused.err;
        EXPECT_FALSE(fs::exists(out)) << level;
    }
}

TEST_F(PanoCli, FramesAndVideoOfTheSweep)
{
    const fs::path frames = Dir() / "frames";
    const Result made = Run({"pano2dome", "--input", Panorama(), "--output", frames.string(), "--mode", "frames",
                             "--size", "20", "--duration", "1", "--rate", "4", "--format", "png"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("frame 4/4"), std::string::npos) << made.out;
    EXPECT_EQ(FilesIn(frames), (std::vector<std::string>{"0000.png", "0001.png", "0002.png", "0003.png"}));

    const fs::path video = Dir() / "sweep.avi";
    const Result encoded = Run({"pano2dome", "--input", Panorama(), "--output", video.string(), "--mode", "video",
                                "--duration", "1", "--rate", "3", "--two-pass", "--quality", "20", "--keyframes",
                                "all", "--threads", "1"});
    ASSERT_EQ(encoded.status, 0) << encoded.err;
    EXPECT_NE(encoded.out.find("frame 6/6"), std::string::npos) << "both passes count";
    EXPECT_GT(fs::file_size(video), 0u);
}

// --sharp: each frame is the image of its pan, file for file (from a JPEG,
// whose map is built while it decodes, too); a video takes it too, and an
// image, always sampled so, accepts it unchanged.
TEST_F(PanoCli, SharpFramesAreTheImagesOfTheirPans)
{
    const fs::path jpeg = Dir() / "pano.jpg";
    ASSERT_TRUE(test::MakePatternImage(64, 32, 5).Save(jpeg));
    for (const std::string& pano : {Panorama(), jpeg.string()}) {
        const fs::path frames = Dir() / ("frames-" + fs::path(pano).extension().string().substr(1));
        const std::vector<std::string> view = {"--size", "21", "--fov", "200", "--tilt", "30"};
        std::vector<std::string> args = {"pano2dome", "--input", pano, "--output", frames.string(), "--mode",
                                         "frames", "--duration", "1", "--rate", "3", "--format", "png", "--sharp"};
        args.insert(args.end(), view.begin(), view.end());
        const Result made = Run(args);
        ASSERT_EQ(made.status, 0) << made.err;
        ASSERT_EQ(FilesIn(frames), (std::vector<std::string>{"0000.png", "0001.png", "0002.png"}));
        const char* pans[] = {"-180", "-60", "60"};  // 360 degrees in steps of 120
        for (int k = 0; k < 3; ++k) {
            for (const bool sharp : {false, true}) {
                const fs::path still = Dir() / "still.png";
                args = {"pano2dome", "--input", pano, "--output", still.string(), "--pan", pans[k], "--overwrite"};
                args.insert(args.end(), view.begin(), view.end());
                if (sharp) {
                    args.push_back("--sharp");
                }
                const Result result = Run(args);
                ASSERT_EQ(result.status, 0) << result.err;
                EXPECT_EQ(test::ReadFileBytes(frames / PanoFrameFileName(k, "png")), test::ReadFileBytes(still))
                    << pano << ", frame " << k << (sharp ? ", image with --sharp" : "");
            }
        }
    }

    const fs::path video = Dir() / "sweep.mkv";
    const Result encoded = Run({"pano2dome", "--input", Panorama(), "--output", video.string(), "--mode", "video",
                                "--duration", "1", "--rate", "3", "--codec", "ffv1", "--sharp"});
    ASSERT_EQ(encoded.status, 0) << encoded.err;
    const std::optional<test::VideoFacts> facts = test::ReadVideo(video);
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->frames, 3);
}

TEST_F(PanoCli, AFrameThatCannotBeWrittenFailsWithOne)
{
    test::WriteFileBytes(Dir() / "plain-file", {1});
    const fs::path out = Dir() / "plain-file" / "frames";
    const Result result = Run({"pano2dome", "--input", Panorama(), "--output", out.string(), "--mode", "frames"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Some error has happened, the render is not finished! "), std::string::npos);
    EXPECT_NE(result.err.find((out / "0000.jpg").string()), std::string::npos) << result.err;
}

TEST_F(PanoCli, InterruptStopsAfterTheFrameInProgress)
{
    const fs::path out = Dir() / "frames";
    Process process({"pano2dome", "--input", Panorama(), "--output", out.string(), "--mode", "frames", "--size",
                     "1024", "--duration", "40", "--format", "bmp", "--threads", "2"},
                    ErrFile());
    ASSERT_TRUE(process.ReadUntil("frame 2/1000"));
    process.Signal(SIGINT);
    const Result result = process.Wait(ErrFile());
    EXPECT_EQ(result.status, 130) << result.err;
    EXPECT_NE(result.out.find("User break down the task! "), std::string::npos);
    const std::vector<std::string> files = FilesIn(out);
    ASSERT_LT(files.size(), 1000u);
    std::size_t reported = 0;
    for (std::size_t at = result.out.find("frame "); at != std::string::npos; at = result.out.find("frame ", at + 1)) {
        ++reported;
    }
    EXPECT_EQ(files.size(), reported) << "every frame written was reported, nothing else is left";
    EXPECT_EQ(files.back(), PanoFrameFileName(static_cast<std::int64_t>(files.size()) - 1, "bmp"));
}

// ------------------------------------------------ farm-facing render options

// The JSON progress lines of a run, without their timings:
// "frame 3 done 1 total 4" and " skipped" for frames left alone.
std::vector<std::string> JsonProgress(const std::string& out)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while ((start = out.find("{\"frame\":", start)) != std::string::npos) {
        const std::string line = out.substr(start, out.find('\n', start) - start);
        long long frame = 0;
        long long done = 0;
        long long total = 0;
        double seconds = 0;
        double rate = 0;
        EXPECT_EQ(std::sscanf(line.c_str(), "{\"frame\":%lld,\"done\":%lld,\"total\":%lld,\"seconds\":%lf,\"rate\":%lf",
                              &frame, &done, &total, &seconds, &rate),
                  5)
            << line;
        lines.push_back("frame " + std::to_string(frame) + " done " + std::to_string(done) + " total " +
                        std::to_string(total) + (line.find(",\"skipped\":true}") != std::string::npos ? " skipped" : ""));
        start += line.size();
    }
    return lines;
}

TEST_F(Cli, RetriedRangeSkipsWrittenFramesAndSaysSoInJson)
{
    const fs::path sample = Sample(4, 16);
    const std::string out = (Dir() / "out").string();
    const std::vector<std::string> render = {"cube2dome", "--input", sample.string(), "--output", out,
                                             "--progress", "json"};
    std::vector<std::string> first = render;
    first.insert(first.end(), {"--frames", "2-4"});
    Result result = Run(first);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(JsonProgress(result.out),
              (std::vector<std::string>{"frame 2 done 1 total 3", "frame 3 done 2 total 3", "frame 4 done 3 total 3"}));

    fs::remove(fs::path(out) / "FullDome_002.bmp");
    std::vector<std::string> retry = render;
    retry.push_back("--skip-existing");
    result = Run(retry);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(JsonProgress(result.out),
              (std::vector<std::string>{"frame 1 done 1 total 4", "frame 2 done 2 total 4 skipped",
                                        "frame 3 done 3 total 4", "frame 4 done 4 total 4 skipped"}));
    EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"FullDome_000.bmp", "FullDome_001.bmp", "FullDome_002.bmp",
                                                      "FullDome_003.bmp"}));
}

TEST_F(PanoCli, NeverReplacesWhatItWasNotToldToAndNeverItsInput)
{
    const std::string pano = Panorama();
    const std::vector<std::uint8_t> panoBytes = test::ReadFileBytes(pano);
    const fs::path dome = Dir() / "dome.png";
    ASSERT_EQ(Run({"pano2dome", "--input", pano, "--output", dome.string()}).status, 0);
    const std::vector<std::uint8_t> first = test::ReadFileBytes(dome);
    Result result = Run({"pano2dome", "--input", pano, "--output", dome.string(), "--pan", "90"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, dome.string() + " exists; give --overwrite to replace it.\n");
    EXPECT_EQ(test::ReadFileBytes(dome), first);
    result = Run({"pano2dome", "--input", pano, "--output", dome.string(), "--pan", "90", "--overwrite"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(test::ReadFileBytes(dome), first);

    const fs::path video = Dir() / "sweep.mov";
    test::WriteFileBytes(video, {1, 2, 3});
    result = Run({"pano2dome", "--input", pano, "--output", video.string(), "--mode", "video", "--duration", "1",
                  "--rate", "2", "--size", "16"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, video.string() + " exists; give --overwrite to replace it.\n");
    EXPECT_EQ(test::ReadFileBytes(video), (std::vector<std::uint8_t>{1, 2, 3}));

    // Its own input: not even when told to overwrite, under any of its names.
    fs::create_hard_link(pano, Dir() / "same.bmp");
    for (const std::string& output : {pano, (Dir() / "same.bmp").string()}) {
        result = Run({"pano2dome", "--input", pano, "--output", output, "--overwrite"});
        EXPECT_EQ(result.status, 2) << output;
        EXPECT_EQ(result.err, output + " is the input panorama; it is never written over: choose another output.\n");
    }
    EXPECT_EQ(test::ReadFileBytes(pano), panoBytes);
}

TEST_F(PanoCli, FramesOverAnOlderSequenceAreRefusedOrReplacedAsTold)
{
    const fs::path frames = Dir() / "frames";
    auto sweep = [&](const char* rate, std::vector<std::string> extra) {
        std::vector<std::string> args = {"pano2dome", "--input", Panorama(), "--output", frames.string(), "--mode",
                                         "frames", "--duration", "1", "--rate", rate, "--size", "16", "--format",
                                         "png"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Run(args);
    };
    ASSERT_EQ(sweep("8", {}).status, 0);
    const std::vector<std::string> older = FilesIn(frames);
    ASSERT_EQ(older.size(), 8u);
    const std::vector<std::uint8_t> frame5 = test::ReadFileBytes(frames / "0005.png");

    Result result = sweep("4", {});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, (frames / "0000.png").string() +
                              " and 3 more frames of this sweep exist; give --overwrite to replace them or "
                              "--skip-existing to keep them.\n");
    result = sweep("4", {"--skip-existing"});
    EXPECT_EQ(result.status, 0) << result.err;
    result = sweep("4", {"--overwrite"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("4 older frames beyond the new sequence remain: " + (frames / "0004.png").string() +
                              " to 0007.png.\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(FilesIn(frames), older);
    EXPECT_EQ(test::ReadFileBytes(frames / "0005.png"), frame5) << "left as it was";

    // A frame of the sweep that is the input is never written over.
    std::vector<std::string> args = {"pano2dome", "--input", (frames / "0002.png").string(), "--output",
                                     frames.string(), "--mode", "frames", "--duration", "1", "--rate", "4",
                                     "--format", "png", "--overwrite"};
    result = Run(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("0002.png is the input panorama"), std::string::npos) << result.err;
}

TEST_F(PanoCli, AVideoTakesAnEvenDefaultSize)
{
    // 2 x 33 / sqrt(pi) proposes 37, which no 4:2:0 video can have.
    const fs::path pano = Dir() / "odd.bmp";
    ASSERT_TRUE(test::MakePatternImage(66, 33, 2).Save(pano));
    const fs::path video = Dir() / "sweep.mov";
    const Result result = Run({"pano2dome", "--input", pano.string(), "--output", video.string(), "--mode", "video",
                               "--duration", "1", "--rate", "2"});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::optional<test::VideoFacts> facts = test::ReadVideo(video);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->width, 36);
    const fs::path dome = Dir() / "dome.png";
    ASSERT_EQ(Run({"pano2dome", "--input", pano.string(), "--output", dome.string()}).status, 0);
    CImageBuffer image;
    ASSERT_TRUE(image.Load(dome));
    EXPECT_EQ(image.GetWidth(), 37) << "an image keeps the proposed size";
}

TEST_F(PanoCli, MessagesHaveNoDoubleSpaces)
{
    // Progress lines, the end lines, the refusal of frames that exist and of
    // a panorama that is not there.
    const std::string pano = Panorama();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"pano2dome", "--input", pano, "--output", (Dir() / "frames").string(), "--mode", "frames", "--duration",
              "1", "--rate", "3", "--size", "16"},
             {"pano2dome", "--input", pano, "--output", (Dir() / "v.mov").string(), "--mode", "video", "--duration",
              "1", "--rate", "3", "--size", "16"},
             {"pano2dome", "--input", pano, "--output", (Dir() / "frames").string(), "--mode", "frames", "--duration",
              "1", "--rate", "3", "--size", "16"},
             {"pano2dome", "--input", (Dir() / "missing.png").string(), "--output", (Dir() / "x.png").string()},
         }) {
        const Result result = Run(args);
        EXPECT_EQ(result.out.find("  "), std::string::npos) << result.out;
        EXPECT_EQ(result.err.find("  "), std::string::npos) << result.err;
    }
}

TEST_F(PanoCli, FramesOfTheSweepInItsOwnNumbering)
{
    const fs::path frames = Dir() / "frames";
    const std::vector<std::string> sweep = {"pano2dome", "--input", Panorama(), "--output", frames.string(),
                                            "--mode", "frames", "--duration", "1", "--rate", "10", "--size", "16",
                                            "--format", "bmp", "--progress", "json"};
    std::vector<std::string> part = sweep;
    part.insert(part.end(), {"--frames", "3-5"});
    Result result = Run(part);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(FilesIn(frames), (std::vector<std::string>{"0003.bmp", "0004.bmp", "0005.bmp"}));
    EXPECT_EQ(JsonProgress(result.out),
              (std::vector<std::string>{"frame 3 done 1 total 3", "frame 4 done 2 total 3", "frame 5 done 3 total 3"}));

    for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{
             {"--frames", "8-10"}, {"--frames", "10"}, {"--frames", "5-3"}, {"--frames", "-1"}}) {
        std::vector<std::string> args = sweep;
        args.insert(args.end(), extra.begin(), extra.end());
        result = Run(args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(extra);
    }
    std::vector<std::string> whole = sweep;
    whole.push_back("--overwrite");  // over the part written above
    EXPECT_NE(Run(whole).status, 2) << "the whole sweep";
    result = Run({"pano2dome", "--input", Panorama(), "--output", (Dir() / "still.bmp").string(), "--frames", "1"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("--mode frames"), std::string::npos) << result.err;
}

// ------------------------------------------------------------------ farm

// Slurm's commands are stand-ins here that note each call in a file.
class FarmCli : public PanoCli {
protected:
    void SetUp() override
    {
        const fs::path bin = Dir() / "bin";
        fs::create_directories(bin);
        for (const char* program : {"sbatch", "squeue", "scontrol", "scancel"}) {
            const fs::path script = bin / program;
            test::WriteFileBytes(script, Bytes("#!/bin/sh\necho \"$(basename \"$0\") $*\" >>'" + Calls().string() +
                                               "'\necho 'sbatch: error: Invalid partition name specified' >&2\n"
                                               "exit 1\n"));
            fs::permissions(script, fs::perms::owner_all);
        }
        m_path = std::getenv("PATH");
        setenv("PATH", (bin.string() + ":" + m_path).c_str(), 1);
    }
    void TearDown() override { setenv("PATH", m_path.c_str(), 1); }

    fs::path Calls() const { return Dir() / "slurm-calls.txt"; }
    std::string SlurmCalls() const
    {
        if (!fs::exists(Calls())) {
            return {};
        }
        const std::vector<std::uint8_t> bytes = test::ReadFileBytes(Calls());
        return {bytes.begin(), bytes.end()};
    }
    static std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

private:
    std::string m_path;
};

TEST_F(FarmCli, SubmitRefusesBadRenderOptionsBeforeSlurmHearsOfThem)
{
    const std::string sample = Sample(3, 16).string();
    const std::string out = (Dir() / "out").string();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--", "cube2dome", "--input", sample, "--output", out, "--threads", "2"}, "set by the farm"},
        {{"--", "cube2dome", "--input", sample, "--output", out, "--progress", "bar"}, "set by the farm"},
        {{"--", "cube2dome", "--input", sample, "--output", out, "--frames", "3-2"}, "Parameter wrong, please check! "},
        {{"--", "cube2dome", "--input", sample, "--output", out, "--faces", "7"}, "--faces"},
        {{"--", "pano2dome", "--input", Panorama(), "--output", out + "/still.png"}, "--mode frames"},
        {{"--", "pano2dome", "--input", Panorama(), "--output", out, "--mode", "frames", "--frames", "120-130"},
         "not all in the sweep"},
        {{"--", "sample", "--output", out}, "cube2dome or pano2dome"},
        {{"--chunk", "0", "--", "cube2dome", "--input", sample, "--output", out}, "--chunk"},
        {{"--threads", "0", "--", "cube2dome", "--input", sample, "--output", out}, "--threads"},
        // The video of --then-encode is checked now, not after the render.
        {{"--codec", "prores", "--", "cube2dome", "--input", sample, "--output", out}, "--then-encode"},
        {{"--then-encode", out + ".mkv", "--", "cube2dome", "--input", sample, "--output", out},
         "A .mkv file cannot carry H.264"},
        {{"--then-encode", out + ".mov", "--codec", "hevc", "--", "cube2dome", "--input", sample, "--output", out},
         "HEVC"},
        {{"--then-encode", out + ".mov", "--codec", "prores", "--profile", "main10", "--", "cube2dome", "--input",
          sample, "--output", out},
         "main10"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"farm", "submit"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result result = Run(args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(args);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << testing::PrintToString(args) << "\n" << result.err;
    }
    EXPECT_EQ(SlurmCalls(), "");
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(FarmCli, ARefusedSubmissionSaysWhyAndLeavesTheFolderFree)
{
    const std::string sample = Sample(3, 16).string();
    const fs::path out = Dir() / "out";
    const Result result = Run({"farm", "submit", "--chunk", "2", "--max-running", "1", "--partition", "gpu", "--",
                               "cube2dome", "--input", sample, "--output", out.string(), "--frames", "all"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Invalid partition name specified"), std::string::npos) << result.err;
    const std::string calls = SlurmCalls();
    EXPECT_NE(calls.find("sbatch --parsable --array=0-1%1 "), std::string::npos) << calls;
    EXPECT_NE(calls.find("--partition=gpu"), std::string::npos) << calls;
    EXPECT_FALSE(fs::exists(out / "skelvane-farm.manifest")) << "a later submit may claim the folder";
    EXPECT_TRUE(fs::is_directory(out / "log"));
}

TEST_F(FarmCli, StatusResumeAndCancelNeedAFolderOfAFarmRun)
{
    for (const char* action : {"status", "resume", "cancel"}) {
        const Result result = Run({"farm", action, (Dir() / "nothing").string()});
        EXPECT_EQ(result.status, 2) << action;
        EXPECT_NE(result.err.find("no farm manifest"), std::string::npos) << action << ": " << result.err;
    }
    EXPECT_EQ(SlurmCalls(), "");
}

class EncodeCli : public Cli {
protected:
    // Six numbered domes of a sweep, as a render (or a farm) leaves them.
    fs::path Frames()
    {
        const fs::path pano = Dir() / "pano.bmp";
        EXPECT_TRUE(test::MakePatternImage(128, 64, 5).Save(pano));
        const fs::path frames = Dir() / "frames";
        const Result made = Run({"pano2dome", "--input", pano.string(), "--output", frames.string(), "--mode",
                                 "frames", "--size", "64", "--duration", "1", "--rate", "6", "--format", "png"});
        EXPECT_EQ(made.status, 0) << made.err;
        return frames;
    }

    static std::string FirstLines(const std::string& text, int count)
    {
        std::size_t end = 0;
        for (int i = 0; i < count && end != std::string::npos; ++i) {
            end = text.find('\n', end == 0 && i == 0 ? 0 : end + 1);
        }
        return text.substr(0, end);
    }
};

TEST_F(EncodeCli, NumberedDomesBecomeOneVideoInFrameOrder)
{
    const fs::path frames = Frames();
    const fs::path video = Dir() / "out" / "sweep.mp4";  // folder made by the program
    const Result made = Run({"encode", "--input", frames.string(), "--output", video.string(), "--codec", "hevc",
                             "--rate", "29.97"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_NE(made.out.find("frame 6/6"), std::string::npos) << made.out;
    const std::optional<test::VideoFacts> facts = test::ReadVideo(video);
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->codec, "hevc");
    EXPECT_EQ(facts->frames, 6);
    EXPECT_EQ(facts->width, 64);
    EXPECT_EQ(av_cmp_q(facts->frameRate, AVRational{30000, 1001}), 0);

    // An existing video is replaced only when told to.
    const Result again = Run({"encode", "--input", frames.string(), "--output", video.string(), "--codec", "hevc"});
    EXPECT_EQ(again.status, 2);
    EXPECT_EQ(FirstLines(again.err, 1), video.string() + " exists; give --overwrite to replace it.");
    EXPECT_EQ(Run({"encode", "--input", frames.string(), "--output", video.string(), "--codec", "hevc",
                   "--overwrite"})
                  .status,
              0);
}

TEST_F(EncodeCli, AGapIsRefusedUnlessSkippedAndOtherRefusalsExitWithTwo)
{
    const fs::path frames = Frames();
    fs::remove(frames / "0003.png");
    const fs::path video = Dir() / "gap.mov";
    const Result refused = Run({"encode", "--input", frames.string(), "--output", video.string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(FirstLines(refused.err, 2), "Frame 3 is missing between 0002.png and 0004.png.\nRender the missing "
                                          "frames, or give --skip-gaps to encode the frames there are.");
    EXPECT_FALSE(fs::exists(video));

    const Result skipped = Run({"encode", "--input", frames.string(), "--output", video.string(), "--skip-gaps"});
    ASSERT_EQ(skipped.status, 0) << skipped.err;
    EXPECT_EQ(FirstLines(skipped.err, 1), "Skipping 1 missing frames.");
    EXPECT_EQ(test::ReadVideo(video)->frames, 5);

    fs::create_directory(Dir() / "empty");
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"--input", frames.string(), "--output", (Dir() / "p.avi").string(), "--codec", "prores", "--skip-gaps"},
         "A .avi file cannot carry ProRes: ProRes is written into .mov files, and .avi files carry H.264."},
        {{"--input", (Dir() / "empty").string(), "--output", (Dir() / "e.mov").string()},
         (Dir() / "empty").string() + " holds no numbered images"},
        {{"--input", frames.string(), "--output", (Dir() / "p.mov").string(), "--prefix", "shot_"},
         frames.string() + " holds no numbered images named \"shot_\""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"encode"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result result = Run(args);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(result.err.substr(0, c.message.size()), c.message) << result.err;
    }
    EXPECT_FALSE(fs::exists(Dir() / "p.avi"));
    EXPECT_FALSE(fs::exists(Dir() / "e.mov"));
}

// ------------------------------------------------------------ picture quality

// The quality scene: the same faces in every frame, the dome they should give
// for the view cube2dome renders by default, and the command that renders it.
TEST_F(Cli, TheQualitySceneWritesItsFacesAndTheDomeTheyShouldGive)
{
    const fs::path scene = Dir() / "scene";
    const Result made = Run({"sample", "--scene", "quality", "--output", scene.string(), "--frames", "2", "--size",
                             "16", "--dome", "24", "--format", "png"});
    ASSERT_EQ(made.status, 0) << made.err;
    const CQualityScene expected(16);
    const char* words[kCubeFaceCount] = {"left", "front", "right", "back", "top", "bottom"};
    const char* prefixes[kCubeFaceCount] = {"L", "F", "R", "B", "T", "B"};
    for (int k = 0; k < kCubeFaceCount; ++k) {
        const std::vector<std::string> names = {std::string(prefixes[k]) + "00001.png",
                                                std::string(prefixes[k]) + "00002.png"};
        ASSERT_EQ(FilesIn(scene / words[k]), names) << words[k];
        for (const std::string& name : names) {
            CImageBuffer face;
            ASSERT_TRUE(face.Load(scene / words[k] / name)) << name;
            EXPECT_EQ(test::PixelsOf(face), test::PixelsOf(expected.DrawFace(k))) << name;
        }
    }
    CImageBuffer truth;
    ASSERT_TRUE(truth.Load(scene / "truth.png"));
    EXPECT_EQ(test::PixelsOf(truth),
              test::PixelsOf(SceneTruthImage(RenderSceneTruth(expected, {16, 24, 180, 60.0, 0.0}, 16))));
    EXPECT_FALSE(fs::exists(scene / "panorama.png"));

    const std::string command = "skelvane-cli cube2dome --input " + scene.string() +
                                " --in-format png --faces 6 --size 24 --fov 180 --tilt 60 --pan 0 should render";
    EXPECT_NE(made.out.find(command), std::string::npos) << made.out;
    const Result rendered = Run({"cube2dome", "--input", scene.string(), "--faces", "6", "--size", "24", "--fov",
                                 "180", "--tilt", "60", "--pan", "0", "--in-format", "png", "--output",
                                 (Dir() / "dome").string(), "--out-format", "png", "--frames", "1-1"});
    EXPECT_EQ(rendered.status, 0) << rendered.err;
    EXPECT_TRUE(fs::exists(Dir() / "dome" / "FullDome_000.png"));

    EXPECT_EQ(Run({"sample", "--scene", "mandelbrot", "--output", (Dir() / "bad").string()}).status, 2);
    EXPECT_EQ(Run({"sample", "--scene", "quality", "--dome", "4", "--output", (Dir() / "bad").string()}).status, 2);
    EXPECT_FALSE(fs::exists(Dir() / "bad"));
}

TEST_F(Cli, FilterAndSupersampleReachTheRender)
{
    const fs::path sample = Sample(1, 16);
    auto render = [&](const std::string& name, std::vector<std::string> extra) {
        std::vector<std::string> args = {"cube2dome", "--input",      sample.string(), "--output",
                                         (Dir() / name).string(), "--faces", "6",   "--out-format",
                                         "png"};
        args.insert(args.end(), extra.begin(), extra.end());
        const Result result = Run(args);
        EXPECT_EQ(result.status, 0) << result.err;
        CImageBuffer dome;
        EXPECT_TRUE(dome.Load(Dir() / name / "FullDome_000.png"));
        return dome;
    };
    const CImageBuffer plain = render("plain", {});
    const CImageBuffer nearest = render("nearest", {"--filter", "nearest", "--supersample", "1"});
    EXPECT_EQ(test::PixelsOf(nearest), test::PixelsOf(plain)) << "the defaults, said out loud";

    CubeFaces faces;
    const char* files[kCubeFaceCount] = {"left/L00001.bmp", "front/F00001.bmp", "right/R00001.bmp",
                                         "back/B00001.bmp", "top/T00001.bmp",   "bottom/B00001.bmp"};
    for (int k = 0; k < kCubeFaceCount; ++k) {
        ASSERT_TRUE(faces[k].Load(sample / files[k])) << files[k];
    }
    for (const auto& [filter, s] : {std::pair{CubeFilter::Bilinear, 3}, std::pair{CubeFilter::Bicubic, 2}}) {
        const std::string name(CubeFilterName(filter));
        const CImageBuffer dome = render(name, {"--filter", name, "--supersample", std::to_string(s)});
        CCubeDomeSampler sampler;
        ASSERT_TRUE(sampler.Plan(16, 32, 180, 60.0f, 0.0f, {filter, s}));
        const auto expected = sampler.Render(faces, DefaultReporter());
        ASSERT_TRUE(expected);
        EXPECT_EQ(test::PixelsOf(dome), test::PixelsOf(*expected)) << name;
    }

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--filter", "lanczos"}, {"--supersample", "0"}, {"--supersample", "5"}}) {
        std::vector<std::string> args = {"cube2dome", "--input", sample.string(), "--output", (Dir() / "bad").string()};
        args.insert(args.end(), bad.begin(), bad.end());
        EXPECT_EQ(Run(args).status, 2) << testing::PrintToString(bad);
    }
    EXPECT_FALSE(fs::exists(Dir() / "bad"));
}

TEST_F(PanoCli, SupersampleReachesTheRender)
{
    const fs::path out = Dir() / "dome.png";
    const Result result =
        Run({"pano2dome", "--input", Panorama(), "--output", out.string(), "--pan", "30", "--supersample", "3"});
    ASSERT_EQ(result.status, 0) << result.err;
    CImageBuffer dome;
    ASSERT_TRUE(dome.Load(out));
    CImageBuffer pano;
    ASSERT_TRUE(pano.Load(Panorama()));
    CPanoDomeProjector projector;
    const auto expected = projector.RenderPanoDomeSupersampled(pano, 36, 180, 60.0f, 30.0f, 3, PanoWrap::Still);
    ASSERT_TRUE(expected);
    EXPECT_EQ(test::PixelsOf(dome), test::PixelsOf(*expected));
    EXPECT_EQ(Run({"pano2dome", "--input", Panorama(), "--output", (Dir() / "bad.png").string(), "--supersample",
                   "5"})
                  .status,
              2);
}

// Deep faces give deep domes by default; --depth chooses, and a depth or
// compression the format lacks is refused before any frame.
TEST_F(Cli, DomeImagesTakeTheFacesDepthOrTheOneAskedFor)
{
    const fs::path sample = Sample(1, 16);
    const fs::path deepFaces = Dir() / "deep";
    for (const char* face : {"left", "front", "right", "back", "top"}) {
        for (const auto& entry : fs::directory_iterator(sample / face)) {
            CImageBuffer image;
            ASSERT_TRUE(image.Load(entry.path()));
            ASSERT_TRUE(ConvertChannelType(image, ChannelType::Uint16));
            fs::create_directories(deepFaces / face);
            ImageWriteOptions sixteen;
            sixteen.depth = kDepth16;  // the picture remembers that its file was 8-bit
            ASSERT_TRUE(image.Save((deepFaces / face / entry.path().stem()).string() + ".png", sixteen));
        }
    }
    struct Case {
        const char* format;
        const char* depth;  // null: the default
        ChannelType expected;
    };
    for (const Case& c : {Case{"tif", nullptr, ChannelType::Uint16}, {"png", nullptr, ChannelType::Uint16},
                          {"tif", "8", ChannelType::Uint8}, {"tif", "float", ChannelType::Float},
                          {"exr", "16", ChannelType::Float}}) {
        SCOPED_TRACE(std::string(c.format) + " " + (c.depth ? c.depth : "default"));
        const fs::path out = Dir() / "domes" / (std::string(c.format) + (c.depth ? c.depth : ""));
        std::vector<std::string> args = {"cube2dome", "--input", deepFaces.string(), "--in-format", "png",
                                         "--out-format", c.format, "--output", out.string(), "--size", "24"};
        if (c.depth) {
            args.insert(args.end(), {"--depth", c.depth});
        }
        const Result result = Run(args);
        ASSERT_EQ(result.status, 0) << result.err;
        CImageBuffer dome;
        ASSERT_TRUE(dome.Load(out / (std::string("FullDome_000.") + c.format)));
        EXPECT_EQ(dome.GetChannelType(), c.expected);
        EXPECT_EQ(dome.GetWidth(), 24);
    }
    const Result refused = Run({"cube2dome", "--input", deepFaces.string(), "--in-format", "png", "--out-format",
                                "jpg", "--depth", "16", "--output", (Dir() / "jpg").string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("The dome images cannot be written: JPEG files hold 8-bit samples only.\n"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(Dir() / "jpg"));
}

// A dome rendered from 16-bit faces holds the faces' own levels, which an
// 8-bit step on the way would have turned into multiples of 257.
TEST_F(Cli, SixteenBitFacesGiveADomeOfTheirOwnLevels)
{
    const fs::path sample = Sample(1, 16);
    const fs::path deepFaces = Dir() / "deep";
    std::set<std::uint16_t> faceGreens;
    for (const char* face : {"left", "front", "right", "back", "top"}) {
        for (const auto& entry : fs::directory_iterator(sample / face)) {
            CImageBuffer image;
            ASSERT_TRUE(image.Load(entry.path()));
            ASSERT_TRUE(ConvertChannelType(image, ChannelType::Uint16));
            for (std::int32_t y = 0; y < image.GetHeight(); ++y) {
                for (std::int32_t x = 0; x < image.GetWidth(); ++x) {
                    Pixel16& p = image.Row16(y)[x];
                    p.green = static_cast<std::uint16_t>(std::clamp(p.green + (x * 37 + y * 101) % 200 - 100, 0, 65535));
                    faceGreens.insert(p.green);
                }
            }
            fs::create_directories(deepFaces / face);
            ImageWriteOptions sixteen;
            sixteen.depth = kDepth16;
            ASSERT_TRUE(image.Save((deepFaces / face / entry.path().stem()).string() + ".png", sixteen));
        }
    }
    for (const char* format : {"tif", "png"}) {
        for (const char* filter : {"nearest", "bilinear"}) {
            SCOPED_TRACE(std::string(format) + " " + filter);
            const fs::path out = Dir() / "domes" / (std::string(format) + filter);
            const Result result = Run({"cube2dome", "--input", deepFaces.string(), "--in-format", "png", "--out-format",
                                       format, "--output", out.string(), "--size", "40", "--filter", filter});
            ASSERT_EQ(result.status, 0) << result.err;
            CImageBuffer dome;
            ASSERT_TRUE(dome.Load(out / (std::string("FullDome_000.") + format)));
            ASSERT_EQ(dome.GetChannelType(), ChannelType::Uint16);
            int inside = 0;
            int between8BitLevels = 0;
            int foreign = 0;
            for (std::int32_t y = 0; y < dome.GetHeight(); ++y) {
                for (std::int32_t x = 0; x < dome.GetWidth(); ++x) {
                    const Pixel16& p = dome.Row16(y)[x];
                    if (p.alpha != 65535) {
                        continue;
                    }
                    ++inside;
                    between8BitLevels += p.green % 257 != 0;
                    foreign += !faceGreens.contains(p.green);
                }
            }
            ASSERT_GT(inside, 600);
            EXPECT_GT(between8BitLevels, inside * 9 / 10);
            if (std::string(filter) == "nearest") {
                EXPECT_EQ(foreign, 0);  // copied pixels, each a level of some face
            }
        }
    }
}

// One deep face makes the whole cube render at its depth; the 8-bit faces
// are widened for it rather than refused by the render.
TEST_F(Cli, FacesOfMixedDepthsRenderAtTheDeepest)
{
    const fs::path sample = Sample(1, 16);
    const fs::path faces = Dir() / "mixed";
    for (const char* face : {"left", "front", "right", "back", "top"}) {
        for (const auto& entry : fs::directory_iterator(sample / face)) {
            CImageBuffer image;
            ASSERT_TRUE(image.Load(entry.path()));
            ImageWriteOptions options;
            options.depth = std::string(face) == "front" ? kDepth16 : kDepth8;
            fs::create_directories(faces / face);
            ASSERT_TRUE(image.Save((faces / face / entry.path().stem()).string() + ".png", options));
        }
    }
    for (const char* filter : {"nearest", "bicubic"}) {
        SCOPED_TRACE(filter);
        const fs::path out = Dir() / "domes" / filter;
        const Result result = Run({"cube2dome", "--input", faces.string(), "--in-format", "png", "--out-format", "tif",
                                   "--output", out.string(), "--size", "32", "--filter", filter});
        ASSERT_EQ(result.status, 0) << result.err;
        CImageBuffer dome;
        ASSERT_TRUE(dome.Load(out / "FullDome_000.tif"));
        EXPECT_EQ(dome.GetChannelType(), ChannelType::Uint16);
    }
}

// Float faces render to float domes, which a video takes at 16 bits.
TEST_F(Cli, FloatFacesMakeAVideo)
{
    const fs::path sample = Dir() / "exr";
    ASSERT_EQ(Run({"sample", "--output", sample.string(), "--frames", "2", "--size", "16", "--format", "exr"}).status, 0);
    const fs::path video = Dir() / "float.mov";
    const Result made = Run({"cube2dome", "--input", sample.string(), "--in-format", "exr", "--video", video.string(),
                             "--codec", "prores"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::optional<test::VideoFacts> facts = test::ReadVideo(video);
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->frames, 2);
}

TEST_F(PanoCli, ImagesAndFramesTakeTheDepthAndCompressionAskedForOrSayWhyNot)
{
    struct Written {
        const char* name;
        std::vector<std::string> options;
        ChannelType fileDepth;
    };
    for (const Written& w : {Written{"dome.exr", {}, ChannelType::Float},
                             Written{"half.exr", {"--depth", "16", "--compression", "piz", "--tiles"},
                                     ChannelType::Uint16},
                             Written{"dome.tif", {"--depth", "16", "--compression", "lzw"}, ChannelType::Uint16}}) {
        SCOPED_TRACE(w.name);
        std::vector<std::string> args = {"pano2dome", "--input", Panorama(), "--output", (Dir() / w.name).string()};
        args.insert(args.end(), w.options.begin(), w.options.end());
        const Result result = Run(args);
        ASSERT_EQ(result.status, 0) << result.err;
        CImageBuffer dome;
        ASSERT_TRUE(dome.Load(Dir() / w.name));
        EXPECT_EQ(dome.FileChannelType(), w.fileDepth);
    }
    struct Refusal {
        std::vector<std::string> args;
        const char* message;
    };
    const Refusal refusals[] = {
        {{"--output", (Dir() / "dome.jpg").string(), "--depth", "float"}, "JPEG files hold 8-bit samples only.\n"},
        {{"--output", (Dir() / "frames").string(), "--mode", "frames", "--format", "tif", "--compression", "piz"},
         "TIFF files are compressed with deflate, lzw or none, not piz.\n"},
        {{"--output", (Dir() / "dome.png").string(), "--tiles"}, "PNG files are not written in tiles.\n"},
    };
    for (const Refusal& r : refusals) {
        std::vector<std::string> args = {"pano2dome", "--input", Panorama()};
        args.insert(args.end(), r.args.begin(), r.args.end());
        const Result result = Run(args);
        EXPECT_EQ(result.status, 2) << r.message;
        EXPECT_NE(result.err.find(r.message), std::string::npos) << result.err;
    }
    EXPECT_FALSE(fs::exists(Dir() / "dome.jpg"));
    EXPECT_FALSE(fs::exists(Dir() / "frames"));
}

}  // namespace
}  // namespace skelvane
