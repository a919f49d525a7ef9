// The ordered frame pipeline on its own, inside a real job control (its
// arena, its gate, its stop flag). Every frame stages a tiny image in a
// folder and its delivery names the file after the frame, so each run can
// also check what the jobs rely on: the folder holds exactly the delivered
// frames, and no staged file of an abandoned frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <new>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "engine/jobs/FramePipeline.h"
#include "imageio/StagedImageFile.h"
#include "support/RecordingObserver.h"
#include "support/TempDir.h"
#include "support/TestImages.h"

namespace skelvane {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<std::int64_t> Positions(std::int64_t first, std::int64_t count)
{
    std::vector<std::int64_t> positions(static_cast<std::size_t>(count));
    std::iota(positions.begin(), positions.end(), first);
    return positions;
}

std::string FileName(std::int64_t position)
{
    return "frame" + std::to_string(position) + ".bmp";
}

// What happened to the frames of one run, noted from every thread.
class Ledger {
public:
    enum List { Started, Produced, Delivered, Destroyed };

    void Note(List list, std::int64_t position)
    {
        std::lock_guard lock(m_mutex);
        m_lists[list].push_back(position);
    }
    std::vector<std::int64_t> Get(List list)
    {
        std::lock_guard lock(m_mutex);
        return m_lists[list];
    }
    bool Has(List list, std::int64_t position)
    {
        std::lock_guard lock(m_mutex);
        return std::find(m_lists[list].begin(), m_lists[list].end(), position) != m_lists[list].end();
    }
    // Waits until `position` is on the list; false after a long while.
    bool WaitFor(List list, std::int64_t position)
    {
        for (int wait = 0; wait < 2000; ++wait) {
            if (Has(list, position)) {
                return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    void Born()
    {
        std::lock_guard lock(m_mutex);
        m_mostAlive = std::max(m_mostAlive, ++m_alive);
    }
    void Died(std::int64_t position)
    {
        std::lock_guard lock(m_mutex);
        --m_alive;
        m_lists[Destroyed].push_back(position);
    }
    int Alive()
    {
        std::lock_guard lock(m_mutex);
        return m_alive;
    }
    int MostAlive()
    {
        std::lock_guard lock(m_mutex);
        return m_mostAlive;
    }

private:
    std::mutex m_mutex;
    std::vector<std::int64_t> m_lists[4];
    int m_alive = 0;
    int m_mostAlive = 0;
};

struct TestFrame {
    TestFrame(Ledger& frameLedger, std::int64_t framePosition) : ledger(frameLedger), position(framePosition)
    {
        ledger.Born();
    }
    ~TestFrame() { ledger.Died(position); }
    TestFrame(const TestFrame&) = delete;
    TestFrame& operator=(const TestFrame&) = delete;

    Ledger& ledger;
    std::int64_t position;
    CStagedImageFile file;
};

// One run of the pipeline with the test's hooks, and what it left.
class PipelineRun {
public:
    // Starts a job that runs the pipeline once with the test's hooks; the
    // job ends stopped when its stop flag is set, as the render jobs do.
    void Start(FramePipelineOptions options)
    {
        ASSERT_TRUE(control.Begin(
            [this, options](CJobContext& context) {
                if (beforeRun) {
                    beforeRun();
                }
                m_failure = RunFramePipeline<TestFrame>(context, options, Steps());
                if (!m_failure.empty()) {
                    return JobOutcome::Failed(m_failure);
                }
                return context.StopRequested() ? JobOutcome::Stopped() : JobOutcome::Finished();
            },
            observer));
    }
    void Finish()
    {
        const bool ended = control.WaitForEnd(120s);
        EXPECT_TRUE(ended) << "the run did not end: a deadlock?";
        if (!ended) {
            control.Abandon();
        }
        control.Join();
        EXPECT_EQ(observer.endCalls, 1);
        EXPECT_EQ(ledger.Alive(), 0) << "every frame is destroyed by the end";
    }
    std::string Run(FramePipelineOptions options)
    {
        Start(options);
        Finish();
        return m_failure;
    }

    // The files of the folder: exactly the delivered frames', none staged.
    ::testing::AssertionResult FolderHoldsTheDeliveredFrames()
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_dir.Path())) {
            names.push_back(entry.path().filename().string());
        }
        std::vector<std::string> expected;
        for (std::int64_t position : ledger.Get(Ledger::Delivered)) {
            expected.push_back(FileName(position));
        }
        std::sort(names.begin(), names.end());
        std::sort(expected.begin(), expected.end());
        if (names == expected) {
            return ::testing::AssertionSuccess();
        }
        auto failure = ::testing::AssertionFailure() << "the folder holds";
        for (const std::string& name : names) {
            failure << " " << name;
        }
        return failure << "; " << expected.size() << " frames were delivered";
    }

