// skelvane-cli pano2dome under faults: a panorama that cannot be loaded, a
// video or frame folder that cannot be written, a file-size limit that cuts
// the frames or the video short. Every failure is reported with its cause,
// frames written before it stay complete, and nothing partial stands under a
// target name.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CliFaultHarness.h"
#include "engine/image/ImageBuffer.h"
#include "pano2dome/Pano2DomeJob.h"
#include "support/HostileImages.h"
#include "support/TestImages.h"
#include "support/VideoFacts.h"

namespace skelvane::test {
namespace {
namespace fs = std::filesystem;

constexpr const char* kFailedText = "Some error has happened, the render is not finished! ";

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A panorama whose left half is flat and right half busy: swept from the flat
// side, the frame files grow as the busy half comes into view.
CImageBuffer LopsidedPanorama()
{
    CImageBuffer pano = MakePatternImage(128, 64, 9);
    for (std::int32_t y = 0; y < pano.GetHeight(); ++y) {
        std::uint32_t* row = pano.Row32(y);
        std::fill(row, row + pano.GetWidth() / 2, 0xFF808080u);
    }
    return pano;
}

class PanoFault : public CliFault {
protected:
    void SetUp() override
    {
        m_pano = (m_dir / "pano.png").string();
        ASSERT_TRUE(LopsidedPanorama().Save(m_pano));
    }

