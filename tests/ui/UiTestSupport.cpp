#include "UiTestSupport.h"

#include <utility>

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
