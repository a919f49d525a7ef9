// The main window: tabs, keys, menu commands, the help file search and
// closing.
#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QMenuBar>
#include <QPointer>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include "app/AboutDlg.h"
#include "app/DesktopApplication.h"
#include "app/DomeTabCtrl.h"
#include "app/HelpFile.h"
#include "app/HyperLink.h"
#include "app/SkelvaneDlg.h"
#include "app/VideoSettingDlg.h"
#include "cube2dome/ui/Cube2DomePage.h"
#include "cube2dome/ui/Cube2DomeSettingDlg.h"
#include "pano2dome/ui/Pano2DomePage.h"
#include "support/TempDir.h"
#include "support/TestImages.h"
#include "ui/DomePage.h"
#include "ui/UiTestSupport.h"

namespace skelvane {
namespace {

// A page that records what the window asks of it.
class RecordingPage final : public CDomePage {
public:
    bool IsJobRunning() const override { return running; }
    void StopJobForClose() override
    {
        ++stops;
        running = false;
    }
    bool ShowSettingsDialog() override
    {
        ++settingsShown;
        return true;
    }
    void SuspendJob() override { held += running ? 1 : 0; }
    void ResumeJob() override { held -= running && held > 0 ? 1 : 0; }

    bool running = false;
    int stops = 0;
    int settingsShown = 0;
    int held = 0;  // how many holds of its running job are in force
};

class MainWindowTest : public ::testing::Test {
public:
    MainWindowTest()
    {
        cube = new RecordingPage;
        pano = new RecordingPage;
        cubeEdit = new QLineEdit(cube);
        window.SetPages(cube, pano);
        window.show();
        QApplication::processEvents();
    }

    void ClickTab(int index)
    {
        CDomeTabCtrl* tabs = window.TabCtrl();
        QTest::mouseClick(tabs->TabBar(), Qt::LeftButton, {}, tabs->TabBar()->tabRect(index).center());
    }