    // The test's own parts of each step run first (a failure or a frame left
    // alone from them is the step's result; start throws a reason); then a
    // frame stages its image and its delivery publishes it.
    std::function<void()> beforeRun;
    std::function<std::string(std::int64_t)> onStart;
    std::function<FrameStepResult(TestFrame&)> onProduce;
    std::function<FrameStepResult(TestFrame&)> onDeliver;

    test::RecordingObserver observer;
    Ledger ledger;

private:
    FrameSteps<TestFrame> Steps()
    {
        return {[this](std::int64_t position) {
                    ledger.Note(Ledger::Started, position);
                    if (onStart) {
                        if (std::string failure = onStart(position); !failure.empty()) {
                            throw std::runtime_error(failure);
                        }
                    }
                    return std::make_unique<TestFrame>(ledger, position);
                },
                [this](TestFrame& frame) -> FrameStepResult {
                    if (onProduce) {
                        if (FrameStepResult result = onProduce(frame); result.IsFailure() || result.IsLeftAlone()) {
                            return result;
                        }
                    }
                    CImageBuffer image = test::MakePatternImage(2, 2, static_cast<std::uint32_t>(frame.position));
                    std::string error;
                    frame.file.Stage(image, m_dir.Path(), "bmp", error);
                    ledger.Note(Ledger::Produced, frame.position);
                    return error;
                },
                [this](TestFrame& frame) -> FrameStepResult {
                    if (onDeliver) {
                        if (FrameStepResult result = onDeliver(frame); result.IsFailure() || result.IsLeftAlone()) {
                            return result;
                        }
                    }
                    std::string error;
                    if (frame.file.Publish(m_dir / FileName(frame.position), error) !=
                        CStagedImageFile::PublishResult::Published) {
                        return "cannot publish " + FileName(frame.position) + ": " + error;
                    }
                    ledger.Note(Ledger::Delivered, frame.position);
                    return FrameStepResult();
                }};
    }

