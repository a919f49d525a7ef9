// skelvane-pictures: the README's pictures and the installed icon, drawn by
// the program's own windows on Qt's offscreen platform (no display needed).
//
//   skelvane-pictures WINDOW FILE [--sample PATH] [--tilt DEGREES] [--pan DEGREES] [--size PIXELS]
//
//   WINDOW   main, about, video, cube2dome, cube2dome-setting, pano2dome or icon
//   FILE     the PNG to write
//   --sample the upper folder of a face sequence (cube2dome windows) or a
//            panorama (pano2dome), as `skelvane-cli sample` writes them
//   --tilt   the page's vertical view angle, -90 to 90
//   --pan    the page's horizontal view angle, -180 to 180
//   --size   the icon's side, 16 to 1024 pixels (default 256)
//
// Exit status: 0 written, 1 the sample or the file failed, 2 bad arguments.
#include <cstdio>
#include <optional>

#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/DesktopApplication.h"
#include "app/SkelvaneDlg.h"
#include "app/VideoSettingDlg.h"
#include "cube2dome/ui/Cube2DomePage.h"
#include "cube2dome/ui/Cube2DomeSettingDlg.h"
#include "engine/jobs/StandardStreams.h"
#include "pano2dome/ui/Pano2DomePage.h"
#include "ui/FolderPicker.h"
#include "ui/MessageBox.h"

using namespace skelvane;

namespace {

constexpr int kBadArguments = 2;
constexpr int kFailed = 1;

// Shows `widget`, lets it lay itself out and paint, and saves it.
bool SaveWidgetPicture(QWidget& widget, const QString& path)
{
    widget.show();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    return widget.grab().save(path, "PNG");
}

// Boxes the windows would show while a sample is loaded are kept instead:
// the first one is the reason the picture cannot be made.
class FirstBoxKept {
public:
    FirstBoxKept()
        : m_previous(SetMessageBoxHandler([this](const MessageBoxRequest& request) {
              if (m_text.isEmpty()) m_text = request.text.trimmed();
              return MessageAnswer::Ok;
          }))
    {
    }
    ~FirstBoxKept() { SetMessageBoxHandler(m_previous); }

    bool Report(const QString& sample) const
    {
        if (m_text.isEmpty()) return true;
        std::fprintf(stderr, "skelvane-pictures: %s: %s\n", qPrintable(sample), qPrintable(m_text));
        return false;
    }

private:
    QString m_text;
    MessageBoxHandler m_previous;
};

// A face sequence shown as a person would show it: the upper folder chosen
// in the settings dialog, then Accept. The save folder is the page's.
bool LoadCubeSample(CCube2DomePage& page, const QString& folder)
{
    FirstBoxKept boxes;
    const FolderPickerHandler picker =
        SetFolderPickerHandler([&folder](QWidget*, const QString&, const QString&) { return folder; });
    CCube2DomeSettingDlg& settings = *page.SettingsDlg();
    settings.TakeViewOver(page.VerticalAngle(), page.SaveDir());
    settings.UpperDirButton()->click();
    settings.AcceptButton()->click();
    SetFolderPickerHandler(picker);
    return boxes.Report(folder);
}

bool LoadPanoSample(CPano2DomePage& page, const QString& panorama)
{
    FirstBoxKept boxes;
    page.LoadPanorama(panorama);
    return boxes.Report(panorama);
}

// The view both pages share: sliders of 0.1 degree a step.
struct View {
    std::optional<float> tilt;
    std::optional<float> pan;

