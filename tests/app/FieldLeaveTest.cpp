// Leaving a field that holds a bad value, in the real main window with real
// (modal) boxes: whichever way the focus goes, the program lives on and the
// value gets at most one box.
#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>

#include "app/DesktopApplication.h"
#include "app/DomeTabCtrl.h"
#include "app/SkelvaneDlg.h"
#include "app/VideoSettingDlg.h"
#include "cube2dome/ui/Cube2DomePage.h"
#include "pano2dome/ui/Pano2DomePage.h"
#include "ui/UiTestSupport.h"

namespace skelvane {
namespace {

class FieldLeaveTest : public ::testing::Test {
public:
    FieldLeaveTest()
    {
        AddWorkflowPages(window);
        cube = static_cast<CCube2DomePage*>(window.TabCtrl()->Page(0));
        pano = static_cast<CPano2DomePage*>(window.TabCtrl()->Page(1));
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    void ShowPage(int index)
    {
        QTest::mouseClick(window.TabCtrl()->TabBar(), Qt::LeftButton, {},
                          window.TabCtrl()->TabBar()->tabRect(index).center());
    }

    void TypeInto(QLineEdit* edit, const QString& text)
    {
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
        ASSERT_EQ(QApplication::focusWidget(), edit);
    }

    // Closes a menu the way out left open.
    static void CloseMenus()
    {
        for (int i = 0; i < 5 && QApplication::activePopupWidget(); ++i) {
            QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
            QTest::qWait(20);
        }
    }

    CSkelvaneDlg window;
    CCube2DomePage* cube = nullptr;
    CPano2DomePage* pano = nullptr;
};

struct WayOut {
    const char* name;
    std::function<void(FieldLeaveTest&, QLineEdit*)> leave;
    int boxes;  // the boxes the bad value gets
};

TEST_F(FieldLeaveTest, ABadValueGetsAtMostOneBoxWhicheverWayTheFocusLeaves)
{
    const auto menuKey = [](Qt::Key key) {
        return [key](FieldLeaveTest&, QLineEdit*) {
            QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
        };
    };
    const WayOut ways[] = {
        // The menu mnemonics: Qt's menu bar crashed when the prompt came in the middle of opening the menu.
        {"Alt+D", menuKey(Qt::Key_D), 1},
        {"Alt+H", menuKey(Qt::Key_H), 1},
        {"Alt+F", menuKey(Qt::Key_F), 1},
        {"menu clicked",
         [](FieldLeaveTest& test, QLineEdit*) {
             QMenuBar* bar = test.window.MenuBar();
             QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(bar->actions().at(1)).center());
         },
         1},
        {"Tab", [](FieldLeaveTest&, QLineEdit* edit) { QTest::keyClick(edit, Qt::Key_Tab); }, 1},
        {"other tab", [](FieldLeaveTest& test, QLineEdit*) { test.ShowPage(test.cube->isVisible() ? 1 : 0); }, 0},
    };
    const struct {
        const char* field;
        int page;
        std::function<QLineEdit*(FieldLeaveTest&)> edit;
        const char* text;
        const char* prompt;
    } fields[] = {
        {"cube FOV", 0, [](FieldLeaveTest& t) { return t.cube->FovEdit(); }, "6",
         "Please enter an integer between 90 and 360."},
        {"pano FOV", 1, [](FieldLeaveTest& t) { return t.pano->FovEdit(); }, "6",
         "Please enter an integer between 90 and 360."},
        {"pano from", 1, [](FieldLeaveTest& t) { return t.pano->FromEdit(); }, "-500",
         "Please enter an integer between -180 and 180."},
    };
    test::RealBoxCloser boxes;
    for (const auto& field : fields) {
        for (const WayOut& way : ways) {
            SCOPED_TRACE(std::string(field.field) + ", " + way.name);
            ShowPage(field.page);
            if (field.page == 1) pano->FrameRadio()->click();  // from and to are fields of the sweep modes
            QLineEdit* edit = field.edit(*this);
            const qsizetype before = boxes.Texts().size();
            TypeInto(edit, field.text);
            way.leave(*this, edit);
            QTest::qWait(50);
            CloseMenus();
            boxes.WaitUntilQuiet();
            EXPECT_TRUE(window.isVisible());
            EXPECT_EQ(boxes.Texts().size() - before, way.boxes) << boxes.Texts().join('|').toStdString();
            if (boxes.Texts().size() > before) EXPECT_EQ(boxes.Texts().back(), field.prompt);
            // Leaving once more with the value as it was says nothing more.
            ShowPage(field.page);
            window.activateWindow();
            edit->setFocus();
            QTest::keyClick(edit, Qt::Key_Tab);
            boxes.WaitUntilQuiet();
            EXPECT_LE(boxes.Texts().size() - before, 1);
        }
    }
    EXPECT_EQ(boxes.MostModalAtOnce(), 1);

    // Closing the window with a bad value typed asks nothing.
    const qsizetype before = boxes.Texts().size();
    ShowPage(0);
    TypeInto(cube->FovEdit(), "7");
    window.close();
    boxes.WaitUntilQuiet();
    EXPECT_EQ(boxes.Texts().size(), before);
}

}  // namespace
}  // namespace skelvane
