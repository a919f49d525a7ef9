#include "ui/DesktopLauncher.h"

#include <utility>

#include <QDesktopServices>
#include <QProcess>

namespace skelvane {
namespace {

DesktopLauncher& Installed()
{
    static DesktopLauncher launcher;
    return launcher;
}

}  // namespace

bool OpenUrlOnDesktop(const QUrl& url)
{
    if (Installed().openUrl) return Installed().openUrl(url);
    return QDesktopServices::openUrl(url);
}

bool StartDetachedProgram(const QString& program, const QStringList& arguments)
{
    if (Installed().startDetached) return Installed().startDetached(program, arguments);
    return QProcess::startDetached(program, arguments);
}

DesktopLauncher SetDesktopLauncher(DesktopLauncher launcher)
{
    return std::exchange(Installed(), std::move(launcher));
}

}  // namespace skelvane
