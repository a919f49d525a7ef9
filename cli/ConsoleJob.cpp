#include "cli/ConsoleJob.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "engine/jobs/TimeLeft.h"

namespace skelvane::cli {
namespace {
using Clock = std::chrono::steady_clock;

// Prints progress and end calls. Progress calls come one at a time from the
// job's threads; the lock keeps them apart from reporter lines and Ctrl-C
// notices.
class ConsoleObserver final : public CJobObserver, public CMessageReporter {
public:
    ConsoleObserver(std::int64_t total, const ConsoleProgress& progress)
        : m_total(total), m_progress(progress), m_terminal(isatty(STDERR_FILENO) == 1), m_start(Clock::now())
    {
    }

    void OnSkipped(std::int64_t position) override
    {
        std::lock_guard lock(m_mutex);
        m_skipped = position;
    }

    void OnProgress(std::int64_t position) override
    {
        std::lock_guard lock(m_mutex);
        const std::int64_t done = position + 1;
        const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
        const double fps = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
        const double left = SecondsLeft(done, m_total, elapsed);
        if (m_progress.json) {
            std::printf("{\"frame\":%lld,\"done\":%lld,\"total\":%lld,\"seconds\":%.3f,\"rate\":%.3f%s}\n",
                        static_cast<long long>(m_progress.firstFrame + position), static_cast<long long>(done),
                        static_cast<long long>(m_total), elapsed, fps,
                        m_skipped == position ? ",\"skipped\":true" : "");
            std::fflush(stdout);
        } else if (m_terminal) {
            constexpr int kWidth = 30;
            const int filled = m_total > 0 ? static_cast<int>(done * kWidth / m_total) : kWidth;
            std::string bar(static_cast<std::size_t>(filled), '#');
            bar.resize(kWidth, '.');
            std::fprintf(stderr, "\r[%s] frame %lld/%lld, %.2f fps, %s left ", bar.c_str(),
                         static_cast<long long>(done), static_cast<long long>(m_total), fps, ClockText(left).c_str());
            std::fflush(stderr);
            m_barShown = true;
        } else {
            std::printf("frame %lld/%lld, %.2f fps, %s left\n", static_cast<long long>(done),
                        static_cast<long long>(m_total), fps, ClockText(left).c_str());
            std::fflush(stdout);
        }
    }

    void OnFinished() override { End(JobEnd::Finished, {}); }
    void OnStopped() override { End(JobEnd::Stopped, {}); }
    void OnFailed(const std::string& reason) override { End(JobEnd::Failed, reason); }

    void ShowMessage(const std::string& text) override { PrintLine(text); }

    void PrintLine(const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        EndBarLine();
        std::fprintf(stderr, "%s\n", text.c_str());
    }

    JobOutcome Outcome()
    {
        std::lock_guard lock(m_mutex);
        EndBarLine();
        return m_outcome;
    }

private:
    void End(JobEnd end, const std::string& reason)
    {
        std::lock_guard lock(m_mutex);
        m_outcome = {end, reason};
    }

    void EndBarLine()
    {
        if (m_barShown) {
            std::fputc('\n', stderr);
            m_barShown = false;
        }
    }

    const std::int64_t m_total;
    const ConsoleProgress m_progress;
    const bool m_terminal;
    const Clock::time_point m_start;
    std::mutex m_mutex;
    bool m_barShown = false;
    std::int64_t m_skipped = -1;  // the position of the last frame left alone
    JobOutcome m_outcome;
};

}  // namespace

int RunJobOnConsole(CJobControl& control, const BeginJob& begin, std::int64_t totalFrames,
                    const ConsoleJobTexts& texts, const ConsoleProgress& progress)
{
    ConsoleObserver console(totalFrames, progress);
    if (!begin(control, console, console)) {
        console.PrintLine("A job is running already.");
        return kExitFailed;
    }

    {
        const JobInterrupts interrupts(control, [&console](const std::string& text) { console.PrintLine(text); });
        while (!control.WaitForEnd(std::chrono::milliseconds(200))) {
        }
        control.Join();
    }

    const JobOutcome outcome = console.Outcome();
    switch (outcome.end) {
    case JobEnd::Finished:
        std::printf("%s\n", texts.finished);
        return kExitFinished;
    case JobEnd::Stopped:
        std::printf("%s\n", texts.stopped);
        return kExitStopped;
    case JobEnd::Failed:
        break;
    }
    std::fprintf(stderr, "%s\n%s\n", texts.failed, outcome.reason.c_str());
    return kExitFailed;
}

}  // namespace skelvane::cli
