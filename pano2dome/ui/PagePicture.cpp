// pano2dome-page-picture: saves a PNG of the Pano2Dome page with a panorama
// loaded, as the README shows it. Runs on Qt's offscreen platform.
//
//   pano2dome-page-picture PANORAMA OUTPUT.png [TILT [PAN]]
//
// skelvane-cli sample writes a panorama to show (panorama.png).
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QSlider>

#include "app/DialogUnits.h"
#include "app/MessageBox.h"
#include "app/Screenshot.h"
#include "pano2dome/ui/Pano2DomePage.h"

using namespace skelvane;

namespace {

bool ReadAngle(const char* text, float limit, float& degrees)
{
    char* end = nullptr;
    degrees = std::strtof(text, &end);
    return end != text && *end == '\0' && degrees >= -limit && degrees <= limit;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: %s PANORAMA OUTPUT.png [TILT [PAN]]\n", argv[0]);
        return 2;
    }
    float tilt = 60.0f;
    float pan = 0.0f;
    if ((argc > 3 && !ReadAngle(argv[3], 90.0f, tilt)) || (argc > 4 && !ReadAngle(argv[4], 180.0f, pan))) {
        std::fprintf(stderr, "the tilt must be -90 to 90 degrees and the pan -180 to 180\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(DialogFont());

    QString problem;
    SetMessageBoxHandler([&problem](const MessageBoxRequest& request) {
        if (problem.isEmpty()) problem = request.text;
        return MessageAnswer::Ok;
    });
    const VideoEncoderSettings settings;
    CPano2DomePage page(settings);
    page.LoadPanorama(QString::fromLocal8Bit(argv[1]));
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem.trimmed()));
        return 1;
    }
    page.VerticalSlider()->setValue(static_cast<int>(tilt * 10.0f) + CPano2DomePage::kVerticalSliderMax / 2);
    page.HorizontalSlider()->setValue(static_cast<int>(pan * 10.0f) + CPano2DomePage::kHorizontalSliderStart);
    page.resize(page.sizeHint());
    if (!SaveWidgetPicture(page, QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
