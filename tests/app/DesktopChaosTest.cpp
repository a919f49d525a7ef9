// The whole desktop program under a seeded stream of random input while small
// cube and pano renders run: clicks on whatever is shown, keys (Tab, Return,
// Escape, space, arrows, digits, letters, Alt mnemonics) and slider drags,
// always aimed at the window a person could reach (an open menu, else a modal
// window, else any shown window). The boxes are the real ones, modal with
// their own event loops.
//
// While the stream runs the program must stay alive with at most one modal
// window open; when it stops, every open box and menu is closed, running
// renders are stopped through their own Stop buttons, and both pages must be
// idle (no job, Begin on) with their controls enabled as their state says.
//
// The stream lasts SKELVANE_STRESS_SECONDS (default 8); the seed is printed
// and replayed with SKELVANE_STRESS_SEED, as the job stress tests do.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include "app/DesktopApplication.h"
#include "app/DomeTabCtrl.h"
#include "app/SkelvaneDlg.h"
#include "app/VideoSettingDlg.h"
#include "cube2dome/ui/Cube2DomePage.h"
#include "cube2dome/ui/Cube2DomeSettingDlg.h"
#include "pano2dome/ui/Pano2DomePage.h"
#include "support/JobStress.h"
#include "support/TempDir.h"
#include "support/TestImages.h"
#include "ui/FileDialog.h"
#include "ui/FolderPicker.h"
#include "ui/MessageBox.h"
#include "ui/UiTestSupport.h"

