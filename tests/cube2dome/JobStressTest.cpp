// Random Pause / Continue / Stop sequences against running Cube2Dome jobs
// (support/JobStress.h): besides ending as every job must, each leaves on
// disk exactly the frames it reported, each the file an undisturbed job
// writes, and no temporary file. Every other job writes JPEG files, whose
// domes are rendered band by band while they are encoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "cube2dome/Cube2DomeJob.h"
#include "support/JobStress.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::int32_t kFace = 4;
constexpr std::int32_t kDome = 40;  // two bands of a JPEG dome
constexpr int kFrames = 8;
constexpr const char* kFormats[] = {"bmp", "jpg"};

std::string DomeName(int position, const std::string& format)
{
    return "FullDome_00" + std::to_string(position) + "." + format;
}

TEST(JobStress, RandomPauseContinueStopAgainstCubeJobs)
{
    test::TempDir dir;
    const fs::path cube = dir / "cube";
    for (int k = 0; k < kCubeFaceCount; ++k) {
        fs::create_directories(cube / std::string(kFaceWords[k]));
        for (int n = 1; n <= kFrames; ++n) {
            const fs::path file = cube / std::string(kFaceWords[k]) / ("f" + std::to_string(n) + ".bmp");
            ASSERT_TRUE(test::MakePatternImage(kFace, kFace, static_cast<std::uint32_t>(k * 100 + n)).Save(file));
        }
    }
    Cube2DomeSettings settings;
    settings.faceCount = 6;
    settings.upperDir = cube.string();
    settings.FillFromUpperDir();
    settings.SetOutputWidth(kDome);
    settings.saveDir = (dir / "reference").string();
    fs::create_directories(settings.saveDir);
    ASSERT_EQ(settings.ValidateSettings(), std::nullopt);
    CCube2DomeJob job = MakeCube2DomeJob(settings, 180, 15.0f);

    std::vector<std::vector<std::uint8_t>> reference[2];
    for (int f = 0; f < 2; ++f) {
        job.outputFormat = kFormats[f];
        test::StressObserver observer;
        CJobControl control(CJobControl::Options{1, false});
        ASSERT_TRUE(BeginCube2DomeJob(control, job, observer, observer));
        ASSERT_TRUE(control.WaitForEnd(60s));
        ASSERT_EQ(observer.Snapshot().end, JobEnd::Finished) << observer.Snapshot().reason;
        for (int i = 0; i < kFrames; ++i) {
            reference[f].push_back(test::ReadFileBytes(dir / "reference" / DomeName(i, kFormats[f])));
        }
    }

    test::StressRun run;
    for (int index = 0; run.TimeLeft(); ++index) {
        SCOPED_TRACE(run.JobName());
        job.saveDir = (dir / ("run" + std::to_string(index))).string();
        fs::create_directories(job.saveDir);
        job.fromFrame = 1;
        job.toFrame = 1 + static_cast<int>(run.Random()() % kFrames);
        const int format = index % 2;
        job.outputFormat = kFormats[format];

        test::StressObserver observer;
        CJobControl control(CJobControl::Options{1 + static_cast<int>(run.Random()() % 2), false});
        ASSERT_TRUE(BeginCube2DomeJob(control, job, observer, observer));
        bool stopConfirmed = false;
        ASSERT_TRUE(run.Disturb(control, stopConfirmed)) << "job did not end: deadlock?";
        const test::StressObserver::Record record = observer.Snapshot();
        ASSERT_TRUE(run.CheckEnd(record, stopConfirmed, job.toFrame));

        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(job.saveDir)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        const auto reported = record.progress.size();
        ASSERT_EQ(names.size(), reported);
        for (std::size_t i = 0; i < reported; ++i) {
            ASSERT_EQ(names[i], DomeName(static_cast<int>(i), kFormats[format]));
            ASSERT_EQ(test::ReadFileBytes(fs::path(job.saveDir) / names[i]), reference[format][i]) << names[i];
        }
        fs::remove_all(job.saveDir);
    }
    run.Summarise("cube");
}

}  // namespace
}  // namespace skelvane
