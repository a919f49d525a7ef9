// Shows the core's messages ("Render Failed!", "Out of memory.", ...) as
// message boxes on the ui thread.
//
// A worker that reports waits until the box is closed, as it did when it
// showed the box itself; on the ui thread the box is shown directly. Once
// Silence() was called (the window is closing and has stopped the job) every
// report returns at once without a box, including one already on its way to
// the ui thread, so the ui can wait for the job's end while processing events
// and never deadlocks with a worker blocked on it.
#pragma once

#include <atomic>
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

    void Silence() { m_silenced.store(true, std::memory_order_release); }
    void Unsilence() { m_silenced.store(false, std::memory_order_release); }
    bool IsSilenced() const { return m_silenced.load(std::memory_order_acquire); }

private:
    void ShowOnUiThread(const QString& text);

    QPointer<QWidget> m_boxParent;
    std::atomic<bool> m_silenced{false};
};

}  // namespace skelvane
