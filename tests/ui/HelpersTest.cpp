// The shared ui helpers: field exchange and its prompts, the message box and
// dialog hooks, dialog units, the preview pane and the ui message reporter.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <QApplication>
#include <QButtonGroup>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QWidget>

#include "support/TestImages.h"
#include "ui/DialogUnits.h"
#include "ui/FieldExchange.h"
#include "ui/FileDialog.h"
#include "ui/FolderPicker.h"
#include "ui/MessageBox.h"
#include "ui/PreviewPane.h"
#include "ui/UiMessageReporter.h"
#include "ui/UiTestSupport.h"

namespace skelvane {
namespace {

struct Fields {
    unsigned fov = 180;
    float angle = 60.0f;
    int count = 3;
    QString name = QStringLiteral("FullDome_");
    FrameRate rate{30000, 1001};
    int mode = 1;
};

class FieldExchangeTest : public ::testing::Test {
public:
    FieldExchangeTest()
    {
        fovEdit = new QLineEdit(&owner);
        angleEdit = new QLineEdit(&owner);
        countEdit = new QLineEdit(&owner);
        nameEdit = new QLineEdit(&owner);
        rateEdit = new QLineEdit(&owner);
        modes = new QButtonGroup(&owner);
        for (int i = 0; i < 3; ++i) modes->addButton(new QRadioButton(&owner), i);
    }

    bool Exchange(bool save)
    {
        CFieldExchange dx(&owner, save);
        dx.Text(fovEdit, fields.fov, 90u, 360u);
        dx.Text(angleEdit, fields.angle, -180.0f, 180.0f);
        dx.Text(countEdit, fields.count);
        dx.Text(nameEdit, fields.name, 12);
        dx.Text(rateEdit, fields.rate);
        dx.Radio(modes, fields.mode);
        return dx.Ok();
    }