    CSkelvaneDlg window;
    RecordingPage* cube;
    RecordingPage* pano;
    QLineEdit* cubeEdit;
};

TEST_F(MainWindowTest, TitleSizeAndTheFirstPageShownFirst)
{
    EXPECT_EQ(window.windowTitle(), "Skelvane V2.0");
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.TabCtrl()->PageCount(), 2);
    EXPECT_EQ(window.TabCtrl()->TabBar()->tabText(0), "Cube2Dome");
    EXPECT_EQ(window.TabCtrl()->TabBar()->tabText(1), "Pano2Dome");
    EXPECT_TRUE(cube->isVisible());
    EXPECT_FALSE(pano->isVisible());
    // The pages fill the area under the tabs.
    EXPECT_GT(cube->geometry().top(), window.TabCtrl()->TabRect(0).bottom());
    EXPECT_EQ(pano->geometry(), cube->geometry());
}

TEST_F(MainWindowTest, ClickingATabSwitchesThePage)
{
    ClickTab(1);
    EXPECT_TRUE(pano->isVisible());
    EXPECT_FALSE(cube->isVisible());
    EXPECT_EQ(window.TabCtrl()->ShownIndex(), 1);
    ClickTab(1);
    EXPECT_TRUE(pano->isVisible());
    ClickTab(0);
    EXPECT_TRUE(cube->isVisible());
    EXPECT_FALSE(pano->isVisible());
}

TEST_F(MainWindowTest, EnterAndEscapeNeverCloseTheWindow)
{
    window.activateWindow();
    cubeEdit->setFocus();
    bool returnSeen = false;
    QObject::connect(cubeEdit, &QLineEdit::returnPressed, [&] { returnSeen = true; });
    for (QWidget* target : {static_cast<QWidget*>(cubeEdit), static_cast<QWidget*>(window.TabCtrl()),
                            static_cast<QWidget*>(&window)}) {
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(returnSeen);
    // Other keys still reach the fields.
    QTest::keyClicks(cubeEdit, "42");
    EXPECT_EQ(cubeEdit->text(), "42");
}

TEST_F(MainWindowTest, MenuHasTheGivenTextsAndIds)
{
    const QList<QAction*> menus = window.MenuBar()->actions();
    ASSERT_EQ(menus.size(), 3);
    EXPECT_EQ(menus[0]->text(), "File(&F)");
    EXPECT_EQ(menus[1]->text(), "FullDome(&D)");
    EXPECT_EQ(menus[2]->text(), "Help(&H)");
    EXPECT_EQ(menus[1]->menu()->actions().at(0)->text(), "Setting(&S)");
    const struct {
        int id;
        const char* text;
    } items[] = {
        {57665, "Eixt(&X)"},        {32771, "Cube2Dome(&C)..."}, {32772, "Pano2Dome(&P)..."},
        {32776, "Video(&V)..."},    {57664, "About(&A)..."},     {32778, "HomePage"},
        {32777, "Help File"},
    };
    for (const auto& item : items) {
        QAction* action = window.Command(item.id);
        ASSERT_NE(action, nullptr) << item.id;
        EXPECT_EQ(action->text(), item.text);
        EXPECT_TRUE(action->shortcut().isEmpty());
    }
}

TEST_F(MainWindowTest, VideoCommandShowsTheOneDialogWithItsLastValues)
{
    CVideoSettingDlg* first = window.VideoSettingDlg();
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(first->isVisible());
    window.Command(CSkelvaneDlg::kIdVideoSetting)->trigger();
    EXPECT_TRUE(first->isVisible());
    first->IntervalEdit()->setText("12");
    QTest::mouseClick(first->OkButton(), Qt::LeftButton);
    EXPECT_EQ(window.VideoSettings().keyFrameEvery, 12);
    EXPECT_FALSE(first->isVisible());

    window.Command(CSkelvaneDlg::kIdVideoSetting)->trigger();
    EXPECT_EQ(window.VideoSettingDlg(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->IntervalEdit()->text(), "12");
}

TEST_F(MainWindowTest, SettingCommandsReachThePages)
{
    window.Command(CSkelvaneDlg::kIdCube2DomeSetting)->trigger();
    EXPECT_EQ(cube->settingsShown, 1);
    EXPECT_EQ(pano->settingsShown, 0);
    window.Command(CSkelvaneDlg::kIdPano2DomeSetting)->trigger();
    EXPECT_TRUE(pano->isVisible());
    EXPECT_EQ(window.TabCtrl()->ShownIndex(), 1);
}

TEST_F(MainWindowTest, AboutCommandShowsTheAboutBoxWithItsLinks)
{
    QString title;
    QString version;
    QString website;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        if (!about) return;
        title = about->windowTitle();
        for (QLabel* label : about->findChildren<QLabel*>()) {
            if (label->text().startsWith("Skelvane Version")) version = label->text();
        }
        website = about->WebsiteLink()->Target();
        about->accept();
    });
    window.Command(CSkelvaneDlg::kIdAppAbout)->trigger();
    EXPECT_EQ(title, "About Skelvane");
    EXPECT_EQ(version, "Skelvane Version 2.0");
    EXPECT_TRUE(website.endsWith("README.md")) << website.toStdString();
}

TEST_F(MainWindowTest, HomePageOpensTheProductDocumentation)
{
    test::DesktopRecorder desktop(true, false);
    window.Command(CSkelvaneDlg::kIdHomePage)->trigger();
    ASSERT_EQ(desktop.Opened().size(), 1u);
    EXPECT_TRUE(desktop.Opened()[0].isLocalFile());
    EXPECT_TRUE(desktop.Opened()[0].path().endsWith("README.md"));
}

class CurrentDir {
public:
    explicit CurrentDir(const QString& dir) : m_old(QDir::currentPath()) { QDir::setCurrent(dir); }
    ~CurrentDir() { QDir::setCurrent(m_old); }

private:
    QString m_old;
};

TEST_F(MainWindowTest, HelpFileOpensTheLastHelpFileOfTheCurrentFolder)
{
    test::TempDir dir;
    for (const char* name : {"alpha.chm", "Zeta.CHM", "notes.txt", "beta.chm"}) std::ofstream(dir / name) << "x";
    std::filesystem::create_directory(dir / "zzz.chm");  // a folder is not a help file
    const QString folder = QString::fromStdString(dir.Path().string());
    EXPECT_EQ(LastHelpFileIn(folder), folder + "/Zeta.CHM");

    CurrentDir here(folder);
    test::DesktopRecorder desktop(true, false);
    test::MessageBoxRecorder boxes;
    window.Command(CSkelvaneDlg::kIdHelpFile)->trigger();
    ASSERT_EQ(desktop.Opened().size(), 1u);
    EXPECT_EQ(desktop.Opened()[0], QUrl::fromLocalFile(folder + "/Zeta.CHM"));
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(MainWindowTest, HelpFileMissingOrUnopenableIsReported)
{
    test::TempDir dir;
    const QString folder = QString::fromStdString(dir.Path().string());
    CurrentDir here(folder);
    test::DesktopRecorder desktop(false, false);
    {
        test::MessageBoxRecorder boxes;
        // The program's own folder (the test's build folder) holds no help file either.
        window.Command(CSkelvaneDlg::kIdHelpFile)->trigger();
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].text, "Help file is not exist!");
        EXPECT_EQ(boxes.Boxes()[0].title, "Help file");
        EXPECT_TRUE(desktop.Opened().empty());
    }
    std::ofstream(dir / "guide.chm") << "x";
    test::MessageBoxRecorder boxes;
    window.Command(CSkelvaneDlg::kIdHelpFile)->trigger();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_TRUE(boxes.Boxes()[0].text.contains("guide.chm"));
    EXPECT_EQ(boxes.Boxes()[0].title, "Help file");
}

