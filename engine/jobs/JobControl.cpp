#include "engine/jobs/JobControl.h"

#include <pthread.h>
#include <sched.h>

#include <exception>
#include <new>

#include <tbb/info.h>
#include <tbb/task_arena.h>
#include <tbb/task_scheduler_observer.h>

#include "engine/jobs/ParallelRows.h"

namespace skelvane {
namespace {

// The policy a TBB worker had before it joined a job's arena, so that it can
// be put back when it leaves (workers are shared by every arena).
struct SavedPolicy {
    bool lowered = false;
    int policy = SCHED_OTHER;
    sched_param param{};
};
thread_local SavedPolicy t_savedPolicy;

void LowerToIdle(SavedPolicy& saved)
{
    int policy = 0;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0 || policy == SCHED_IDLE) {
        return;
    }
    sched_param idle{};
    idle.sched_priority = 0;
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle) == 0) {
        saved = {true, policy, param};
    }
}

void Restore(SavedPolicy& saved)
{
    if (saved.lowered) {
        // May fail without privileges; see the header's note on priority.
        pthread_setschedparam(pthread_self(), saved.policy, &saved.param);
        saved.lowered = false;
    }
}

// Lowers the arena's TBB workers and gives them the job's gate as their
// row-band check. Its calls never block.
class ArenaObserver final : public tbb::task_scheduler_observer {
public:
    ArenaObserver(tbb::task_arena& arena, RowBandCheck check, bool idlePriority)
        : tbb::task_scheduler_observer(arena), m_check(check), m_idlePriority(idlePriority)
    {
        m_set.store(true, std::memory_order_release);
        observe(true);
    }
    ~ArenaObserver() override { observe(false); }

    void on_scheduler_entry(bool isWorker) override
    {
        if (!isWorker) {
            return;  // the job's own thread has set itself up
        }
        m_set.load(std::memory_order_acquire);
        if (m_idlePriority) {
            LowerToIdle(t_savedPolicy);
        }
        t_rowBandCheck = m_check;
    }

    void on_scheduler_exit(bool isWorker) override
    {
        if (!isWorker) {
            return;
        }
        t_rowBandCheck = {};
        Restore(t_savedPolicy);
    }

private:
    RowBandCheck m_check;
    bool m_idlePriority;
    // libtbb hands the observer to its workers through structures that the
    // thread checker cannot see into (the system's libtbb is not built for
    // it); this flag shows it that the fields were set before a worker reads
    // them.
    std::atomic<bool> m_set{false};
};

}  // namespace

bool CJobContext::StopRequested() const
{
    return m_control.StopRequested();
}

void CJobContext::Checkpoint()
{
    m_control.WaitAtGate();
}

void CJobContext::Progress(std::int64_t position)
{
    if (!m_control.IsAbandoned()) {
        m_control.m_observer->OnProgress(position);
    }
}

void CJobContext::Skipped(std::int64_t position)
{
    if (!m_control.IsAbandoned()) {
        m_control.m_observer->OnSkipped(position);
    }
}

CMessageReporter& CJobContext::Reporter()
{
    return m_control.m_reporter;
}

int CJobContext::Concurrency() const
{
    return m_control.m_options.threads > 0 ? m_control.m_options.threads : tbb::info::default_concurrency();
}

void CJobControl::SilencingReporter::ShowMessage(const std::string& text)
{
    if (target && !m_control.IsAbandoned()) {
        target->ShowMessage(text);
    }
}

CJobControl::CJobControl() : CJobControl(Options{}) {}

CJobControl::CJobControl(Options options) : m_options(options), m_context(*this), m_reporter(*this) {}

CJobControl::~CJobControl()
{
    Abandon();
    Join();
}

bool CJobControl::Begin(Work work, CJobObserver& observer, CMessageReporter& reporter)
{
    if (m_thread.joinable()) {
        if (!HasEnded()) {
            return false;
        }
        m_thread.join();
    }
    {
        std::lock_guard lock(m_mutex);
        m_suspendCount = 0;
        m_suspendedHint.store(0);
    }
    m_stopRequested.store(false);
    m_abandoned.store(false);
    m_ended.store(false);
    m_observer = &observer;
    m_reporter.target = &reporter;
    m_thread = std::thread([this, work = std::move(work)] { RunWorker(work); });
    return true;
}

