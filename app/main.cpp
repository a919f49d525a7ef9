// skelvane: the desktop program.
//
//   skelvane                                  the main window
//   skelvane --screenshot FILE [--window W]   saves a PNG of a window (main,
//                                             about, video, cube2dome,
//                                             cube2dome-setting) and quits;
//                                             run it with QT_QPA_PLATFORM=offscreen
//                                             where there is no display
//            [--sample FOLDER]                cube2dome windows: the upper folder
//                                             of a face sequence to show
//                                             (skelvane-cli sample writes one)
//            [--tilt DEGREES]                 the page's vertical view angle
//   skelvane --icon FILE [--size N]           saves the program's icon as PNG
#include <csignal>
#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>
#include <QPushButton>
#include <QSlider>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/DialogUnits.h"
#include "app/FolderPicker.h"
#include "app/MessageBox.h"
#include "app/Screenshot.h"
#include "app/SkelvaneDlg.h"
#include "app/VideoSettingDlg.h"
#include "cube2dome/ui/Cube2DomePage.h"
#include "cube2dome/ui/Cube2DomeSettingDlg.h"
#include "pano2dome/ui/Pano2DomePage.h"

using namespace skelvane;

namespace {

// Shows a face sequence on the page as a person would: the upper folder
// chosen in the settings dialog, then Accept. The save folder is the page's.
bool LoadSampleIntoPage(CCube2DomePage& page, const QString& folder)
{
    QString problem;
    const MessageBoxHandler boxes = SetMessageBoxHandler([&problem](const MessageBoxRequest& request) {
        if (problem.isEmpty()) problem = request.text;
        return MessageAnswer::Ok;
    });
    const FolderPickerHandler picker =
        SetFolderPickerHandler([&folder](QWidget*, const QString&, const QString&) { return folder; });
    CCube2DomeSettingDlg& settings = *page.SettingsDlg();
    settings.TakeViewOver(page.VerticalAngle(), page.SaveDir());
    settings.UpperDirButton()->click();
    settings.AcceptButton()->click();
    SetFolderPickerHandler(picker);
    SetMessageBoxHandler(boxes);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "skelvane: %s: %s\n", qPrintable(folder), qPrintable(problem.trimmed()));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    // Under a file-size limit a save must fail with a report, not kill the
    // program in the middle of a render.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("skelvane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Skelvane"));
    QApplication::setWindowIcon(SkelvaneIcon());
    QApplication::setFont(DialogFont());

    QCommandLineParser options;
    options.addHelpOption();
    const QCommandLineOption screenshot(QStringLiteral("screenshot"), QStringLiteral("Save a PNG of a window."),
                                        QStringLiteral("file"));
    const QCommandLineOption window(QStringLiteral("window"),
                                    QStringLiteral("main, about, video, cube2dome or cube2dome-setting."),
                                    QStringLiteral("name"), QStringLiteral("main"));
    const QCommandLineOption sample(QStringLiteral("sample"),
                                    QStringLiteral("Upper folder of a face sequence for the cube2dome windows."),
                                    QStringLiteral("folder"));
    const QCommandLineOption icon(QStringLiteral("icon"), QStringLiteral("Save the icon as PNG."),
                                  QStringLiteral("file"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Icon side in pixels."),
                                  QStringLiteral("pixels"), QStringLiteral("256"));
    const QCommandLineOption tilt(QStringLiteral("tilt"),
                                  QStringLiteral("Vertical view angle of the cube2dome page, -90 to 90."),
                                  QStringLiteral("degrees"));
    options.addOptions({screenshot, window, icon, size, sample, tilt});
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
    auto* cube2DomePage = new CCube2DomePage;
    mainWindow.SetPages(cube2DomePage, new CPano2DomePage(mainWindow.VideoSettings()));

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
        } else if (which == QLatin1String("cube2dome") || which == QLatin1String("cube2dome-setting")) {
            CCube2DomePage page;
            if (options.isSet(sample) && !LoadSampleIntoPage(page, options.value(sample))) return 1;
            if (options.isSet(tilt)) {
                bool number = false;
                const float degrees = options.value(tilt).toFloat(&number);
                if (!number || degrees < -90.0f || degrees > 90.0f) {
                    std::fprintf(stderr, "skelvane: the tilt must be -90 to 90 degrees\n");
                    return 2;
                }
                page.VerticalSlider()->setValue(SliderFromVerticalAngle(degrees));
            }
            if (which == QLatin1String("cube2dome")) {
                page.resize(page.sizeHint());
                saved = SaveWidgetPicture(page, file);
            } else {
                saved = SaveWidgetPicture(*page.SettingsDlg(), file);
            }
        } else {
            std::fprintf(stderr, "skelvane: unknown window '%s' (main, about, video, cube2dome, cube2dome-setting)\n",
                         qPrintable(which));
            return 2;
        }
        if (!saved) std::fprintf(stderr, "skelvane: cannot write %s\n", qPrintable(file));
        return saved ? 0 : 1;
    }

    mainWindow.show();
    return app.exec();
}
