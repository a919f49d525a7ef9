#include "ui/JobButtons.h"

#include <QPushButton>
#include <QWidget>

#include "ui/JobObserverAdapter.h"
#include "ui/UiMessageReporter.h"

namespace skelvane {

CJobButtons::CJobButtons(QWidget* page, const Buttons& buttons, CUiMessageReporter& reporter, Texts texts)
    : QObject(page), m_page(page), m_buttons(buttons), m_reporter(reporter), m_texts(std::move(texts))
{
    m_observer = new CJobObserverAdapter(this);
    SetButtons(false, false, false, false);
    connect(m_buttons.pause, &QPushButton::clicked, this, &CJobButtons::OnPause);
    connect(m_buttons.resume, &QPushButton::clicked, this, &CJobButtons::OnContinue);
    connect(m_buttons.stop, &QPushButton::clicked, this, &CJobButtons::OnStop);
    connect(m_observer, &CJobObserverAdapter::Progress, this, &CJobButtons::Progress);
    connect(m_observer, &CJobObserverAdapter::Finished, this, [this] { OnJobEnd(JobEnd::Finished, {}); });
    connect(m_observer, &CJobObserverAdapter::Stopped, this, [this] { OnJobEnd(JobEnd::Stopped, {}); });
    connect(m_observer, &CJobObserverAdapter::Failed, this,
            [this](const QString& reason) { OnJobEnd(JobEnd::Failed, reason); });
}

CJobButtons::~CJobButtons()
{
    // The worker reports to the observer and the reporter: it ends first.
    StopForClose();
}

bool CJobButtons::Begin(const Starter& start)
{
    if (m_job.IsRunning()) return false;
    m_observer->Attach();
    if (!start(m_job, *m_observer, m_reporter)) return false;
    m_workedMs = 0;
    m_holds = 0;
    m_workingSince.start();
    SetButtons(false, true, false, true);
    return true;
}

void CJobButtons::Hold()
{
    if (m_holds++ > 0 || !m_workingSince.isValid()) return;
    m_workedMs += m_workingSince.elapsed();
    m_workingSince.invalidate();
}

void CJobButtons::Release()
{
    if (m_holds > 0 && --m_holds == 0) m_workingSince.start();
}

double CJobButtons::WorkingSeconds() const
{
    const qint64 working = m_workingSince.isValid() ? m_workingSince.elapsed() : 0;
    return static_cast<double>(m_workedMs + working) / 1000.0;
}

void CJobButtons::Suspend()
{
    if (!m_job.IsRunning()) return;
    m_job.Suspend();
    Hold();
}

void CJobButtons::Resume()
{
    if (!m_job.IsRunning()) return;
    Release();
    m_job.Resume();
}

void CJobButtons::SetReady(bool ready)
{
    m_ready = ready;
    // A second job never starts while one runs: Begin waits for its end.
    if (!m_job.IsRunning()) m_buttons.begin->setEnabled(ready);
}

bool CJobButtons::IsPaused() const
{
    return m_job.IsRunning() && m_job.SuspendCount() > 0;
}

bool CJobButtons::StopForClose()
{
    ForgetMessageBoxesWhenFree(this);
    if (!m_job.IsRunning()) return false;
    AbandonAndJoin(m_job, *m_observer, &m_reporter);
    WithdrawMessageBoxes(this);
    SetButtons(m_ready, false, false, false);
    return true;
}

void CJobButtons::OnPause()
{
    if (!m_job.IsRunning()) return;
    m_job.Suspend();
    Hold();
    m_buttons.resume->setEnabled(true);
    m_buttons.pause->setEnabled(false);
}

void CJobButtons::OnContinue()
{
    if (!m_job.IsRunning()) return;
    m_buttons.resume->setEnabled(false);
    m_buttons.pause->setEnabled(true);
    Release();
    m_job.Resume();
}

void CJobButtons::OnStop()
{
    if (!m_job.IsRunning()) return;
    // The question is about this job: when the job ends while it is open
    // (its frame in progress was its last), the question goes with it.
    Hold();
    const CJobControl::StopResult result = m_job.Stop([this] {
        return AskMessageBox(this, m_page, m_texts.stopQuestion, m_texts.stopTitle, m_texts.stopIcon,
                             MessageButtons::YesNo) == MessageAnswer::Yes;
    });
    Release();
    if (result == CJobControl::StopResult::Stopping) m_buttons.stop->setEnabled(false);
}

void CJobButtons::OnJobEnd(JobEnd end, const QString& reason)
{
    m_job.Join();
    SetButtons(m_ready, false, false, false);
    WithdrawMessageBoxes(this);
    Q_EMIT Ended(end);
    QString text;
    MessageIcon icon = MessageIcon::Information;
    switch (end) {
    case JobEnd::Finished: text = m_texts.finished; break;
    case JobEnd::Stopped: text = m_texts.stopped; break;
    case JobEnd::Failed:
        text = m_texts.failed;
        if (!reason.isEmpty()) text += QStringLiteral("\n\n") + reason;
        icon = MessageIcon::Warning;
        break;
    }
    ShowMessageBoxWhenFree(this, m_page, text, icon, [this, end] { Q_EMIT EndReported(end); });
}

void CJobButtons::SetButtons(bool begin, bool pause, bool resume, bool stop)
{
    m_buttons.begin->setEnabled(begin);
    m_buttons.pause->setEnabled(pause);
    m_buttons.resume->setEnabled(resume);
    m_buttons.stop->setEnabled(stop);
}

}  // namespace skelvane
