// The Pano2Dome page, driven through its own controls on the offscreen
// platform; dialogs and message boxes are answered by the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardItemModel>
#include <QTest>

#include "app/SkelvaneDlg.h"
#include "app/VideoSettingDlg.h"
#include "engine/projection/PanoDomeProjector.h"
#include "pano2dome/ui/Pano2DomePage.h"
#include "support/TempDir.h"
#include "ui/PreviewPane.h"
#include "ui/UiTestSupport.h"
#include <QDir>
#include "support/TestImages.h"
#include "support/VideoFacts.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace skelvane {
namespace {

using test::FileDialogAnswer;
using test::FolderPickerAnswer;
using test::MessageBoxRecorder;

class Pano2DomePageTest : public ::testing::Test {
public:
    Pano2DomePageTest() : page(settings) { page.show(); }

    // A panorama on disk, its pattern different in every channel.
    QString WritePanorama(int width, int height, const char* name = "pano.bmp")
    {
        CImageBuffer pano = test::MakePatternImage(width, height, 7);
        const std::filesystem::path path = dir.Path() / name;
        EXPECT_TRUE(pano.Save(path));
        return QString::fromStdString(path.string());
    }

    // Open Image as a person does it, the file dialog answered with `path`.
    void OpenThroughDialog(const QString& path)
    {
        FileDialogAnswer answer(path);
        QTest::mouseClick(page.OpenButton(), Qt::LeftButton);
        ASSERT_EQ(answer.Requests().size(), 1u);
        lastOpen = answer.Requests().front();
    }

