// Random Pause / Continue / Stop sequences against running Cube2Dome jobs,
// as impatient hands on the page's buttons would give them. Whatever the
// order and timing, every job must end exactly once with the end its
// requests call for, never hang, and leave on disk exactly the frames it
// reported, each complete.
//
// The run is bounded in time (SKELVANE_STRESS_SECONDS, default 8) so it fits
// every build; the seed is printed and can be replayed with
// SKELVANE_STRESS_SEED.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

#include "cube2dome/Cube2DomeJob.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::int32_t kFace = 4;
constexpr std::int32_t kDome = 8;
constexpr int kFrames = 8;

class CountingObserver : public CJobObserver {
public:
    void OnProgress(std::int64_t position) override
    {
        std::lock_guard lock(m_mutex);
        progress.push_back(position);
    }
    void OnFinished() override { End(JobEnd::Finished); }
    void OnStopped() override { End(JobEnd::Stopped); }
    void OnFailed(const std::string& why) override
    {
        End(JobEnd::Failed);
        std::lock_guard lock(m_mutex);
        reason = why;
    }

    std::mutex m_mutex;
    std::vector<std::int64_t> progress;
    int endCalls = 0;
    JobEnd end = JobEnd::Finished;
    std::string reason;

private:
    void End(JobEnd what)
    {
        std::lock_guard lock(m_mutex);
        ++endCalls;
        end = what;
    }
};

class SilentReporter : public CMessageReporter {
public:
    void ShowMessage(const std::string&) override {}
};

std::string DomeName(int position)
{
    return "FullDome_00" + std::to_string(position) + ".bmp";
}

long EnvNumber(const char* name, long fallback)
{
    const char* text = std::getenv(name);
    return text ? std::strtol(text, nullptr, 10) : fallback;
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

    SilentReporter reporter;
    {
        CountingObserver observer;
        CJobControl control(CJobControl::Options{1, false});
        ASSERT_TRUE(BeginCube2DomeJob(control, job, observer, reporter));
        ASSERT_TRUE(control.WaitForEnd(60s));
        ASSERT_EQ(observer.end, JobEnd::Finished) << observer.reason;
    }
    std::vector<std::vector<std::uint8_t>> reference;
    for (int i = 0; i < kFrames; ++i) {
        reference.push_back(test::ReadFileBytes(dir / "reference" / DomeName(i)));
    }

    const auto seed = static_cast<std::uint32_t>(EnvNumber("SKELVANE_STRESS_SEED", std::random_device{}()));
    const auto budget = std::chrono::seconds(EnvNumber("SKELVANE_STRESS_SECONDS", 8));
    std::printf("stress seed %u, %lld s\n", seed, static_cast<long long>(budget.count()));
    std::mt19937 random(seed);
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };

    const auto start = std::chrono::steady_clock::now();
    int jobs = 0;
    long actions = 0;
    std::array<int, 3> ends{};
    while (std::chrono::steady_clock::now() - start < budget) {
        SCOPED_TRACE("job " + std::to_string(jobs) + " of seed " + std::to_string(seed));
        job.saveDir = (dir / ("run" + std::to_string(jobs))).string();
        fs::create_directories(job.saveDir);
        job.fromFrame = 1;
        job.toFrame = 1 + static_cast<int>(random() % kFrames);
        const int total = job.toFrame;

        CountingObserver observer;
        CJobControl control(CJobControl::Options{1 + static_cast<int>(random() % 2), false});
        ASSERT_TRUE(BeginCube2DomeJob(control, job, observer, reporter));
        bool stopAsked = false;
        const int steps = static_cast<int>(random() % 12);
        for (int step = 0; step < steps; ++step, ++actions) {
            switch (random() % 4) {
            case 0:
                control.Suspend();
                break;
            case 1:
                control.Resume();
                break;
            case 2: {  // Stop, answered after a moment
                const bool yes = chance(50);
                const auto think = std::chrono::microseconds(random() % 300);
                const auto result = control.Stop([&] {
                    std::this_thread::sleep_for(think);
                    return yes;
                });
                stopAsked = stopAsked || result == CJobControl::StopResult::Stopping;
                EXPECT_TRUE(result != CJobControl::StopResult::Declined || !yes);
                break;
            }
            default:
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
                break;
            }
        }
        // Continue until the gate is open, as the page's Continue does;
        // then the job must come to its end on its own.
        while (control.Resume() > 1) {
        }
        ASSERT_TRUE(control.WaitForEnd(60s)) << "job did not end: deadlock?";
        control.Join();

        std::lock_guard lock(observer.m_mutex);
        ASSERT_EQ(observer.endCalls, 1);
        ASSERT_NE(observer.end, JobEnd::Failed) << observer.reason;
        ++ends[static_cast<int>(observer.end)];
        const auto reported = static_cast<int>(observer.progress.size());
        for (int i = 0; i < reported; ++i) {
            ASSERT_EQ(observer.progress[i], i);
        }
        if (observer.end == JobEnd::Stopped) {
            EXPECT_TRUE(stopAsked) << "stopped without a confirmed stop";
        } else {
            EXPECT_EQ(reported, total) << "finished without every frame";
        }
        // Exactly the reported frames, each the same file an undisturbed
        // job writes; no temporary file left behind.
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(job.saveDir)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        ASSERT_EQ(names.size(), static_cast<std::size_t>(reported));
        for (int i = 0; i < reported; ++i) {
            ASSERT_EQ(names[i], DomeName(i));
            ASSERT_EQ(test::ReadFileBytes(fs::path(job.saveDir) / names[i]), reference[i]) << names[i];
        }
        fs::remove_all(job.saveDir);
        ++jobs;
    }
    std::printf("stress: %d jobs, %ld actions, %d finished, %d stopped\n", jobs, actions, ends[0], ends[1]);
    RecordProperty("jobs", jobs);
    EXPECT_GT(jobs, 0);
}

}  // namespace
}  // namespace skelvane
