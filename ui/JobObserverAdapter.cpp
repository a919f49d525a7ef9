#include "ui/JobObserverAdapter.h"

#include <chrono>

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

#include "ui/UiMessageReporter.h"

namespace skelvane {
namespace {

enum EndCall { kFinished, kStopped, kFailed };

}  // namespace

CJobObserverAdapter::CJobObserverAdapter(QObject* parent) : QObject(parent) {}

void CJobObserverAdapter::Attach()
{
    std::lock_guard lock(m_mutex);
    ++m_generation;
    m_detached = false;
    m_ticketsHandled = m_ticketsIssued;
}

void CJobObserverAdapter::Detach()
{
    {
        std::lock_guard lock(m_mutex);
        m_detached = true;
    }
    m_progressHandled.notify_all();
}

bool CJobObserverAdapter::IsDetached() const
{
    std::lock_guard lock(m_mutex);
    return m_detached;
}

bool CJobObserverAdapter::IsCurrent(std::uint64_t generation) const
{
    std::lock_guard lock(m_mutex);
    return !m_detached && generation == m_generation;
}

void CJobObserverAdapter::OnProgress(std::int64_t position)
{
    if (QThread::currentThread() == thread()) {
        if (!IsDetached()) Q_EMIT Progress(position);
        return;
    }
    std::unique_lock lock(m_mutex);
    if (m_detached) return;
    const std::uint64_t generation = m_generation;
    const std::uint64_t ticket = ++m_ticketsIssued;
    lock.unlock();
    QMetaObject::invokeMethod(
        this, [this, position, generation, ticket] { DeliverProgress(position, generation, ticket); },
        Qt::QueuedConnection);
    lock.lock();
    // Not a blocking queued call: that one would wait for the ui even after
    // Detach(), and a ui thread that joins would then never return.
    m_progressHandled.wait(lock, [&] { return m_detached || m_ticketsHandled >= ticket; });
}

void CJobObserverAdapter::DeliverProgress(std::int64_t position, std::uint64_t generation, std::uint64_t ticket)
{
    if (IsCurrent(generation)) Q_EMIT Progress(position);
    {
        std::lock_guard lock(m_mutex);
        if (ticket > m_ticketsHandled) m_ticketsHandled = ticket;
    }
    m_progressHandled.notify_all();
}

void CJobObserverAdapter::PostEnd(int which, const QString& reason)
{
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_mutex);
        if (m_detached) return;
        generation = m_generation;
    }
    QMetaObject::invokeMethod(
        this,
        [this, which, reason, generation] {
            if (!IsCurrent(generation)) return;
            switch (which) {
            case kFinished: Q_EMIT Finished(); break;
            case kStopped: Q_EMIT Stopped(); break;
            default: Q_EMIT Failed(reason); break;
            }
        },
        Qt::QueuedConnection);
}

void CJobObserverAdapter::OnFinished() { PostEnd(kFinished, QString()); }
void CJobObserverAdapter::OnStopped() { PostEnd(kStopped, QString()); }
void CJobObserverAdapter::OnFailed(const std::string& reason) { PostEnd(kFailed, QString::fromStdString(reason)); }

void AbandonAndJoin(CJobControl& control, CJobObserverAdapter& observer, CUiMessageReporter* reporter)
{
    if (!control.IsRunning()) return;
    observer.Detach();
    if (reporter) reporter->Silence();
    control.Abandon();
    // A message box the worker asked for may be on its way to this thread:
    // serving the queue lets it return (silenced) so the worker can end.
    while (!control.HasEnded()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        control.WaitForEnd(std::chrono::milliseconds(10));
    }
    control.Join();
    if (reporter) reporter->Unsilence();
}

}  // namespace skelvane