    static void Type(QLineEdit* edit, const QString& text)
    {
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    VideoEncoderSettings settings;
    test::TempDir dir;
    CPano2DomePage page;
    FileDialogRequest lastOpen;
};

TEST_F(Pano2DomePageTest, StartsWithTheDefaultsShownAndTheSweepFieldsDisabled)
{
    EXPECT_EQ(page.FovEdit()->text(), "180");
    EXPECT_EQ(page.HorizontalEdit()->text(), "0");
    EXPECT_EQ(page.VerticalEdit()->text(), "60");
    EXPECT_EQ(page.OutputWidthEdit()->text(), "0");
    EXPECT_EQ(page.OutputHeightEdit()->text(), "0");
    EXPECT_EQ(page.FrameRateEdit()->text(), "25");
    EXPECT_EQ(page.DurationEdit()->text(), "5");
    EXPECT_EQ(page.FromEdit()->text(), "-180");
    EXPECT_EQ(page.ToEdit()->text(), "180");
    EXPECT_TRUE(page.ImageRadio()->isChecked());
    EXPECT_EQ(page.HorizontalSlider()->value(), 1800);
    EXPECT_EQ(page.HorizontalSlider()->maximum(), 3600);
    EXPECT_EQ(page.VerticalSlider()->value(), 1500);
    EXPECT_EQ(page.VerticalSlider()->maximum(), 1800);
    EXPECT_EQ(page.ProgressBar()->maximum(), 360);
    EXPECT_EQ(page.FormatCombo()->currentText(), "jpg");
    EXPECT_EQ(page.FrameFormat(), "jpg");

    for (QWidget* off : {static_cast<QWidget*>(page.DurationEdit()), static_cast<QWidget*>(page.FrameRateEdit()),
                         static_cast<QWidget*>(page.FormatCombo()), static_cast<QWidget*>(page.FromEdit()),
                         static_cast<QWidget*>(page.ToEdit()), static_cast<QWidget*>(page.PauseButton()),
                         static_cast<QWidget*>(page.ContinueButton()), static_cast<QWidget*>(page.StopButton())}) {
        EXPECT_FALSE(off->isEnabled()) << off->metaObject()->className();
    }
    EXPECT_TRUE(page.BeginButton()->isEnabled());
    EXPECT_TRUE(page.OpenButton()->isEnabled());
    EXPECT_TRUE(page.HorizontalEdit()->isReadOnly());
    EXPECT_TRUE(page.OutputHeightEdit()->isReadOnly());
    EXPECT_FALSE(page.OutputWidthEdit()->isReadOnly());
    // Blank panes until a panorama is open.
    EXPECT_TRUE(page.PreviewDome().IsEmpty());
}

TEST_F(Pano2DomePageTest, PreviewPanesHoldTheirImagesInsideTheirFrames)
{
    EXPECT_GE(page.PanoramaPane()->width(), CPano2DomePage::kPreviewPanoWidth + 2);
    EXPECT_GE(page.PanoramaPane()->height(), CPano2DomePage::kPreviewPanoHeight + 2);
    EXPECT_GE(page.DomePane()->width(), CPano2DomePage::kPreviewDomeSize + 2);
    EXPECT_GE(page.DomePane()->height(), CPano2DomePage::kPreviewDomeSize + 2);
    EXPECT_FALSE(page.PanoramaPane()->geometry().intersects(page.DomePane()->geometry()));
    EXPECT_TRUE(page.rect().contains(page.ProgressBar()->geometry()));
}

TEST_F(Pano2DomePageTest, OpenImageProposesTheOutputSizeAndRendersBothPreviews)
{
    const QString path = WritePanorama(2048, 1024);
    OpenThroughDialog(path);

    EXPECT_EQ(lastOpen.mode, FileDialogRequest::Mode::Open);
    EXPECT_EQ(lastOpen.title, "select an image");
    ASSERT_EQ(lastOpen.filters.size(), 7);
    EXPECT_TRUE(lastOpen.filters[0].startsWith("JPEG"));
    EXPECT_TRUE(lastOpen.filters[0].contains("*.jpg"));
    EXPECT_TRUE(lastOpen.filters[0].contains("*.JPEG"));
    EXPECT_TRUE(lastOpen.filters[3].contains("*.tga"));
    EXPECT_TRUE(lastOpen.filters[4].contains("*.tif"));
    EXPECT_TRUE(lastOpen.filters[4].contains("*.TIFF"));
    EXPECT_TRUE(lastOpen.filters[5].contains("*.exr"));
    EXPECT_EQ(lastOpen.filters[6], AllFilesFilter());

    EXPECT_EQ(page.InputPathEdit()->text(), path);
    EXPECT_EQ(page.InputWidthEdit()->text(), "2048");
    EXPECT_EQ(page.InputHeightEdit()->text(), "1024");
    EXPECT_EQ(page.OutputWidthEdit()->text(), "1155");
    EXPECT_EQ(page.OutputHeightEdit()->text(), "1155");

    const CImageBuffer& small = page.PreviewPanorama();
    ASSERT_EQ(small.GetWidth(), 598);
    ASSERT_EQ(small.GetHeight(), 298);
    ASSERT_EQ(page.PreviewDome().GetWidth(), 298);
    ASSERT_EQ(page.PreviewDome().GetHeight(), 298);

    // The dome preview is the small panorama through a map of the page's view.
    CPanoDomeProjector projector;
    const PanoMap map = projector.BuildPanoDomeMap(598, 298, 298, 180, 60.0f);
    const auto expected = projector.RenderPanoDome(small, map.get(), 298, 0.0f);
    ASSERT_TRUE(expected);
    EXPECT_EQ(test::PixelsOf(page.PreviewDome()), test::PixelsOf(*expected));
    EXPECT_EQ(page.DomePane()->Image(), &page.PreviewDome());

    // The next dialog starts in the panorama's folder.
    OpenThroughDialog(QString());
    EXPECT_EQ(lastOpen.directory, QString::fromStdString(dir.Path().string()));
    EXPECT_EQ(page.OutputWidthEdit()->text(), "1155");  // cancelled: nothing changed
}

TEST_F(Pano2DomePageTest, ProposedOutputSizeFollowsTheFieldOfView)
{
    EXPECT_EQ(PanoOutputSize(1024, 180), 1155);
    EXPECT_EQ(PanoOutputSize(1024, 90), 817);
    EXPECT_EQ(PanoOutputSize(1024, 360), 1634);
    EXPECT_EQ(PanoOutputSize(0, 180), 0);

    const QString path = WritePanorama(2048, 1024);
    Type(page.FovEdit(), "90");
    OpenThroughDialog(path);
    EXPECT_EQ(page.OutputWidthEdit()->text(), "817");
    Type(page.FovEdit(), "360");
    OpenThroughDialog(path);
    EXPECT_EQ(page.OutputWidthEdit()->text(), "1634");
    EXPECT_EQ(page.OutputHeightEdit()->text(), "1634");
}

TEST_F(Pano2DomePageTest, APanoramaThatCannotBeReadIsReportedAndClearsThePage)
{
    OpenThroughDialog(WritePanorama(400, 200));
    ASSERT_FALSE(page.PreviewDome().IsEmpty());

    const std::filesystem::path bad = dir.Path() / "broken.png";
    test::WriteFileBytes(bad, {0x89, 'P', 'N', 'G', 1, 2, 3});
    MessageBoxRecorder boxes;
    OpenThroughDialog(QString::fromStdString(bad.string()));
    ASSERT_EQ(boxes.Texts().size(), 1);
    EXPECT_TRUE(boxes.Texts()[0].contains("broken.png"));
    // It says why, in the reader's words.
    std::string reason;
    CImageBuffer probe;
    ASSERT_FALSE(probe.Load(bad, &reason));
    EXPECT_EQ(boxes.Texts()[0],
              QStringLiteral("Cannot read the image \"%1\": %2. ").arg(QString::fromStdString(bad.string()),
                                                                       QString::fromStdString(reason)));
    EXPECT_TRUE(page.Panorama().IsEmpty());
    EXPECT_TRUE(page.PreviewPanorama().IsEmpty());
    EXPECT_TRUE(page.PreviewDome().IsEmpty());
    EXPECT_EQ(page.InputWidthEdit()->text(), "0");
    EXPECT_EQ(page.OutputWidthEdit()->text(), "0");
    EXPECT_EQ(page.OutputHeightEdit()->text(), "0");
}

TEST_F(Pano2DomePageTest, SlidersSetTheAnglesAndTheDomePreviewFollows)
{
    page.VerticalSlider()->setValue(0);
    EXPECT_EQ(page.VerticalEdit()->text(), "-90");
    page.VerticalSlider()->setValue(1800);
    EXPECT_EQ(page.VerticalEdit()->text(), "90");
    page.HorizontalSlider()->setValue(0);
    EXPECT_EQ(page.HorizontalEdit()->text(), "-180");
    page.HorizontalSlider()->setValue(3600);
    EXPECT_EQ(page.HorizontalEdit()->text(), "180");
    page.HorizontalSlider()->setValue(2700);
    EXPECT_FLOAT_EQ(page.HorizontalAngle(), 90.0f);

    OpenThroughDialog(WritePanorama(600, 300));
    CPanoDomeProjector projector;
    // Pan is a shift of the same map: the preview at pan 90, tilt 90.
    PanoMap map = projector.BuildPanoDomeMap(598, 298, 298, 180, 90.0f);
    auto expected = projector.RenderPanoDome(page.PreviewPanorama(), map.get(), 298, 90.0f);
    EXPECT_EQ(test::PixelsOf(page.PreviewDome()), test::PixelsOf(*expected));

    // Tilt needs a new map; a field of view typed counts at the next movement.
    page.VerticalSlider()->setValue(900);
    Type(page.FovEdit(), "120");
    page.HorizontalSlider()->setValue(1700);
    map = projector.BuildPanoDomeMap(598, 298, 298, 120, 0.0f);
    expected = projector.RenderPanoDome(page.PreviewPanorama(), map.get(), 298, -10.0f);
    EXPECT_EQ(test::PixelsOf(page.PreviewDome()), test::PixelsOf(*expected));
}

// "Sharp (full panorama)" is a choice of the sweeps; with it the preview is
// what a sharp sweep writes, the image of the full panorama at the view's
// angles, and without it the working panorama's preview again.
TEST_F(Pano2DomePageTest, TheSharpChoiceShowsTheSharpSweepInThePreview)
{
    OpenThroughDialog(WritePanorama(1000, 500));
    EXPECT_FALSE(page.SharpCheck()->isEnabled());
    EXPECT_FALSE(page.SharpCheck()->isChecked());
    QTest::mouseClick(page.FrameRadio(), Qt::LeftButton);
    ASSERT_TRUE(page.SharpCheck()->isEnabled());
    const std::vector<std::uint32_t> soft = test::PixelsOf(page.PreviewDome());

    CPanoDomeProjector projector;
    auto still = [&] {
        const auto dome = projector.RenderPanoDomeDirect(page.Panorama(), 298, static_cast<std::int32_t>(page.Fov()),
                                                         page.VerticalAngle(), page.HorizontalAngle());
        return test::PixelsOf(*dome);
    };
    QTest::mouseClick(page.SharpCheck(), Qt::LeftButton);
    EXPECT_TRUE(page.MakeJob().sharp);
    EXPECT_EQ(test::PixelsOf(page.PreviewDome()), still());
    EXPECT_NE(test::PixelsOf(page.PreviewDome()), soft);
    page.HorizontalSlider()->setValue(2700);
    EXPECT_EQ(test::PixelsOf(page.PreviewDome()), still()) << "pan 90";
    page.VerticalSlider()->setValue(1200);
    Type(page.FovEdit(), "220");
    page.HorizontalSlider()->setValue(100);
    EXPECT_EQ(page.Fov(), 220u);
    EXPECT_EQ(test::PixelsOf(page.PreviewDome()), still()) << "tilt 30, field of view 220, pan -170";

    // The choice stays with the sweeps while an image is chosen.
    QTest::mouseClick(page.VideoRadio(), Qt::LeftButton);
    EXPECT_TRUE(page.SharpCheck()->isEnabled());
    QTest::mouseClick(page.ImageRadio(), Qt::LeftButton);
    EXPECT_FALSE(page.SharpCheck()->isEnabled());
    EXPECT_TRUE(page.SharpCheck()->isChecked());

    QTest::mouseClick(page.FrameRadio(), Qt::LeftButton);
    QTest::mouseClick(page.SharpCheck(), Qt::LeftButton);
    EXPECT_FALSE(page.MakeJob().sharp);
    const PanoMap map = projector.BuildPanoDomeMap(598, 298, 298, 220, page.VerticalAngle());
    const auto expected = projector.RenderPanoDome(page.PreviewPanorama(), map.get(), 298, page.HorizontalAngle());
    EXPECT_EQ(test::PixelsOf(page.PreviewDome()), test::PixelsOf(*expected));
}

// The samples choice reaches the job, and the preview shows its sub-samples.
TEST_F(Pano2DomePageTest, TheSamplesChoiceReachesTheJobAndThePreview)
{
    OpenThroughDialog(WritePanorama(1000, 500));
    EXPECT_EQ(page.SupersampleCombo()->currentIndex(), 0);
    EXPECT_EQ(page.MakeJob().supersample, 1);
    const std::vector<std::uint32_t> single = test::PixelsOf(page.PreviewDome());

    page.SupersampleCombo()->setCurrentIndex(2);
    Q_EMIT page.SupersampleCombo()->activated(2);
    EXPECT_EQ(page.MakeJob().supersample, 3);
    CPanoDomeProjector projector;
    const auto expected = projector.RenderPanoDomeSupersampled(page.PreviewPanorama(), 298,
                                                               static_cast<std::int32_t>(page.Fov()),
                                                               page.VerticalAngle(), page.HorizontalAngle(), 3,
                                                               PanoWrap::Sweep);
    ASSERT_TRUE(expected);
    EXPECT_EQ(test::PixelsOf(page.PreviewDome()), test::PixelsOf(*expected));
    EXPECT_NE(test::PixelsOf(page.PreviewDome()), single);
}

TEST_F(Pano2DomePageTest, DraggingWithABadFieldIsSilentAndSaveToPrompts)
{
    OpenThroughDialog(WritePanorama(600, 300));
    MessageBoxRecorder boxes;
    page.FovEdit()->setText("30");
    page.HorizontalSlider()->setValue(1900);
    EXPECT_TRUE(boxes.Texts().isEmpty());
    EXPECT_EQ(page.Fov(), 180u);  // the last good value
    EXPECT_EQ(page.HorizontalEdit()->text(), "10");

    QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
    EXPECT_EQ(boxes.Texts(), QStringList{"Please enter an integer between 90 and 360."});
}

TEST_F(Pano2DomePageTest, TheOutputHeightFollowsTheTypedWidth)
{
    Type(page.OutputWidthEdit(), "1001");
    EXPECT_EQ(page.OutputHeightEdit()->text(), "1001");
    EXPECT_EQ(page.OutputHeight(), 1001);
    // Digits only.
    QTest::keyClicks(page.OutputWidthEdit(), "-x");
    EXPECT_EQ(page.OutputWidthEdit()->text(), "1001");
}

TEST_F(Pano2DomePageTest, ModesEnableTheirFieldsAndShowTheirTargets)
{
    auto enabled = [this] {
        return std::vector<bool>{page.DurationEdit()->isEnabled(), page.FrameRateEdit()->isEnabled(),
                                 page.FormatCombo()->isEnabled(), page.FromEdit()->isEnabled(),
                                 page.ToEdit()->isEnabled()};
    };
    OpenThroughDialog(WritePanorama(600, 300));

    QTest::mouseClick(page.FrameRadio(), Qt::LeftButton);
    EXPECT_EQ(page.Mode(), 1);
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true, true, true}));
    {
        FolderPickerAnswer picker("/tmp/frames");
        page.FormatCombo()->setCurrentIndex(2);
        QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
        EXPECT_EQ(picker.Calls(), 1);
        EXPECT_EQ(picker.LastTitle(), FolderPickerTitle());
    }
    EXPECT_EQ(page.SavePathEdit()->text(), "/tmp/frames");
    EXPECT_EQ(page.FrameFormat(), "png");

    QTest::mouseClick(page.VideoRadio(), Qt::LeftButton);
    EXPECT_EQ(page.Mode(), 2);
    EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false, true, true}));
    EXPECT_EQ(page.SavePathEdit()->text(), "");
    {
        FileDialogAnswer answer("/tmp/out/sweep.mov");
        QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
        ASSERT_EQ(answer.Requests().size(), 1u);
        const FileDialogRequest& request = answer.Requests().front();
        EXPECT_EQ(request.mode, FileDialogRequest::Mode::Save);
        EXPECT_EQ(request.title, "Save Video");
        EXPECT_EQ(request.fileName, "video1");
        EXPECT_EQ(request.defaultSuffix, "avi");
        EXPECT_TRUE(request.confirmOverwrite);
        ASSERT_EQ(request.filters.size(), 4);
        EXPECT_TRUE(request.filters[0].contains("*.avi") && request.filters[0].contains("*.AVI"));
        EXPECT_TRUE(request.filters[1].contains("*.mov"));
        EXPECT_TRUE(request.filters[2].contains("*.mp4"));
        EXPECT_EQ(request.directory, QDir::homePath());
    }
    EXPECT_EQ(page.VideoPath(), "/tmp/out/sweep.mov");
    // The dialog offers what the chosen codec goes into.
    struct Offer {
        VideoCodec codec;
        QStringList filters;
        QString suffix;
    };
    for (const Offer& offer :
         {Offer{VideoCodec::ProRes, {"MOV (*.mov *.MOV)", "All Files (*)"}, "mov"},
          Offer{VideoCodec::Hevc, {"MOV (*.mov *.MOV)", "MP4 (*.mp4 *.MP4)", "All Files (*)"}, "mov"},
          Offer{VideoCodec::Ffv1, {"MKV (*.mkv *.MKV)", "MOV (*.mov *.MOV)", "All Files (*)"}, "mkv"}}) {
        settings.stream.codec = offer.codec;
        FileDialogAnswer answer("/tmp/out/sweep.mov");
        QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
        ASSERT_EQ(answer.Requests().size(), 1u);
        EXPECT_EQ(answer.Requests().front().filters, offer.filters);
        EXPECT_EQ(answer.Requests().front().defaultSuffix, offer.suffix);
    }
    settings.stream.codec = VideoCodec::H264;

    QTest::mouseClick(page.ImageRadio(), Qt::LeftButton);
    EXPECT_EQ(page.Mode(), 0);
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false, false, false}));
    {
        FileDialogAnswer answer("/tmp/out/dome.png");
        QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
        ASSERT_EQ(answer.Requests().size(), 1u);
        const FileDialogRequest& request = answer.Requests().front();
        EXPECT_EQ(request.title, "Save Image");
        EXPECT_EQ(request.fileName, "image1");
        EXPECT_EQ(request.defaultSuffix, "jpg");
        EXPECT_TRUE(request.confirmOverwrite);
        EXPECT_EQ(request.filters.size(), 7);
    }
    EXPECT_EQ(page.SavePathEdit()->text(), "/tmp/out/dome.png");

    // Each mode keeps its own target, and a switch keeps what was typed.
    QTest::mouseClick(page.FrameRadio(), Qt::LeftButton);
    EXPECT_EQ(page.SavePathEdit()->text(), "/tmp/frames");
    Type(page.DurationEdit(), "7");
    Type(page.FromEdit(), "-500");
    QTest::mouseClick(page.VideoRadio(), Qt::LeftButton);
    EXPECT_EQ(page.SavePathEdit()->text(), "/tmp/out/sweep.mov");
    EXPECT_EQ(page.DurationEdit()->text(), "7");
    EXPECT_EQ(page.FromEdit()->text(), "-500");
}

