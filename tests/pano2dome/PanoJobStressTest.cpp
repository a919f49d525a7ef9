// Random Pause / Continue / Stop sequences against running Pano2Dome frame
// and video jobs (support/JobStress.h), sharp sweeps among them. Besides ending as every job must, a
// frame job leaves exactly the frames it reported, each the file an
// undisturbed job writes; a video job leaves a video only when it says so,
// and that video plays with exactly the frames of its last pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>

#include "pano2dome/Pano2DomeJob.h"
#include "pano2dome/VideoEncoder.h"
#include "support/JobStress.h"
#include "support/TempDir.h"
#include "support/TestImages.h"
#include "support/VideoFacts.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr unsigned kMaxRate = 8;  // frames of a one-second sweep

CPano2DomeJob StressJob(int mode, unsigned rate)
{
    CPano2DomeJob job;
    job.mode = mode;
    job.panorama = std::make_shared<CImageBuffer>(test::MakePatternImage(64, 32, 3));
    job.outputWidth = 16;
    job.duration = 1;
    job.frameRate = rate;
    job.frameFormat = "png";
    return job;
}

std::vector<std::string> Entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

CJobControl::Options RandomOptions(test::StressRun& run)
{
    return CJobControl::Options{1 + static_cast<int>(run.Random()() % 2), false};
}

TEST(PanoJobStress, RandomPauseContinueStopAgainstFrameJobs)
{
    test::TempDir dir;
    // The frames an undisturbed job writes, per frame rate (each rate sweeps
    // in steps of its own) and sharpness.
    std::map<std::pair<unsigned, bool>, std::vector<std::vector<std::uint8_t>>> references;
    auto reference = [&](unsigned rate, bool sharp) -> const std::vector<std::vector<std::uint8_t>>& {
        auto& frames = references[{rate, sharp}];
        if (frames.empty()) {
            CPano2DomeJob job = StressJob(kPanoFrames, rate);
            job.sharp = sharp;
            job.frameDir = (dir / "reference").string();
            fs::create_directories(job.frameDir);
            test::StressObserver observer;
            CJobControl control(CJobControl::Options{1, false});
            EXPECT_TRUE(BeginPano2DomeJob(control, job, observer, observer));
            EXPECT_TRUE(control.WaitForEnd(60s));
            control.Join();
            EXPECT_EQ(observer.Snapshot().end, JobEnd::Finished) << observer.Snapshot().reason;
            for (unsigned k = 0; k < rate; ++k) {
                frames.push_back(test::ReadFileBytes(dir / "reference" / PanoFrameFileName(k, "png")));
            }
            fs::remove_all(job.frameDir);
        }
        return frames;
    };

    test::StressRun run;
    for (int index = 0; run.TimeLeft(); ++index) {
        SCOPED_TRACE(run.JobName());
        const unsigned rate = 1 + static_cast<unsigned>(run.Random()() % kMaxRate);
        const bool sharp = run.Chance(50);
        SCOPED_TRACE(sharp ? "sharp" : "working panorama");
        const auto& expected = reference(rate, sharp);
        CPano2DomeJob job = StressJob(kPanoFrames, rate);
        job.sharp = sharp;
        job.frameDir = (dir / ("run" + std::to_string(index))).string();
        fs::create_directories(job.frameDir);

        test::StressObserver observer;
        CJobControl control(RandomOptions(run));
        ASSERT_TRUE(BeginPano2DomeJob(control, job, observer, observer));
        bool stopConfirmed = false;
        ASSERT_TRUE(run.Disturb(control, stopConfirmed)) << "job did not end: deadlock?";
        const test::StressObserver::Record record = observer.Snapshot();
        ASSERT_TRUE(run.CheckEnd(record, stopConfirmed, rate));

        const std::vector<std::string> names = Entries(job.frameDir);
        ASSERT_EQ(names.size(), record.progress.size()) << "exactly the reported frames, no temporary file";
        for (std::size_t k = 0; k < names.size(); ++k) {
            ASSERT_EQ(names[k], PanoFrameFileName(static_cast<std::int64_t>(k), "png"));
            ASSERT_EQ(test::ReadFileBytes(fs::path(job.frameDir) / names[k]), expected[k]) << names[k];
        }
        fs::remove_all(job.frameDir);
    }
    run.Summarise("pano frames");
}

TEST(PanoJobStress, RandomPauseContinueStopAgainstVideoJobs)
{
    CVideoEncoder::QuietLibraryMessages();
    test::TempDir dir;
    test::StressRun run;
    for (int index = 0; run.TimeLeft(); ++index) {
        SCOPED_TRACE(run.JobName());
        const unsigned rate = 1 + static_cast<unsigned>(run.Random()() % kMaxRate);
        CPano2DomeJob job = StressJob(kPanoVideo, rate);
        job.video.twoPass = run.Chance(30);
        job.sharp = run.Chance(50);
        const fs::path folder = dir / ("run" + std::to_string(index));
        fs::create_directories(folder);
        const fs::path video = folder / (run.Chance(50) ? "sweep.mov" : "sweep.avi");
        job.videoPath = video.string();
        SCOPED_TRACE(video.filename().string() + (job.video.twoPass ? ", two passes" : ", one pass") +
                     (job.sharp ? ", sharp" : ""));

        test::StressObserver observer;
        CJobControl control(RandomOptions(run));
        ASSERT_TRUE(BeginPano2DomeJob(control, job, observer, observer));
        bool stopConfirmed = false;
        ASSERT_TRUE(run.Disturb(control, stopConfirmed)) << "job did not end: deadlock?";
        const test::StressObserver::Record record = observer.Snapshot();
        const auto passes = static_cast<std::int64_t>(job.video.twoPass ? 2 : 1);
        ASSERT_TRUE(run.CheckEnd(record, stopConfirmed, passes * rate));

        // Progress counts over both passes; the video holds the frames of
        // the last pass that delivered any.
        const auto reported = static_cast<std::int64_t>(record.progress.size());
        const std::int64_t frames = reported > rate ? reported - rate : reported;
        if (frames == 0) {
            ASSERT_TRUE(Entries(folder).empty()) << "no video without a frame";
        } else {
            ASSERT_EQ(Entries(folder), std::vector<std::string>{video.filename().string()});
            const std::optional<test::VideoFacts> facts = test::ReadVideo(video);
            ASSERT_TRUE(facts) << "the video must play";
            ASSERT_EQ(facts->frames, frames);
            ASSERT_EQ(facts->width, 16);
        }
        fs::remove_all(folder);
    }
    run.Summarise("pano video");
}

}  // namespace
}  // namespace skelvane
