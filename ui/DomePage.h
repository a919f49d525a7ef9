// What the main window needs from a tab page beyond being a widget: whether a
// render job runs, a way to end it before the window goes, and the page's own
// settings dialog for the menu.
#pragma once

#include <QWidget>

namespace skelvane {

class CDomePage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // A job has been begun and not yet joined.
    virtual bool IsJobRunning() const = 0;
    // Stops the running job without asking, waits for its end (processing
    // events, so a worker blocked on the ui is served) and joins it. Nothing
    // happens when no job runs.
    virtual void StopJobForClose() = 0;
    // Holds the running job while the window asks about it, and lets it go
    // again (one ResumeJob for one SuspendJob); the page's buttons stay.
    virtual void SuspendJob() = 0;
    virtual void ResumeJob() = 0;
    // Shows the page's settings dialog; false for a page that has none.
    virtual bool ShowSettingsDialog() = 0;

Q_SIGNALS:
    // The page's job has ended and was joined; its end box may follow.
    void JobJoined();
};

}  // namespace skelvane
