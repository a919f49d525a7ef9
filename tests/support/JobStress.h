// Random Pause / Continue / Stop sequences against running jobs, as impatient
// hands on a page's buttons give them, and the checks every job must pass
// whatever the order and timing: it ends exactly once, never hangs, reports
// its frames in order, ends stopped only after a confirmed stop and finished
// only with every frame. Each workflow's stress test adds what its files must
// look like.
//
// A run is bounded in time (SKELVANE_STRESS_SECONDS, default 8) so it fits
// every build; the seed is printed and can be replayed with
// SKELVANE_STRESS_SEED.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "engine/jobs/JobControl.h"

namespace skelvane::test {

// What a job told its owner; the reporter's messages are dropped.
class StressObserver final : public CJobObserver, public CMessageReporter {
public:
    struct Record {
        std::vector<std::int64_t> progress;
        int endCalls = 0;
        JobEnd end = JobEnd::Finished;
        std::string reason;
    };

    void OnProgress(std::int64_t position) override;
    void OnFinished() override;
    void OnStopped() override;
    void OnFailed(const std::string& why) override;
    void ShowMessage(const std::string&) override {}

    Record Snapshot();

private:
    void End(JobEnd what, const std::string& why);

    std::mutex m_mutex;
    Record m_record;
};

// The seed and the time budget of one stress test, and its tally.
class StressRun {
public:
    StressRun();

    bool TimeLeft() const;
    std::mt19937& Random() { return m_random; }
    bool Chance(int percent) { return static_cast<int>(m_random() % 100) < percent; }
    // For SCOPED_TRACE: which job of which seed.
    std::string JobName() const;

    // Gives the running job up to 11 random actions (Pause, Continue, Stop
    // answered yes or no after a moment, a short wait), continues until the
    // gate is open, as the page's Continue does, and waits for the job's end
    // (false after a minute: a deadlock). `stopConfirmed` tells whether a
    // Stop was answered yes while the job ran.
    bool Disturb(CJobControl& control, bool& stopConfirmed);

    // The checks every ended job passes; `steps` is what a finished job
    // reports. Counts the job in the tally.
    ::testing::AssertionResult CheckEnd(const StressObserver::Record& record, bool stopConfirmed,
                                        std::int64_t steps);

    // Prints and records the tally; fails when no job ran.
    void Summarise(const char* what);

private:
    std::uint32_t m_seed;
    std::chrono::steady_clock::duration m_budget;
    std::chrono::steady_clock::time_point m_start;
    std::mt19937 m_random;
    int m_jobs = 0;
    long m_actions = 0;
    std::array<int, 3> m_ends{};
};

}  // namespace skelvane::test
