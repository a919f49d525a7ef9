#include "ui/MessageBox.h"

#include <utility>

#include <QApplication>
#include <QMessageBox>

namespace skelvane {
namespace {

MessageBoxHandler& InstalledHandler()
{
    static MessageBoxHandler handler;
    return handler;
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

MessageAnswer ShowRealBox(const MessageBoxRequest& request)
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
    switch (box.exec()) {
    case QMessageBox::Yes: return MessageAnswer::Yes;
    case QMessageBox::No: return MessageAnswer::No;
    case QMessageBox::Cancel: return MessageAnswer::Cancel;
    default: break;
    }
    if (request.buttons == MessageButtons::YesNo) return MessageAnswer::No;
    if (request.buttons == MessageButtons::OkCancel && box.clickedButton() == nullptr) return MessageAnswer::Cancel;
    return MessageAnswer::Ok;
}

}  // namespace

QString DefaultMessageTitle()
{
    return QStringLiteral("Skelvane");
}

MessageAnswer ShowMessageBox(QWidget* parent, const QString& text, const QString& title, MessageIcon icon,
                             MessageButtons buttons)
{
    MessageBoxRequest request{parent, text, title.isNull() ? DefaultMessageTitle() : title, icon, buttons};
    if (InstalledHandler()) return InstalledHandler()(request);
    return ShowRealBox(request);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler)
{
    return std::exchange(InstalledHandler(), std::move(handler));
}

void MessageBeep()
{
    QApplication::beep();
}

}  // namespace skelvane
