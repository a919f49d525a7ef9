#include "UiTestSupport.h"

#include <algorithm>
#include <utility>

#include <QAbstractButton>
#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>

namespace skelvane::test {

MessageBoxRecorder::MessageBoxRecorder(MessageAnswer defaultAnswer) : m_default(defaultAnswer)
{
    m_previous = SetMessageBoxHandler([this](const MessageBoxRequest& request) {
        m_boxes.push_back(request);
        if (m_answers.empty()) return m_default;
        const MessageAnswer answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    SetMessageBoxHandler(std::move(m_previous));
}

QStringList MessageBoxRecorder::Texts() const
{
    QStringList texts;
    for (const MessageBoxRequest& box : m_boxes) texts << box.text;
    return texts;
}

int VisibleModalWindows()
{
    int open = 0;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->isModal()) ++open;
    }
    return open;
}

QColor FieldBackground(QWidget* field)
{
    const QImage picture = field->grab().toImage();
    return picture.pixelColor(picture.width() - 4, picture.height() / 2);
}

RealBoxCloser::RealBoxCloser(int closeAfterMs) : m_closeAfterMs(closeAfterMs)
{
    m_clock.start();
    m_timer.setInterval(5);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Look(); });
    m_timer.start();
}

void RealBoxCloser::Look()
{
    m_mostModal = std::max(m_mostModal, VisibleModalWindows());
    const qint64 now = m_clock.elapsed();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (!box || !box->isVisible()) continue;
        m_lastActivity = now;
        if (!m_openedAt.contains(box)) {
            m_openedAt.insert(box, now);
            m_texts << box->text();
            continue;
        }
        if (now - m_openedAt.value(box) < m_closeAfterMs) continue;
        QAbstractButton* button = box->escapeButton();
        if (!button && box->buttons().size() == 1) button = box->buttons().front();
        m_openedAt.remove(box);
        // Closing runs the code after the box, which may open the next one.
        if (button) button->click();
        else box->reject();
        return;
    }
}

void RealBoxCloser::WaitUntilQuiet(int quietMs, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    m_lastActivity = m_clock.elapsed();
    while (waited.elapsed() < timeoutMs && m_clock.elapsed() - m_lastActivity < quietMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

FolderPickerAnswer::FolderPickerAnswer(QString answer) : m_answer(std::move(answer))
{
    m_previous = SetFolderPickerHandler([this](QWidget*, const QString& title, const QString& initial) {
        ++m_calls;
        m_title = title;
        m_initial = initial;
        return m_answer;
    });
}

FolderPickerAnswer::~FolderPickerAnswer()
{
    SetFolderPickerHandler(std::move(m_previous));
}

FileDialogAnswer::FileDialogAnswer(QString answer) : m_answer(std::move(answer))
{
    m_previous = SetFileDialogHandler([this](QWidget*, const FileDialogRequest& request) {
        m_requests.push_back(request);
        return m_answer;
    });
}

FileDialogAnswer::~FileDialogAnswer()
{
    SetFileDialogHandler(std::move(m_previous));
}

DesktopRecorder::DesktopRecorder(bool openSucceeds, bool startSucceeds)
    : m_openSucceeds(openSucceeds), m_startSucceeds(startSucceeds)
{
    DesktopLauncher launcher;
    launcher.openUrl = [this](const QUrl& url) {
        m_opened.push_back(url);
        return m_openSucceeds;
    };
    launcher.startDetached = [this](const QString& program, const QStringList& arguments) {
        m_started.push_back({program, arguments});
        return m_startSucceeds;
    };
    m_previous = SetDesktopLauncher(std::move(launcher));
}

DesktopRecorder::~DesktopRecorder()
{
    SetDesktopLauncher(std::move(m_previous));
}

ScopedEnv::ScopedEnv(const char* name, const QByteArray& value)
    : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
{
    if (value.isNull()) qunsetenv(name);
    else qputenv(name, value);
}

ScopedEnv::~ScopedEnv()
{
    if (m_wasSet) qputenv(m_name, m_old);
    else qunsetenv(m_name);
}

}  // namespace skelvane::test
