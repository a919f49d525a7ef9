// Shows the core's messages ("Render Failed!", "Out of memory.", ...) as
// message boxes on the ui thread.
//
// A worker that reports waits until its box is closed, as it did when it
// showed the box itself; the box never stacks on another one (it waits for
// the open one to close, ui/MessageBox.h). On the ui thread the box is shown
// directly. Once Silence() was called (the window is closing and has stopped
// the job) every report returns at once without a box, including those that
// wait, so the ui can wait for the job's end while processing events and
// never deadlocks with a worker blocked on it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "engine/jobs/MessageReporter.h"

namespace skelvane {

class CUiMessageReporter final : public QObject, public CMessageReporter {
    Q_OBJECT
public:
    // Lives on the thread that creates it, which must be the ui thread;
    // `boxParent` (may be null) owns the boxes it shows.
    explicit CUiMessageReporter(QWidget* boxParent = nullptr);

    // Any thread.
    void ShowMessage(const std::string& text) override;

    // Ui thread.
    void Silence();
    void Unsilence();
    bool IsSilenced() const;

private:
    void Shown(std::uint64_t ticket);

    QPointer<QWidget> m_boxParent;
    mutable std::mutex m_mutex;
    std::condition_variable m_boxClosed;
    bool m_silenced = false;
    std::uint64_t m_ticketsIssued = 0;
    std::uint64_t m_ticketsShown = 0;
};

}  // namespace skelvane
