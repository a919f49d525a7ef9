// The Pano2Dome page, driven through its own controls on the offscreen
// platform; dialogs and message boxes are answered by the test.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include "app/PreviewPane.h"
#include "app/UiTestSupport.h"
#include "engine/PanoDomeProjector.h"
#include "pano2dome/ui/Pano2DomePage.h"
#include "support/TempDir.h"
#include <QDir>
#include "support/TestImages.h"

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
    ASSERT_EQ(lastOpen.filters.size(), 5);
    EXPECT_TRUE(lastOpen.filters[0].startsWith("JPEG"));
    EXPECT_TRUE(lastOpen.filters[0].contains("*.jpg"));
    EXPECT_TRUE(lastOpen.filters[0].contains("*.JPEG"));
    EXPECT_TRUE(lastOpen.filters[3].contains("*.tga"));
    EXPECT_EQ(lastOpen.filters[4], AllFilesFilter());

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
    EXPECT_EQ(ProposedOutputSize(1024, 180), 1155);
    EXPECT_EQ(ProposedOutputSize(1024, 90), 817);
    EXPECT_EQ(ProposedOutputSize(1024, 360), 1634);
    EXPECT_EQ(ProposedOutputSize(0, 180), 0);

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
        ASSERT_EQ(request.filters.size(), 3);
        EXPECT_TRUE(request.filters[0].contains("*.avi") && request.filters[0].contains("*.AVI"));
        EXPECT_TRUE(request.filters[1].contains("*.mov"));
        EXPECT_EQ(request.directory, QDir::homePath());
    }
    EXPECT_EQ(page.VideoPath(), "/tmp/out/sweep.mov");

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
        EXPECT_EQ(request.filters.size(), 5);
    }
    EXPECT_EQ(page.SavePathEdit()->text(), "/tmp/out/dome.png");

    // Each mode keeps its own target.
    QTest::mouseClick(page.FrameRadio(), Qt::LeftButton);
    EXPECT_EQ(page.SavePathEdit()->text(), "/tmp/frames");
    QTest::mouseClick(page.VideoRadio(), Qt::LeftButton);
    EXPECT_EQ(page.SavePathEdit()->text(), "/tmp/out/sweep.mov");
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

}  // namespace
}  // namespace skelvane
