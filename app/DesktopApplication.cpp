#include "app/DesktopApplication.h"

#include <QApplication>

#include "app/AppIcon.h"
#include "app/SkelvaneDlg.h"
#include "app/VideoSettingDlg.h"
#include "cube2dome/ui/Cube2DomePage.h"
#include "pano2dome/ui/Pano2DomePage.h"
#include "ui/DialogUnits.h"

namespace skelvane {

void SetUpDesktopApplication()
{
    QApplication::setApplicationName(QStringLiteral("skelvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Skelvane"));
    QApplication::setWindowIcon(SkelvaneIcon());
    QApplication::setFont(DialogFont());
}

void AddWorkflowPages(CSkelvaneDlg& window)
{
    window.SetPages(new CCube2DomePage(window.VideoSettings()), new CPano2DomePage(window.VideoSettings()));
}

}  // namespace skelvane
