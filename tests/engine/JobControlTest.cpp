#include <gtest/gtest.h>

#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/jobs/JobControl.h"
#include "engine/jobs/ParallelRows.h"

namespace skelvane {
namespace {
using namespace std::chrono_literals;

// Records every call; end calls are counted so "exactly once" can be checked.
class RecordingObserver : public CJobObserver {
public:
    void OnProgress(std::int64_t position) override
    {
        std::lock_guard lock(m_mutex);
        m_progress.push_back(position);
        m_changed.notify_all();
    }
    void OnFinished() override { End(JobEnd::Finished, {}); }
    void OnStopped() override { End(JobEnd::Stopped, {}); }
    void OnFailed(const std::string& reason) override { End(JobEnd::Failed, reason); }

    std::vector<std::int64_t> Progress() const
    {
        std::lock_guard lock(m_mutex);
        return m_progress;
    }
    bool WaitForProgressCount(std::size_t count, std::chrono::milliseconds timeout = 10s)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_progress.size() >= count; });
    }
    int endCalls = 0;
    JobEnd end = JobEnd::Finished;
    std::string reason;

private:
    void End(JobEnd what, const std::string& why)
    {
        std::lock_guard lock(m_mutex);
        ++endCalls;
        end = what;
        reason = why;
    }
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::int64_t> m_progress;
};

class RecordingReporter : public CMessageReporter {
public:
    void ShowMessage(const std::string& text) override
    {
        std::lock_guard lock(m_mutex);
        messages.push_back(text);
    }
    std::vector<std::string> messages;

private:
    std::mutex m_mutex;
};