namespace skelvane {
namespace {

namespace fs = std::filesystem;

QString Q(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

// Where the stream's files live: a face sequence, a panorama, a file that is
// no image, and the folders renders write into. The working folder too, so a
// typed relative path never reaches anything else.
class ChaosFiles {
public:
    ChaosFiles() : m_previousFolder(QDir::currentPath())
    {
        for (const char* face : {"left", "front", "right", "back", "top"}) {
            fs::create_directories(m_dir / "faces" / face);
            for (int frame = 1; frame <= 6; ++frame) {
                char name[16];
                std::snprintf(name, sizeof name, "%05d.bmp", frame);
                EXPECT_TRUE(test::MakePatternImage(32, 32, face[0] + frame).Save(m_dir / "faces" / face / name));
            }
        }
        EXPECT_TRUE(test::MakePatternImage(200, 100, 3).Save(m_dir / "pano.bmp"));
        test::WriteFileBytes(m_dir / "broken.png", {0x89, 'P', 'N', 'G', 1, 2, 3});
        fs::create_directories(m_dir / "out");
        QDir::setCurrent(Q(m_dir.Path()));
    }
    ~ChaosFiles() { QDir::setCurrent(m_previousFolder); }

    QString operator()(const char* name) const { return Q(m_dir / name); }

private:
    test::TempDir m_dir;
    QString m_previousFolder;
};

class Chaos {
public:
    Chaos(CSkelvaneDlg& window, test::StressRun& run) : m_window(window), m_run(run) {}

    // One random action on what a person could reach now.
    void Act();
    // One step towards the end: close what is open, stop what runs. True once
    // nothing is open, nothing runs and nothing came for a moment.
    bool Settle();

    int MostModalAtOnce() const { return m_mostModal; }
    long Actions() const { return m_actions; }
    void Watch() { m_mostModal = std::max(m_mostModal, test::VisibleModalWindows()); }

private:
    QWidget* Target();
    void Click(QWidget* target);
    void Key(QWidget* target);
    void Type(QWidget* target);
    void Drag(QWidget* target);
    template <typename T>
    T Pick(const std::vector<T>& from)
    {
        return from[m_run.Random()() % from.size()];
    }
    QPoint Anywhere(const QRect& area) { return {area.x() + Below(area.width()), area.y() + Below(area.height())}; }
    int Below(int n) { return n > 0 ? static_cast<int>(m_run.Random()() % static_cast<unsigned>(n)) : 0; }

    CSkelvaneDlg& m_window;
    test::StressRun& m_run;
    int m_mostModal = 0;
    long m_actions = 0;
    QElapsedTimer m_quiet;
};

QWidget* Chaos::Target()
{
    if (QWidget* popup = QApplication::activePopupWidget()) return popup;
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    std::vector<QWidget*> shown;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->isEnabled()) shown.push_back(window);
    }
    // Mostly the main window, where the renders are.
    if (shown.empty() || m_run.Chance(70)) return &m_window;
    return Pick(shown);
}

void Chaos::Act()
{
    Watch();
    // A window closed by the stream (Exit, the quit question) comes back.
    if (!m_window.isVisible() && !QApplication::activeModalWidget()) {
        m_window.show();
        return;
    }
    QPointer<QWidget> target = Target();
    ++m_actions;
    const unsigned kind = m_run.Random()() % 100;
    if (kind < 40) Click(target);
    else if (kind < 55) Type(target);
    else if (kind < 85) Key(target);
    else Drag(target);
    Watch();
}

void Chaos::Click(QWidget* target)
{
    if (auto* menu = qobject_cast<QMenu*>(target)) {
        const QList<QAction*> actions = menu->actions();
        if (actions.isEmpty()) return;
        QAction* action = actions.at(Below(static_cast<int>(actions.size())));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        return;
    }
    std::vector<QWidget*> reachable;
    for (QWidget* child : target->findChildren<QWidget*>()) {
        if (!child->isVisible() || !child->isEnabled() || child->window() != target->window()) continue;
        if (qobject_cast<QAbstractButton*>(child) || qobject_cast<QAbstractSlider*>(child) ||
            qobject_cast<QLineEdit*>(child) || qobject_cast<QComboBox*>(child) || qobject_cast<QTabBar*>(child) ||
            qobject_cast<QMenuBar*>(child) || child->inherits("QAbstractItemView") ||
            child->inherits("skelvane::CHyperLink")) {
            reachable.push_back(child);
        }
    }
    if (reachable.empty()) {
        QTest::mouseClick(target, Qt::LeftButton, {}, Anywhere(target->rect()));
        return;
    }
    QWidget* child = Pick(reachable);
    QPoint at = Anywhere(child->rect());
    if (auto* tabs = qobject_cast<QTabBar*>(child); tabs && tabs->count() > 0) {
        at = tabs->tabRect(Below(tabs->count())).center();
    } else if (auto* bar = qobject_cast<QMenuBar*>(child); bar && !bar->actions().isEmpty()) {
        at = bar->actionGeometry(bar->actions().at(Below(static_cast<int>(bar->actions().size())))).center();
    }
    QTest::mouseClick(child, Qt::LeftButton, {}, at);
}

void Chaos::Key(QWidget* target)
{
    static const std::vector<Qt::Key> keys = {
        Qt::Key_Tab,  Qt::Key_Backtab, Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space,    Qt::Key_Up,
        Qt::Key_Down, Qt::Key_Left,    Qt::Key_Right,  Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Backspace,
        Qt::Key_Minus, Qt::Key_0,      Qt::Key_1,      Qt::Key_2,      Qt::Key_5,        Qt::Key_9,
        Qt::Key_A,    Qt::Key_X,       Qt::Key_Period};
    static const std::vector<Qt::Key> mnemonics = {Qt::Key_F, Qt::Key_D, Qt::Key_H, Qt::Key_S, Qt::Key_C,
                                                   Qt::Key_P, Qt::Key_V, Qt::Key_A, Qt::Key_X};
    QWidget* focus = QApplication::focusWidget();
    QWidget* receiver = focus && focus->window() == target->window() ? focus : target;
    if (m_run.Chance(20)) QTest::keyClick(receiver, Pick(mnemonics), Qt::AltModifier);
    else QTest::keyClick(receiver, Pick(keys));
}

void Chaos::Type(QWidget* target)
{
    std::vector<QLineEdit*> fields;
    for (QLineEdit* field : target->findChildren<QLineEdit*>()) {
        if (field->isVisible() && field->isEnabled() && field->window() == target->window()) fields.push_back(field);
    }
    if (fields.empty()) {
        Key(target);
        return;
    }
    QPointer<QLineEdit> field = Pick(fields);
    QTest::mouseClick(field, Qt::LeftButton, {}, Anywhere(field->rect()));
    static const char* const texts[] = {"6", "90", "400", "-500", "12", "0", "x", "", "1001", "45"};
    if (field && field->hasFocus()) {
        field->selectAll();
        QTest::keyClicks(field, QString::fromLatin1(texts[m_run.Random()() % std::size(texts)]));
    }
}

void Chaos::Drag(QWidget* target)
{
    std::vector<QSlider*> sliders;
    for (QSlider* slider : target->findChildren<QSlider*>()) {
        if (slider->isVisible() && slider->isEnabled()) sliders.push_back(slider);
    }
    if (sliders.empty()) {
        Click(target);
        return;
    }
    QPointer<QSlider> slider = Pick(sliders);
    QTest::mousePress(slider, Qt::LeftButton, {}, Anywhere(slider->rect()));
    for (int step = Below(4); step >= 0 && slider; --step) QTest::mouseMove(slider, Anywhere(slider->rect()));
    if (slider) QTest::mouseRelease(slider, Qt::LeftButton, {}, Anywhere(slider->rect()));
}

bool Chaos::Settle()
{
    Watch();
    if (!m_quiet.isValid()) m_quiet.start();
    if (QWidget* popup = QApplication::activePopupWidget()) {
        QTest::keyClick(popup, Qt::Key_Escape);
        m_quiet.restart();
        return false;
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        m_quiet.restart();
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            static_cast<QDialog*>(modal)->reject();
            return false;
        }
        // A Stop question is answered Yes, so the render ends; every other box is dismissed.
        QAbstractButton* yes = box->button(QMessageBox::Yes);
        const bool stopQuestion = box->text().contains("not finish");
        QAbstractButton* button = stopQuestion && yes ? yes : box->escapeButton();
        if (!button) button = box->buttons().value(0);
        if (button) button->click();
        return false;
    }
    if (!m_window.isVisible()) m_window.show();
    for (int i = 0; i < m_window.TabCtrl()->PageCount(); ++i) {
        auto* page = static_cast<CDomePage*>(m_window.TabCtrl()->Page(i));
        if (!page->IsJobRunning()) continue;
        m_quiet.restart();
        m_window.TabCtrl()->ShowPage(i);
        for (auto* button : page->findChildren<QPushButton*>()) {
            if ((button->text() == "Continue" || button->text() == "Stop") && button->isEnabled()) {
                button->click();
                return false;
            }
        }
        return false;
    }
    return OpenModalCount() == 0 && m_quiet.elapsed() > 500;
}

