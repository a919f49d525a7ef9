#include "cli/Interrupts.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "imageio/StagingEntry.h"

namespace skelvane::cli {
namespace {

sigset_t InterruptSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

enum class Phase { BeforeJob, Job, AfterJob };

// What an interrupt does now. The watcher holds the lock while it acts, so
// a JobInterrupts that is destroyed waits until the control and the print
// function it lent are no longer in use.
struct WatcherState {
    std::mutex mutex;
    Phase phase = Phase::BeforeJob;
    CJobControl* control = nullptr;
    std::function<void(const std::string&)> print;
    int interrupts = 0;
};

WatcherState& State()
{
    // Never destroyed: the watcher may wake while static objects are torn down at exit.
    static auto* state = new WatcherState;
    return *state;
}

// A notice that cannot be printed (memory gone, say) is dropped: the
// interrupt must still act.
void Say(WatcherState& state, const char* text) noexcept
{
    try {
        if (state.print) {
            state.print(text);
        } else {
            std::fprintf(stderr, "%s\n", text);
        }
    } catch (...) {
    }
}

// Ends without unwinding (the job's threads may be anywhere), taking the
// hidden files the run was writing along.
[[noreturn]] void EndAtOnce() noexcept
{
    try {
        RemoveOwnStagingEntries();
    } catch (...) {
    }
    std::_Exit(kExitStopped);
}

void OnInterrupt()
{
    WatcherState& state = State();
    std::lock_guard lock(state.mutex);
    switch (state.phase) {
    case Phase::BeforeJob:
        Say(state, "Stopped.");
        EndAtOnce();
    case Phase::Job:
        if (++state.interrupts == 1) {
            state.control->RequestStop();
            Say(state, "Stopping after the frame in progress is written; press Ctrl-C again to abort.");
            return;
        }
        Say(state, "Aborted.");
        EndAtOnce();
    case Phase::AfterJob:
        return;
    }
}

void Watch()
{
    const sigset_t set = InterruptSignals();
    for (;;) {
        if (sigwaitinfo(&set, nullptr) > 0) {
            OnInterrupt();
        }
    }
}

}  // namespace

void StartInterruptWatcher()
{
    const sigset_t set = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    try {
        // Blocked in a wait for the whole run; ends with the process.
        std::thread(Watch).detach();
    } catch (const std::system_error&) {
        // No thread to take them: the signals end the program as usual.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

JobInterrupts::JobInterrupts(CJobControl& control, std::function<void(const std::string&)> print)
{
    WatcherState& state = State();
    std::lock_guard lock(state.mutex);
    state.phase = Phase::Job;
    state.control = &control;
    state.print = std::move(print);
}

JobInterrupts::~JobInterrupts()
{
    WatcherState& state = State();
    std::lock_guard lock(state.mutex);
    state.phase = Phase::AfterJob;
    state.control = nullptr;
    state.print = nullptr;
}

}  // namespace skelvane::cli