// A one-shot signal between the test and the worker.
class Latch {
public:
    void Open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void Wait()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// A job of `frames` frames that checks the stop flag and the gate before each
// frame, as a frame loop does.
CJobControl::Work FrameLoop(int frames, Latch* started = nullptr, std::chrono::milliseconds perFrame = 0ms)
{
    return [=](CJobContext& context) {
        if (started) {
            started->Wait();
        }
        for (int i = 0; i < frames; ++i) {
            if (context.StopRequested()) {
                return JobOutcome::Stopped();
            }
            context.Checkpoint();
            std::this_thread::sleep_for(perFrame);
            context.Progress(i);
        }
        return context.StopRequested() ? JobOutcome::Stopped() : JobOutcome::Finished();
    };
}

// A job that does not end in time fails the test but is still released and
// joined: its work captures the test's locals, which must not go out of scope
// while it runs. The wait is long because most of these jobs run at idle
// priority, which gets no core while other tests keep both busy.
void RunToEnd(CJobControl& control)
{
    const bool ended = control.WaitForEnd(120s);
    EXPECT_TRUE(ended) << "the job did not end: a deadlock?";
    if (!ended) {
        control.Abandon();
    }
    control.Join();
}

TEST(JobControl, EachOutcomeGivesExactlyOneEndCall)
{
    struct Case {
        CJobControl::Work work;
        JobEnd end;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {[](CJobContext&) { return JobOutcome::Finished(); }, JobEnd::Finished, ""},
        {[](CJobContext&) { return JobOutcome::Stopped(); }, JobEnd::Stopped, ""},
        {[](CJobContext&) { return JobOutcome::Failed("disk full"); }, JobEnd::Failed, "disk full"},
        {[](CJobContext&) -> JobOutcome { throw std::runtime_error("broken face"); }, JobEnd::Failed,
         "broken face"},
        {[](CJobContext&) -> JobOutcome { throw std::bad_alloc(); }, JobEnd::Failed, kOutOfMemoryText},
    };
    CJobControl control;
    for (const Case& c : cases) {
        RecordingObserver observer;
        ASSERT_TRUE(control.Begin(c.work, observer));
        RunToEnd(control);
        EXPECT_EQ(observer.endCalls, 1);
        EXPECT_EQ(observer.end, c.end);
        EXPECT_EQ(observer.reason, c.reason);
        EXPECT_FALSE(control.IsRunning());
    }
}

TEST(JobControl, ProgressArrivesInOrderAndBeginRefusesWhileRunning)
{
    CJobControl control;
    RecordingObserver observer;
    Latch started;
    ASSERT_TRUE(control.Begin(FrameLoop(5, &started), observer));
    EXPECT_TRUE(control.IsRunning());
    RecordingObserver other;
    EXPECT_FALSE(control.Begin(FrameLoop(1), other));
    started.Open();
    RunToEnd(control);
    EXPECT_EQ(observer.Progress(), (std::vector<std::int64_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(observer.end, JobEnd::Finished);
    EXPECT_EQ(other.endCalls, 0);

    // A job that ended but was not joined yet does not block the next one.
    RecordingObserver next;
    ASSERT_TRUE(control.Begin(FrameLoop(1), next));
    ASSERT_TRUE(control.WaitForEnd(120s));
    RecordingObserver afterThat;
    EXPECT_TRUE(control.Begin(FrameLoop(2), afterThat));
    RunToEnd(control);
    EXPECT_EQ(afterThat.Progress().size(), 2u);
}

TEST(JobControl, WorkerAndItsTbbThreadsRunAtIdlePriority)
{
    CJobControl control(CJobControl::Options{2, true});
    RecordingObserver observer;
    std::mutex mutex;
    std::set<int> policies;
    std::set<std::thread::id> threads;
    int ownPolicy = -1;
    int concurrency = 0;
    ASSERT_TRUE(control.Begin(
        [&](CJobContext& context) {
            ownPolicy = sched_getscheduler(0);
            concurrency = context.Concurrency();
            ForEachRowBand(256, 4096, [&](std::int32_t, std::int32_t) {
                {
                    std::lock_guard lock(mutex);
                    policies.insert(sched_getscheduler(0));
                    threads.insert(std::this_thread::get_id());
                }
                std::this_thread::sleep_for(2ms);  // lets a TBB worker join the arena
            });
            return JobOutcome::Finished();
        },
        observer));
    RunToEnd(control);
    EXPECT_EQ(ownPolicy, SCHED_IDLE);
    EXPECT_EQ(concurrency, 2);
    EXPECT_GE(threads.size(), 2u) << "a TBB worker should have taken bands";
    EXPECT_EQ(policies, std::set<int>{SCHED_IDLE});
    EXPECT_NE(sched_getscheduler(0), SCHED_IDLE) << "the owner's thread keeps its priority";
}

TEST(JobControl, SuspendAndResumeReturnThePreviousCount)
{
    CJobControl control;
    EXPECT_EQ(control.Suspend(), 0);
    EXPECT_EQ(control.Suspend(), 1);
    EXPECT_EQ(control.SuspendCount(), 2);
    EXPECT_EQ(control.Resume(), 2);
    EXPECT_EQ(control.Resume(), 1);
    EXPECT_EQ(control.Resume(), 0);
    EXPECT_EQ(control.SuspendCount(), 0);
}

TEST(JobControl, PauseHoldsTheWorkerAtTheGateUntilContinue)
{
    CJobControl control;
    RecordingObserver observer;
    Latch started;
    ASSERT_TRUE(control.Begin(FrameLoop(3, &started), observer));
    control.Suspend();
    started.Open();
    std::this_thread::sleep_for(150ms);
    EXPECT_TRUE(observer.Progress().empty());
    EXPECT_FALSE(control.HasEnded());
    control.Resume();
    RunToEnd(control);
    EXPECT_EQ(observer.Progress().size(), 3u);
    EXPECT_EQ(observer.end, JobEnd::Finished);
}

TEST(JobControl, PauseReachesIntoRowBandsOfARender)
{
    CJobControl control;
    RecordingObserver observer;
    Latch started;
    std::atomic<int> bands{0};
    ASSERT_TRUE(control.Begin(
        [&](CJobContext&) {
            started.Wait();
            ForEachRowBand(2048, 2048, [&](std::int32_t, std::int32_t) { ++bands; });
            return JobOutcome::Finished();
        },
        observer));
    control.Suspend();
    started.Open();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(bands.load(), 0);
    control.Resume();
    RunToEnd(control);
    EXPECT_GT(bands.load(), 1);
}

TEST(JobControl, StopAnsweredNoKeepsAPausedJobPaused)
{
    CJobControl control;
    RecordingObserver observer;
    Latch started;
    ASSERT_TRUE(control.Begin(FrameLoop(3, &started), observer));
    EXPECT_EQ(control.Suspend(), 0);  // Pause
    int countWhileAsking = -1;
    EXPECT_EQ(control.Stop([&] {
        countWhileAsking = control.SuspendCount();
        return false;
    }),
              CJobControl::StopResult::Declined);
    EXPECT_EQ(countWhileAsking, 2);
    EXPECT_EQ(control.SuspendCount(), 1);
    EXPECT_FALSE(control.StopRequested());
    started.Open();
    std::this_thread::sleep_for(150ms);
    EXPECT_TRUE(observer.Progress().empty());
    control.Resume();  // Continue
    RunToEnd(control);
    EXPECT_EQ(observer.end, JobEnd::Finished);
    EXPECT_EQ(observer.Progress().size(), 3u);
}

TEST(JobControl, StopAnsweredYesWhilePausedResumesAndEndsStopped)
{
    CJobControl control;
    RecordingObserver observer;
    Latch started;
    ASSERT_TRUE(control.Begin(FrameLoop(1000, &started, 1ms), observer));
    started.Open();
    ASSERT_TRUE(observer.WaitForProgressCount(2));
    control.Suspend();
    control.Suspend();  // paused twice over: Stop must still get it going
    EXPECT_EQ(control.Stop([] { return true; }), CJobControl::StopResult::Stopping);
    EXPECT_EQ(control.SuspendCount(), 0);
    RunToEnd(control);
    EXPECT_EQ(observer.end, JobEnd::Stopped);
    EXPECT_EQ(observer.endCalls, 1);
    EXPECT_LT(observer.Progress().size(), 1000u);
    EXPECT_EQ(control.Stop([] { return true; }), CJobControl::StopResult::NotRunning);
}

TEST(JobControl, DestroyingWhilePausedStopsJoinsAndSilencesTheJob)
{
    RecordingObserver observer;
    RecordingReporter reporter;
    Latch started;
    std::atomic<bool> checkpointReturned{false};
    {
        CJobControl control;
        ASSERT_TRUE(control.Begin(
            [&](CJobContext& context) {
                started.Wait();
                context.Checkpoint();
                checkpointReturned = true;
                // After the owner has gone, nothing reaches the ui any more.
                context.Progress(7);
                context.Reporter().ShowMessage("CalcPlane Failed!");
                return context.StopRequested() ? JobOutcome::Stopped() : JobOutcome::Finished();
            },
            observer, reporter));
        control.Suspend();
        started.Open();
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(checkpointReturned.load());
    }
    EXPECT_TRUE(checkpointReturned.load());
    EXPECT_TRUE(observer.Progress().empty());
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(observer.endCalls, 1);
    EXPECT_EQ(observer.end, JobEnd::Stopped);
}

TEST(JobControl, AbandonLetsTheOwnerWaitForTheEndWithoutBlocking)
{
    // The ui's pattern on close: abandon, keep serving until the end call,
    // then join. A progress call already waiting for the owner is served.
    CJobControl control;
    RecordingObserver observer;
    ASSERT_TRUE(control.Begin(FrameLoop(1'000'000, nullptr, 1ms), observer));
    ASSERT_TRUE(observer.WaitForProgressCount(1));
    control.Abandon();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!control.HasEnded() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(control.HasEnded());
    control.Join();
    EXPECT_EQ(observer.end, JobEnd::Stopped);
}

TEST(JobControl, ReporterForwardsWhileTheJobIsOwned)
{
    CJobControl control;
    RecordingObserver observer;
    RecordingReporter reporter;
    ASSERT_TRUE(control.Begin(
        [](CJobContext& context) {
            context.Reporter().ShowMessage("Overflow-w");
            return JobOutcome::Finished();
        },
        observer, reporter));
    RunToEnd(control);
    EXPECT_EQ(reporter.messages, std::vector<std::string>{"Overflow-w"});
}

}  // namespace
}  // namespace skelvane
