// The video settings dialog, driven through its own controls.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include "app/VideoSettingDlg.h"
#include "ui/UiTestSupport.h"

namespace skelvane {
namespace {

class VideoSettingDlgTest : public ::testing::Test {
public:
    VideoSettingDlgTest() : dialog(settings)
    {
        // Something other than the defaults, so that a write is visible.
        settings = {7, 0, 3, true};
        dialog.show();
    }

    void PressOk() { QTest::mouseClick(dialog.OkButton(), Qt::LeftButton); }

    VideoEncoderSettings settings;
    CVideoSettingDlg dialog;
};

TEST_F(VideoSettingDlgTest, StartsWithTitleAndDefaultControls)
{
    EXPECT_EQ(dialog.windowTitle(), "Standard video setting");
    EXPECT_TRUE(dialog.EveryRadio()->isChecked());
    EXPECT_EQ(dialog.IntervalEdit()->text(), "24");
    EXPECT_EQ(dialog.QualitySlider()->minimum(), 1);
    EXPECT_EQ(dialog.QualitySlider()->maximum(), 42);
    EXPECT_EQ(dialog.QualitySlider()->value(), 42);
    EXPECT_TRUE(dialog.SinglePassRadio()->isChecked());
}

TEST_F(VideoSettingDlgTest, OkUnchangedWritesTheDefaultsAndHides)
{
    PressOk();
    EXPECT_EQ(settings.quality, 1);
    EXPECT_EQ(settings.keyFrameMode, 1);
    EXPECT_EQ(settings.keyFrameEvery, 24);
    EXPECT_FALSE(settings.twoPass);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(VideoSettingDlgTest, ControlsMapOntoTheEncoderSettings)
{
    dialog.QualitySlider()->setFocus();
    QTest::keyClick(dialog.QualitySlider(), Qt::Key_Home);  // the "Least" end
    EXPECT_EQ(dialog.QualitySlider()->value(), 1);
    QTest::mouseClick(dialog.AllRadio(), Qt::LeftButton);
    QTest::mouseClick(dialog.MultiPassRadio(), Qt::LeftButton);
    dialog.IntervalEdit()->clear();
    QTest::keyClicks(dialog.IntervalEdit(), "0");
    PressOk();
    EXPECT_EQ(settings.quality, 42);
    EXPECT_EQ(settings.keyFrameMode, 2);
    EXPECT_EQ(settings.keyFrameEvery, 0);  // accepted, though mode 2 does not use it
    EXPECT_TRUE(settings.twoPass);
}

TEST_F(VideoSettingDlgTest, CancelHidesWritesNothingAndKeepsTheControlsForALaterOk)
{
    QTest::mouseClick(dialog.AutomaticRadio(), Qt::LeftButton);
    dialog.QualitySlider()->setValue(40);
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(settings.quality, 7);
    EXPECT_EQ(settings.keyFrameMode, 0);
    EXPECT_TRUE(settings.twoPass);

    dialog.show();
    EXPECT_TRUE(dialog.AutomaticRadio()->isChecked());
    EXPECT_EQ(dialog.QualitySlider()->value(), 40);
    settings.keyFrameMode = 2;
    PressOk();
    EXPECT_EQ(settings.quality, 3);
    EXPECT_EQ(settings.keyFrameMode, 0);
    EXPECT_FALSE(settings.twoPass);
}

TEST_F(VideoSettingDlgTest, BadIntervalIsRefusedWithThePromptAndTheDialogStays)
{
    dialog.IntervalEdit()->setText("-3");
    test::MessageBoxRecorder boxes;
    PressOk();
    EXPECT_EQ(boxes.Texts(), QStringList{"Please enter an integer."});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(settings.quality, 7);
    EXPECT_EQ(settings.keyFrameEvery, 3);
}

TEST_F(VideoSettingDlgTest, CodecListsItsProfilesAndLeavesOnWhatShapesIt)
{
    QStringList codecs;
    for (int i = 0; i < dialog.CodecCombo()->count(); ++i) codecs << dialog.CodecCombo()->itemText(i);
    EXPECT_EQ(codecs, (QStringList{"H.264", "HEVC", "ProRes", "HAP", "FFV1"}));
    EXPECT_EQ(dialog.CodecCombo()->currentText(), "H.264");
    EXPECT_FALSE(dialog.ProfileCombo()->isEnabled());
    EXPECT_FALSE(dialog.AlphaCheck()->isEnabled());

    // What each choice leaves on: quality, key frames, passes, profile, alpha.
    struct Case {
        const char* codec;
        const char* profile;  // nullptr: none to choose
        bool alpha;           // ask for alpha where the box is on
        std::vector<bool> on;
        VideoStream written;
    };
    const Case cases[] = {
        {"HEVC", "Main 10", false, {true, true, true, true, false}, {VideoCodec::Hevc, VideoProfile::HevcMain10}},
        {"ProRes", "422 HQ", false, {false, false, false, true, false}, {VideoCodec::ProRes, VideoProfile::ProResHq}},
        {"ProRes", "4444", true, {false, false, false, true, true},
         {VideoCodec::ProRes, VideoProfile::ProRes4444, true}},
        {"HAP", "HAP Q", false, {false, false, false, true, false}, {VideoCodec::Hap, VideoProfile::HapQ}},
        {"HAP", "HAP Alpha", false, {false, false, false, true, false}, {VideoCodec::Hap, VideoProfile::HapAlpha}},
        {"FFV1", nullptr, true, {false, true, false, false, true}, {VideoCodec::Ffv1, VideoProfile::Automatic, true}},
        {"H.264", nullptr, false, {true, true, true, false, false}, {VideoCodec::H264}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + (c.profile ? c.profile : ""));
        dialog.show();
        const bool newCodec = dialog.CodecCombo()->currentText() != c.codec;
        dialog.CodecCombo()->setCurrentText(c.codec);
        if (c.profile) {
            if (newCodec) EXPECT_EQ(dialog.ProfileCombo()->currentIndex(), 0) << "the default first";
            dialog.ProfileCombo()->setCurrentText(c.profile);
            ASSERT_EQ(dialog.ProfileCombo()->currentText(), c.profile);
        }
        const std::vector<bool> on = {dialog.QualitySlider()->isEnabled(), dialog.EveryRadio()->isEnabled(),
                                      dialog.MultiPassRadio()->isEnabled(), dialog.ProfileCombo()->isEnabled(),
                                      dialog.AlphaCheck()->isEnabled()};
        EXPECT_EQ(on, c.on);
        if (dialog.AlphaCheck()->isEnabled()) dialog.AlphaCheck()->setChecked(c.alpha);
        PressOk();
        EXPECT_EQ(settings.stream.codec, c.written.codec);
        EXPECT_EQ(settings.stream.profile, c.written.profile);
        EXPECT_EQ(settings.stream.alpha, c.written.alpha);
    }
    // HAP Alpha keeps alpha whatever the box: it shows so, and cannot be unticked.
    dialog.CodecCombo()->setCurrentText("HAP");
    dialog.ProfileCombo()->setCurrentText("HAP Alpha");
    EXPECT_TRUE(dialog.AlphaCheck()->isChecked());
    EXPECT_FALSE(dialog.AlphaCheck()->isEnabled());
}

TEST_F(VideoSettingDlgTest, EscapeActsAsCancel)
{
    QTest::mouseClick(dialog.AllRadio(), Qt::LeftButton);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(settings.keyFrameMode, 0);
}

}  // namespace
}  // namespace skelvane