    test::TempDir m_dir;
    std::string m_failure;

public:
    // Last, so that it is destroyed (and its job joined) first.
    CJobControl control{CJobControl::Options{2, false}};
};

// Frames finish out of order (each takes its own time), yet every frame is
// started, delivered and reported in order; never more than inFlight frames
// exist, and each is gone before its progress call, which may wait long for
// the ui.
TEST(FramePipeline, DeliversEveryFrameInOrderWithAtMostInFlightFramesAlive)
{
    for (std::size_t inFlight : {1, 2, 5}) {
        SCOPED_TRACE(testing::Message() << inFlight << " in flight");
        PipelineRun run;
        run.onProduce = [](TestFrame& frame) {
            std::this_thread::sleep_for(std::chrono::milliseconds(frame.position * 7 % 5));
            return std::string();
        };
        std::vector<std::int64_t> releasedAtProgress;
        run.observer.onProgress = [&](std::int64_t step) {
            if (run.ledger.Has(Ledger::Destroyed, step - 1000)) {
                releasedAtProgress.push_back(step);
            }
        };
        EXPECT_EQ(run.Run({30, inFlight, 1000}), "");
        EXPECT_EQ(run.observer.end, JobEnd::Finished);
        EXPECT_EQ(run.ledger.Get(Ledger::Started), Positions(0, 30));
        EXPECT_EQ(run.ledger.Get(Ledger::Delivered), Positions(0, 30));
        EXPECT_EQ(run.observer.progress, Positions(1000, 30)) << "progress counts from the base";
        EXPECT_EQ(releasedAtProgress, Positions(1000, 30)) << "each frame is released before its progress call";
        EXPECT_LE(run.ledger.MostAlive(), static_cast<int>(inFlight));
        EXPECT_TRUE(run.FolderHoldsTheDeliveredFrames());
    }
}

TEST(FramePipeline, ProducesSeveralFramesAtOnce)
{
    PipelineRun run;
    bool overlapped = false;
    run.onProduce = [&](TestFrame& frame) {
        if (frame.position == 0) {
            overlapped = run.ledger.WaitFor(Ledger::Produced, 1);
        }
        return std::string();
    };
    EXPECT_EQ(run.Run({4, 2}), "");
    EXPECT_TRUE(overlapped) << "frame 1 was made while frame 0 was";
    EXPECT_EQ(run.ledger.Get(Ledger::Delivered), Positions(0, 4));
}

// A frame whose file exists already (a retried shard) is left alone by its
// produce step, which then has no delivery, or by its delivery, when another
// writer took the name meanwhile. Either way it is reported as skipped just
// before its progress call, and what it staged goes with it.
TEST(FramePipeline, FramesLeftAloneAreReportedAsSkippedBeforeTheirProgress)
{
    PipelineRun run;
    std::vector<std::int64_t> handedOn;
    run.onProduce = [](TestFrame& frame) {
        return frame.position == 1 ? FrameStepResult::LeftAlone() : FrameStepResult();
    };
    run.onDeliver = [&](TestFrame& frame) {
        handedOn.push_back(frame.position);
        return frame.position == 3 ? FrameStepResult::LeftAlone() : FrameStepResult();
    };
    std::vector<std::size_t> skippedAtProgress;
    run.observer.onProgress = [&](std::int64_t) { skippedAtProgress.push_back(run.observer.skipped.size()); };
    EXPECT_EQ(run.Run({5, 3, 10}), "");
    EXPECT_EQ(run.observer.end, JobEnd::Finished);
    EXPECT_EQ(handedOn, (std::vector<std::int64_t>{0, 2, 3, 4})) << "a frame produce left alone is not delivered";
    EXPECT_EQ(run.observer.skipped, (std::vector<std::int64_t>{11, 13}));
    EXPECT_EQ(run.observer.progress, Positions(10, 5));
    EXPECT_EQ(skippedAtProgress, (std::vector<std::size_t>{0, 1, 1, 2, 2}));
    EXPECT_EQ(run.ledger.Get(Ledger::Delivered), (std::vector<std::int64_t>{0, 2, 4}));
    EXPECT_TRUE(run.FolderHoldsTheDeliveredFrames());
}

TEST(FramesInFlight, OneOrTwoMoreThanThreadsWithinTheMemoryBudget)
{
    constexpr std::int64_t kMiB = 1 << 20;
    struct Case {
        int threads, spare;
        std::int64_t frameBytes;
        std::size_t frames;
    };
    for (const Case c : {Case{1, 1, 0, 2}, Case{2, 1, 0, 3}, Case{2, 2, 0, 4}, Case{16, 2, 0, 8},
                         Case{2, 2, 64 * kMiB, 4}, Case{2, 2, 200 * kMiB, 2}, Case{2, 2, 1024 * kMiB, 1},
                         Case{0, 0, 0, 1}, Case{64, 1, 64 * kMiB, 8}}) {
        EXPECT_EQ(FramesInFlight(c.threads, c.spare, c.frameBytes), c.frames)
            << c.threads << " threads, " << c.spare << " spare, " << c.frameBytes << " bytes";
    }
}

// A stop lets the frame in progress finish: produced, delivered, reported.
// Frames started ahead of it are abandoned even when they were made already,
// and their staged files go with them. A stop that came before the run still
// gets the first frame: the job checked its flag before it began.
TEST(FramePipeline, StopFinishesTheFrameInProgressAndAbandonsTheFramesAhead)
{
    struct Case {
        const char* when;
        bool duringDelivery;  // else from the progress call
        std::int64_t lastDelivered;
    };
    for (const Case c : {Case{"while frame 3 is delivered", true, 3}, Case{"while frame 3 is reported", false, 3}}) {
        SCOPED_TRACE(c.when);
        PipelineRun fresh;
        auto stopAfterTheNextIsMade = [&fresh] {
            EXPECT_TRUE(fresh.ledger.WaitFor(Ledger::Produced, 4));
            fresh.control.RequestStop();
        };
        if (c.duringDelivery) {
            fresh.onDeliver = [&](TestFrame& frame) {
                if (frame.position == 3) {
                    stopAfterTheNextIsMade();
                }
                return std::string();
            };
        } else {
            fresh.observer.onProgress = [&](std::int64_t step) {
                if (step == 3) {
                    stopAfterTheNextIsMade();
                }
            };
        }
        EXPECT_EQ(fresh.Run({20, 3}), "");
        EXPECT_EQ(fresh.observer.end, JobEnd::Stopped);
        EXPECT_EQ(fresh.ledger.Get(Ledger::Delivered), Positions(0, c.lastDelivered + 1));
        EXPECT_EQ(fresh.observer.progress, Positions(0, c.lastDelivered + 1));
        EXPECT_TRUE(fresh.ledger.Has(Ledger::Produced, c.lastDelivered + 1)) << "a frame ahead was made";
        EXPECT_TRUE(fresh.FolderHoldsTheDeliveredFrames()) << "frames started ahead leave no file";
    }
}

TEST(FramePipeline, AStopBeforeTheRunStillDeliversTheFirstFrame)
{
    PipelineRun run;
    run.beforeRun = [&] { run.control.RequestStop(); };
    EXPECT_EQ(run.Run({20, 3}), "");
    EXPECT_EQ(run.observer.end, JobEnd::Stopped);
    EXPECT_EQ(run.ledger.Get(Ledger::Delivered), Positions(0, 1));
    EXPECT_EQ(run.observer.progress, Positions(0, 1));
    EXPECT_TRUE(run.FolderHoldsTheDeliveredFrames());
}

// Frames 4 and 6 fail, frame 6 sooner than frame 4 (which takes its time):
// the run ends with frame 4's reason, every frame before it delivered and
// none after, whatever step failed and however.
TEST(FramePipeline, TheFirstFailureInFrameOrderEndsTheRun)
{
    struct Case {
        const char* how;
        std::function<std::string(std::int64_t)> start;
        std::function<std::string(TestFrame&)> produce;
        std::function<std::string(TestFrame&)> deliver;
        std::string reason;
    };
    auto failing = [](std::int64_t position) { return position == 4 || position == 6; };
    auto name = [](std::int64_t position) { return "frame " + std::to_string(position) + " broke"; };
    auto slowFour = [](std::int64_t position) {
        if (position == 4) {
            std::this_thread::sleep_for(50ms);
        }
    };
    const std::vector<Case> cases = {
        {"produce gives a reason", nullptr,
         [&](TestFrame& f) {
             slowFour(f.position);
             return failing(f.position) ? name(f.position) : std::string();
         },
         nullptr, "frame 4 broke"},
        {"produce throws", nullptr,
         [&](TestFrame& f) -> std::string {
             slowFour(f.position);
             if (failing(f.position)) {
                 throw std::runtime_error(name(f.position));
             }
             return {};
         },
         nullptr, "frame 4 broke"},
        {"produce runs out of memory", nullptr,
         [&](TestFrame& f) -> std::string {
             slowFour(f.position);
             if (failing(f.position)) {
                 throw std::bad_alloc();
             }
             return {};
         },
         nullptr, kOutOfMemoryText},
        {"deliver gives a reason", nullptr, nullptr,
         [&](TestFrame& f) { return failing(f.position) ? name(f.position) : std::string(); }, "frame 4 broke"},
        {"deliver throws", nullptr, nullptr,
         [&](TestFrame& f) -> std::string {
             if (failing(f.position)) {
                 throw std::runtime_error(name(f.position));
             }
             return {};
         },
         "frame 4 broke"},
        {"start throws", [&](std::int64_t position) { return failing(position) ? name(position) : std::string(); },
         nullptr, nullptr, "frame 4 broke"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        PipelineRun fresh;
        fresh.onStart = c.start;
        fresh.onProduce = c.produce;
        fresh.onDeliver = c.deliver;
        EXPECT_EQ(fresh.Run({12, 4}), c.reason);
        EXPECT_EQ(fresh.observer.end, JobEnd::Failed);
        EXPECT_EQ(fresh.ledger.Get(Ledger::Delivered), Positions(0, 4));
        EXPECT_EQ(fresh.observer.progress, Positions(0, 4));
        EXPECT_TRUE(fresh.FolderHoldsTheDeliveredFrames());
    }
}

// Pause after frame 1 is reported: nothing more is delivered or reported,
// no frame beyond those in flight is started, and a Stop answered No leaves
// it paused. Continue then runs to the end; a Stop answered Yes finishes the
// frame in progress, frame 2, and abandons the rest.
TEST(FramePipeline, PauseHoldsTheFramesUntilContinueOrStop)
{
    constexpr std::size_t kInFlight = 3;
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stop" : "continue");
        PipelineRun fresh;
        // Paused from within frame 1's progress call. (Waiting there for
        // frame 2 to be made would rely on the other thread taking it up
        // meanwhile, which TBB does not promise: with a busy neighbour on
        // the machine the wait ran out.)
        fresh.observer.onProgress = [&](std::int64_t step) {
            if (step == 1) {
                fresh.control.Suspend();
            }
        };
        fresh.Start({12, kInFlight});
        ASSERT_TRUE(fresh.observer.WaitForProgressCount(2));
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(fresh.observer.ProgressCount(), 2u) << "nothing is reported while paused";
        EXPECT_EQ(fresh.ledger.Get(Ledger::Delivered), Positions(0, 2));
        EXPECT_LE(fresh.ledger.Get(Ledger::Started).size(), 2 + kInFlight);

        EXPECT_EQ(fresh.control.Stop([] { return false; }), CJobControl::StopResult::Declined);
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(fresh.observer.ProgressCount(), 2u) << "still paused after a Stop answered No";

        if (stop) {
            EXPECT_EQ(fresh.control.Stop([] { return true; }), CJobControl::StopResult::Stopping);
        } else {
            EXPECT_EQ(fresh.control.Resume(), 1);
        }
        fresh.Finish();
        EXPECT_EQ(fresh.observer.end, stop ? JobEnd::Stopped : JobEnd::Finished);
        EXPECT_EQ(fresh.observer.progress, Positions(0, stop ? 3 : 12));
        EXPECT_TRUE(fresh.FolderHoldsTheDeliveredFrames());
    }
}

}  // namespace
}  // namespace skelvane
