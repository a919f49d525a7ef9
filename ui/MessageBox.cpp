#include "ui/MessageBox.h"

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>

namespace skelvane {
namespace {

struct OpenBox {
    const void* topic = nullptr;
    std::shared_ptr<bool> withdrawn = std::make_shared<bool>(false);
    QPointer<QMessageBox> box;
};

struct WaitingBox {
    QPointer<QObject> context;
    QPointer<QWidget> parent;
    bool hasParent = false;
    QString text;
    MessageIcon icon = MessageIcon::None;
    std::function<void()> shown;
};

// Everything here lives on the ui thread.
struct Boxes {
    MessageBoxHandler handler;
    std::vector<OpenBox*> open;
    int modal = 0;
    std::deque<WaitingBox> waiting;
    bool flushPosted = false;
};

Boxes& State()
{
    static Boxes boxes;
    return boxes;
}

QMessageBox::Icon ToQtIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

// What a box answers when it was closed without one of its buttons.
MessageAnswer Unanswered(MessageButtons buttons)
{
    switch (buttons) {
    case MessageButtons::YesNo: return MessageAnswer::No;
    case MessageButtons::OkCancel: return MessageAnswer::Cancel;
    case MessageButtons::Ok: break;
    }
    return MessageAnswer::Ok;
}

MessageAnswer ShowRealBox(const MessageBoxRequest& request, OpenBox& entry)
{
    QMessageBox box(ToQtIcon(request.icon), request.title, request.text, QMessageBox::NoButton, request.parent);
    switch (request.buttons) {
    case MessageButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MessageButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MessageButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    }
    entry.box = &box;
    switch (box.exec()) {
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    case QMessageBox::Ok: return MessageAnswer::Ok;
    default: break;
    }
    return Unanswered(request.buttons);
}

MessageAnswer ShowBox(MessageBoxRequest request)
{
    const CModalScope modal;
    OpenBox entry;
    entry.topic = request.topic;
    request.withdrawn = entry.withdrawn;
    if (request.title.isNull()) request.title = DefaultMessageTitle();
    Boxes& boxes = State();
    boxes.open.push_back(&entry);
    const MessageAnswer answer = boxes.handler ? boxes.handler(request) : ShowRealBox(request, entry);
    boxes.open.erase(std::find(boxes.open.begin(), boxes.open.end(), &entry));
    return *entry.withdrawn ? Unanswered(request.buttons) : answer;
}

void ShowWaitingBoxes()
{
    Boxes& boxes = State();
    boxes.flushPosted = false;
    while (boxes.modal == 0 && !boxes.waiting.empty()) {
        WaitingBox next = std::move(boxes.waiting.front());
        boxes.waiting.pop_front();
        if (!next.context || (next.hasParent && !next.parent)) continue;
        ShowBox({next.parent, next.text, QString(), next.icon, MessageButtons::Ok, nullptr, nullptr});
        if (next.context && next.shown) next.shown();
    }
}

// After the event that closed the last modal window: whoever opened it
// finishes what it was doing before the next box comes.
void PostShowWaitingBoxes()
{
    Boxes& boxes = State();
    if (boxes.flushPosted || boxes.waiting.empty()) return;
    boxes.flushPosted = true;
    QMetaObject::invokeMethod(qApp, &ShowWaitingBoxes, Qt::QueuedConnection);
}

}  // namespace

QString DefaultMessageTitle()
{
    return QStringLiteral("Skelvane");
}

MessageAnswer ShowMessageBox(QWidget* parent, const QString& text, const QString& title, MessageIcon icon,
                             MessageButtons buttons)
{
    return ShowBox({parent, text, title, icon, buttons, nullptr, nullptr});
}

MessageAnswer AskMessageBox(const void* topic, QWidget* parent, const QString& text, const QString& title,
                            MessageIcon icon, MessageButtons buttons)
{
    return ShowBox({parent, text, title, icon, buttons, topic, nullptr});
}

void WithdrawMessageBoxes(const void* topic)
{
    if (!topic) return;
    for (OpenBox* entry : State().open) {
        if (entry->topic != topic || *entry->withdrawn) continue;
        *entry->withdrawn = true;
        if (entry->box) entry->box->done(QDialog::Rejected);
    }
}

void ShowMessageBoxWhenFree(QObject* context, QWidget* parent, const QString& text, MessageIcon icon,
                            std::function<void()> shown)
{
    Boxes& boxes = State();
    if (boxes.modal == 0 && boxes.waiting.empty()) {
        ShowBox({parent, text, QString(), icon, MessageButtons::Ok, nullptr, nullptr});
        if (shown) shown();
        return;
    }
    boxes.waiting.push_back({context, parent, parent != nullptr, text, icon, std::move(shown)});
    if (boxes.modal == 0) PostShowWaitingBoxes();
}

void ForgetMessageBoxesWhenFree(const QObject* context)
{
    std::deque<WaitingBox>& waiting = State().waiting;
    waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
                                 [context](const WaitingBox& box) { return box.context == context; }),
                  waiting.end());
}

CModalScope::CModalScope()
{
    ++State().modal;
}

CModalScope::~CModalScope()
{
    if (--State().modal == 0) PostShowWaitingBoxes();
}

int OpenModalCount()
{
    return State().modal;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    return std::exchange(State().handler, std::move(handler));
}

void MessageBeep()
{
    QApplication::beep();
}

}  // namespace skelvane
