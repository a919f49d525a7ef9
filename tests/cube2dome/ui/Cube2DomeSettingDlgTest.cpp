// The Cube2Dome settings dialog, driven through its own controls.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardItemModel>
#include <QTest>

#include "SampleSequence.h"
#include "cube2dome/Cube2DomeJob.h"
#include "cube2dome/ui/Cube2DomeSettingDlg.h"
#include "support/TempDir.h"
#include "ui/FieldExchange.h"
#include "ui/FileDialog.h"
#include "ui/UiTestSupport.h"

namespace skelvane {
namespace {

using test::FileDialogAnswer;
using test::FolderPickerAnswer;
using test::MessageBoxRecorder;
using test::ToQString;

constexpr int kFrames = 4;
constexpr int kFaceSide = 40;

void Choose(QComboBox* combo, int index)
{
    QTest::keyClick(combo, Qt::Key_Home);
    for (int i = 0; i < index; ++i) QTest::keyClick(combo, Qt::Key_Down);
    ASSERT_EQ(combo->currentIndex(), index);
}

void TypeInto(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    if (!text.isEmpty()) QTest::keyClicks(edit, text);
}

QStringList Entries(const QComboBox* combo)
{
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
    return entries;
}

// Which entries of a list can be chosen.
std::vector<bool> Offered(const QComboBox* combo)
{
    const auto* model = qobject_cast<const QStandardItemModel*>(combo->model());
    std::vector<bool> offered;
    for (int i = 0; i < combo->count(); ++i) offered.push_back(model->item(i)->isEnabled());
    return offered;
}

class SettingDlgTest : public ::testing::Test {
public:
    SettingDlgTest() { dlg.show(); }

    // Upper folder and save folder chosen with the dialog's own buttons.
    void ChooseUpperFolder(const QString& folder)
    {
        FolderPickerAnswer picker(folder);
        dlg.UpperDirButton()->click();
        ASSERT_EQ(picker.Calls(), 1);
    }
    void ChooseSaveFolder(const QString& folder)
    {
        FolderPickerAnswer picker(folder);
        dlg.SaveDirButton()->click();
    }
    // Accept, and the messages it showed.
    QStringList Accept()
    {
        MessageBoxRecorder boxes;
        dlg.AcceptButton()->click();
        return boxes.Texts();
    }

