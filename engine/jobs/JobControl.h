// Job control shared by the render jobs of both workflows (Cube2Dome batch,
// Pano2Dome): one worker thread per job, pause and continue through a gate
// with a suspend count, a confirmed stop, and exactly one end call.
//
// How a job runs:
// 1. Begin() starts a std::thread that lowers itself to SCHED_IDLE and runs
//    the work inside its own tbb::task_arena. An observer on that arena lowers
//    every TBB worker that joins it to SCHED_IDLE too (and puts it back when it
//    leaves), and installs the gate as the row-band check of ParallelRows.h on
//    it, so every ForEachRowBand loop of a render waits at the gate between
//    bands.
// 2. The work is a function of a CJobContext. It reads StopRequested() before
//    each frame (the frame in progress is always finished), calls Checkpoint()
//    between frames and between other long steps (decode, encode), reports
//    each finished frame with Progress(i) and messages through Reporter(), and
//    returns a JobOutcome. It may use TBB freely (parallel_pipeline, nested
//    parallel_for): everything inside runs in the job's arena.
// 3. The control makes exactly one end call on the observer: OnFinished,
//    OnStopped or OnFailed (an exception escaping the work counts as a
//    failure; std::bad_alloc is reported as "Out of memory.").
//
// Pause and Stop (the page's buttons, the command line's Ctrl-C):
// - Suspend()/Resume() raise and lower the suspend count and return the count
//   before the call; Resume() at count 0 leaves it at 0. The worker waits at
//   the gate (Checkpoint(), row bands) while the count is above 0, so a pause
//   takes effect within a fraction of a frame: a codec call or a band of rows.
// - Stop(confirm) suspends, asks confirm() (e.g. a Yes/No box); on yes it sets
//   the stop flag and resumes until the count is 0, so even a paused job runs
//   on, finishes its frame and ends stopped; on no it resumes once, so a job
//   paused before Stop stays paused. RequestStop() is Stop answered yes.
//
// Ending while the program closes (the ui must never join a worker that is
// blocked in a call to the ui thread):
// - Abandon() sets the stop flag, opens the gate for good and silences the
//   job: from then on Progress() and Reporter() calls return at once without
//   reaching the observer or the reporter. The end call is still made, once.
//   A call that was already running when Abandon() came is not interrupted:
//   the ui keeps processing its events until HasEnded() (or WaitForEnd())
//   says the end call was made, then calls Join().
// - The destructor does Abandon() and Join(); with observers that do not wait
//   on the destroying thread (the command line, tests) that is all it takes.
//
// Threads: Begin, Join and the destructor belong to the owning thread. Stop,
// Suspend, Resume, RequestStop, Abandon, IsRunning and HasEnded may be called
// from any thread. The observer's calls come from the worker or from TBB
// threads of the job's arena; Progress calls come one at a time, in the order
// the work makes them, and the worker waits for each (synchronous).
//
// Note on priority: on Linux an unprivileged thread cannot leave SCHED_IDLE
// again (RLIMIT_NICE is usually 0), so a TBB worker that served a job may stay
// at idle priority afterwards; it then serves other arenas only when a core is
// free. Threads that start at SCHED_IDLE are left alone.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/jobs/MessageReporter.h"

namespace skelvane {

enum class JobEnd { Finished, Stopped, Failed };

struct JobOutcome {
    JobEnd end = JobEnd::Finished;
    std::string reason;  // why a failed job failed, for a person to read

    static JobOutcome Finished() { return {JobEnd::Finished, {}}; }
    static JobOutcome Stopped() { return {JobEnd::Stopped, {}}; }
    static JobOutcome Failed(std::string reason) { return {JobEnd::Failed, std::move(reason)}; }
};

// What a job tells its owner. The desktop implements OnProgress with a
// blocking queued call (the worker waits for the page) and the end calls as
// queued posts, which must not block.
class CJobObserver {
public:
    virtual ~CJobObserver() = default;
    virtual void OnProgress(std::int64_t position) = 0;
    // The frame at `position` was left as it was (its file existed), not
    // rendered; its OnProgress follows as for any other frame.
    virtual void OnSkipped(std::int64_t /*position*/) {}
    virtual void OnFinished() = 0;
    virtual void OnStopped() = 0;
    virtual void OnFailed(const std::string& reason) = 0;
};

class CJobControl;

// The job's view of its control. Every member may be called from any thread
// working for the job.
class CJobContext {
public:
    bool StopRequested() const;
    // Waits while the job is suspended; returns at once once abandoned.
    void Checkpoint();
    // Synchronous; skipped once abandoned.
    void Progress(std::int64_t position);
    // Tells the observer the frame at `position` is left alone; its Progress
    // call still follows. Silent once abandoned.
    void Skipped(std::int64_t position);
    // Forwards to the reporter given to Begin; silent once abandoned.
    CMessageReporter& Reporter();
    // Threads the job's arena may use at most.
    int Concurrency() const;

private:
    friend class CJobControl;
    explicit CJobContext(CJobControl& control) : m_control(control) {}
    CJobControl& m_control;
};

class CJobControl {
public:
    struct Options {
        int threads = 0;            // arena concurrency; 0 = all cores
        bool idlePriority = true;   // SCHED_IDLE for the worker and its TBB threads
    };
    using Work = std::function<JobOutcome(CJobContext&)>;
    enum class StopResult { NotRunning, Stopping, Declined };

    CJobControl();
    explicit CJobControl(Options options);
    ~CJobControl();
    CJobControl(const CJobControl&) = delete;
    CJobControl& operator=(const CJobControl&) = delete;

    // Starts the work on a new worker thread. False, and nothing started, while
    // a job runs. A job that has ended but was not joined is joined first.
    // The observer and the reporter must outlive the job (until Join()).
    bool Begin(Work work, CJobObserver& observer, CMessageReporter& reporter = DefaultReporter());

    // A worker thread is held: begun and not yet joined.
    bool IsRunning() const;
    // The worker has made its end call.
    bool HasEnded() const;
    // Waits until the end call was made; false on time-out.
    bool WaitForEnd(std::chrono::milliseconds timeout);
    // Waits for the worker thread to exit (no-op without one).
    void Join();

    // The gate. Both return the suspend count before the call.
    int Suspend();
    int Resume();
    int SuspendCount() const;

    StopResult Stop(const std::function<bool()>& confirm);
    void RequestStop();
    void Abandon();
    bool StopRequested() const { return m_stopRequested.load(std::memory_order_acquire); }

private:
    friend class CJobContext;
    class SilencingReporter final : public CMessageReporter {
    public:
        explicit SilencingReporter(CJobControl& control) : m_control(control) {}
        void ShowMessage(const std::string& text) override;
        CMessageReporter* target = nullptr;

    private:
        CJobControl& m_control;
    };

    void RunWorker(const Work& work);
    void WaitAtGate();
    static void GateCheck(void* control);
    void ResumeAll();
    bool IsAbandoned() const { return m_abandoned.load(std::memory_order_acquire); }

    Options m_options;
    CJobContext m_context;
    SilencingReporter m_reporter;
    CJobObserver* m_observer = nullptr;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_gateOpened;
    std::condition_variable m_endCalled;
    int m_suspendCount = 0;                 // guarded by m_mutex
    std::atomic<int> m_suspendedHint{0};    // lock-free fast path of the gate
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_abandoned{false};
    std::atomic<bool> m_ended{false};
};

}  // namespace skelvane