    std::vector<std::string> Args(const std::string& mode, const fs::path& output,
                                  std::vector<std::string> extra = {}) const
    {
        std::vector<std::string> args = {"pano2dome", "--input", m_pano, "--output", output.string(), "--mode", mode,
                                         "--size", "48", "--threads", "2"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    std::string m_pano;
};

TEST_F(PanoFault, AnUnloadablePanoramaIsReportedAndNothingIsWritten)
{
    const std::vector<std::uint8_t> png = ReadFileBytes(m_pano);
    WriteFileBytes(m_dir / "truncated.png", std::vector<std::uint8_t>(png.begin(), png.begin() + png.size() / 2));
    WriteFileBytes(m_dir / "text.jpg", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e', '\n'});
    WriteFileBytes(m_dir / "empty.bmp", {});
    fs::create_directories(m_dir / "folder.tga");
    ASSERT_EQ(mkfifo((m_dir / "fifo.jpg").c_str(), 0600), 0);
    WriteFileBytes(m_dir / "wide.bmp", BmpClaiming(32769, 1, 32769 * 3));
    WriteFileBytes(m_dir / "bomb.jpg", JpegClaiming(32768, 32768));
    struct Case {
        const char* file;
        const char* cause;
    };
    for (const Case c : {Case{"missing.png", ": there is no such file.\n"},
                         Case{"truncated.png", ": cut short before its first row.\n"},
                         Case{"text.jpg", ": not a JPEG file: starts with 0x6e 0x6f.\n"},
                         Case{"empty.bmp", ": the file is empty.\n"}, Case{"folder.tga", ": it is a folder.\n"},
                         Case{"fifo.jpg", ": it is not a regular file.\n"},
                         Case{"wide.bmp", ": header claims 32769 x 1 pixels, more than the 32768 limit.\n"},
                         Case{"bomb.jpg", ": header claims 32768 x 32768 pixels, which take at least"}}) {
        for (const char* mode : {"image", "frames", "video"}) {
            const fs::path out = m_dir / "out" / (std::string(mode) == "image"   ? "dome.png"
                                                  : std::string(mode) == "video" ? "dome.mov"
                                                                                 : "frames");
            std::vector<std::string> args = Args(mode, out);
            args[2] = (m_dir / c.file).string();
            const CliResult result = Run(args);
            SCOPED_TRACE(std::string(c.file) + " in " + mode + " mode");
            EXPECT_EQ(result.status, 2) << result.err;
            const std::string why =
                std::string(pano2dome_text::kNoInputImage) + "\n" + (m_dir / c.file).string() + c.cause;
            EXPECT_TRUE(Contains(result.err, why)) << result.err;
            EXPECT_FALSE(fs::exists(m_dir / "out")) << "no output, not even its folder";
        }
    }
}

TEST_F(PanoFault, AnUnwritableFolderFailsWithTheLibrarysReasonAndLeavesNothing)
{
    if (!ReadOnlyFoldersHold(m_dir / "probe")) {
        GTEST_SKIP() << "this user writes into read-only folders";
    }
    const fs::path out = m_dir / "out";
    fs::create_directories(out);
    WriteFileBytes(out / "old.mov", {1, 2, 3});
    const auto before = FolderContents(out);
    struct Case {
        const char* mode;
        fs::path target;
        const char* reason;
    };
    for (const Case& c : {Case{"video", out / "clip.mov", "Permission denied"},
                          Case{"video", out / "old.mov", "Permission denied"},
                          Case{"video", out / "sub" / "clip.avi", "No such file or directory"},
                          Case{"frames", out, "Permission denied"}, Case{"frames", out / "sub", ""}}) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.target.string());
        const CliResult result = [&] {
            ReadOnlyFolder hold(out);
            // --overwrite: old.mov is there to be written over.
            return Run(Args(c.mode, c.target, {"--duration", "1", "--rate", "3", "--overwrite"}));
        }();
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_TRUE(Contains(result.err, kFailedText)) << result.err;
        const fs::path named = std::string(c.mode) == "video" ? c.target : c.target / "0000.jpg";
        EXPECT_TRUE(Contains(result.err, named.string())) << result.err;
        EXPECT_TRUE(Contains(result.err, c.reason)) << result.err;
        EXPECT_EQ(FolderContents(out), before) << "no partial or temporary file, the old video untouched";
    }
}

TEST_F(PanoFault, AFileSizeLimitFailsTheFramesAndKeepsTheOnesBefore)
{
    // The frame files of an unlimited run, to place the limit: every frame
    // before frame `cut` fits, frame `cut` does not.
    const fs::path free = m_dir / "free";
    const std::vector<std::string> sweep = {"--format", "png", "--duration", "1", "--rate", "8", "--from", "-90",
                                            "--to", "180"};
    ASSERT_EQ(Run(Args("frames", free, sweep)).status, 0);
    const auto frames = FolderContents(free);
    ASSERT_EQ(frames.size(), 8u);
    std::vector<std::size_t> sizes;
    for (const auto& [name, bytes] : frames) {
        sizes.push_back(bytes.size());
    }
    std::size_t cut = 1;
    while (cut < sizes.size() && sizes[cut] <= *std::max_element(sizes.begin(), sizes.begin() + cut)) {
        ++cut;
    }
    ASSERT_LT(cut, sizes.size()) << "the sweep must reach larger frames";
    const rlim_t limit = *std::max_element(sizes.begin(), sizes.begin() + cut);

    const fs::path out = m_dir / "limited";
    const CliResult result = Run(Args("frames", out, sweep), limit);
    EXPECT_EQ(result.status, 1) << "the limit must fail the write, not kill the program (SIGXFSZ)\n" << result.err;
    EXPECT_TRUE(Contains(result.err, kFailedText)) << result.err;
    const std::string failed = (out / PanoFrameFileName(static_cast<std::int64_t>(cut), "png")).string();
    EXPECT_TRUE(Contains(result.err, failed + ": " + std::strerror(EFBIG))) << "names the file and why\n" << result.err;
    const auto written = FolderContents(out);
    ASSERT_EQ(written.size(), cut) << "the frames before, no partial or temporary file";
    for (const auto& [name, bytes] : written) {
        EXPECT_EQ(bytes, frames.at(name)) << name << " complete";
        CImageBuffer frame;
        EXPECT_TRUE(frame.Load(out / name)) << name;
    }
}

TEST_F(PanoFault, AFileSizeLimitFailsTheVideoAndLeavesNoneUnderItsName)
{
    const fs::path out = m_dir / "out";
    fs::create_directories(out);
    WriteFileBytes(out / "old.avi", {1, 2, 3});
    const auto before = FolderContents(out);
    for (const char* name : {"clip.mov", "old.avi", "two.mov"}) {
        SCOPED_TRACE(name);
        std::vector<std::string> extra = {"--duration", "4", "--rate", "25", "--keyframes", "all", "--overwrite"};
        if (std::string(name) == "two.mov") {
            extra.push_back("--two-pass");
        }
        const CliResult result = Run(Args("video", out / name, extra), 20000);
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_TRUE(Contains(result.err, kFailedText)) << result.err;
        EXPECT_TRUE(Contains(result.err, (out / name).string())) << result.err;
        EXPECT_TRUE(Contains(result.err, "File too large")) << result.err;
        EXPECT_EQ(FolderContents(out), before) << "no partial or temporary file, the old video untouched";
    }
    // Without the limit the same video is written and plays.
    ASSERT_EQ(Run(Args("video", out / "clip.mov", {"--duration", "4", "--rate", "25", "--keyframes", "all"})).status,
              0);
    const std::optional<VideoFacts> facts = ReadVideo(out / "clip.mov");
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->frames, 100);
    EXPECT_GT(fs::file_size(out / "clip.mov"), 20000u) << "the limit really cut the video short";
}

}  // namespace
}  // namespace skelvane::test