TEST_F(Pano2DomePageTest, SaveToNeedsAnOutputWidthAndAPanorama)
{
    MessageBoxRecorder boxes;
    FileDialogAnswer answer("/tmp/x.jpg");
    QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
    Type(page.OutputWidthEdit(), "500");
    QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
    EXPECT_EQ(boxes.Texts(), (QStringList{"Please check output 'Width'! ", "No input image! "}));
    EXPECT_TRUE(answer.Requests().empty());
    EXPECT_EQ(page.SavePathEdit()->text(), "");
}

// Reads the packets of a video without decoding: how many, how many key.
struct PacketCount {
    int packets = 0;
    int keys = 0;
};

PacketCount CountVideoPackets(const std::filesystem::path& path)
{
    PacketCount count;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return count;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        AVPacket* packet = av_packet_alloc();
        while (stream >= 0 && av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream) {
                ++count.packets;
                if (packet->flags & AV_PKT_FLAG_KEY) ++count.keys;
            }
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
    avformat_close_input(&format);
    return count;
}

class Pano2DomePageJobTest : public Pano2DomePageTest {
public:
    Pano2DomePageJobTest()
    {
        OpenThroughDialog(WritePanorama(400, 200));
        Type(page.OutputWidthEdit(), "64");
    }

