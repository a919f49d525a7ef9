// Runs the built skelvane-cli as a user or a script would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/image/ImageBuffer.h"
#include "pano2dome/Pano2DomeJob.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

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
                           "(bmp, jpg, png, tga).\n"),
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

}  // namespace
}  // namespace skelvane