    test::TempDir temp;
    CCube2DomeSettingDlg dlg;
};

TEST_F(SettingDlgTest, StartsWithTheFirstChoicesBottomOffAndAllFrames)
{
    EXPECT_EQ(dlg.windowTitle(), "Cube2Dome Setting");
    EXPECT_EQ(Entries(dlg.FacesCombo()), QStringList({"5", "6"}));
    EXPECT_EQ(Entries(dlg.InputFormatCombo()), QStringList({"bmp", "jpg", "png", "tga", "tif", "exr"}));
    EXPECT_EQ(Entries(dlg.OutputFormatCombo()), QStringList({"bmp", "jpg", "png", "tga", "tif", "exr"}));
    EXPECT_EQ(Entries(dlg.SerialCombo()),
              QStringList({"03", "04", "05", "06", "07", "08", "09", "10", "11", "12"}));
    EXPECT_EQ(Entries(dlg.FaceSerialCombo(Top)), QStringList({"01", "02", "03", "04", "05", "06"}));
    for (QComboBox* combo : {dlg.FacesCombo(), dlg.InputFormatCombo(), dlg.OutputFormatCombo(), dlg.SerialCombo()}) {
        EXPECT_EQ(combo->currentIndex(), 0);
    }
    EXPECT_EQ(dlg.FaceSerialCombo(Left)->currentText(), "05");

    EXPECT_FALSE(dlg.FaceRadio(Bottom)->isEnabled());
    EXPECT_FALSE(dlg.FacePathEdit(Bottom)->isEnabled());
    EXPECT_FALSE(dlg.FaceButton(Bottom)->isEnabled());
    EXPECT_TRUE(dlg.FaceRadio(Top)->isEnabled());
    for (int k = 0; k < kCubeFaceCount; ++k) {
        EXPECT_FALSE(dlg.FaceRadio(k)->isChecked());
        EXPECT_FALSE(dlg.FacePrefixEdit(k)->isEnabled());
        EXPECT_FALSE(dlg.FaceSerialCombo(k)->isEnabled());
    }
    EXPECT_EQ(dlg.FacePrefixEdit(Front)->text(), "F");
    EXPECT_TRUE(dlg.IgnoreCheck()->isChecked());
    EXPECT_TRUE(dlg.FrameModeRadio(CCube2DomeSettingDlg::kAllFrames)->isChecked());
    EXPECT_FALSE(dlg.SingleFrameEdit()->isEnabled());
    EXPECT_FALSE(dlg.FromFrameEdit()->isEnabled());
    EXPECT_FALSE(dlg.ToFrameEdit()->isEnabled());
    EXPECT_FALSE(dlg.HeightEdit()->isEnabled());
    EXPECT_TRUE(dlg.AngleEdit()->isReadOnly());
    EXPECT_TRUE(dlg.UpperDirEdit()->isReadOnly());
    EXPECT_EQ(dlg.OutputPrefixEdit()->text(), "FullDome_");
    EXPECT_EQ(dlg.InfoCount()->text(), "--");
    EXPECT_EQ(dlg.WidthEdit()->text(), "0");
    EXPECT_EQ(dlg.AngleEdit()->text(), "60");
    EXPECT_EQ(dlg.AngleSlider()->minimum(), 0);
    EXPECT_EQ(dlg.AngleSlider()->maximum(), 1800);
    EXPECT_EQ(dlg.AngleSlider()->pageStep(), 100);
    EXPECT_EQ(dlg.AngleSlider()->value(), 900);
}

TEST_F(SettingDlgTest, FacesAndIgnoreEnableTheBottomAndCheckControls)
{
    Choose(dlg.FacesCombo(), 1);
    EXPECT_TRUE(dlg.FaceRadio(Bottom)->isEnabled());
    EXPECT_TRUE(dlg.FacePathEdit(Bottom)->isEnabled());
    EXPECT_TRUE(dlg.FaceButton(Bottom)->isEnabled());
    EXPECT_FALSE(dlg.FacePrefixEdit(Bottom)->isEnabled());
    EXPECT_FALSE(dlg.FaceSerialCombo(Bottom)->isEnabled());

    dlg.IgnoreCheck()->click();
    for (int k = 0; k < kCubeFaceCount; ++k) {
        EXPECT_TRUE(dlg.FacePrefixEdit(k)->isEnabled()) << k;
        EXPECT_TRUE(dlg.FaceSerialCombo(k)->isEnabled()) << k;
    }

    // Five faces again while Bottom is the selected face: it goes off and unchecked.
    dlg.FaceRadio(Bottom)->click();
    ASSERT_TRUE(dlg.FaceRadio(Bottom)->isChecked());
    Choose(dlg.FacesCombo(), 0);
    EXPECT_FALSE(dlg.FaceRadio(Bottom)->isChecked());
    EXPECT_FALSE(dlg.FaceRadio(Bottom)->isEnabled());
    EXPECT_FALSE(dlg.FacePrefixEdit(Bottom)->isEnabled());
    EXPECT_TRUE(dlg.FacePrefixEdit(Top)->isEnabled());

    dlg.IgnoreCheck()->click();
    EXPECT_FALSE(dlg.FacePrefixEdit(Left)->isEnabled());

    dlg.FrameModeRadio(CCube2DomeSettingDlg::kSingleFrame)->click();
    EXPECT_TRUE(dlg.SingleFrameEdit()->isEnabled());
    EXPECT_FALSE(dlg.FromFrameEdit()->isEnabled());
    dlg.FrameModeRadio(CCube2DomeSettingDlg::kFrameRange)->click();
    EXPECT_FALSE(dlg.SingleFrameEdit()->isEnabled());
    EXPECT_TRUE(dlg.FromFrameEdit()->isEnabled());
    EXPECT_TRUE(dlg.ToFrameEdit()->isEnabled());
}

TEST_F(SettingDlgTest, UpperFolderListsTheFacesAndAcceptHandsThemOver)
{
    // No bottom folder: five faces need none.
    test::WriteSampleSequence(temp / "seq", kFrames, kFaceSide, 5);
    QSignalSpy accepted(&dlg, &CCube2DomeSettingDlg::SettingsAccepted);

    ChooseUpperFolder(ToQString(temp / "seq") + "/");
    EXPECT_EQ(dlg.FacePathEdit(Front)->text(), ToQString(temp / "seq" / "front"));
    EXPECT_EQ(dlg.FacePathEdit(Bottom)->text(), ToQString(temp / "seq" / "bottom"));
    EXPECT_TRUE(dlg.FaceRadio(Left)->isChecked());
    ASSERT_EQ(dlg.FileList()->count(), kFrames);
    EXPECT_EQ(dlg.FileList()->item(0)->text(), ToQString(temp / "seq" / "left" / "L00001.bmp"));
    EXPECT_EQ(dlg.InfoWidth()->text(), "40 pixel");
    EXPECT_EQ(dlg.InfoHeight()->text(), "40 pixel");
    EXPECT_EQ(dlg.InfoCount()->text(), "1 of 4");
    EXPECT_EQ(dlg.WidthEdit()->text(), "80");
    EXPECT_EQ(dlg.HeightEdit()->text(), "80");
    EXPECT_EQ(dlg.ToFrameEdit()->text(), "4");

    dlg.FileList()->setCurrentRow(2);
    EXPECT_EQ(dlg.InfoCount()->text(), "3 of 4");

    // Another face's radio shows that face's files.
    dlg.FaceRadio(Top)->click();
    ASSERT_EQ(dlg.FileList()->count(), kFrames);
    EXPECT_TRUE(dlg.FileList()->item(0)->text().endsWith("T00001.bmp"));

    // The same folder without the separator gives the same face folders.
    ChooseUpperFolder(ToQString(temp / "seq"));
    EXPECT_EQ(dlg.FacePathEdit(Front)->text(), ToQString(temp / "seq" / "front"));

    Choose(dlg.SerialCombo(), 9);
    Choose(dlg.OutputFormatCombo(), 2);
    TypeInto(dlg.OutputPrefixEdit(), "Dome_");
    dlg.AngleSlider()->setValue(600);
    EXPECT_EQ(dlg.AngleEdit()->text(), "-30");
    ChooseSaveFolder(ToQString(temp / "out"));
    EXPECT_EQ(dlg.SaveDirEdit()->text(), ToQString(temp / "out"));

    EXPECT_EQ(Accept(), QStringList());
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_FALSE(dlg.isVisible());
    const Cube2DomeSettings& settings = dlg.Settings();
    EXPECT_EQ(settings.faceCount, 5);
    EXPECT_EQ(settings.fromFrame, 1u);
    EXPECT_EQ(settings.toFrame, static_cast<unsigned>(kFrames));
    EXPECT_EQ(settings.outputWidth, 80u);
    EXPECT_EQ(settings.serialDigits, 12);
    EXPECT_EQ(settings.outputFormat, "png");
    EXPECT_EQ(settings.outputPrefix, "Dome_");
    EXPECT_FLOAT_EQ(settings.verticalAngle, -30.0f);
    EXPECT_EQ(settings.saveDir, (temp / "out").string());
    ASSERT_TRUE(settings.faceList[Left]);
    EXPECT_EQ(settings.faceList[Left]->Count(), static_cast<std::size_t>(kFrames));

    // Six faces without a bottom folder cannot be accepted.
    dlg.show();
    Choose(dlg.FacesCombo(), 1);
    EXPECT_EQ(Accept(), QStringList({"The input picture number is not same, please check! "}));
    EXPECT_TRUE(dlg.isVisible());
}

TEST_F(SettingDlgTest, FilterAndSamplesReachTheJob)
{
    EXPECT_EQ(Entries(dlg.FilterCombo()), QStringList({"nearest", "bilinear", "bicubic"}));
    EXPECT_EQ(Entries(dlg.SupersampleCombo()), QStringList({"1", "2", "3", "4"}));
    EXPECT_EQ(dlg.FilterCombo()->currentIndex(), 0);
    EXPECT_EQ(dlg.SupersampleCombo()->currentIndex(), 0);

    test::WriteSampleSequence(temp / "seq", kFrames, kFaceSide, 5);
    ChooseUpperFolder(ToQString(temp / "seq"));
    ChooseSaveFolder(ToQString(temp / "out"));
    EXPECT_EQ(Accept(), QStringList());
    EXPECT_TRUE(dlg.Settings().sampling.IsPlain()) << "the defaults stay the plain render";

    dlg.show();
    Choose(dlg.FilterCombo(), 2);
    Choose(dlg.SupersampleCombo(), 2);
    EXPECT_EQ(Accept(), QStringList());
    const CubeSampling chosen{CubeFilter::Bicubic, 3};
    EXPECT_EQ(dlg.Settings().sampling, chosen);
    EXPECT_EQ(MakeCube2DomeJob(dlg.Settings(), 180, 0.0f).sampling, chosen);
}

TEST_F(SettingDlgTest, TheOutputFormatLimitsTheDepthsAndTheChoicesReachTheJob)
{
    EXPECT_EQ(Entries(dlg.DepthCombo()), QStringList({"as input", "8-bit", "16-bit", "float"}));
    EXPECT_EQ(Entries(dlg.DitherCombo()), QStringList({"ordered", "diffusion", "none"}));
    constexpr bool on = true;
    constexpr bool off = false;
    const struct {
        const char* format;
        std::vector<bool> offered;  // as input, 8, 16, float
        const char* sixteen;
        bool dither;  // with "as input": deep faces can become 8-bit files
    } formats[] = {
        {"bmp", {on, on, off, off}, "16-bit", on}, {"jpg", {on, on, off, off}, "16-bit", on},
        {"png", {on, on, on, off}, "16-bit", off}, {"tga", {on, on, off, off}, "16-bit", on},
        {"tif", {on, on, on, on}, "16-bit", off},  {"exr", {on, off, on, on}, "half", off},
    };
    ASSERT_EQ(dlg.OutputFormatCombo()->count(), static_cast<int>(std::size(formats)));
    for (int i = 0; i < dlg.OutputFormatCombo()->count(); ++i) {
        SCOPED_TRACE(formats[i].format);
        Choose(dlg.OutputFormatCombo(), i);
        ASSERT_EQ(dlg.OutputFormatCombo()->currentText(), formats[i].format);
        EXPECT_EQ(Offered(dlg.DepthCombo()), formats[i].offered);
        EXPECT_EQ(dlg.DepthCombo()->itemText(2), formats[i].sixteen);
        EXPECT_EQ(dlg.DitherCombo()->isEnabled(), formats[i].dither);
        // The keyboard passes over what the format cannot write.
        QTest::keyClick(dlg.DepthCombo(), Qt::Key_End);
        const int deepest = formats[i].offered[3] ? 3 : formats[i].offered[2] ? 2 : 1;
        EXPECT_EQ(dlg.DepthCombo()->currentIndex(), deepest);
        EXPECT_EQ(dlg.DitherCombo()->isEnabled(), deepest == 1);
        QTest::keyClick(dlg.DepthCombo(), Qt::Key_Home);
    }

    test::WriteSampleSequence(temp / "seq", kFrames, kFaceSide, 5);
    ChooseUpperFolder(ToQString(temp / "seq"));
    ChooseSaveFolder(ToQString(temp / "out"));
    EXPECT_EQ(Accept(), QStringList());
    const ImageWriteOptions defaults = MakeCube2DomeJob(dlg.Settings(), 180, 0.0f).writeOptions;
    EXPECT_FALSE(defaults.depth) << "the faces' own depth";
    EXPECT_EQ(defaults.dither, Dither::Ordered);

    dlg.show();
    Choose(dlg.OutputFormatCombo(), 4);  // tif
    Choose(dlg.DepthCombo(), 1);
    Choose(dlg.DitherCombo(), 1);
    EXPECT_EQ(Accept(), QStringList());
    ImageWriteOptions written = MakeCube2DomeJob(dlg.Settings(), 180, 0.0f).writeOptions;
    EXPECT_EQ(written.depth, kDepth8);
    EXPECT_EQ(written.dither, Dither::Diffusion);

    // A depth chosen for one format stays when another is chosen, and Accept
    // refuses it as the command line does.
    dlg.show();
    Choose(dlg.DepthCombo(), 3);
    EXPECT_FALSE(dlg.DitherCombo()->isEnabled());
    Choose(dlg.OutputFormatCombo(), 1);  // jpg
    EXPECT_EQ(dlg.DepthCombo()->currentText(), "float");
    EXPECT_EQ(Accept(), QStringList({"The dome images cannot be written: JPEG files hold 8-bit samples only."}));
    EXPECT_TRUE(dlg.isVisible());
    Choose(dlg.OutputFormatCombo(), 5);  // exr
    EXPECT_EQ(Accept(), QStringList());
    written = MakeCube2DomeJob(dlg.Settings(), 180, 0.0f).writeOptions;
    EXPECT_EQ(written.depth, kDepthFloat);

    // A video has no depth to choose; its dither rounds deep domes into an 8-bit stream.
    dlg.show();
    dlg.VideoCheck()->click();
    EXPECT_FALSE(dlg.DepthCombo()->isEnabled());
    EXPECT_TRUE(dlg.DitherCombo()->isEnabled());
    dlg.VideoCheck()->click();
    EXPECT_TRUE(dlg.DepthCombo()->isEnabled());
    EXPECT_FALSE(dlg.DitherCombo()->isEnabled()) << "float into OpenEXR";
}

TEST_F(SettingDlgTest, TheVideoRowChoosesOneVideoInsteadOfNumberedImages)
{
    auto videoControlsOn = [&] {
        return std::vector<bool>{dlg.VideoPathEdit()->isEnabled(), dlg.VideoButton()->isEnabled(),
                                 dlg.FrameRateEdit()->isEnabled(), dlg.OutputPrefixEdit()->isEnabled(),
                                 dlg.SerialCombo()->isEnabled(), dlg.OutputFormatCombo()->isEnabled()};
    };
    EXPECT_FALSE(dlg.VideoCheck()->isChecked());
    EXPECT_EQ(dlg.FrameRateEdit()->text(), "25");
    EXPECT_EQ(videoControlsOn(), (std::vector<bool>{false, false, false, true, true, true}));
    dlg.VideoCheck()->click();
    EXPECT_EQ(videoControlsOn(), (std::vector<bool>{true, true, true, false, false, false}));

    test::WriteSampleSequence(temp / "seq", kFrames, kFaceSide, 5);
    ChooseUpperFolder(ToQString(temp / "seq"));
    EXPECT_EQ(Accept(), QStringList({"The video file is empty, please check! "}));
    {
        FileDialogAnswer answer(ToQString(temp / "cube.mov"));
        dlg.VideoButton()->click();
        ASSERT_EQ(answer.Requests().size(), 1u);
        EXPECT_EQ(answer.Requests().front().title, "Save Video");
        EXPECT_EQ(answer.Requests().front().filters, VideoFilters(VideoCodec::H264));
    }
    EXPECT_EQ(dlg.VideoPathEdit()->text(), ToQString(temp / "cube.mov"));
    TypeInto(dlg.FrameRateEdit(), "0");
    EXPECT_EQ(Accept(), QStringList({"The frame rate is zero, please check! "}));
    TypeInto(dlg.FrameRateEdit(), "1/");
    EXPECT_EQ(Accept(), QStringList({FrameRatePrompt()}));
    TypeInto(dlg.FrameRateEdit(), "29.97");
    EXPECT_EQ(Accept(), QStringList());
    const Cube2DomeSettings& settings = dlg.Settings();
    EXPECT_TRUE(settings.writeVideo);
    EXPECT_EQ(settings.videoPath, (temp / "cube.mov").string());
    EXPECT_EQ(settings.frameRate, FrameRate(30000, 1001));

    // The Save dialog offers what the chosen codec goes into.
    VideoEncoderSettings prores;
    prores.stream = {VideoCodec::ProRes};
    CCube2DomeSettingDlg other(prores);
    other.show();
    other.VideoCheck()->click();
    FileDialogAnswer answer(ToQString(temp / "x.mov"));
    other.VideoButton()->click();
    ASSERT_EQ(answer.Requests().size(), 1u);
    EXPECT_EQ(answer.Requests().front().filters, (QStringList{"MOV (*.mov *.MOV)", "All Files (*)"}));
    EXPECT_EQ(answer.Requests().front().defaultSuffix, "mov");
}

TEST_F(SettingDlgTest, EachAcceptCheckShowsItsMessageAndKeepsTheDialogOpen)
{
    test::WriteSampleSequence(temp / "seq", kFrames, kFaceSide, 6);
    test::WriteSampleSequence(temp / "short", kFrames - 1, kFaceSide, 2);
    std::filesystem::create_directories(temp / "empty");

    // Nothing listed yet.
    EXPECT_EQ(Accept(), QStringList({"Parameter wrong, please check! "}));

    // A Left folder with no pictures: typed in, listed once the typing pauses.
    ChooseUpperFolder(ToQString(temp / "seq"));
    TypeInto(dlg.FacePathEdit(Left), ToQString(temp / "empty"));
    EXPECT_EQ(Accept(), QStringList({"The input picture is null, please check! "}));

    TypeInto(dlg.FacePathEdit(Left), ToQString(temp / "seq" / "left"));
    TypeInto(dlg.FacePathEdit(Front), ToQString(temp / "short" / "front"));
    EXPECT_EQ(Accept(), QStringList({"The input picture number is not same, please check! "}));
    TypeInto(dlg.FacePathEdit(Front), ToQString(temp / "seq" / "front"));

    TypeInto(dlg.WidthEdit(), "0");
    EXPECT_EQ(dlg.HeightEdit()->text(), "0");
    EXPECT_EQ(Accept(), QStringList({"The output 'width' is zero, please check! "}));
    TypeInto(dlg.WidthEdit(), "100");
    EXPECT_EQ(dlg.HeightEdit()->text(), "100");

    EXPECT_EQ(Accept(), QStringList({"The save directory is empty, please check! "}));
    TypeInto(dlg.SaveDirEdit(), ToQString(temp / "out"));

    dlg.FrameModeRadio(CCube2DomeSettingDlg::kSingleFrame)->click();
    TypeInto(dlg.SingleFrameEdit(), "5");
    EXPECT_EQ(Accept(), QStringList({"The single frame's number is too big, please check! "}));
    TypeInto(dlg.SingleFrameEdit(), "0");
    EXPECT_EQ(Accept(), QStringList({"Parameter wrong, please check! "}));

    dlg.FrameModeRadio(CCube2DomeSettingDlg::kFrameRange)->click();
    TypeInto(dlg.FromFrameEdit(), "3");
    TypeInto(dlg.ToFrameEdit(), "2");
    EXPECT_EQ(Accept(), QStringList({"Parameter wrong, please check! "}));

    // An empty number field is refused by its own prompt first.
    TypeInto(dlg.ToFrameEdit(), "");
    EXPECT_EQ(Accept(), QStringList({"Please enter an integer."}));
    EXPECT_TRUE(dlg.isVisible());

    TypeInto(dlg.ToFrameEdit(), "4");
    EXPECT_EQ(Accept(), QStringList());
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.Settings().fromFrame, 3u);
    EXPECT_EQ(dlg.Settings().toFrame, 4u);
}

TEST_F(SettingDlgTest, TypedPathsAreListedOnceTheTypingPauses)
{
    test::WriteSampleSequence(temp / "seq", kFrames, kFaceSide, 1);
    TypeInto(dlg.FacePathEdit(Left), ToQString(temp / "seq" / "left"));
    // Not on every keystroke ...
    EXPECT_EQ(dlg.FileList()->count(), 0);
    EXPECT_FALSE(dlg.FaceRadio(Left)->isChecked());
    // ... but shortly after the last.
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.FileList()->count() == kFrames; }, 5000));
    EXPECT_TRUE(dlg.FaceRadio(Left)->isChecked());
    EXPECT_EQ(dlg.InfoCount()->text(), "1 of 4");
    EXPECT_EQ(dlg.WidthEdit()->text(), "80");
}