    QWidget owner;
    QLineEdit* fovEdit;
    QLineEdit* angleEdit;
    QLineEdit* countEdit;
    QLineEdit* nameEdit;
    QLineEdit* rateEdit;
    QButtonGroup* modes;
    Fields fields;
};

TEST_F(FieldExchangeTest, LoadShowsMembersAndSaveReadsThemBack)
{
    fields.angle = -0.1f;
    ASSERT_TRUE(Exchange(false));
    EXPECT_EQ(fovEdit->text(), "180");
    EXPECT_EQ(angleEdit->text(), "-0.1");
    EXPECT_EQ(countEdit->text(), "3");
    EXPECT_EQ(rateEdit->text(), "30000/1001");
    EXPECT_TRUE(modes->button(1)->isChecked());

    fovEdit->setText(" 90 ");
    angleEdit->setText("-180");
    countEdit->setText("-7");
    nameEdit->setText("dome_");
    rateEdit->setText(" 59.94 ");
    modes->button(2)->setChecked(true);
    test::MessageBoxRecorder boxes;
    ASSERT_TRUE(Exchange(true));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(fields.fov, 90u);
    EXPECT_EQ(fields.angle, -180.0f);
    EXPECT_EQ(fields.count, -7);
    EXPECT_EQ(fields.name, "dome_");
    EXPECT_EQ(fields.rate, FrameRate(60000, 1001));
    EXPECT_EQ(fields.mode, 2);
}

TEST_F(FieldExchangeTest, FirstBadFieldShowsItsPromptAndStopsTheTransfer)
{
    ASSERT_TRUE(Exchange(false));
    struct Case {
        QLineEdit* FieldExchangeTest::*edit;
        const char* text;
        const char* prompt;
    } cases[] = {
        {&FieldExchangeTest::fovEdit, "400", "Please enter an integer between 90 and 360."},
        {&FieldExchangeTest::fovEdit, "-5", "Please enter an integer."},
        {&FieldExchangeTest::fovEdit, "12x", "Please enter an integer."},
        {&FieldExchangeTest::angleEdit, "180.5", "Please enter a number between -180 and 180."},
        {&FieldExchangeTest::angleEdit, "", "Please enter a number."},
        {&FieldExchangeTest::angleEdit, "nan", "Please enter a number."},
        {&FieldExchangeTest::countEdit, "99999999999", "Please enter an integer."},
        {&FieldExchangeTest::nameEdit, "much_too_long_name", "Please enter no more than 12 characters."},
        {&FieldExchangeTest::rateEdit, "29..97", "Please enter a frame rate such as 25, 29.97 or 30000/1001."},
        {&FieldExchangeTest::rateEdit, "25/0", "Please enter a frame rate such as 25, 29.97 or 30000/1001."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(Exchange(false));
        // Loading limits the name field; lift the limit to reach the check.
        EXPECT_EQ(nameEdit->maxLength(), 12);
        nameEdit->setMaxLength(100);
        (this->*c.edit)->setText(QString::fromLatin1(c.text));
        modes->button(0)->setChecked(true);
        test::MessageBoxRecorder boxes;
        EXPECT_FALSE(Exchange(true));
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text, c.prompt);
        EXPECT_EQ(boxes.Boxes()[0].title, "Skelvane");
        EXPECT_EQ((this->*c.edit)->selectedText(), (this->*c.edit)->text());
        // Fields after the bad one are not taken over.
        EXPECT_EQ(fields.mode, 1);
    }
    EXPECT_EQ(fields.fov, 180u);
    EXPECT_EQ(fields.angle, 60.0f);
}

TEST(MessageBoxTest, HandlerSeesTitleIconButtonsAndIsRestored)
{
    {
        test::MessageBoxRecorder outer(MessageAnswer::Yes);
        {
            test::MessageBoxRecorder inner;
            inner.AnswerNext(MessageAnswer::No);
            EXPECT_EQ(ShowMessageBox(nullptr, "Stop?", "Warning!", MessageIcon::None, MessageButtons::YesNo),
                      MessageAnswer::No);
            EXPECT_EQ(ShowMessageBox(nullptr, "Done"), MessageAnswer::Ok);
            ASSERT_EQ(inner.Boxes().size(), 2u);
            EXPECT_EQ(inner.Boxes()[0].title, "Warning!");
            EXPECT_EQ(inner.Boxes()[0].buttons, MessageButtons::YesNo);
            EXPECT_EQ(inner.Boxes()[1].title, "Skelvane");
        }
        EXPECT_EQ(ShowMessageBox(nullptr, "again", QString(), MessageIcon::Question, MessageButtons::YesNo),
                  MessageAnswer::Yes);
        EXPECT_EQ(outer.Texts(), QStringList{"again"});
    }
}

// Processes events until `done` or a time-out.
template <typename Done>
bool Serve(Done done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

TEST(MessageBoxTest, BoxesWhenFreeWaitForTheModalWindowAndComeInTurn)
{
    test::MessageBoxRecorder boxes;
    QObject context;
    QStringList closed;
    auto note = [&closed](const char* text) { return [&closed, text] { closed << text; }; };
    // Nothing open: at once.
    ShowMessageBoxWhenFree(&context, nullptr, "now", MessageIcon::Information, note("now"));
    EXPECT_EQ(closed, QStringList{"now"});
    {
        const CModalScope aboutBox;
        auto* gone = new QObject;
        auto* goneParent = new QWidget;
        QObject forgotten;
        ShowMessageBoxWhenFree(&context, nullptr, "first", MessageIcon::Information, note("first"));
        ShowMessageBoxWhenFree(gone, nullptr, "its context went", MessageIcon::Information, note("gone"));
        ShowMessageBoxWhenFree(&context, goneParent, "its parent went", MessageIcon::Information, note("parent"));
        ShowMessageBoxWhenFree(&forgotten, nullptr, "forgotten", MessageIcon::Information, note("forgotten"));
        ShowMessageBoxWhenFree(&context, nullptr, "second", MessageIcon::Warning, note("second"));
        delete gone;
        delete goneParent;
        ForgetMessageBoxesWhenFree(&forgotten);
        QTest::qWait(20);
        EXPECT_EQ(boxes.Texts(), QStringList{"now"});
        EXPECT_EQ(OpenModalCount(), 1);
    }
    EXPECT_TRUE(Serve([&] { return closed.size() == 3; }));
    QTest::qWait(20);
    EXPECT_EQ(boxes.Texts(), (QStringList{"now", "first", "second"}));
    EXPECT_EQ(closed, (QStringList{"now", "first", "second"}));
    EXPECT_EQ(boxes.Boxes().back().icon, MessageIcon::Warning);
    EXPECT_EQ(OpenModalCount(), 0);
}

TEST(MessageBoxTest, AWithdrawnQuestionAnswersAsIfClosedWithoutAButton)
{
    int topic = 0;
    int otherTopic = 0;
    const struct {
        MessageButtons buttons;
        const void* withdrawn;
        MessageAnswer given;
        MessageAnswer expected;
    } cases[] = {
        {MessageButtons::YesNo, &topic, MessageAnswer::Yes, MessageAnswer::No},
        {MessageButtons::OkCancel, &topic, MessageAnswer::Ok, MessageAnswer::Cancel},
        {MessageButtons::YesNo, &otherTopic, MessageAnswer::Yes, MessageAnswer::Yes},
        {MessageButtons::YesNo, nullptr, MessageAnswer::Yes, MessageAnswer::Yes},
    };
    for (const auto& each : cases) {
        bool sawWithdrawal = false;
        const MessageBoxHandler previous = SetMessageBoxHandler([&](const MessageBoxRequest& request) {
            // What the question asked about ends while it is open.
            WithdrawMessageBoxes(each.withdrawn);
            sawWithdrawal = *request.withdrawn;
            return each.given;
        });
        EXPECT_EQ(AskMessageBox(&topic, nullptr, "Stop?", QString(), MessageIcon::Question, each.buttons),
                  each.expected);
        EXPECT_EQ(sawWithdrawal, each.withdrawn == &topic);
        SetMessageBoxHandler(previous);
    }
}

TEST(DialogPickersTest, FolderPickerTitleAndPreselectionReachTheDialog)
{
    test::FolderPickerAnswer picker("/tmp/out");
    EXPECT_EQ(BrowseForFolder(nullptr, "/home/someone"), "/tmp/out");
    EXPECT_EQ(picker.LastTitle(), "Please selete a directory: ");
    EXPECT_EQ(picker.LastInitialFolder(), "/home/someone");

    test::FileDialogAnswer files("");
    FileDialogRequest request;
    request.title = "select an image";
    request.filters = {FileFilter("JPEG", {"jpg", "jpeg"}), AllFilesFilter()};
    EXPECT_TRUE(RunFileDialog(nullptr, request).isEmpty());
    ASSERT_EQ(files.Requests().size(), 1u);
    EXPECT_EQ(files.Requests()[0].filters.front(), "JPEG (*.jpg *.JPG *.jpeg *.JPEG)");
}

TEST(DialogUnitsTest, ConvertsAtOneAndAHalfAcrossAndThirteenEighthsDown)
{
    EXPECT_EQ(DialogRect(5, 5, 640, 390), QRect(8, 8, 960, 634));
    EXPECT_EQ(DialogSize(652, 399), QSize(978, 648));
    // A 400 x 200 unit frame holds a 598 x 298 preview.
    EXPECT_EQ(DialogSize(400, 200), QSize(600, 325));
    EXPECT_EQ(DialogUnitsToPixelsX(1), 2);  // 1.5 rounds half away from zero
    EXPECT_EQ(DialogUnitsToPixelsX(-1), -2);
    EXPECT_EQ(DialogUnitsToPixelsY(3), 5);  // 4.875
}

QImage PanePicture(CPreviewPane& pane)
{
    pane.show();
    QApplication::processEvents();
    return pane.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

TEST(PreviewPaneTest, DrawsTheImageUprightOnePixelInside)
{
    CImageBuffer image = test::MakePatternImage(5, 3);
    image.SetPixel(4, 2, 0x00000000u);  // outside a dome circle: shows black
    image.SetPixel(3, 2, 0x0012AB34u);  // alpha is not looked at
    CPreviewPane pane;
    pane.resize(9, 7);
    pane.SetImage(&image);
    const QImage picture = PanePicture(pane);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            SCOPED_TRACE(testing::Message() << x << "," << y);
            EXPECT_EQ(picture.pixel(x + 1, y + 1) & 0xFFFFFFu, image.GetPixel(x, y) & 0xFFFFFFu);
        }
    }
    // Inside the frame but beyond the image the pane is left as it was.
    EXPECT_NE(picture.pixel(7, 5) & 0xFFFFFFu, image.GetPixel(4, 2) & 0xFFFFFFu);
}

TEST(PreviewPaneTest, EmptyImageShowsTheBlankColourInsideTheFrame)
{
    CImageBuffer empty;
    CPreviewPane pane;
    pane.resize(10, 8);
    pane.SetImage(&empty);
    const QImage picture = PanePicture(pane);
    EXPECT_EQ(QColor(picture.pixel(1, 1)), kBlankPaneColour);
    EXPECT_EQ(QColor(picture.pixel(8, 6)), kBlankPaneColour);
    EXPECT_NE(QColor(picture.pixel(0, 0)), kBlankPaneColour);
}

TEST(UiMessageReporterTest, WorkerWaitsForTheBoxOnTheUiThread)
{
    test::MessageBoxRecorder boxes;
    CUiMessageReporter reporter;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        reporter.ShowMessage("Render Failed!");
        returned = true;
    });
    // The box can only be shown by this thread's event loop.
    QElapsedTimer clock;
    clock.start();
    while (!returned && clock.elapsed() < 5000) QApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_TRUE(returned);
    ASSERT_EQ(boxes.Texts(), QStringList{"Render Failed!"});
    EXPECT_EQ(boxes.Boxes()[0].icon, MessageIcon::Warning);

