// The ui side of a render job: turns the job's observer calls, made on the
// worker, into signals on the ui thread.
//
// - Progress is synchronous: the worker waits until the page has handled the
//   signal (it updates its preview of that frame from the same files), so
//   the page always shows the frame just written.
// - The end calls (finished, stopped, failed) are posted and never block.
// - Detach() cuts the adapter off the job: every waiting or later progress
//   call returns at once and nothing more reaches the signals, including
//   calls already queued. The ui can then wait for the job's end while
//   processing events and join it without ever deadlocking with a worker
//   that is blocked on the ui thread (AbandonAndJoin below).
//
// One adapter serves one job at a time; Attach() before each job drops
// whatever an earlier job left in the queue.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include <QObject>
#include <QString>

#include "engine/jobs/JobControl.h"

namespace skelvane {

class CUiMessageReporter;

class CJobObserverAdapter final : public QObject, public CJobObserver {
    Q_OBJECT
public:
    // Lives on the thread that creates it, which must be the ui thread.
    explicit CJobObserverAdapter(QObject* parent = nullptr);

    // Before a job begins: deliver its calls.
    void Attach();
    // From now on no call of the current job waits or reaches a signal. Any thread.
    void Detach();
    bool IsDetached() const;

    // CJobObserver, called by the job's threads.
    void OnProgress(std::int64_t position) override;
    void OnFinished() override;
    void OnStopped() override;
    void OnFailed(const std::string& reason) override;

Q_SIGNALS:
    void Progress(qint64 position);
    void Finished();
    void Stopped();
    void Failed(const QString& reason);

private:
    void DeliverProgress(std::int64_t position, std::uint64_t generation, std::uint64_t ticket);
    void PostEnd(int which, const QString& reason);
    bool IsCurrent(std::uint64_t generation) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_progressHandled;
    std::uint64_t m_generation = 0;   // which job the adapter serves
    bool m_detached = true;
    std::uint64_t m_ticketsIssued = 0;
    std::uint64_t m_ticketsHandled = 0;
};

// Ends `control`'s job without asking while a window goes: detaches the
// adapter, silences the reporter (may be null), abandons the job, processes
// events until the job has made its end call, and joins it. The reporter is
// heard again afterwards; the adapter stays detached until the next Attach().
// Nothing happens when no job is held. Ui thread only.
void AbandonAndJoin(CJobControl& control, CJobObserverAdapter& observer, CUiMessageReporter* reporter);

}  // namespace skelvane
