// skelvane: the desktop program, the main window with its two pages. It reads
// no command line of its own (Qt's options aside); the README's pictures come
// from skelvane-pictures.
#include <csignal>

#include <QApplication>

#include "app/DesktopApplication.h"
#include "app/SkelvaneDlg.h"
#include "app/VideoSettingDlg.h"
#include "engine/jobs/StandardStreams.h"

int main(int argc, char** argv)
{
    if (!skelvane::ReopenClosedStandardStreams()) {
        return 1;  // files could take the numbers of the closed streams and receive the program's messages
    }
    // Under a file-size limit a save must fail with a report, not kill the
    // program in the middle of a render.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    skelvane::SetUpDesktopApplication();

    skelvane::CSkelvaneDlg mainWindow;
    skelvane::AddWorkflowPages(mainWindow);
    mainWindow.show();
    return app.exec();
}
