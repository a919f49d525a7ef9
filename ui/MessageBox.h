// The one way the desktop program shows a message box. Every box of the
// program goes through ShowMessageBox, so a test can answer boxes itself by
// installing a handler instead of the real dialog.
//
// Boxes never stack. A modal box runs an event loop of its own, and whatever
// arrives meanwhile (the end of a render, a message of the worker) must not
// put a second box over the first:
// - A box that is not an answer to what the user just did is shown with
//   ShowMessageBoxWhenFree: at once when no modal window is open, else as soon
//   as the last one has closed, in the order they came.
// - A question about something that can end while it is open ("stop the
//   render?") names that something as its topic; WithdrawMessageBoxes(topic)
//   closes it as if answered No (or Cancel) when it has ended.
// - The program's other modal windows (file dialogs, the About box) count as
//   open boxes while a CModalScope lives around them.
#pragma once

#include <functional>
#include <memory>

#include <QString>

class QObject;
class QWidget;

namespace skelvane {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// The title of a box that names none.
QString DefaultMessageTitle();

struct MessageBoxRequest {
    QWidget* parent = nullptr;
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    // What a question is about (null: nothing that can end while it is open).
    const void* topic = nullptr;
    // Becomes true when the box was withdrawn; a handler that keeps its box
    // open for a while (as a person does) closes it then.
    std::shared_ptr<const bool> withdrawn;
};

// Shows `text` modally and returns the button pressed; a box closed without
// a button, or withdrawn, answers Cancel (OkCancel), No (YesNo) or Ok. A null
// title means DefaultMessageTitle().
MessageAnswer ShowMessageBox(QWidget* parent, const QString& text, const QString& title = QString(),
                             MessageIcon icon = MessageIcon::None, MessageButtons buttons = MessageButtons::Ok);

// A question about `topic`, which WithdrawMessageBoxes(topic) closes.
MessageAnswer AskMessageBox(const void* topic, QWidget* parent, const QString& text, const QString& title,
                            MessageIcon icon, MessageButtons buttons);

// Closes every open box about `topic`.
void WithdrawMessageBoxes(const void* topic);

// An OK box shown now when no modal window is open, else once the last one
// has closed; `shown` (may be empty) runs when it was closed. Nothing is
// shown, and `shown` does not run, once `context` is gone or when
// ForgetMessageBoxesWhenFree(context) came first.
void ShowMessageBoxWhenFree(QObject* context, QWidget* parent, const QString& text, MessageIcon icon,
                            std::function<void()> shown = {});
void ForgetMessageBoxesWhenFree(const QObject* context);

// Marks a modal window of the program as open for its lifetime.
class CModalScope {
public:
    CModalScope();
    ~CModalScope();
    CModalScope(const CModalScope&) = delete;
    CModalScope& operator=(const CModalScope&) = delete;
};

// Modal windows of the program open now, message boxes included.
int OpenModalCount();

// Replaces how boxes are shown; an empty handler restores the real dialog.
// Returns the handler that was installed before. Ui thread only.
using MessageBoxHandler = std::function<MessageAnswer(const MessageBoxRequest&)>;
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The warning sound that goes with a failed action.
void MessageBeep();

}  // namespace skelvane