TEST_F(SettingDlgTest, InputFormatRelistsOnlyWithAnUpperFolder)
{
    test::WriteSampleSequence(temp / "seq", kFrames, kFaceSide, 5);
    TypeInto(dlg.FacePathEdit(Left), ToQString(temp / "seq" / "left"));
    dlg.FlushPathEdits();
    ASSERT_EQ(dlg.FileList()->count(), kFrames);
    // Without an upper folder the lists stay as they were.
    Choose(dlg.InputFormatCombo(), 1);
    EXPECT_EQ(dlg.FileList()->count(), kFrames);
    EXPECT_EQ(dlg.Settings().faceList[Left]->Count(), static_cast<std::size_t>(kFrames));

    // With one, every face is listed again: no jpg files here.
    ChooseUpperFolder(ToQString(temp / "seq"));
    EXPECT_EQ(dlg.FileList()->count(), 0);
    EXPECT_EQ(dlg.InfoCount()->text(), "---");
    Choose(dlg.InputFormatCombo(), 0);
    EXPECT_EQ(dlg.FileList()->count(), kFrames);
    EXPECT_EQ(dlg.Settings().faceList[Top]->Count(), static_cast<std::size_t>(kFrames));
}

TEST_F(SettingDlgTest, CancelHidesAndKeepsWhatWasTyped)
{
    TypeInto(dlg.OutputPrefixEdit(), "Typed_");
    dlg.CancelButton()->click();
    EXPECT_FALSE(dlg.isVisible());
    // The menu command takes the page's view over and shows the dialog again.
    dlg.TakeViewOver(45.0f, "/somewhere");
    dlg.show();
    EXPECT_EQ(dlg.OutputPrefixEdit()->text(), "Typed_");
    EXPECT_EQ(dlg.AngleEdit()->text(), "45");
    EXPECT_EQ(dlg.AngleSlider()->value(), 1350);
    EXPECT_EQ(dlg.SaveDirEdit()->text(), "/somewhere");
    dlg.TakeViewOver(-12.5f, "/somewhere");
    EXPECT_EQ(dlg.AngleSlider()->value(), 775);
    dlg.AngleSlider()->setValue(0);
    EXPECT_EQ(dlg.AngleEdit()->text(), "-90");
}

TEST_F(SettingDlgTest, CancelledPickersChangeNothing)
{
    test::WriteSampleSequence(temp / "seq", 1, kFaceSide, 1);
    ChooseUpperFolder(ToQString(temp / "seq"));
    FolderPickerAnswer cancelled{QString()};
    dlg.SaveDirButton()->click();
    dlg.UpperDirButton()->click();
    dlg.FaceButton(Left)->click();
    EXPECT_EQ(cancelled.Calls(), 3);
    EXPECT_EQ(cancelled.LastTitle(), "Please selete a directory: ");
    EXPECT_EQ(cancelled.LastInitialFolder(), ToQString(temp / "seq" / "left"));
    EXPECT_EQ(dlg.SaveDirEdit()->text(), "");
    EXPECT_EQ(dlg.UpperDirEdit()->text(), ToQString(temp / "seq"));
    EXPECT_EQ(dlg.FileList()->count(), 1);
}

}  // namespace
}  // namespace skelvane