// Answers the file dialogs and folder pickers with the stream's own files, or
// as cancelled.
class ChaosDialogs {
public:
    ChaosDialogs(const ChaosFiles& files, test::StressRun& run)
    {
        m_folders = SetFolderPickerHandler([&files, &run](QWidget*, const QString&, const QString&) {
            const QString answers[] = {files("faces"), files("faces/left"), files("out"), QString()};
            return answers[run.Random()() % 4];
        });
        m_files = SetFileDialogHandler([&files, &run](QWidget*, const FileDialogRequest& request) {
            if (request.mode == FileDialogRequest::Mode::Open) {
                const QString answers[] = {files("pano.bmp"), files("broken.png"), QString()};
                return answers[run.Random()() % 3];
            }
            const QString answers[] = {files("out/dome.png"), files("out/dome.jpg"), files("out/sweep.avi"),
                                       files("out/sweep.mov"), QString()};
            return answers[run.Random()() % 5];
        });
    }
    ~ChaosDialogs()
    {
        SetFolderPickerHandler(m_folders);
        SetFileDialogHandler(m_files);
    }

private:
    FolderPickerHandler m_folders;
    FileDialogHandler m_files;
};

TEST(DesktopChaosTest, RandomInputWhileRendersRunLeavesThePagesIdleAndConsistent)
{
    test::StressRun run;
    ChaosFiles files;
    ChaosDialogs dialogs(files, run);
    test::DesktopRecorder desktop(true, true);

    CSkelvaneDlg window;
    AddWorkflowPages(window);
    auto* cube = static_cast<CCube2DomePage*>(window.TabCtrl()->Page(0));
    auto* pano = static_cast<CPano2DomePage*>(window.TabCtrl()->Page(1));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    // Renders stay small whatever is typed: at most 99-pixel panorama domes
    // and 9 x 99 frames, at most 999-pixel cube domes of six frames.
    pano->OutputWidthEdit()->setMaxLength(2);
    pano->DurationEdit()->setMaxLength(1);
    pano->FrameRateEdit()->setMaxLength(2);
    cube->SettingsDlg()->WidthEdit()->setMaxLength(3);

    // Both renders running when the stream begins.
    {
        test::MessageBoxRecorder quiet;
        test::FolderPickerAnswer faces(files("faces"));
        cube->ShowSettingsDialog();
        cube->SettingsDlg()->UpperDirButton()->click();
        cube->SettingsDlg()->SaveDirEdit()->setText(files("out"));
        cube->SettingsDlg()->AcceptButton()->click();
        ASSERT_TRUE(quiet.Texts().isEmpty()) << quiet.Texts().join('|').toStdString();
        cube->BeginButton()->click();

        pano->LoadPanorama(files("pano.bmp"));
        pano->OutputWidthEdit()->setText("48");
        pano->FrameRadio()->click();
        test::FolderPickerAnswer out(files("out"));
        pano->SaveToButton()->click();
        pano->BeginButton()->click();
        ASSERT_TRUE(cube->IsJobRunning());
        ASSERT_TRUE(pano->IsJobRunning());
    }

    // The stream, then the way back to rest, all from timers: a click that
    // opens a modal box only returns when the box closes, and the stream goes
    // on inside the box's event loop, as a person goes on clicking. Each step
    // asks for the next one before it acts (a timer never fires inside its
    // own handler, so every step has a timer of its own).
    Chaos chaos(window, run);
    bool settled = false;
    QElapsedTimer settling;
    QObject steps;
    std::function<void()> step = [&] {
        if (settled) return;
        QTimer::singleShot(2, &steps, step);
        if (run.TimeLeft()) {
            chaos.Act();
            return;
        }
        if (!settling.isValid()) settling.start();
        settled = chaos.Settle();
    };
    QTimer::singleShot(0, &steps, step);
    while (!settled && !(settling.isValid() && settling.elapsed() > 120000)) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    settled = true;
    std::printf("chaos: %ld actions, at most %d modal windows at once\n", chaos.Actions(), chaos.MostModalAtOnce());

    ASSERT_TRUE(settled) << "no rest two minutes after the stream ended";
    EXPECT_LE(chaos.MostModalAtOnce(), 1);
    EXPECT_TRUE(window.isVisible());

    // Both pages idle: no job, Begin on, the job's other buttons off.
    for (CDomePage* page : {static_cast<CDomePage*>(cube), static_cast<CDomePage*>(pano)}) {
        SCOPED_TRACE(page->metaObject()->className());
        EXPECT_FALSE(page->IsJobRunning());
        for (auto* button : page->findChildren<QPushButton*>()) {
            const QString text = button->text();
            if (text == "Begin") EXPECT_TRUE(button->isEnabled());
            if (text == "Pause" || text == "Continue" || text == "Stop") {
                EXPECT_FALSE(button->isEnabled()) << text.toStdString();
            }
        }
    }
    // The Cube2Dome view is given back, nothing waits for a render.
    for (QWidget* control : std::vector<QWidget*>{cube->HorizontalSlider(), cube->VerticalSlider(),
                                                  cube->FrameSlider(), cube->FovEdit(), cube->SaveDirButton()}) {
        EXPECT_TRUE(control->isEnabled()) << control->metaObject()->className();
    }
    EXPECT_FALSE(cube->PendingNote()->isVisibleTo(cube));
    // The Pano2Dome controls are what the current mode enables.
    const bool sweep = pano->Mode() != CPano2DomePage::kImageMode;
    for (QWidget* control : std::vector<QWidget*>{pano->OpenButton(), pano->InputPathEdit(), pano->OutputWidthEdit(),
                                                  pano->SaveToButton(), pano->FovEdit(), pano->ImageRadio(),
                                                  pano->FrameRadio(), pano->VideoRadio()}) {
        EXPECT_TRUE(control->isEnabled()) << control->metaObject()->className();
    }
    for (QWidget* control :
         std::vector<QWidget*>{pano->DurationEdit(), pano->FrameRateEdit(), pano->FromEdit(), pano->ToEdit()}) {
        EXPECT_EQ(control->isEnabled(), sweep) << control->metaObject()->className();
    }
    EXPECT_EQ(pano->FormatCombo()->isEnabled(), pano->Mode() == CPano2DomePage::kFrameMode);
}

}  // namespace
}  // namespace skelvane
