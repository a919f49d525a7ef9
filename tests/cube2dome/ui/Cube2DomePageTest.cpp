// The Cube2Dome page: view sliders, previews, and whole renders driven with
// its buttons.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include "SampleSequence.h"
#include "cube2dome/ui/Cube2DomePage.h"
#include "cube2dome/ui/Cube2DomeSettingDlg.h"
#include "pano2dome/VideoEncoder.h"
#include "support/TempDir.h"
#include "support/TestImages.h"
#include "support/VideoFacts.h"
#include "ui/PreviewPane.h"
#include "ui/UiTestSupport.h"

namespace skelvane {
namespace {

using test::FolderPickerAnswer;
using test::MessageBoxRecorder;
using test::ToQString;

namespace fs = std::filesystem;

constexpr int kFaceSide = 32;

int FilesIn(const fs::path& folder)
{
    int count = 0;
    if (!fs::exists(folder)) return 0;
    for (const auto& entry : fs::directory_iterator(folder)) count += entry.is_regular_file() ? 1 : 0;
    return count;
}

std::uint32_t CentrePixel(const CImageBuffer& image)
{
    return image.GetPixel(image.GetWidth() / 2, image.GetHeight() / 2) & 0xFFFFFFu;
}

bool SamePixels(const CImageBuffer& a, const CImageBuffer& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight()) return false;
    for (int y = 0; y < a.GetHeight(); ++y) {
        for (int x = 0; x < a.GetWidth(); ++x) {
            if (a.GetPixel(x, y) != b.GetPixel(x, y)) return false;
        }
    }
    return true;
}

class PageTest : public ::testing::Test {
public:
    PageTest() : page(video) { page.show(); }

    // Settings made in the page's own dialog: upper folder, save folder,
    // optionally a frame range, then Accept.
    void ApplySample(int frames, int first = 0, int last = 0, const QString& prefix = QString(),
                     const QString& videoPath = QString())
    {
        if (!fs::exists(temp / "seq")) test::WriteSampleSequence(temp / "seq", frames, kFaceSide, 5);
        fs::create_directories(temp / "out");
        CCube2DomeSettingDlg& dlg = *page.SettingsDlg();
        page.ShowSettingsDialog();
        {
            FolderPickerAnswer upper(ToQString(temp / "seq"));
            dlg.UpperDirButton()->click();
        }
        {
            FolderPickerAnswer save(ToQString(temp / "out"));
            dlg.SaveDirButton()->click();
        }
        if (first > 0) {
            dlg.FrameModeRadio(CCube2DomeSettingDlg::kFrameRange)->click();
            dlg.FromFrameEdit()->setText(QString::number(first));
            dlg.ToFrameEdit()->setText(QString::number(last));
        } else {
            dlg.FrameModeRadio(CCube2DomeSettingDlg::kAllFrames)->click();
        }
        if (!prefix.isEmpty()) dlg.OutputPrefixEdit()->setText(prefix);
        if (!videoPath.isEmpty()) {
            if (!dlg.VideoCheck()->isChecked()) dlg.VideoCheck()->click();
            dlg.VideoPathEdit()->setText(videoPath);
            dlg.FrameRateEdit()->setText(QStringLiteral("24"));
        }
        MessageBoxRecorder boxes;
        dlg.AcceptButton()->click();
        ASSERT_EQ(boxes.Texts(), QStringList());
        ASSERT_FALSE(dlg.isVisible());
    }

    // Begin, Pause, Continue, Stop as enabled.
    std::array<bool, 4> Buttons() const
    {
        return {page.BeginButton()->isEnabled(), page.PauseButton()->isEnabled(),
                page.ContinueButton()->isEnabled(), page.StopButton()->isEnabled()};
    }

    bool WaitForEnd(QSignalSpy& ended) { return ended.count() > 0 || ended.wait(60000); }

