// How the program hands a web address or a document to the desktop: the
// desktop's opener, and starting a program directly for the browser fallback
// of the link control. Tests install their own launcher so that nothing is
// really opened.
#pragma once

#include <functional>

#include <QString>
#include <QStringList>
#include <QUrl>

namespace skelvane {

struct DesktopLauncher {
    std::function<bool(const QUrl&)> openUrl;                                       // QDesktopServices::openUrl
    std::function<bool(const QString& program, const QStringList& arguments)> startDetached;  // QProcess
};

bool OpenUrlOnDesktop(const QUrl& url);
bool StartDetachedProgram(const QString& program, const QStringList& arguments);

// Members left empty use the real desktop. Returns the launcher installed
// before. Ui thread only.
DesktopLauncher SetDesktopLauncher(DesktopLauncher launcher);

}  // namespace skelvane
