// The job observer adapter: progress waits for the ui, end calls are queued,
// and a detached adapter never keeps a worker waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include "engine/jobs/JobControl.h"
#include "ui/JobObserverAdapter.h"
#include "ui/UiMessageReporter.h"

namespace skelvane {
namespace {

using namespace std::chrono_literals;

TEST(JobObserverAdapterTest, ProgressWaitsForTheUiAndTheEndComesOnceAfterIt)
{
    CJobControl control;
    CJobObserverAdapter adapter;
    std::atomic<int> reported{0};
    std::vector<qint64> seen;
    bool workerWaited = true;
    QObject::connect(&adapter, &CJobObserverAdapter::Progress, [&](qint64 position) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        // The worker has not gone on past this call.
        workerWaited = workerWaited && reported.load() == position;
        seen.push_back(position);
        QThread::msleep(5);
    });
    QSignalSpy finished(&adapter, &CJobObserverAdapter::Finished);
    adapter.Attach();
    ASSERT_TRUE(control.Begin(
        [&](CJobContext& context) {
            for (int i = 0; i < 4; ++i) {
                context.Progress(i);
                reported.store(i + 1);
            }
            return JobOutcome::Finished();
        },
        adapter));
    ASSERT_TRUE(finished.wait(10000));
    control.Join();
    EXPECT_EQ(seen, (std::vector<qint64>{0, 1, 2, 3}));
    EXPECT_TRUE(workerWaited);
    QTest::qWait(20);
    EXPECT_EQ(finished.count(), 1);
}

TEST(JobObserverAdapterTest, DetachReleasesAWorkerBlockedOnTheUiWithoutServingEvents)
{
    CJobControl control;
    CJobObserverAdapter adapter;
    QSignalSpy progress(&adapter, &CJobObserverAdapter::Progress);
    QSignalSpy stopped(&adapter, &CJobObserverAdapter::Stopped);
    std::atomic<bool> calling{false};
    adapter.Attach();
    ASSERT_TRUE(control.Begin(
        [&](CJobContext& context) {
            calling.store(true);
            context.Progress(0);  // the ui serves no events: this waits
            return context.StopRequested() ? JobOutcome::Stopped() : JobOutcome::Finished();
        },
        adapter));
    while (!calling.load()) QThread::msleep(1);
    QThread::msleep(50);
    EXPECT_FALSE(control.HasEnded());
    adapter.Detach();
    control.RequestStop();
    // No event is processed here: the worker must come back by itself.
    EXPECT_TRUE(control.WaitForEnd(10s));
    control.Join();
    QTest::qWait(20);
    EXPECT_EQ(progress.count(), 0);
    EXPECT_EQ(stopped.count(), 0);
}

TEST(JobObserverAdapterTest, AbandonAndJoinEndsAJobWaitingOnABoxAndTheNextJobIsHeard)
{
    CJobControl control;
    CJobObserverAdapter adapter;
    CUiMessageReporter reporter;
    std::atomic<bool> reporting{false};
    adapter.Attach();
    ASSERT_TRUE(control.Begin(
        [&](CJobContext& context) {
            reporting.store(true);
            context.Reporter().ShowMessage("never shown");
            context.Progress(0);
            return JobOutcome::Finished();
        },
        adapter, reporter));
    while (!reporting.load()) QThread::msleep(1);
    AbandonAndJoin(control, adapter, &reporter);
    EXPECT_FALSE(control.IsRunning());
    EXPECT_FALSE(reporter.IsSilenced());

    QSignalSpy finished(&adapter, &CJobObserverAdapter::Finished);
    adapter.Attach();
    ASSERT_TRUE(control.Begin([](CJobContext&) { return JobOutcome::Finished(); }, adapter));
    EXPECT_TRUE(finished.wait(10000));
    control.Join();
}

}  // namespace
}  // namespace skelvane