    void ChooseFrames(const QString& format = "jpg")
    {
        QTest::mouseClick(page.FrameRadio(), Qt::LeftButton);
        page.FormatCombo()->setCurrentText(format);
        FolderPickerAnswer picker(QString::fromStdString(dir.Path().string()));
        QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
    }

    void ChooseVideo(const QString& name)
    {
        QTest::mouseClick(page.VideoRadio(), Qt::LeftButton);
        FileDialogAnswer answer(QString::fromStdString((dir.Path() / name.toStdString()).string()));
        QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
    }

    void Sweep(const QString& duration, const QString& rate)
    {
        Type(page.DurationEdit(), duration);
        Type(page.FrameRateEdit(), rate);
    }

    // Begin, then wait for the job's end message; the highest progress seen.
    int RunToEnd(QStringList& texts)
    {
        MessageBoxRecorder boxes;
        QSignalSpy ended(&page, &CPano2DomePage::JobEnded);
        int highest = 0;
        QObject::connect(page.ProgressBar(), &QProgressBar::valueChanged, &page,
                         [&highest](int value) { highest = std::max(highest, value); });
        QTest::mouseClick(page.BeginButton(), Qt::LeftButton);
        EXPECT_TRUE(ended.wait(60000));
        texts = boxes.Texts();
        return highest;
    }

    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(Pano2DomePageJobTest, BeginRefusesWhatTheJobCannotDoAndStartsNothing)
{
    MessageBoxRecorder boxes;
    auto begin = [&](const char* expected) {
        const qsizetype before = boxes.Texts().size();
        QTest::mouseClick(page.BeginButton(), Qt::LeftButton);
        ASSERT_EQ(boxes.Texts().size(), before + 1);
        EXPECT_EQ(boxes.Texts().back(), expected);
        EXPECT_FALSE(page.IsJobRunning());
        EXPECT_TRUE(page.BeginButton()->isEnabled());
        EXPECT_TRUE(page.OpenButton()->isEnabled());
    };
    begin("Empty path!");
    ChooseVideo("odd.avi");
    Type(page.OutputWidthEdit(), "1001");
    begin("Output 'width' must be a even number");
    Type(page.OutputWidthEdit(), "0");
    begin("Please check output 'Width'! ");
    Type(page.OutputWidthEdit(), "64");
    Type(page.FromEdit(), "10");
    Type(page.ToEdit(), "-10");
    begin("Please check horizontal angle range");
    Type(page.ToEdit(), "10");
    Type(page.DurationEdit(), "0");
    begin(pano2dome_text::kCheckDuration);
    Type(page.DurationEdit(), "5");
    Type(page.FrameRateEdit(), "0");
    begin(pano2dome_text::kCheckFrameRate);
    // A field out of its range gets the framework prompt first.
    Type(page.FrameRateEdit(), "25");
    Type(page.FromEdit(), "-181");
    begin("Please enter an integer between -180 and 180.");
    EXPECT_EQ(Files(), std::vector<std::string>{"pano.bmp"});  // nothing written
}

TEST_F(Pano2DomePageJobTest, TheDepthFollowsTheTargetsFormatAndReachesTheFiles)
{
    auto offered = [this] {
        const auto* model = qobject_cast<const QStandardItemModel*>(page.DepthCombo()->model());
        std::vector<bool> entries;
        for (int i = 0; i < page.DepthCombo()->count(); ++i) entries.push_back(model->item(i)->isEnabled());
        return entries;
    };
    constexpr bool on = true;
    constexpr bool off = false;
    // Image mode before a file is chosen: every depth; then the file's format.
    EXPECT_EQ(offered(), (std::vector<bool>{on, on, on, on}));
    {
        FileDialogAnswer answer(QString::fromStdString((dir / "dome.exr").string()));
        QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
    }
    EXPECT_EQ(offered(), (std::vector<bool>{on, off, on, on}));
    EXPECT_EQ(page.DepthCombo()->itemText(2), "half");
    // Frames: the format list's.
    ChooseFrames("jpg");
    EXPECT_EQ(offered(), (std::vector<bool>{on, on, off, off}));
    EXPECT_EQ(page.DepthCombo()->itemText(2), "16-bit");
    page.FormatCombo()->setCurrentText("png");
    EXPECT_EQ(offered(), (std::vector<bool>{on, on, on, off}));

    page.DepthCombo()->setCurrentIndex(2);
    Sweep("1", "2");
    QStringList texts;
    RunToEnd(texts);
    EXPECT_EQ(texts, QStringList{"Finished! "});
    CImageBuffer frame;
    ASSERT_TRUE(frame.Load(dir / "0000.png"));
    EXPECT_EQ(frame.GetChannelType(), ChannelType::Uint16) << "a 16-bit file from an 8-bit panorama";

    page.DepthCombo()->setCurrentIndex(1);
    page.DitherCombo()->setCurrentIndex(2);
    ASSERT_TRUE(page.UpdateData(true));
    EXPECT_EQ(page.MakeJob().writeOptions.depth, kDepth8);
    EXPECT_EQ(page.MakeJob().writeOptions.dither, Dither::None);

    // A depth the format lacks stays chosen and Begin refuses it as the command line does.
    page.DepthCombo()->setCurrentIndex(3);
    page.FormatCombo()->setCurrentText("bmp");
    EXPECT_EQ(page.DepthCombo()->currentText(), "float");
    MessageBoxRecorder boxes;
    QTest::mouseClick(page.BeginButton(), Qt::LeftButton);
    EXPECT_EQ(boxes.Texts(), QStringList{"BMP files hold 8-bit samples only."});
    EXPECT_FALSE(page.IsJobRunning());
}

TEST_F(Pano2DomePageJobTest, BeginWithoutAPanoramaSaysSo)
{
    CPano2DomePage empty(settings);
    MessageBoxRecorder boxes;
    QTest::mouseClick(empty.BeginButton(), Qt::LeftButton);
    EXPECT_EQ(boxes.Texts(), QStringList{"No input image! "});
}

TEST_F(Pano2DomePageJobTest, FramesJobWritesEveryFrameDrivesTheBarAndEndsFinished)
{
    ChooseFrames("png");
    Sweep("1", "4");
    QStringList texts;
    const int highest = RunToEnd(texts);
    EXPECT_EQ(texts, QStringList{"Finished! "});
    EXPECT_EQ(highest, 4);
    EXPECT_EQ(page.ProgressBar()->value(), 0);
    EXPECT_EQ(Files(), (std::vector<std::string>{"0000.png", "0001.png", "0002.png", "0003.png", "pano.bmp"}));
    CImageBuffer frame;
    ASSERT_TRUE(frame.Load(dir / "0003.png"));
    EXPECT_EQ(frame.GetWidth(), 64);
    EXPECT_EQ(frame.GetHeight(), 64);

    EXPECT_TRUE(page.BeginButton()->isEnabled());
    EXPECT_FALSE(page.PauseButton()->isEnabled());
    EXPECT_FALSE(page.ContinueButton()->isEnabled());
    EXPECT_FALSE(page.StopButton()->isEnabled());
    EXPECT_TRUE(page.OpenButton()->isEnabled());
    EXPECT_TRUE(page.OutputWidthEdit()->isEnabled());
}

TEST_F(Pano2DomePageJobTest, VideoJobCarriesTheVideoSettingsToTheEncoder)
{
    // Every frame a key frame, two passes: both visible from outside.
    settings.keyFrameMode = VideoEncoderSettings::kKeyFramesAll;
    settings.twoPass = true;
    settings.quality = 30;
    ChooseVideo("sweep.avi");
    Sweep("1", "6");
    QStringList texts;
    const int highest = RunToEnd(texts);
    EXPECT_EQ(texts, QStringList{"Finished! "});
    EXPECT_EQ(highest, 12);  // six frames, twice
    const PacketCount count = CountVideoPackets(dir / "sweep.avi");
    EXPECT_EQ(count.packets, 6);
    EXPECT_EQ(count.keys, 6);

    // Settings changed after a job reach the next one.
    settings.keyFrameMode = VideoEncoderSettings::kKeyFramesEvery;
    settings.keyFrameEvery = 24;
    settings.twoPass = false;
    ChooseVideo("second.mov");
    EXPECT_EQ(RunToEnd(texts), 6);
    const PacketCount second = CountVideoPackets(dir / "second.mov");
    EXPECT_EQ(second.packets, 6);
    EXPECT_EQ(second.keys, 1);
}

TEST_F(Pano2DomePageJobTest, VideoJobTakesTheCodecAndABroadcastRate)
{
    settings.stream = {VideoCodec::ProRes, VideoProfile::Automatic, true};
    ChooseVideo("sweep.mov");
    Sweep("1", "29.97");
    QStringList texts;
    EXPECT_EQ(RunToEnd(texts), 30);  // 29.97 frames for a second, rounded
    EXPECT_EQ(texts, QStringList{"Finished! "});
    const std::optional<test::VideoFacts> facts = test::ReadVideo(dir / "sweep.mov");
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->codec, "prores");
    EXPECT_EQ(facts->profile, "4444");
    EXPECT_TRUE(facts->hasAlpha);
    EXPECT_EQ(facts->frames, 30);
    EXPECT_EQ(av_cmp_q(facts->frameRate, AVRational{30000, 1001}), 0);

