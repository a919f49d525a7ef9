// Typed fields checked when the focus leaves them, the way people know it
// from the classic dialogs: a bad value gets the framework prompt and the
// focus back. The prompt never comes from inside the focus change itself: a
// menu opened by its mnemonic, a tab switch or a closing window would be left
// half done under a modal box (Qt's menu bar crashes on it).
//
// 1. Leaving a field only notes it. The check runs once the event that moved
//    the focus is done, and after an open popup (a menu, a list) has closed.
// 2. Nothing is said for a field that is no longer shown (its window closed,
//    its tab switched away) or while a modal window is open: whatever opened
//    that window checks the fields itself (Begin, Accept, Save to).
// 3. The owner's fields are taken over silently; only the field left may
//    prompt, and only once for one bad text: leaving it again with the same
//    text says nothing more (Begin, Accept and Save to still prompt).
// 4. A good value taken over runs the field's follow-up, when it has one.
#pragma once

#include <functional>

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class QLineEdit;
class QWidget;

namespace skelvane {

class CFieldExchange;

class CFieldLeaveCheck final : public QObject {
    Q_OBJECT
public:
    // `save` takes the owner's fields over through the exchange it is given.
    using Save = std::function<void(CFieldExchange&)>;
    CFieldLeaveCheck(QWidget* owner, Save save);

    void Watch(QLineEdit* edit, std::function<void()> followUp = {});

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Left(QLineEdit* edit);
    void PostCheck();
    void Check();

    QWidget* m_owner;
    Save m_save;
    QHash<const QLineEdit*, std::function<void()>> m_followUps;
    QList<QPointer<QLineEdit>> m_left;
    QPointer<QWidget> m_popup;
    bool m_checkPosted = false;
};

}  // namespace skelvane