    void TurnSliders(QSlider* horizontal, QSlider* vertical) const
    {
        if (tilt) vertical->setValue(SliderFromVerticalAngle(*tilt));
        if (pan) horizontal->setValue(static_cast<int>(*pan * 10.0f) + CCube2DomePage::kHorizontalSliderCentre);
    }
};

bool ReadAngle(const QCommandLineParser& options, const QCommandLineOption& option, float limit,
               std::optional<float>& degrees)
{
    if (!options.isSet(option)) return true;
    bool number = false;
    const float value = options.value(option).toFloat(&number);
    if (!number || !(value >= -limit && value <= limit)) return false;
    degrees = value;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!ReopenClosedStandardStreams()) {
        return 1;  // the picture file could take the number of a closed stream and receive messages
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetUpDesktopApplication();

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Draws the README's pictures and the program's icon."));
    options.addHelpOption();
    const QString windows = QStringLiteral("main, about, video, cube2dome, cube2dome-setting, pano2dome or icon");
    options.addPositionalArgument(QStringLiteral("window"), windows);
    options.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The PNG to write."));
    const QCommandLineOption sample(
        QStringLiteral("sample"),
        QStringLiteral("The upper folder of a face sequence (cube2dome windows) or a panorama (pano2dome)."),
        QStringLiteral("path"));
    const QCommandLineOption tilt(QStringLiteral("tilt"), QStringLiteral("The page's vertical view angle, -90 to 90."),
                                  QStringLiteral("degrees"));
    const QCommandLineOption pan(QStringLiteral("pan"),
                                 QStringLiteral("The page's horizontal view angle, -180 to 180."),
                                 QStringLiteral("degrees"));
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("The icon's side, 16 to 1024 pixels."),
                                  QStringLiteral("pixels"), QStringLiteral("256"));
    options.addOptions({sample, tilt, pan, size});
    options.process(app);

    const QStringList arguments = options.positionalArguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: skelvane-pictures WINDOW FILE [options] (--help for more)\n");
        return kBadArguments;
    }
    const QString which = arguments[0];
    const QString file = arguments[1];
    View view;
    if (!ReadAngle(options, tilt, 90.0f, view.tilt) || !ReadAngle(options, pan, 180.0f, view.pan)) {
        std::fprintf(stderr, "skelvane-pictures: the tilt must be -90 to 90 degrees and the pan -180 to 180\n");
        return kBadArguments;
    }

    bool saved = false;
    if (which == QLatin1String("icon")) {
        bool number = false;
        const int side = options.value(size).toInt(&number);
        if (!number || side < 16 || side > 1024) {
            std::fprintf(stderr, "skelvane-pictures: the icon side must be 16 to 1024 pixels\n");
            return kBadArguments;
        }
        saved = SkelvaneIconImage(side).save(file, "PNG");
    } else if (which == QLatin1String("main") || which == QLatin1String("about") || which == QLatin1String("video")) {
        CSkelvaneDlg mainWindow;
        AddWorkflowPages(mainWindow);
        if (which == QLatin1String("main")) {
            saved = SaveWidgetPicture(mainWindow, file);
        } else if (which == QLatin1String("about")) {
            CAboutDlg about(&mainWindow);
            saved = SaveWidgetPicture(about, file);
        } else {
            saved = SaveWidgetPicture(*mainWindow.VideoSettingDlg(), file);
        }
    } else if (which == QLatin1String("cube2dome") || which == QLatin1String("cube2dome-setting")) {
        CCube2DomePage page;
        if (options.isSet(sample) && !LoadCubeSample(page, options.value(sample))) return kFailed;
        view.TurnSliders(page.HorizontalSlider(), page.VerticalSlider());
        if (which == QLatin1String("cube2dome")) {
            page.resize(page.sizeHint());
            saved = SaveWidgetPicture(page, file);
        } else {
            saved = SaveWidgetPicture(*page.SettingsDlg(), file);
        }
    } else if (which == QLatin1String("pano2dome")) {
        const VideoEncoderSettings videoSettings;
        CPano2DomePage page(videoSettings);
        if (options.isSet(sample) && !LoadPanoSample(page, options.value(sample))) return kFailed;
        view.TurnSliders(page.HorizontalSlider(), page.VerticalSlider());
        page.resize(page.sizeHint());
        saved = SaveWidgetPicture(page, file);
    } else {
        std::fprintf(stderr,
                     "skelvane-pictures: unknown window '%s' (main, about, video, cube2dome, cube2dome-setting, "
                     "pano2dome, icon)\n",
                     qPrintable(which));
        return kBadArguments;
    }
    if (!saved) std::fprintf(stderr, "skelvane-pictures: cannot write %s\n", qPrintable(file));
    return saved ? 0 : kFailed;
}
