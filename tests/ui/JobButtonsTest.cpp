// The job buttons with a job the test holds and lets go: the Stop question
// of a job that ends while it is open, and end boxes that never stack.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include "ui/JobButtons.h"
#include "ui/MessageBox.h"
#include "ui/UiMessageReporter.h"
#include "ui/UiTestSupport.h"

namespace skelvane {
namespace {

// Processes events, as an open box does, until `done` or a time-out.
template <typename Done>
bool WaitWhileOpen(Done done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) QApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

class JobButtonsTest : public ::testing::Test {
public:
    JobButtonsTest()
    {
        for (QPushButton** button : {&begin, &pause, &resume, &stop}) *button = new QPushButton(&page);
        CJobButtons::Texts texts;
        texts.stopQuestion = "Stop it?";
        texts.finished = "Finished!";
        texts.stopped = "Stopped!";
        texts.failed = "Failed!";
        buttons = new CJobButtons(&page, {begin, pause, resume, stop}, reporter, texts);
        buttons->SetReady(true);
    }

    ~JobButtonsTest() override { released = true; }

    // A job that ignores pauses and stops and ends as told once released.
    bool BeginHeldJob(JobEnd end)
    {
        return buttons->Begin([this, end](CJobControl& control, CJobObserver& observer, CMessageReporter& report) {
            return control.Begin(
                [this, end](CJobContext&) {
                    while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    return JobOutcome{end, end == JobEnd::Failed ? "disk full" : ""};
                },
                observer, report);
        });
    }

    std::array<bool, 4> Enabled() const
    {
        return {begin->isEnabled(), pause->isEnabled(), resume->isEnabled(), stop->isEnabled()};
    }

    QWidget page;
    QPushButton* begin = nullptr;
    QPushButton* pause = nullptr;
    QPushButton* resume = nullptr;
    QPushButton* stop = nullptr;
    CUiMessageReporter reporter{&page};
    CJobButtons* buttons = nullptr;
    std::atomic<bool> released{false};
};

// Records boxes the way a person meets them: a question stays open (its
// event loop running) until it is withdrawn or the time is up; every box
// notes how many were open at once.
struct PatientPerson {
    QStringList texts;
    int open = 0;
    int mostOpen = 0;
    bool questionWithdrawn = false;
    std::function<void()> whileAsked;

    MessageAnswer operator()(const MessageBoxRequest& request)
    {
        texts << request.text;
        mostOpen = std::max(mostOpen, ++open);
        if (request.buttons == MessageButtons::YesNo) {
            if (whileAsked) whileAsked();
            questionWithdrawn = WaitWhileOpen([&] { return *request.withdrawn; });
        }
        --open;
        return MessageAnswer::Yes;
    }
};

TEST_F(JobButtonsTest, AJobThatEndsWhileItsStopQuestionIsOpenTakesTheQuestionWithIt)
{
    for (const JobEnd end : {JobEnd::Finished, JobEnd::Failed}) {
        SCOPED_TRACE(static_cast<int>(end));
        released = false;
        PatientPerson person;
        person.whileAsked = [this] { released = true; };
        const MessageBoxHandler previous = SetMessageBoxHandler(std::ref(person));
        QSignalSpy ended(buttons, &CJobButtons::EndReported);
        ASSERT_TRUE(BeginHeldJob(end));
        stop->click();
        EXPECT_TRUE(person.questionWithdrawn);
        ASSERT_TRUE(ended.count() > 0 || ended.wait(5000));
        SetMessageBoxHandler(previous);

        // The Yes given as the question went counts for nothing: the job
        // ended as it would have, and its box came after the question.
        EXPECT_EQ(ended.at(0).at(0).value<JobEnd>(), end);
        const QString endText = end == JobEnd::Finished ? "Finished!" : "Failed!\n\ndisk full";
        EXPECT_EQ(person.texts, (QStringList{"Stop it?", endText}));
        EXPECT_EQ(person.mostOpen, 1);
        EXPECT_FALSE(buttons->IsRunning());
        EXPECT_EQ(Enabled(), (std::array<bool, 4>{true, false, false, false}));
    }
}

TEST_F(JobButtonsTest, TheEndBoxWaitsForTheModalWindowOpenAtTheEnd)
{
    test::MessageBoxRecorder boxes;
    QSignalSpy ended(buttons, &CJobButtons::EndReported);
    QSignalSpy joined(buttons, &CJobButtons::Ended);
    ASSERT_TRUE(BeginHeldJob(JobEnd::Finished));
    {
        const CModalScope aboutBox;
        released = true;
        ASSERT_TRUE(joined.wait(5000));
        // Joined and idle at once; the box waits for the window to close.
        EXPECT_FALSE(buttons->IsRunning());
        QTest::qWait(50);
        EXPECT_TRUE(boxes.Texts().isEmpty());
        EXPECT_EQ(ended.count(), 0);
    }
    ASSERT_TRUE(ended.wait(5000));
    EXPECT_EQ(boxes.Texts(), QStringList{"Finished!"});
}

TEST_F(JobButtonsTest, ClosingForgetsAnEndBoxThatStillWaited)
{
    test::MessageBoxRecorder boxes;
    QSignalSpy joined(buttons, &CJobButtons::Ended);
    ASSERT_TRUE(BeginHeldJob(JobEnd::Finished));
    {
        const CModalScope question;
        released = true;
        ASSERT_TRUE(joined.wait(5000));
        EXPECT_FALSE(buttons->StopForClose());  // nothing ran any more
    }
    QTest::qWait(50);
    EXPECT_TRUE(boxes.Texts().isEmpty());
}

}  // namespace
}  // namespace skelvane