TEST_F(MainWindowTest, ClosingWithTheVideoDialogOpenDestroysIt)
{
    window.Command(CSkelvaneDlg::kIdVideoSetting)->trigger();
    QPointer<CVideoSettingDlg> dialog = window.VideoSettingDlg();
    ASSERT_TRUE(dialog && dialog->isVisible());
    window.Command(CSkelvaneDlg::kIdAppExit)->trigger();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(MainWindowTest, ClosingDuringAJobAsksThenStopsItOrStaysOpen)
{
    pano->running = true;
    test::MessageBoxRecorder boxes;
    boxes.AnswerNext(MessageAnswer::No);
    window.close();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(pano->stops, 0);
    ASSERT_EQ(boxes.Texts(), QStringList{"A render is running. Stop it and quit?"});

    boxes.AnswerNext(MessageAnswer::Yes);
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_GE(pano->stops, 1);
    EXPECT_FALSE(pano->running);
}

TEST_F(MainWindowTest, TheQuitQuestionHoldsTheRendersWhileItIsOpen)
{
    cube->running = true;
    pano->running = true;
    for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
        std::array<int, 2> heldWhileAsked{};
        const MessageBoxHandler previous = SetMessageBoxHandler([&](const MessageBoxRequest&) {
            heldWhileAsked = {cube->held, pano->held};
            return answer;
        });
        window.close();
        SetMessageBoxHandler(previous);
        EXPECT_EQ(heldWhileAsked, (std::array<int, 2>{1, 1}));
        if (answer == MessageAnswer::No) {
            // Kept open: the renders go on.
            EXPECT_TRUE(window.isVisible());
            EXPECT_EQ(cube->held + pano->held, 0);
        } else {
            EXPECT_FALSE(window.isVisible());
            EXPECT_GE(cube->stops, 1);
            EXPECT_GE(pano->stops, 1);
        }
    }
}