    // A stream that cannot carry the domes is refused at Begin.
    settings.stream = {VideoCodec::Hap};
    Type(page.OutputWidthEdit(), "66");
    MessageBoxRecorder boxes;
    QTest::mouseClick(page.BeginButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.Texts().size(), 1);
    EXPECT_TRUE(boxes.Texts()[0].startsWith("HAP compresses blocks of 4 x 4 pixels")) << boxes.Texts()[0].toStdString();
    EXPECT_FALSE(page.IsJobRunning());
}

TEST(Pano2DomePageInWindowTest, TheVideoDialogOfTheMainWindowReachesThePagesJob)
{
    test::TempDir dir;
    CImageBuffer pano = test::MakePatternImage(300, 150, 3);
    ASSERT_TRUE(pano.Save(dir / "pano.bmp"));

    CSkelvaneDlg window;
    auto* page = new CPano2DomePage(window.VideoSettings());
    window.SetPages(nullptr, page);
    CVideoSettingDlg& video = *window.VideoSettingDlg();
    video.show();
    QTest::mouseClick(video.AllRadio(), Qt::LeftButton);
    QTest::mouseClick(video.OkButton(), Qt::LeftButton);

    page->LoadPanorama(QString::fromStdString((dir / "pano.bmp").string()));
    page->OutputWidthEdit()->setText("48");
    QTest::mouseClick(page->VideoRadio(), Qt::LeftButton);
    {
        FileDialogAnswer answer(QString::fromStdString((dir / "all.mov").string()));
        QTest::mouseClick(page->SaveToButton(), Qt::LeftButton);
    }
    page->DurationEdit()->setText("1");
    page->FrameRateEdit()->setText("5");
    MessageBoxRecorder boxes;
    QSignalSpy ended(page, &CPano2DomePage::JobEnded);
    QTest::mouseClick(page->BeginButton(), Qt::LeftButton);
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_EQ(boxes.Texts(), QStringList{"Finished! "});
    const PacketCount count = CountVideoPackets(dir / "all.mov");
    EXPECT_EQ(count.packets, 5);
    EXPECT_EQ(count.keys, 5);
}

