// Begin, Pause, Continue and Stop of a page's render job, written once for
// every page: the job control with its worker, the adapter that brings the
// job's calls to the ui thread, the buttons' enabling, the Stop question and
// the box that tells how the job ended.
//
// Buttons by state:       Begin     Pause     Continue  Stop
//   idle                  ready     off       off       off
//   running               off       on        off       on
//   paused                off       off       on        on
//   stopping              off       as was    as was    off
// "ready" is what the page last said with SetReady (a page without settings
// has nothing to begin). The page starts its job through Begin(); the rest is
// done here. A job that ends while its Stop question is open takes the
// question with it, and the box that tells how it ended never stacks on
// another box (ui/MessageBox.h). An object destroyed during a job stops it
// and joins it first.
#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "engine/jobs/JobControl.h"
#include "ui/MessageBox.h"

class QPushButton;
class QWidget;

namespace skelvane {

class CJobObserverAdapter;
class CUiMessageReporter;

class CJobButtons final : public QObject {
    Q_OBJECT
public:
    struct Texts {
        QString stopQuestion;
        QString stopTitle;
        MessageIcon stopIcon = MessageIcon::None;
        QString finished;
        QString stopped;
        QString failed;  // the job's reason follows it, with a warning icon
    };
    struct Buttons {
        QPushButton* begin;
        QPushButton* pause;
        QPushButton* resume;
        QPushButton* stop;
    };

    // `page` owns this object and the boxes; `reporter` (the page's, used
    // for its previews too) must outlive it.
    CJobButtons(QWidget* page, const Buttons& buttons, CUiMessageReporter& reporter, Texts texts);
    ~CJobButtons() override;

    // Starts a job: `start` hands the job to the control with the observer
    // and reporter given, false when it started nothing.
    using Starter = std::function<bool(CJobControl&, CJobObserver&, CMessageReporter&)>;
    bool Begin(const Starter& start);

    // Whether Begin is enabled while no job runs.
    void SetReady(bool ready);

    bool IsRunning() const { return m_job.IsRunning(); }
    bool IsPaused() const;

    // Holds the running job while a question about it is asked from outside
    // (the window's quit question), as Pause does but leaving the buttons;
    // Resume() undoes one Suspend(). Nothing happens without a job.
    void Suspend();
    void Resume();

    // How long the running job has been working: time held by Pause or a
    // question does not count.
    double WorkingSeconds() const;

    // Ends a running job without asking (the window or page is going) and
    // joins it; no end box, also none that still waited for its turn.
    // True when a job was running.
    bool StopForClose();

Q_SIGNALS:
    // Frame `position` of the running job was written; the worker waits
    // until the page has handled it.
    void Progress(qint64 position);
    // The job ended and was joined, the buttons are idle; the end box follows.
    void Ended(skelvane::JobEnd end);
    // The end box was shown and closed.
    void EndReported(skelvane::JobEnd end);

private:
    void OnPause();
    void OnContinue();
    void OnStop();
    void OnJobEnd(JobEnd end, const QString& reason);
    void SetButtons(bool begin, bool pause, bool resume, bool stop);
    void Hold();
    void Release();

    QWidget* m_page;
    Buttons m_buttons;
    CUiMessageReporter& m_reporter;
    Texts m_texts;
    bool m_ready = false;
    QElapsedTimer m_workingSince;  // invalid while held
    qint64 m_workedMs = 0;
    int m_holds = 0;
    CJobControl m_job;
    CJobObserverAdapter* m_observer;
};

}  // namespace skelvane
