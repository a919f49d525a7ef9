#include "support/JobStress.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace skelvane::test {
namespace {
using namespace std::chrono_literals;

long EnvNumber(const char* name, long fallback)
{
    const char* text = std::getenv(name);
    return text ? std::strtol(text, nullptr, 10) : fallback;
}

}  // namespace

void StressObserver::OnProgress(std::int64_t position)
{
    std::lock_guard lock(m_mutex);
    m_record.progress.push_back(position);
}

void StressObserver::OnFinished() { End(JobEnd::Finished, {}); }
void StressObserver::OnStopped() { End(JobEnd::Stopped, {}); }
void StressObserver::OnFailed(const std::string& why) { End(JobEnd::Failed, why); }

void StressObserver::End(JobEnd what, const std::string& why)
{
    std::lock_guard lock(m_mutex);
    ++m_record.endCalls;
    m_record.end = what;
    m_record.reason = why;
}

StressObserver::Record StressObserver::Snapshot()
{
    std::lock_guard lock(m_mutex);
    return m_record;
}

StressRun::StressRun()
    : m_seed(static_cast<std::uint32_t>(EnvNumber("SKELVANE_STRESS_SEED", std::random_device{}()))),
      m_budget(std::chrono::seconds(EnvNumber("SKELVANE_STRESS_SECONDS", 8))),
      m_start(std::chrono::steady_clock::now()),
      m_random(m_seed)
{
    std::printf("stress seed %u, %lld s\n", m_seed,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(m_budget).count()));
    // Printed before anything can crash, so the seed survives to be replayed.
    std::fflush(stdout);
}

bool StressRun::TimeLeft() const
{
    return std::chrono::steady_clock::now() - m_start < m_budget;
}

std::string StressRun::JobName() const
{
    return "job " + std::to_string(m_jobs) + " of seed " + std::to_string(m_seed);
}

bool StressRun::Disturb(CJobControl& control, bool& stopConfirmed)
{
    stopConfirmed = false;
    const int steps = static_cast<int>(m_random() % 12);
    for (int step = 0; step < steps; ++step, ++m_actions) {
        switch (m_random() % 4) {
        case 0:
            control.Suspend();
            break;
        case 1:
            control.Resume();
            break;
        case 2: {  // Stop, answered after a moment
            const bool yes = Chance(50);
            const auto think = std::chrono::microseconds(m_random() % 300);
            const auto result = control.Stop([&] {
                std::this_thread::sleep_for(think);
                return yes;
            });
            stopConfirmed = stopConfirmed || result == CJobControl::StopResult::Stopping;
            EXPECT_TRUE(result != CJobControl::StopResult::Declined || !yes);
            break;
        }
        default:
            std::this_thread::sleep_for(std::chrono::microseconds(m_random() % 500));
            break;
        }
    }
    while (control.Resume() > 1) {
    }
    if (!control.WaitForEnd(60s)) {
        return false;
    }
    control.Join();
    return true;
}

::testing::AssertionResult StressRun::CheckEnd(const StressObserver::Record& record, bool stopConfirmed,
                                               std::int64_t steps)
{
    ++m_jobs;
    ++m_ends[static_cast<int>(record.end)];
    if (record.endCalls != 1) {
        return ::testing::AssertionFailure() << record.endCalls << " end calls";
    }
    if (record.end == JobEnd::Failed) {
        return ::testing::AssertionFailure() << "failed: " << record.reason;
    }
    for (std::size_t i = 0; i < record.progress.size(); ++i) {
        if (record.progress[i] != static_cast<std::int64_t>(i)) {
            return ::testing::AssertionFailure() << "progress call " << i << " reports " << record.progress[i];
        }
    }
    if (record.end == JobEnd::Stopped && !stopConfirmed) {
        return ::testing::AssertionFailure() << "stopped without a confirmed stop";
    }
    if (record.end == JobEnd::Finished && static_cast<std::int64_t>(record.progress.size()) != steps) {
        return ::testing::AssertionFailure() << "finished after " << record.progress.size() << " of " << steps
                                             << " steps";
    }
    return ::testing::AssertionSuccess();
}

void StressRun::Summarise(const char* what)
{
    std::printf("stress %s: %d jobs, %ld actions, %d finished, %d stopped\n", what, m_jobs, m_actions, m_ends[0],
                m_ends[1]);
    ::testing::Test::RecordProperty("jobs", m_jobs);
    EXPECT_GT(m_jobs, 0);
}

}  // namespace skelvane::test