TEST_F(Pano2DomePageJobTest, StopAnsweredNoLeavesAPausedJobPausedAndYesStopsIt)
{
    ChooseFrames("bmp");
    Sweep("600", "25");  // far more frames than the test waits for
    MessageBoxRecorder boxes(MessageAnswer::No);
    QSignalSpy ended(&page, &CPano2DomePage::JobEnded);
    QTest::mouseClick(page.BeginButton(), Qt::LeftButton);
    ASSERT_TRUE(page.IsJobRunning());
    EXPECT_FALSE(page.BeginButton()->isEnabled());
    EXPECT_FALSE(page.OpenButton()->isEnabled());
    EXPECT_FALSE(page.SaveToButton()->isEnabled());
    EXPECT_FALSE(page.DurationEdit()->isEnabled());
    EXPECT_TRUE(page.StopButton()->isEnabled());

    QTest::mouseClick(page.PauseButton(), Qt::LeftButton);
    EXPECT_TRUE(page.JobPaused());
    QTest::mouseClick(page.StopButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "The task is not finish, stop it anyway? ");
    EXPECT_EQ(boxes.Boxes()[0].title, "Warning!");
    EXPECT_EQ(boxes.Boxes()[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(page.JobPaused());
    EXPECT_TRUE(page.ContinueButton()->isEnabled());
    EXPECT_FALSE(page.PauseButton()->isEnabled());
    EXPECT_TRUE(page.StopButton()->isEnabled());
    QTest::qWait(50);
    EXPECT_TRUE(ended.isEmpty());

    // Yes on the paused job: it runs on to the end of its frame and stops.
    boxes.AnswerNext(MessageAnswer::Yes);
    QTest::mouseClick(page.StopButton(), Qt::LeftButton);
    EXPECT_FALSE(page.StopButton()->isEnabled());
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_EQ(boxes.Texts().back(), "User break down the task! ");
    EXPECT_FALSE(page.IsJobRunning());
    EXPECT_TRUE(page.BeginButton()->isEnabled());
    EXPECT_LT(Files().size(), 15000u);
}

TEST_F(Pano2DomePageJobTest, ImageJobEndsWithTheFieldsOfImageModeGivenBack)
{
    FileDialogAnswer answer(QString::fromStdString((dir / "dome.png").string()));
    QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
    QStringList texts;
    EXPECT_EQ(RunToEnd(texts), 0);  // image mode never moves the bar
    EXPECT_EQ(texts, QStringList{"Finished! "});
    CImageBuffer dome;
    ASSERT_TRUE(dome.Load(dir / "dome.png"));
    EXPECT_EQ(dome.GetWidth(), 64);
    EXPECT_EQ(page.Mode(), 0);
    // Image mode has no sweep: its fields stay off after the job as before it.
    EXPECT_FALSE(page.DurationEdit()->isEnabled());
    EXPECT_FALSE(page.FrameRateEdit()->isEnabled());
    EXPECT_FALSE(page.FromEdit()->isEnabled());
    EXPECT_FALSE(page.ToEdit()->isEnabled());
    EXPECT_TRUE(page.OpenButton()->isEnabled());
}

TEST_F(Pano2DomePageJobTest, FramesThatExistAreWrittenOverOnlyWhenTheUserSaysSo)
{
    ChooseFrames("png");
    Sweep("1", "4");
    QStringList texts;
    RunToEnd(texts);
    ASSERT_EQ(texts, QStringList{"Finished! "});
    const auto written = std::filesystem::last_write_time(dir / "0000.png");

    // The same sweep again, answered No: nothing starts, nothing is touched.
    {
        MessageBoxRecorder boxes(MessageAnswer::No);
        QTest::mouseClick(page.BeginButton(), Qt::LeftButton);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Texts()[0], QStringLiteral("\"%1\" and 3 more frames of this sweep already exist.\n"
                                                   "Do you want to replace them?")
                                        .arg(QString::fromStdString((dir / "0000.png").string())));
        EXPECT_EQ(boxes.Boxes()[0].buttons, MessageButtons::YesNo);
        EXPECT_FALSE(page.IsJobRunning());
        EXPECT_TRUE(page.BeginButton()->isEnabled());
        EXPECT_EQ(std::filesystem::last_write_time(dir / "0000.png"), written);
    }
    // A shorter sweep, answered Yes: it runs, and the question told of the older frames that stay.
    Sweep("1", "2");
    MessageBoxRecorder boxes(MessageAnswer::Yes);
    QSignalSpy ended(&page, &CPano2DomePage::JobEnded);
    QTest::mouseClick(page.BeginButton(), Qt::LeftButton);
    ASSERT_TRUE(ended.wait(60000));
    ASSERT_EQ(boxes.Texts().size(), 2);
    EXPECT_TRUE(boxes.Texts()[0].contains("and 1 more frames of this sweep already exist. 2 older frames numbered "
                                          "past this sweep stay as they are.\nDo you want to replace them?"))
        << boxes.Texts()[0].toStdString();
    EXPECT_EQ(boxes.Texts()[1], "Finished! ");
}

TEST_F(Pano2DomePageJobTest, TheRenderNeverWritesOverItsOwnPanorama)
{
    FileDialogAnswer answer(QString::fromStdString((dir / "pano.bmp").string()));
    QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
    const auto before = test::ReadFileBytes(dir / "pano.bmp");
    MessageBoxRecorder boxes(MessageAnswer::Yes);
    QTest::mouseClick(page.BeginButton(), Qt::LeftButton);
    ASSERT_EQ(boxes.Texts().size(), 1);
    EXPECT_TRUE(boxes.Texts()[0].endsWith("is the panorama being rendered; it is never written over: choose another "
                                          "output."))
        << boxes.Texts()[0].toStdString();
    EXPECT_FALSE(page.IsJobRunning());
    QTest::qWait(50);
    EXPECT_EQ(test::ReadFileBytes(dir / "pano.bmp"), before);
}

TEST_F(Pano2DomePageJobTest, AFailedRenderIsReportedWithAWarningThatSaysWhy)
{
    ChooseFrames("png");
    Sweep("1", "2");
    // The frame folder goes after it was chosen.
    const auto folder = dir / "frames";
    std::filesystem::create_directories(folder);
    {
        FolderPickerAnswer picker(QString::fromStdString(folder.string()));
        QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
    }
    std::filesystem::remove(folder);
    MessageBoxRecorder boxes;
    QSignalSpy ended(&page, &CPano2DomePage::JobEnded);
    QTest::mouseClick(page.BeginButton(), Qt::LeftButton);
    ASSERT_TRUE(ended.count() > 0 || ended.wait(60000));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_TRUE(boxes.Texts()[0].startsWith("Some error has happened, the render is not finished! \n\n"))
        << boxes.Texts()[0].toStdString();
    EXPECT_EQ(boxes.Boxes()[0].icon, MessageIcon::Warning);
}

TEST_F(Pano2DomePageTest, ReadOnlyFieldsLookReadOnly)
{
    const QColor typed = test::FieldBackground(page.FovEdit());
    for (QLineEdit* field : {page.HorizontalEdit(), page.VerticalEdit(), page.InputWidthEdit(),
                             page.InputHeightEdit(), page.OutputHeightEdit(), page.SavePathEdit()}) {
        EXPECT_TRUE(field->isReadOnly());
        EXPECT_NE(test::FieldBackground(field), typed) << field->text().toStdString();
    }
    EXPECT_EQ(test::FieldBackground(page.OutputWidthEdit()), typed);
}

TEST_F(Pano2DomePageJobTest, ARenderLocksWhatItReadsAndItsEndGivesBackWhatTheModeEnables)
{
    const std::vector<QWidget*> locked = {
        page.OpenButton(),    page.InputPathEdit(), page.OutputWidthEdit(), page.SaveToButton(),
        page.FovEdit(),       page.ImageRadio(),    page.FrameRadio(),      page.VideoRadio(),
        page.DurationEdit(),  page.FrameRateEdit(), page.FormatCombo(),     page.FromEdit(),
        page.ToEdit(),        page.SharpCheck(),    page.DepthCombo(),      page.DitherCombo()};
    auto enabling = [&locked] {
        std::vector<bool> enabled;
        for (QWidget* control : locked) enabled.push_back(control->isEnabled());
        return enabled;
    };
    constexpr bool on = true;
    constexpr bool off = false;
    const struct {
        int mode;
        std::vector<bool> idle;  // as `locked` lists them
    } modes[] = {
        // Open, input, width, Save to, FOV, the modes; duration, rate, format, from, to, sharp;
        // depth, and dither (8-bit BMP frames, and deep domes into an 8-bit stream; PNG holds 16 bits).
        {CPano2DomePage::kImageMode, {on, on, on, on, on, on, on, on, off, off, off, off, off, off, on, off}},
        {CPano2DomePage::kFrameMode, {on, on, on, on, on, on, on, on, on, on, on, on, on, on, on, on}},
        {CPano2DomePage::kVideoMode, {on, on, on, on, on, on, on, on, on, on, off, on, on, on, off, on}},
    };
    for (const auto& each : modes) {
        SCOPED_TRACE(each.mode);
        if (each.mode == CPano2DomePage::kImageMode) {
            QTest::mouseClick(page.ImageRadio(), Qt::LeftButton);
            FileDialogAnswer answer(QString::fromStdString((dir / "dome.png").string()));
            QTest::mouseClick(page.SaveToButton(), Qt::LeftButton);
        } else if (each.mode == CPano2DomePage::kFrameMode) {
            ChooseFrames("bmp");
        } else {
            ChooseVideo("locked.avi");
        }
        Sweep("600", "25");
        EXPECT_EQ(enabling(), each.idle);

        MessageBoxRecorder boxes(MessageAnswer::Yes);
        QSignalSpy ended(&page, &CPano2DomePage::JobEnded);
        QTest::mouseClick(page.BeginButton(), Qt::LeftButton);
        // Locked before the job can have sent anything back.
        EXPECT_EQ(enabling(), std::vector<bool>(locked.size(), false));
        if (each.mode != CPano2DomePage::kImageMode) QTest::mouseClick(page.StopButton(), Qt::LeftButton);
        ASSERT_TRUE(ended.count() > 0 || ended.wait(60000));
        EXPECT_EQ(page.Mode(), each.mode);
        EXPECT_EQ(enabling(), each.idle);
    }
}

TEST_F(Pano2DomePageJobTest, APageDestroyedDuringAJobStopsAndJoinsItFirst)
{
    auto doomed = std::make_unique<CPano2DomePage>(settings);
    {
        FileDialogAnswer open(QString::fromStdString((dir / "pano.bmp").string()));
        QTest::mouseClick(doomed->OpenButton(), Qt::LeftButton);
    }
    QTest::mouseClick(doomed->FrameRadio(), Qt::LeftButton);
    {
        FolderPickerAnswer picker(QString::fromStdString(dir.Path().string()));
        QTest::mouseClick(doomed->SaveToButton(), Qt::LeftButton);
    }
    Type(doomed->DurationEdit(), "600");
    MessageBoxRecorder boxes;
    QTest::mouseClick(doomed->BeginButton(), Qt::LeftButton);
    ASSERT_TRUE(doomed->IsJobRunning());
    QTest::qWait(20);
    doomed.reset();  // must neither hang nor leave a worker behind
    QTest::qWait(20);
    EXPECT_TRUE(boxes.Texts().isEmpty());
}

}  // namespace
}  // namespace skelvane
