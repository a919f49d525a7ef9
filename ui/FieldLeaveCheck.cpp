#include "ui/FieldLeaveCheck.h"

#include <utility>

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QMetaObject>

#include "ui/FieldExchange.h"
#include "ui/MessageBox.h"

namespace skelvane {

CFieldLeaveCheck::CFieldLeaveCheck(QWidget* owner, Save save) : QObject(owner), m_owner(owner), m_save(std::move(save))
{
}

void CFieldLeaveCheck::Watch(QLineEdit* edit, std::function<void()> followUp)
{
    m_followUps.insert(edit, std::move(followUp));
    connect(edit, &QLineEdit::editingFinished, this, [this, edit] { Left(edit); });
}

void CFieldLeaveCheck::Left(QLineEdit* edit)
{
    if (!m_left.contains(edit)) m_left.append(edit);
    PostCheck();
}

void CFieldLeaveCheck::PostCheck()
{
    if (m_checkPosted) return;
    m_checkPosted = true;
    QMetaObject::invokeMethod(this, &CFieldLeaveCheck::Check, Qt::QueuedConnection);
}

bool CFieldLeaveCheck::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_popup && (event->type() == QEvent::Hide || event->type() == QEvent::Destroy)) {
        m_popup->removeEventFilter(this);
        m_popup = nullptr;
        PostCheck();
    }
    return QObject::eventFilter(watched, event);
}

void CFieldLeaveCheck::Check()
{
    m_checkPosted = false;
    if (QWidget* popup = QApplication::activePopupWidget()) {
        if (popup != m_popup) {
            if (m_popup) m_popup->removeEventFilter(this);
            m_popup = popup;
            popup->installEventFilter(this);
        }
        return;
    }
    const QList<QPointer<QLineEdit>> left = std::exchange(m_left, {});
    for (const QPointer<QLineEdit>& edit : left) {
        if (!edit || !edit->isVisible()) continue;
        if (OpenModalCount() > 0 || QApplication::activeModalWidget()) return;
        CFieldExchange dx(m_owner, true, CFieldExchange::Prompts::Silent);
        m_save(dx);
        if (const std::optional<QString> prompt = dx.FailureOf(edit)) {
            // One box at a time: the other fields left wait for their own next leave.
            if (!WasPromptedFor(edit)) PromptField(m_owner, edit, *prompt);
            return;
        }
        if (const auto& followUp = m_followUps.value(edit)) followUp();
    }
}

}  // namespace skelvane
