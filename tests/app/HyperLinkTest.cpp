// The link control: its look in each state, what a click opens, the browser
// fallback and the launch error texts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QTest>
#include <QWidget>

#include "app/HyperLink.h"
#include "support/TempDir.h"
#include "ui/UiTestSupport.h"

namespace skelvane {
namespace {

const QColor kLink(0, 0, 238);
const QColor kVisited(85, 26, 139);
const QColor kHover(255, 0, 0);

class HyperLinkTest : public ::testing::Test {
public:
    HyperLinkTest()
    {
        window.resize(400, 200);
        link = new CHyperLink(QStringLiteral("https://example.org/dome"), &window);
        link->setGeometry(20, 20, 300, 30);
    }

    void Show()
    {
        window.show();
        QApplication::processEvents();
    }

    // Moves the pointer over the link, then well away from it, and lets the
    // hover timer run.
    void Hover() { QTest::mouseMove(link, link->rect().center()); }
    void Leave()
    {
        QCursor::setPos(window.mapToGlobal(QPoint(390, 190)));
        QTest::qWait(3 * CHyperLink::kHoverTimerMs);
    }

    QWidget window;
    CHyperLink* link;
};

TEST_F(HyperLinkTest, AttachTakesTheTextAsTargetAndFitsTheLabelToIt)
{
    link->Attach();
    EXPECT_EQ(link->Target(), "https://example.org/dome");
    EXPECT_EQ(link->toolTip(), "https://example.org/dome");
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(link->CurrentTextColour(), kLink);
    EXPECT_FALSE(link->IsUnderlined());
    // Fitted: as wide as its text, no longer 300 pixels.
    QFont underlined = link->font();
    underlined.setUnderline(true);
    EXPECT_EQ(link->width(), QFontMetrics(underlined).size(Qt::TextSingleLine, link->text()).width());
    EXPECT_LT(link->width(), 300);
    EXPECT_EQ(link->pos(), QPoint(20, 20 + (30 - link->height()) / 2));

    // A mode chosen before Attach takes effect there, on the label's own font.
    CHyperLink always(QStringLiteral("always"), &window);
    QFont bold = always.font();
    bold.setBold(true);
    always.setFont(bold);
    always.SetUnderlineMode(CHyperLink::kUnderlineAlways);
    always.Attach();
    EXPECT_TRUE(always.IsUnderlined());
    EXPECT_TRUE(always.font().bold());

    CHyperLink empty(&window);
    empty.SetTarget(QStringLiteral("mailto:skelvane@localhost"));
    empty.Attach();
    EXPECT_EQ(empty.text(), "mailto:skelvane@localhost");
}

TEST_F(HyperLinkTest, HoverUnderlinesAndColoursUntilThePointerLeaves)
{
    link->Attach();
    Show();
    Hover();
    EXPECT_TRUE(link->IsHovering());
    EXPECT_TRUE(link->IsUnderlined());
    EXPECT_EQ(link->CurrentTextColour(), kHover);
    EXPECT_EQ(link->palette().color(QPalette::WindowText), kHover);
    Leave();
    EXPECT_FALSE(link->IsHovering());
    EXPECT_FALSE(link->IsUnderlined());
    EXPECT_EQ(link->CurrentTextColour(), kLink);
}

TEST_F(HyperLinkTest, UnderlineModesAlwaysAndNever)
{
    link->Attach();
    Show();
    link->SetUnderlineMode(CHyperLink::kUnderlineAlways);
    EXPECT_TRUE(link->IsUnderlined());
    Hover();
    Leave();
    EXPECT_TRUE(link->IsUnderlined());

    link->SetUnderlineMode(CHyperLink::kUnderlineNever);
    EXPECT_FALSE(link->IsUnderlined());
    Hover();
    EXPECT_TRUE(link->IsHovering());
    EXPECT_FALSE(link->IsUnderlined());
    Leave();
}

TEST_F(HyperLinkTest, SuccessfulClickOpensTheTargetAndMarksTheLinkVisited)
{
    link->Attach();
    Show();
    test::DesktopRecorder desktop(/*openSucceeds=*/true, /*startSucceeds=*/false);
    test::MessageBoxRecorder boxes;
    QTest::mouseClick(link, Qt::LeftButton);
    ASSERT_EQ(desktop.Opened().size(), 1u);
    EXPECT_EQ(desktop.Opened()[0], QUrl("https://example.org/dome"));
    EXPECT_TRUE(link->IsVisited());
    EXPECT_EQ(link->CurrentTextColour(), kVisited);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(HyperLinkTest, FailedClickWithoutFallbackExplainsAndStaysUnvisited)
{
    link->Attach();
    Show();
    test::TempDir emptyPath;
    test::ScopedEnv noBrowser("BROWSER", QByteArray());
    test::ScopedEnv noOpener("PATH", QByteArray(emptyPath.Path().c_str()));
    test::DesktopRecorder desktop(false, false);
    test::MessageBoxRecorder boxes;
    QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_TRUE(desktop.Started().empty());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text,
              "Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename extension.");
    EXPECT_EQ(boxes.Boxes()[0].icon, MessageIcon::Warning);
    EXPECT_FALSE(link->IsVisited());
}

TEST_F(HyperLinkTest, FallbackStartsTheBrowserWithTheTargetInPlaceOfItsPlaceholder)
{
    link->Attach();
    Show();
    test::DesktopRecorder desktop(false, true);
    test::MessageBoxRecorder boxes;
    {
        test::ScopedEnv browser("BROWSER", "mybrowser --new-window \"%1\"");
        QTest::mouseClick(link, Qt::LeftButton);
    }
    ASSERT_EQ(desktop.Started().size(), 1u);
    EXPECT_EQ(desktop.Started()[0].program, "mybrowser");
    EXPECT_EQ(desktop.Started()[0].arguments, (QStringList{"--new-window", "https://example.org/dome"}));
    EXPECT_TRUE(link->IsVisited());
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(HyperLinkCommandLineTest, PlaceholderIsCutQuotedOrNotAndOtherCommandsStayWhole)
{
    EXPECT_EQ(CHyperLink::BrowserCommandLine("\"/opt/web/browser\" -osint -url \"%1\""),
              "\"/opt/web/browser\" -osint -url");
    EXPECT_EQ(CHyperLink::BrowserCommandLine("browser %1"), "browser");
    EXPECT_EQ(CHyperLink::BrowserCommandLine("browser --private"), "browser --private");
}

TEST(HyperLinkOpenTest, MissingLocalFilesAreReportedWithoutLaunchingAnything)
{
    test::TempDir dir;
    test::DesktopRecorder desktop(true, true);
    const QString missing = QString::fromStdString((dir / "guide.html").string());
    EXPECT_EQ(CHyperLink::OpenTarget(missing), 2);
    EXPECT_EQ(CHyperLink::OpenTarget(QUrl::fromLocalFile(missing).toString()), 2);
    EXPECT_EQ(CHyperLink::OpenTarget(QString::fromStdString((dir / "no" / "guide.html").string())), 3);
    EXPECT_TRUE(desktop.Opened().empty());
    EXPECT_TRUE(desktop.Started().empty());
}

TEST(HyperLinkOpenTest, FallbackProgramThatCannotStartGivesItsOwnCode)
{
    test::TempDir emptyPath;
    test::ScopedEnv path("PATH", QByteArray(emptyPath.Path().c_str()));
    test::ScopedEnv browser("BROWSER", "no-such-browser");
    test::DesktopRecorder desktop(false, false);
    EXPECT_EQ(CHyperLink::OpenTarget("https://example.org"), 2);
}

TEST(HyperLinkErrorTest, ReasonTextsByCode)
{
    EXPECT_EQ(CHyperLink::LaunchErrorText(26), "Unable to open hyperlink:\n\nA sharing violation occurred. ");
    EXPECT_EQ(CHyperLink::LaunchErrorText(4), "Unable to open hyperlink:\n\nUnknown Error (4) occurred.");
    EXPECT_EQ(CHyperLink::LaunchErrorText(0),
              "Unable to open hyperlink:\n\nThe operating system is out\nof memory or resources.");
    EXPECT_EQ(CHyperLink::LaunchErrorText(32),
              "Unable to open hyperlink:\n\nThe specified dynamic-link library was not found.");

    test::MessageBoxRecorder boxes;
    CHyperLink::ShowLaunchError(nullptr, 31);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text,
              "Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename extension.");
    EXPECT_EQ(boxes.Boxes()[0].title, "Skelvane");
}

}  // namespace
}  // namespace skelvane
