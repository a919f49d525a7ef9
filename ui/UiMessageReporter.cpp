#include "ui/UiMessageReporter.h"

#include <QMetaObject>
#include <QThread>

#include "ui/MessageBox.h"

namespace skelvane {

CUiMessageReporter::CUiMessageReporter(QWidget* boxParent) : m_boxParent(boxParent) {}

void CUiMessageReporter::ShowMessage(const std::string& text)
{
    if (IsSilenced()) return;
    const QString message = QString::fromStdString(text);
    if (QThread::currentThread() == thread()) {
        ShowMessageBox(m_boxParent, message, QString(), MessageIcon::Warning);
        return;
    }
    std::unique_lock lock(m_mutex);
    const std::uint64_t ticket = ++m_ticketsIssued;
    lock.unlock();
    QMetaObject::invokeMethod(
        this,
        [this, message, ticket] {
            // A report that was queued before the window silenced us is dropped here.
            if (IsSilenced()) return;
            ShowMessageBoxWhenFree(this, m_boxParent, message, MessageIcon::Warning, [this, ticket] { Shown(ticket); });
        },
        Qt::QueuedConnection);
    lock.lock();
    // Not a blocking queued call: a box that waits for another one to close
    // would hold the ui, and a silenced reporter must let the worker go.
    m_boxClosed.wait(lock, [&] { return m_silenced || m_ticketsShown >= ticket; });
}

void CUiMessageReporter::Shown(std::uint64_t ticket)
{
    {
        std::lock_guard lock(m_mutex);
        if (ticket > m_ticketsShown) m_ticketsShown = ticket;
    }
    m_boxClosed.notify_all();
}

void CUiMessageReporter::Silence()
{
    {
        std::lock_guard lock(m_mutex);
        m_silenced = true;
    }
    ForgetMessageBoxesWhenFree(this);
    m_boxClosed.notify_all();
}

void CUiMessageReporter::Unsilence()
{
    std::lock_guard lock(m_mutex);
    m_silenced = false;
    // Whatever was reported before stays answered.
    m_ticketsShown = m_ticketsIssued;
}

bool CUiMessageReporter::IsSilenced() const
{
    std::lock_guard lock(m_mutex);
    return m_silenced;
}

}  // namespace skelvane
