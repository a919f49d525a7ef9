// skelvane: the desktop program.
//
//   skelvane                                  the main window
//   skelvane --screenshot FILE [--window W]   saves a PNG of a window (main,
//                                             about, video) and quits; run it
//                                             with QT_QPA_PLATFORM=offscreen
//                                             where there is no display
//   skelvane --icon FILE [--size N]           saves the program's icon as PNG
#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/DialogUnits.h"
#include "app/Screenshot.h"
#include "app/SkelvaneDlg.h"
#include "app/VideoSettingDlg.h"

using namespace skelvane;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("skelvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Skelvane"));
    QApplication::setWindowIcon(SkelvaneIcon());
    QApplication::setFont(DialogFont());

    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("Save a PNG of a window."),
                                        QStringLiteral("file"));
    const QCommandLineOption window(QStringLiteral("window"), QStringLiteral("main, about or video."),
                                    QStringLiteral("name"), QStringLiteral("main"));
    const QCommandLineOption icon(QStringLiteral("icon"), QStringLiteral("Save the icon as PNG."),
                                  QStringLiteral("file"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Icon side in pixels."),
                                  QStringLiteral("pixels"), QStringLiteral("256"));
    options.addOptions({screenshot, window, icon, size});
    options.process(app);

    if (options.isSet(icon)) {
        const int side = options.value(size).toInt();
        if (side < 16 || side > 1024) {
            std::fprintf(stderr, "skelvane: the icon side must be 16 to 1024 pixels\n");
            return 2;
        }
        return SkelvaneIconImage(side).save(options.value(icon), "PNG") ? 0 : 1;
    }

    CSkelvaneDlg mainWindow;
    // The workflow pages join the window here once they are built:
    // mainWindow.SetPages(cube2DomePage, pano2DomePage).

    if (options.isSet(screenshot)) {
        const QString which = options.value(window);
        const QString file = options.value(screenshot);
        bool saved = false;
        if (which == QLatin1String("main")) {
            saved = SaveWidgetPicture(mainWindow, file);
        } else if (which == QLatin1String("about")) {
            CAboutDlg about(&mainWindow);
            saved = SaveWidgetPicture(about, file);
        } else if (which == QLatin1String("video")) {
            saved = SaveWidgetPicture(*mainWindow.VideoSettingDlg(), file);
        } else {
            std::fprintf(stderr, "skelvane: unknown window '%s' (main, about, video)\n", qPrintable(which));
            return 2;
        }
        if (!saved) std::fprintf(stderr, "skelvane: cannot write %s\n", qPrintable(file));
        return saved ? 0 : 1;
    }

    mainWindow.show();
    return app.exec();
}
