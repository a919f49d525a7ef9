#include <gtest/gtest.h>

#include <filesystem>

#include "pano2dome/PanoTargets.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;

// A folder of earlier work, some of it the job's own names and some only
// lookalikes, for a job writing frames 2 to 5 of a sweep of 8.
TEST(PanoTargets, AFrameFolderIsReadByTheNamesTheJobWouldGive)
{
    test::TempDir dir;
    for (const char* name : {"0001.png", "0003.png", "0005.png", "0008.png", "0042.png", "10000.png", "042.png",
                             "0004.PNG", "0004.png.bak", "0004.jpg", "00004.png", ".0004.png"}) {
        test::WriteFileBytes(dir / name, {1});
    }
    fs::create_directory(dir / "0002.png");  // a folder in a frame's place is in the way all the same
    CPano2DomeJob job;
    job.mode = kPanoFrames;
    job.frameDir = dir.Path().string() + "/";
    job.frameFormat = "png";
    job.duration = 1;
    job.frameRate = 8;
    job.firstFrame = 2;
    job.lastFrame = 5;

    const PanoTargets targets = FindPanoTargets(job, dir / "elsewhere.png");
    EXPECT_EQ(targets.existing, 3);  // 0002 to 0005: 0002, 0003, 0005
    EXPECT_EQ(targets.firstExisting, (dir / "0002.png").string());
    EXPECT_TRUE(targets.input.empty());
    EXPECT_EQ(targets.beyond, 3);  // 0008, 0042, 10000; 0001 lies before, not beyond
    EXPECT_EQ(targets.firstBeyond, 8);
    EXPECT_EQ(targets.lastBeyond, 10000);

    EXPECT_EQ(FindPanoTargets(job, dir / "0003.png").input, (dir / "0003.png").string());
    EXPECT_TRUE(FindPanoTargets(job, dir / "0001.png").input.empty()) << "not written by this job";
}

TEST(PanoTargets, AnImageOrVideoTargetIsOneEntryWhateverItIs)
{
    test::TempDir dir;
    CPano2DomeJob job;
    job.imagePath = (dir / "dome.png").string();
    EXPECT_EQ(FindPanoTargets(job, dir / "pano.png").existing, 0);
    fs::create_symlink(dir / "nowhere.png", dir / "dome.png");  // a dangling link is in the way too
    EXPECT_EQ(FindPanoTargets(job, dir / "pano.png").existing, 1);
    fs::remove(dir / "dome.png");
    test::WriteFileBytes(dir / "pano.png", {1});
    fs::create_symlink(dir / "pano.png", dir / "dome.png");
    EXPECT_EQ(FindPanoTargets(job, dir / "pano.png").input, job.imagePath);
    job.mode = kPanoVideo;
    job.videoPath = (dir / "sweep.mov").string();
    EXPECT_EQ(FindPanoTargets(job, dir / "pano.png").existing, 0) << "the mode's own target only";
}

}  // namespace
}  // namespace skelvane