TEST_F(MainWindowTest, TheQuitQuestionGoesWhenTheLastRenderEndsAndTheWindowStays)
{
    cube->running = true;
    pano->running = true;
    bool withdrawnWhileOneRan = true;
    bool withdrawn = false;
    const MessageBoxHandler previous = SetMessageBoxHandler([&](const MessageBoxRequest& request) {
        cube->running = false;
        Q_EMIT cube->JobJoined();
        withdrawnWhileOneRan = *request.withdrawn;
        pano->running = false;
        Q_EMIT pano->JobJoined();
        withdrawn = *request.withdrawn;
        return MessageAnswer::Yes;  // a click that came after the question went
    });
    window.close();
    SetMessageBoxHandler(previous);
    EXPECT_FALSE(withdrawnWhileOneRan);
    EXPECT_TRUE(withdrawn);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(cube->stops + pano->stops, 0);

    // Nothing runs now: closing asks nothing.
    test::MessageBoxRecorder boxes;
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(boxes.Texts().isEmpty());
}

// A render that ends while the quit question is open, and a Yes: its end
// box, which waited for the question, goes with the window.
TEST(MainWindowClosingTest, AnEndBoxThatWaitedForTheQuitQuestionGoesWithTheWindow)
{
    test::TempDir dir;
    for (const char* face : {"left", "front", "right", "back", "top"}) {
        std::filesystem::create_directories(dir / "faces" / face);
        ASSERT_TRUE(test::MakePatternImage(16, 16, face[0]).Save(dir / "faces" / face / "f1.bmp"));
    }
    ASSERT_TRUE(test::MakePatternImage(200, 100, 1).Save(dir / "pano.bmp"));
    const QString out = QString::fromStdString(dir.Path().string());

    CSkelvaneDlg window;
    AddWorkflowPages(window);
    auto* cube = static_cast<CCube2DomePage*>(window.TabCtrl()->Page(0));
    auto* pano = static_cast<CPano2DomePage*>(window.TabCtrl()->Page(1));
    window.show();
    {
        test::FolderPickerAnswer faces(out + "/faces");
        cube->SettingsDlg()->UpperDirButton()->click();
        cube->SettingsDlg()->SaveDirEdit()->setText(out);
        cube->SettingsDlg()->AcceptButton()->click();
        pano->LoadPanorama(out + "/pano.bmp");
        pano->FrameRadio()->click();
        test::FolderPickerAnswer frames(out);
        pano->SaveToButton()->click();
        pano->DurationEdit()->setText("1");
        pano->FrameRateEdit()->setText("1");
    }
    QStringList texts;
    const MessageBoxHandler previous = SetMessageBoxHandler([&](const MessageBoxRequest& request) {
        texts << request.text;
        if (request.buttons != MessageButtons::YesNo) return MessageAnswer::Ok;
        // The Pano2Dome render is let go and ends meanwhile; the Cube2Dome one stays held.
        pano->ResumeJob();
        QElapsedTimer waited;
        waited.start();
        while (pano->IsJobRunning() && waited.elapsed() < 10000) QApplication::processEvents();
        return MessageAnswer::Yes;
    });
    cube->BeginButton()->click();
    pano->BeginButton()->click();
    ASSERT_TRUE(cube->IsJobRunning() && pano->IsJobRunning());
    window.close();
    QTest::qWait(100);
    SetMessageBoxHandler(previous);
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(cube->IsJobRunning());
    EXPECT_EQ(texts, QStringList{"A render is running. Stop it and quit?"}) << texts.join('|').toStdString();
}

TEST(DomeTabCtrlTest, HoldsAtMostSixteenPages)
{
    CDomeTabCtrl tabs;
    QWidget pages[17];
    for (int i = 0; i < 16; ++i) EXPECT_TRUE(tabs.AddPage(QString::number(i), &pages[i]));
    EXPECT_FALSE(tabs.AddPage("17", &pages[16]));
    EXPECT_EQ(tabs.PageCount(), 16);
    tabs.CreatePages();
}

}  // namespace
}  // namespace skelvane