void CJobControl::RunWorker(const Work& work)
{
    pthread_setname_np(pthread_self(), "skelvane-job");
    SavedPolicy ownPolicy;
    if (m_options.idlePriority) {
        LowerToIdle(ownPolicy);
    }
    const RowBandCheck check{&CJobControl::GateCheck, this};
    ScopedRowBandCheck gateInRenders(check);

    JobOutcome outcome;
    try {
        tbb::task_arena arena(m_options.threads > 0 ? m_options.threads : tbb::task_arena::automatic);
        arena.initialize();
        ArenaObserver observer(arena, check, m_options.idlePriority);
        arena.execute([&] { outcome = work(m_context); });
    } catch (const std::bad_alloc&) {
        outcome = JobOutcome::Failed(kOutOfMemoryText);
    } catch (const std::exception& error) {
        outcome = JobOutcome::Failed(error.what());
    } catch (...) {
        outcome = JobOutcome::Failed("unexpected error");
    }

    switch (outcome.end) {
    case JobEnd::Finished:
        m_observer->OnFinished();
        break;
    case JobEnd::Stopped:
        m_observer->OnStopped();
        break;
    case JobEnd::Failed:
        m_observer->OnFailed(outcome.reason);
        break;
    }
    {
        std::lock_guard lock(m_mutex);
        m_ended.store(true, std::memory_order_release);
    }
    m_endCalled.notify_all();
}

bool CJobControl::IsRunning() const
{
    return m_thread.joinable();
}

bool CJobControl::HasEnded() const
{
    return m_ended.load(std::memory_order_acquire);
}

bool CJobControl::WaitForEnd(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_endCalled.wait_for(lock, timeout, [this] { return m_ended.load(); });
}

void CJobControl::Join()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

int CJobControl::Suspend()
{
    std::lock_guard lock(m_mutex);
    const int previous = m_suspendCount++;
    m_suspendedHint.store(m_suspendCount, std::memory_order_release);
    return previous;
}

int CJobControl::Resume()
{
    int previous = 0;
    {
        std::lock_guard lock(m_mutex);
        previous = m_suspendCount;
        if (m_suspendCount > 0) {
            --m_suspendCount;
        }
        m_suspendedHint.store(m_suspendCount, std::memory_order_release);
    }
    if (previous <= 1) {
        m_gateOpened.notify_all();
    }
    return previous;
}

int CJobControl::SuspendCount() const
{
    std::lock_guard lock(m_mutex);
    return m_suspendCount;
}

CJobControl::StopResult CJobControl::Stop(const std::function<bool()>& confirm)
{
    if (!IsRunning() || HasEnded()) {
        return StopResult::NotRunning;
    }
    Suspend();
    if (confirm && !confirm()) {
        Resume();
        return StopResult::Declined;
    }
    m_stopRequested.store(true, std::memory_order_release);
    ResumeAll();
    return StopResult::Stopping;
}

void CJobControl::RequestStop()
{
    m_stopRequested.store(true, std::memory_order_release);
    ResumeAll();
}

void CJobControl::ResumeAll()
{
    while (Resume() > 1) {
    }
}

void CJobControl::Abandon()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested.store(true, std::memory_order_release);
        m_abandoned.store(true, std::memory_order_release);
        m_suspendCount = 0;
        m_suspendedHint.store(0, std::memory_order_release);
    }
    m_gateOpened.notify_all();
}

void CJobControl::WaitAtGate()
{
    if (m_suspendedHint.load(std::memory_order_acquire) == 0) {
        return;
    }
    std::unique_lock lock(m_mutex);
    m_gateOpened.wait(lock, [this] { return m_suspendCount == 0 || IsAbandoned(); });
}

void CJobControl::GateCheck(void* control)
{
    static_cast<CJobControl*>(control)->WaitAtGate();
}

}  // namespace skelvane
