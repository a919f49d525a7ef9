// A job observer that keeps every call, for tests that run jobs: progress
// and skipped positions in the order they came, and the end calls with the
// last one's reason. A hook may act on a progress call (pause, stop, break a file) on the
// job's thread before the job goes on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/jobs/JobControl.h"

namespace skelvane::test {

class RecordingObserver : public CJobObserver {
public:
    std::function<void(std::int64_t)> onProgress;

    void OnProgress(std::int64_t position) override
    {
        {
            std::lock_guard lock(m_mutex);
            progress.push_back(position);
        }
        m_changed.notify_all();
        if (onProgress) {
            onProgress(position);
        }
    }
    void OnSkipped(std::int64_t position) override
    {
        std::lock_guard lock(m_mutex);
        skipped.push_back(position);
    }
    void OnFinished() override { End(JobEnd::Finished, {}); }
    void OnStopped() override { End(JobEnd::Stopped, {}); }
    void OnFailed(const std::string& why) override { End(JobEnd::Failed, why); }

    std::size_t ProgressCount()
    {
        std::lock_guard lock(m_mutex);
        return progress.size();
    }
    bool WaitForProgressCount(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return progress.size() >= count; });
    }

    void Reset()
    {
        progress.clear();
        skipped.clear();
        endCalls = 0;
        reason.clear();
    }

    // Read these once the job has ended.
    std::vector<std::int64_t> progress;
    std::vector<std::int64_t> skipped;
    int endCalls = 0;
    JobEnd end = JobEnd::Finished;
    std::string reason;

private:
    void End(JobEnd what, const std::string& why)
    {
        ++endCalls;
        end = what;
        reason = why;
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

}  // namespace skelvane::test
