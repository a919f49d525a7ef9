// The one way the desktop program shows a message box. Every box of the
// program goes through ShowMessageBox, so a test can answer boxes itself by
// installing a handler instead of the real dialog.
#pragma once

#include <functional>

#include <QString>

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
};

// Shows `text` modally and returns the button pressed; a box closed without
// a button answers Cancel (OkCancel), No (YesNo) or Ok. A null title means
// DefaultMessageTitle().
MessageAnswer ShowMessageBox(QWidget* parent, const QString& text, const QString& title = QString(),
                             MessageIcon icon = MessageIcon::None, MessageButtons buttons = MessageButtons::Ok);

// Replaces how boxes are shown; an empty handler restores the real dialog.
// Returns the handler that was installed before. Ui thread only.
using MessageBoxHandler = std::function<MessageAnswer(const MessageBoxRequest&)>;
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The warning sound that goes with a failed action.
void MessageBeep();

}  // namespace skelvane
