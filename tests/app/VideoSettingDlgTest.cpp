// The video settings dialog, driven through its own controls.
#include <gtest/gtest.h>

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

TEST_F(VideoSettingDlgTest, EscapeActsAsCancel)
{
    QTest::mouseClick(dialog.AllRadio(), Qt::LeftButton);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(settings.keyFrameMode, 0);
}

}  // namespace
}  // namespace skelvane
