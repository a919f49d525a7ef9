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
        ShowOnUiThread(message);
        return;
    }
    QMetaObject::invokeMethod(this, [this, message] { ShowOnUiThread(message); }, Qt::BlockingQueuedConnection);
}

void CUiMessageReporter::ShowOnUiThread(const QString& text)
{
    // A report that was queued before the window silenced us is dropped here.
    if (IsSilenced()) return;
    ShowMessageBox(m_boxParent, text, QString(), MessageIcon::Warning);
}

}  // namespace skelvane