    reporter.ShowMessage("on the ui thread");
    EXPECT_EQ(boxes.Texts().size(), 2);
}

TEST(UiMessageReporterTest, AWorkersMessageWaitsForTheOpenBoxAndTheWorkerForIt)
{
    test::MessageBoxRecorder boxes;
    CUiMessageReporter reporter;
    std::atomic<bool> returned{false};
    std::thread worker;
    {
        const CModalScope question;
        worker = std::thread([&] {
            reporter.ShowMessage("Overflow-w");
            returned = true;
        });
        QTest::qWait(100);
        EXPECT_TRUE(boxes.Texts().isEmpty());
        EXPECT_FALSE(returned);
    }
    EXPECT_TRUE(Serve([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(boxes.Texts(), QStringList{"Overflow-w"});
}

TEST(UiMessageReporterTest, SilencingLetsAWaitingWorkerGoWithoutItsBox)
{
    test::MessageBoxRecorder boxes;
    CUiMessageReporter reporter;
    std::atomic<bool> returned{false};
    std::thread worker;
    {
        const CModalScope question;
        worker = std::thread([&] {
            reporter.ShowMessage("Render Failed!");
            returned = true;
        });
        QTest::qWait(50);
        reporter.Silence();
        EXPECT_TRUE(Serve([&] { return returned.load(); }));
    }
    worker.join();
    QTest::qWait(20);
    EXPECT_TRUE(boxes.Texts().isEmpty());
}

TEST(UiMessageReporterTest, SilencedReporterReturnsAtOnceWithoutABox)
{
    test::MessageBoxRecorder boxes;
    CUiMessageReporter reporter;
    reporter.Silence();
    // No event loop runs here: a blocking call would never return.
    std::thread worker([&] { reporter.ShowMessage("Render Failed!"); });
    worker.join();
    reporter.ShowMessage("ui thread");
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(UiMessageReporterTest, ReportQueuedBeforeSilencingIsDropped)
{
    test::MessageBoxRecorder boxes;
    CUiMessageReporter reporter;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        reporter.ShowMessage("late");
        returned = true;
    });
    // Let the worker queue its call, then silence before serving it.
    while (QCoreApplication::instance() && !returned) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        reporter.Silence();
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    worker.join();
    EXPECT_TRUE(boxes.Boxes().empty());
}

}  // namespace
}  // namespace skelvane