    test::TempDir temp;
    VideoEncoderSettings video;  // as the video settings dialog leaves them
    CCube2DomePage page;
};

using Enabled = std::array<bool, 4>;
constexpr Enabled kNoSettings{false, false, false, false};
constexpr Enabled kReady{true, false, false, false};
constexpr Enabled kRunning{false, true, false, true};
constexpr Enabled kPaused{false, false, true, true};

TEST_F(PageTest, StartsWithTheDefaultViewAndNothingToRender)
{
    EXPECT_EQ(Buttons(), kNoSettings);
    EXPECT_EQ(page.HorizontalSlider()->maximum(), 3600);
    EXPECT_EQ(page.HorizontalSlider()->value(), 1800);
    EXPECT_EQ(page.VerticalSlider()->maximum(), 1800);
    EXPECT_EQ(page.VerticalSlider()->value(), 1500);
    EXPECT_EQ(page.FovEdit()->text(), "180");
    EXPECT_EQ(page.HorizontalEdit()->text(), "0");
    EXPECT_EQ(page.VerticalEdit()->text(), "60");
    EXPECT_FALSE(page.SaveDirEdit()->text().isEmpty());
    EXPECT_EQ(page.Pane(CCube2DomePage::kDomePane)->width(), 300);
    EXPECT_EQ(page.Pane(Front)->width(), 150);
    EXPECT_TRUE(page.DomePreview().IsEmpty());
    // Begin does nothing without settings.
    page.BeginButton()->click();
    EXPECT_FALSE(page.IsJobRunning());
}

TEST_F(PageTest, SlidersMapToAnglesAtTheirEnds)
{
    MessageBoxRecorder boxes;
    page.HorizontalSlider()->setValue(0);
    EXPECT_FLOAT_EQ(page.HorizontalAngle(), -180.0f);
    EXPECT_EQ(page.HorizontalEdit()->text(), "-180");
    page.HorizontalSlider()->setValue(3600);
    EXPECT_FLOAT_EQ(page.HorizontalAngle(), 180.0f);
    page.VerticalSlider()->setValue(0);
    EXPECT_FLOAT_EQ(page.VerticalAngle(), -90.0f);
    EXPECT_EQ(page.VerticalEdit()->text(), "-90");
    page.VerticalSlider()->setValue(1800);
    EXPECT_FLOAT_EQ(page.VerticalAngle(), 90.0f);
    EXPECT_TRUE(boxes.Texts().isEmpty());
}

TEST_F(PageTest, SettingsShowTheirFirstFrameAndTheFrameSliderSteps)
{
    test::WriteSampleSequence(temp / "seq", 6, kFaceSide, 5);
    // The dialog opens with the page's view.
    page.VerticalSlider()->setValue(600);
    ApplySample(6, 2, 5);
    EXPECT_FLOAT_EQ(page.VerticalAngle(), -30.0f);
    EXPECT_EQ(page.VerticalSlider()->value(), 600);
    EXPECT_EQ(page.SaveDir(), ToQString(temp / "out"));
    EXPECT_EQ(Buttons(), kReady);
    EXPECT_EQ(page.FrameSlider()->maximum(), 3);
    EXPECT_EQ(page.FrameEdit()->text(), "2");
    for (int k = Left; k <= Top; ++k) {
        EXPECT_EQ(page.PreviewFace(k).GetWidth(), 148) << k;
    }
    EXPECT_TRUE(page.PreviewFace(Bottom).IsEmpty());
    EXPECT_EQ(page.DomePreview().GetWidth(), 298);

    CImageBuffer second;
    second.CopyFrom(page.PreviewFace(Front));
    page.FrameSlider()->setValue(3);
    EXPECT_EQ(page.FrameNumber(), 5);
    EXPECT_EQ(page.FrameEdit()->text(), "5");
    // The sample faces carry their frame number.
    EXPECT_FALSE(SamePixels(second, page.PreviewFace(Front)));
    EXPECT_TRUE(page.PreviewFace(Bottom).IsEmpty());
    page.FrameSlider()->setValue(0);
    EXPECT_TRUE(SamePixels(second, page.PreviewFace(Front)));
}

TEST_F(PageTest, FrontFaceIsInTheMiddleOfTheDomeAtTiltZero)
{
    ApplySample(2);
    page.VerticalSlider()->setValue(900);
    EXPECT_EQ(CentrePixel(page.DomePreview()), CentrePixel(page.PreviewFace(Front)));
    // Turned half round, the back face is.
    page.HorizontalSlider()->setValue(0);
    EXPECT_EQ(CentrePixel(page.DomePreview()), CentrePixel(page.PreviewFace(Back)));
}

TEST_F(PageTest, FieldOfViewOutOfRangeBlocksEverySlider)
{
    ApplySample(2);
    CImageBuffer before;
    before.CopyFrom(page.DomePreview());
    MessageBoxRecorder boxes;
    page.FovEdit()->setText("400");
    page.HorizontalSlider()->setValue(900);
    page.VerticalSlider()->setValue(900);
    EXPECT_FLOAT_EQ(page.HorizontalAngle(), 0.0f);
    EXPECT_FLOAT_EQ(page.VerticalAngle(), 60.0f);
    EXPECT_TRUE(SamePixels(before, page.DomePreview()));
    // Dragging shows no prompt; Begin does, and starts nothing.
    EXPECT_TRUE(boxes.Texts().isEmpty());
    page.BeginButton()->click();
    EXPECT_EQ(boxes.Texts(), QStringList({"Please enter an integer between 90 and 360."}));
    EXPECT_FALSE(page.IsJobRunning());

    // Corrected, the next slider move takes the new field of view over.
    page.FovEdit()->setText("120");
    page.HorizontalSlider()->setValue(1800);
    EXPECT_EQ(page.Fov(), 120u);
    EXPECT_FALSE(SamePixels(before, page.DomePreview()));
}

TEST_F(PageTest, SaveDirectoryPicksAFolderAndCancelKeepsIt)
{
    const QString before = page.SaveDir();
    {
        FolderPickerAnswer cancelled{QString()};
        page.SaveDirButton()->click();
        EXPECT_EQ(cancelled.LastTitle(), "Please selete a directory: ");
        EXPECT_EQ(cancelled.LastInitialFolder(), before);
    }
    EXPECT_EQ(page.SaveDir(), before);
    FolderPickerAnswer chosen(ToQString(temp.Path()));
    page.SaveDirButton()->click();
    EXPECT_EQ(page.SaveDir(), ToQString(temp.Path()));
    EXPECT_EQ(page.SaveDirEdit()->text(), ToQString(temp.Path()));
}

TEST_F(PageTest, WholeRenderReportsEveryFrameAndFinishes)
{
    ApplySample(3);
    page.FrameSlider()->setValue(2);
    MessageBoxRecorder boxes;
    QSignalSpy ended(&page, &CCube2DomePage::JobEnded);
    // Each frame is shown once it is written, in order.
    std::vector<int> shownFrames;
    std::vector<bool> writtenWhenShown;
    QObject::connect(page.FrameEdit(), &QLineEdit::textChanged, [&](const QString& text) {
        shownFrames.push_back(text.toInt());
        const fs::path written = temp / "out" / ("FullDome_00" + std::to_string(text.toInt() - 1) + ".bmp");
        writtenWhenShown.push_back(fs::exists(written));
    });
    page.BeginButton()->click();
    ASSERT_TRUE(page.IsJobRunning());
    EXPECT_EQ(Buttons(), kRunning);
    ASSERT_TRUE(WaitForEnd(ended));
    EXPECT_EQ(boxes.Texts(), QStringList({"The FullDome render have finished! "}));
    EXPECT_EQ(ended.at(0).at(0).value<JobEnd>(), JobEnd::Finished);
    EXPECT_FALSE(page.IsJobRunning());
    EXPECT_EQ(Buttons(), kReady);
    EXPECT_EQ(page.FrameSlider()->value(), 2);
    EXPECT_EQ(page.FrameNumber(), 3);
    EXPECT_EQ(shownFrames, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(page.FrameEdit()->text(), "3");
    EXPECT_EQ(writtenWhenShown, (std::vector<bool>{true, true, true}));
    for (const char* name : {"FullDome_000.bmp", "FullDome_001.bmp", "FullDome_002.bmp"}) {
        CImageBuffer dome;
        EXPECT_TRUE(dome.Load(temp / "out" / name)) << name;
        EXPECT_EQ(dome.GetWidth(), 2 * kFaceSide);
    }
    EXPECT_EQ(FilesIn(temp / "out"), 3);
}

TEST_F(PageTest, AVideoRenderShowsEachFrameOncePerPassAndWritesOneFile)
{
    CVideoEncoder::QuietLibraryMessages();
    const fs::path movie = temp / "cube.mp4";
    ApplySample(3, 0, 0, QString(), ToQString(movie));
    page.FrameSlider()->setValue(2);  // so that showing frame 1 shows
    video.twoPass = true;
    MessageBoxRecorder boxes;
    QSignalSpy ended(&page, &CCube2DomePage::JobEnded);
    std::vector<int> shownFrames;
    QObject::connect(page.FrameEdit(), &QLineEdit::textChanged,
                     [&](const QString& text) { shownFrames.push_back(text.toInt()); });
    page.BeginButton()->click();
    ASSERT_TRUE(WaitForEnd(ended));
    EXPECT_EQ(boxes.Texts(), QStringList({"The FullDome render have finished! "}));
    EXPECT_EQ(shownFrames, (std::vector<int>{1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(FilesIn(temp / "out"), 0) << "no numbered images";
    const std::optional<test::VideoFacts> facts = test::ReadVideo(movie);
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->codec, "h264");
    EXPECT_EQ(facts->frames, 3);
    EXPECT_EQ(facts->width, 2 * kFaceSide);
    EXPECT_EQ(av_cmp_q(facts->frameRate, AVRational{24, 1}), 0);

    // A stream the file cannot carry is refused at Begin, before anything runs.
    video.stream = {VideoCodec::ProRes};
    page.BeginButton()->click();
    ASSERT_EQ(boxes.Texts().size(), 2);
    EXPECT_EQ(boxes.Texts()[1],
              "A .mp4 file cannot carry ProRes: ProRes is written into .mov files, and .mp4 files carry H.264 or HEVC.");
    EXPECT_FALSE(page.IsJobRunning());
}

TEST_F(PageTest, PauseAndContinue)
{
    ApplySample(4);
    MessageBoxRecorder boxes;
    QSignalSpy ended(&page, &CCube2DomePage::JobEnded);
    page.BeginButton()->click();
    page.PauseButton()->click();
    EXPECT_EQ(Buttons(), kPaused);
    EXPECT_TRUE(page.JobPaused());

    // Stop answered No: the job stays paused.
    boxes.AnswerNext(MessageAnswer::No);
    page.StopButton()->click();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, "The render task is not finish, stop it anyway? ");
    EXPECT_EQ(boxes.Boxes()[0].title, "Warning!");
    EXPECT_EQ(boxes.Boxes()[0].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(page.JobPaused());
    EXPECT_EQ(Buttons(), kPaused);
    QTest::qWait(100);
    EXPECT_EQ(ended.count(), 0);

    page.ContinueButton()->click();
    EXPECT_EQ(Buttons(), kRunning);
    EXPECT_FALSE(page.JobPaused());
    ASSERT_TRUE(WaitForEnd(ended));
    EXPECT_EQ(boxes.Texts().last(), "The FullDome render have finished! ");
    EXPECT_EQ(FilesIn(temp / "out"), 4);
}

TEST_F(PageTest, StopAnsweredYesWhilePausedEndsTheJob)
{
    ApplySample(12);
    MessageBoxRecorder boxes(MessageAnswer::Yes);
    QSignalSpy ended(&page, &CCube2DomePage::JobEnded);
    page.BeginButton()->click();
    page.PauseButton()->click();
    page.StopButton()->click();
    // Stopping: Stop goes off, the others stay as they were.
    EXPECT_EQ(Buttons(), (Enabled{false, false, true, false}));
    ASSERT_TRUE(WaitForEnd(ended));
    EXPECT_EQ(ended.at(0).at(0).value<JobEnd>(), JobEnd::Stopped);
    EXPECT_EQ(boxes.Texts().last(), "User break down the task! ");
    EXPECT_EQ(Buttons(), kReady);
    EXPECT_LT(FilesIn(temp / "out"), 12);
}

TEST_F(PageTest, SettingsAppliedDuringAJobDoNotDisturbIt)
{
    ApplySample(3);
    MessageBoxRecorder boxes;
    QSignalSpy ended(&page, &CCube2DomePage::JobEnded);
    page.BeginButton()->click();
    page.PauseButton()->click();
    ApplySample(3, 1, 1, "Other_");
    // A second job never starts while one runs.
    EXPECT_FALSE(page.BeginButton()->isEnabled());
    page.ContinueButton()->click();
    ASSERT_TRUE(WaitForEnd(ended));
    EXPECT_EQ(boxes.Texts().last(), "The FullDome render have finished! ");
    EXPECT_EQ(FilesIn(temp / "out"), 3);
    EXPECT_TRUE(fs::exists(temp / "out" / "FullDome_002.bmp"));
    EXPECT_EQ(Buttons(), kReady);

    // The next job takes the new settings.
    ended.clear();
    page.BeginButton()->click();
    ASSERT_TRUE(WaitForEnd(ended));
    EXPECT_TRUE(fs::exists(temp / "out" / "Other_000.bmp"));
    EXPECT_EQ(FilesIn(temp / "out"), 4);
}

TEST_F(PageTest, DuringARenderThePageShowsItAndAcceptedSettingsWaitForItsEnd)
{
    ApplySample(4);
    const QString renderFolder = page.SaveDir();
    MessageBoxRecorder boxes;
    QSignalSpy ended(&page, &CCube2DomePage::JobEnded);
    page.BeginButton()->click();
    page.PauseButton()->click();
    const std::vector<QWidget*> view = {page.HorizontalSlider(), page.VerticalSlider(), page.FrameSlider(),
                                        page.FovEdit(), page.SaveDirButton()};
    for (QWidget* control : view) EXPECT_FALSE(control->isEnabled()) << control->metaObject()->className();

    // Frame 2 alone, into another folder, accepted while the render is paused.
    fs::create_directories(temp / "other");
    CCube2DomeSettingDlg& dlg = *page.SettingsDlg();
    page.ShowSettingsDialog();
    dlg.FrameModeRadio(CCube2DomeSettingDlg::kFrameRange)->click();
    dlg.FromFrameEdit()->setText("2");
    dlg.ToFrameEdit()->setText("2");
    dlg.SaveDirEdit()->setText(ToQString(temp / "other"));
    dlg.AcceptButton()->click();
    ASSERT_FALSE(dlg.isVisible());
    EXPECT_TRUE(page.PendingNote()->isVisibleTo(&page));
    EXPECT_EQ(page.SaveDir(), renderFolder);
    EXPECT_EQ(page.FrameSlider()->maximum(), 3);
    EXPECT_FALSE(page.PreviewFace(Front).IsEmpty());
    EXPECT_FALSE(page.DomePreview().IsEmpty());
    // Opened again, the dialog starts from the settings that wait.
    page.ShowSettingsDialog();
    EXPECT_EQ(dlg.SaveDirEdit()->text(), ToQString(temp / "other"));
    dlg.CancelButton()->click();

    page.ContinueButton()->click();
    ASSERT_TRUE(WaitForEnd(ended));
    EXPECT_EQ(FilesIn(temp / "out"), 4);
    EXPECT_EQ(FilesIn(temp / "other"), 0);
    // Now the page takes the new settings over and gives the view back.
    EXPECT_FALSE(page.PendingNote()->isVisibleTo(&page));
    EXPECT_EQ(page.SaveDir(), ToQString(temp / "other"));
    EXPECT_EQ(page.FrameSlider()->maximum(), 0);
    EXPECT_EQ(page.FrameEdit()->text(), "2");
    for (QWidget* control : view) EXPECT_TRUE(control->isEnabled()) << control->metaObject()->className();
    EXPECT_EQ(Buttons(), kReady);
}

TEST_F(PageTest, SettingsThatWaitAreTakenOverAlsoWhenTheWindowEndsTheRender)
{
    ApplySample(4);
    MessageBoxRecorder boxes;
    page.BeginButton()->click();
    page.PauseButton()->click();
    fs::create_directories(temp / "other");
    page.ShowSettingsDialog();
    page.SettingsDlg()->SaveDirEdit()->setText(ToQString(temp / "other"));
    page.SettingsDlg()->AcceptButton()->click();
    ASSERT_TRUE(page.PendingNote()->isVisibleTo(&page));

    page.StopJobForClose();
    EXPECT_FALSE(page.IsJobRunning());
    EXPECT_FALSE(page.PendingNote()->isVisibleTo(&page));
    EXPECT_FALSE(page.ProgressLabel()->isVisibleTo(&page));
    EXPECT_EQ(page.SaveDir(), ToQString(temp / "other"));
    EXPECT_TRUE(page.FovEdit()->isEnabled());
    EXPECT_EQ(Buttons(), kReady);
    EXPECT_TRUE(boxes.Texts().isEmpty());
}

TEST_F(PageTest, AFaceThatCannotBeReadSaysWhyOnItsPaneAndInTheFailedRendersWarning)
{
    ApplySample(3);
    const fs::path broken = temp / "seq" / "front" / "F00002.bmp";
    test::WriteFileBytes(broken, {'B', 'M', 1, 2, 3});
    std::string reason;
    CImageBuffer probe;
    ASSERT_FALSE(probe.Load(broken, &reason));
    ASSERT_FALSE(reason.empty());

    EXPECT_TRUE(page.Pane(Front)->Problem().isEmpty());
    page.FrameSlider()->setValue(1);
    EXPECT_EQ(page.Pane(Front)->Problem(), QString::fromStdString("Cannot read F00002.bmp: " + reason + "."));
    EXPECT_EQ(page.Pane(Front)->toolTip(), ToQString(broken));
    EXPECT_EQ(CentrePixel(page.PreviewFace(Front)), 0u);  // the black stand-in
    EXPECT_TRUE(page.Pane(Left)->Problem().isEmpty());
    page.FrameSlider()->setValue(0);
    EXPECT_TRUE(page.Pane(Front)->Problem().isEmpty());

    MessageBoxRecorder boxes;
    QSignalSpy ended(&page, &CCube2DomePage::JobEnded);
    page.BeginButton()->click();
    ASSERT_TRUE(WaitForEnd(ended));
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_TRUE(boxes.Texts()[0].startsWith("Some error has happened, the FullDome render is not finished! "));
    EXPECT_TRUE(boxes.Texts()[0].contains(QString::fromStdString(reason))) << boxes.Texts()[0].toStdString();
    EXPECT_EQ(boxes.Boxes()[0].icon, MessageIcon::Warning);
}

TEST_F(PageTest, ThePageSaysWhichFrameIsWrittenAndTheTimeLeft)
{
    ApplySample(3);
    page.FrameSlider()->setValue(2);  // so that showing frame 1 changes the field
    EXPECT_FALSE(page.ProgressLabel()->isVisibleTo(&page));
    MessageBoxRecorder boxes;
    QSignalSpy ended(&page, &CCube2DomePage::JobEnded);
    QStringList said;
    QObject::connect(page.FrameEdit(), &QLineEdit::textChanged, [&] { said << page.ProgressLabel()->text(); });
    page.BeginButton()->click();
    EXPECT_TRUE(page.ProgressLabel()->isVisibleTo(&page));
    EXPECT_EQ(page.ProgressLabel()->text(), "Frame 0 of 3 written");
    ASSERT_TRUE(WaitForEnd(ended));
    ASSERT_EQ(said.size(), 3);
    const QRegularExpression timeLeft(QStringLiteral("^Frame (\\d) of 3 written, \\d+:\\d\\d left$"));
    EXPECT_TRUE(timeLeft.match(said[0]).hasMatch()) << said[0].toStdString();
    EXPECT_TRUE(timeLeft.match(said[1]).hasMatch()) << said[1].toStdString();
    EXPECT_EQ(timeLeft.match(said[1]).captured(1), "2");
    EXPECT_EQ(said[2], "Frame 3 of 3 written");
    EXPECT_FALSE(page.ProgressLabel()->isVisibleTo(&page));
}

TEST_F(PageTest, ReadOnlyFieldsLookReadOnly)
{
    const QColor typed = test::FieldBackground(page.FovEdit());
    CCube2DomeSettingDlg& dlg = *page.SettingsDlg();
    dlg.show();
    for (QLineEdit* field : {page.HorizontalEdit(), page.VerticalEdit(), page.FrameEdit(), page.SaveDirEdit(),
                             dlg.UpperDirEdit(), dlg.AngleEdit()}) {
        EXPECT_TRUE(field->isReadOnly());
        EXPECT_NE(test::FieldBackground(field), typed) << field->text().toStdString();
        EXPECT_EQ(test::FieldBackground(field), field->palette().color(QPalette::Window));
    }
    EXPECT_NE(test::FieldBackground(dlg.OutputPrefixEdit()), test::FieldBackground(dlg.AngleEdit()));
}

TEST_F(PageTest, DestroyingThePageDuringAJobStopsAndJoinsIt)
{
    test::WriteSampleSequence(temp / "seq", 40, kFaceSide, 5);
    MessageBoxRecorder boxes;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto* doomed = new CCube2DomePage;
        CCube2DomeSettingDlg& dlg = *doomed->SettingsDlg();
        {
            FolderPickerAnswer upper(ToQString(temp / "seq"));
            dlg.UpperDirButton()->click();
        }
        const fs::path out = temp / ("out" + std::to_string(attempt));
        fs::create_directories(out);
        dlg.SaveDirEdit()->setText(ToQString(out));
        dlg.AcceptButton()->click();
        ASSERT_TRUE(doomed->BeginButton()->isEnabled());
        doomed->BeginButton()->click();
        ASSERT_TRUE(doomed->IsJobRunning());
        // The first time the worker is left blocked on its first progress
        // call (no events are served); the second time it is paused.
        if (attempt == 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        else doomed->PauseButton()->click();
        delete doomed;
    }
    // No end message for a page that is gone, and nothing left queued for it.
    QTest::qWait(50);
    EXPECT_TRUE(boxes.Texts().isEmpty()) << boxes.Texts().join('|').toStdString();
    EXPECT_LT(FilesIn(temp / "out0"), 40);
    EXPECT_LT(FilesIn(temp / "out1"), 40);
}

}  // namespace
}  // namespace skelvane
