#include "app/SkelvaneDlg.h"

#include <array>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QUrl>
#include <QVBoxLayout>

#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/DomeTabCtrl.h"
#include "app/HelpFile.h"
#include "app/HyperLink.h"
#include "app/ProductInfo.h"
#include "app/VideoSettingDlg.h"
#include "ui/DesktopLauncher.h"
#include "ui/DialogUnits.h"
#include "ui/DomePage.h"
#include "ui/MessageBox.h"

namespace skelvane {
namespace {

bool IsDialogKey(const QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease &&
        event->type() != QEvent::ShortcutOverride) {
        return false;
    }
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

}  // namespace

CSkelvaneDlg::CSkelvaneDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(MainWindowTitle());
    setWindowIcon(SkelvaneIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    m_menuBar = new QMenuBar(this);
    BuildMenu();

    auto* client = new QWidget(this);
    client->setFixedSize(DialogSize(652, 399));
    m_tabCtrl = new CDomeTabCtrl(client);
    m_tabCtrl->setGeometry(DialogRect(5, 5, 640, 390));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_menuBar);
    layout->addWidget(client);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Made once, hidden; the Video command shows it.
    m_videoDlg = new CVideoSettingDlg(m_videoSettings, this);

    // Enter and Escape are taken out before any widget of this window sees them.
    qApp->installEventFilter(this);
}

CSkelvaneDlg::~CSkelvaneDlg()
{
    qApp->removeEventFilter(this);
    StopJobsForClose();
    delete m_videoDlg;
    // The pages go before the settings record they may refer to.
    delete m_cube2DomePage;
    delete m_pano2DomePage;
}

void CSkelvaneDlg::SetPages(CDomePage* cube2dome, CDomePage* pano2dome)
{
    m_cube2DomePage = cube2dome;
    m_pano2DomePage = pano2dome;
    for (CDomePage* page : {cube2dome, pano2dome}) {
        if (!page) continue;
        // The quit question asks about running renders: it goes when the last one ends.
        connect(page, &CDomePage::JobJoined, this, [this] {
            if (!AnyJobRunning()) WithdrawMessageBoxes(this);
        });
    }
    if (cube2dome) m_tabCtrl->AddPage(QStringLiteral("Cube2Dome"), cube2dome);
    if (pano2dome) m_tabCtrl->AddPage(QStringLiteral("Pano2Dome"), pano2dome);
    m_tabCtrl->CreatePages();
}

void CSkelvaneDlg::BuildMenu()
{
    QMenu* file = m_menuBar->addMenu(QStringLiteral("File(&F)"));
    AddCommand(file, QStringLiteral("Eixt(&X)"), kIdAppExit, [this] { close(); });

    QMenu* fullDome = m_menuBar->addMenu(QStringLiteral("FullDome(&D)"));
    QMenu* setting = fullDome->addMenu(QStringLiteral("Setting(&S)"));
    AddCommand(setting, QStringLiteral("Cube2Dome(&C)..."), kIdCube2DomeSetting, [this] { OnCube2DomeSetting(); });
    AddCommand(setting, QStringLiteral("Pano2Dome(&P)..."), kIdPano2DomeSetting, [this] { OnPano2DomeSetting(); });
    AddCommand(setting, QStringLiteral("Video(&V)..."), kIdVideoSetting, [this] { OnVideoSetting(); });

    QMenu* help = m_menuBar->addMenu(QStringLiteral("Help(&H)"));
    AddCommand(help, QStringLiteral("About(&A)..."), kIdAppAbout, [this] { OnAbout(); });
    AddCommand(help, QStringLiteral("HomePage"), kIdHomePage, [this] { OnHomePage(); });
    AddCommand(help, QStringLiteral("Help File"), kIdHelpFile, [this] { OnHelpFile(); });
}

QAction* CSkelvaneDlg::AddCommand(QMenu* menu, const QString& text, int id, const std::function<void()>& handler)
{
    QAction* action = menu->addAction(text);
    action->setData(id);
    // The menu never claims a key: Ctrl+C and Ctrl+V belong to the text fields.
    action->setShortcutContext(Qt::WidgetShortcut);
    connect(action, &QAction::triggered, this, handler);
    return action;
}

QAction* CSkelvaneDlg::Command(int id) const
{
    const QList<QAction*> actions = m_menuBar->findChildren<QAction*>();
    for (QAction* action : actions) {
        if (action->data().toInt() == id && !action->menu()) return action;
    }
    return nullptr;
}

void CSkelvaneDlg::OnCube2DomeSetting()
{
    if (m_cube2DomePage) m_cube2DomePage->ShowSettingsDialog();
}

void CSkelvaneDlg::OnPano2DomeSetting()
{
    // The Pano2Dome page keeps its settings on the page itself: bring it forward.
    for (int i = 0; i < m_tabCtrl->PageCount(); ++i) {
        if (m_pano2DomePage && m_tabCtrl->Page(i) == m_pano2DomePage) m_tabCtrl->ShowPage(i);
    }
}

void CSkelvaneDlg::OnVideoSetting()
{
    if (!m_videoDlg) return;
    m_videoDlg->show();
    m_videoDlg->raise();
    m_videoDlg->activateWindow();
}

void CSkelvaneDlg::OnAbout()
{
    CAboutDlg about(this);
    const CModalScope modal;
    about.exec();
}

void CSkelvaneDlg::OnHomePage()
{
    const int result = CHyperLink::OpenTarget(HomePage());
    if (result <= 32) CHyperLink::ShowLaunchError(this, result);
}

void CSkelvaneDlg::OnHelpFile()
{
    const QString helpFile = FindHelpFile();
    if (helpFile.isEmpty()) {
        ShowMessageBox(this, QStringLiteral("Help file is not exist!"), QStringLiteral("Help file"));
        return;
    }
    if (!OpenUrlOnDesktop(QUrl::fromLocalFile(helpFile))) {
        ShowMessageBox(this, QStringLiteral("Unable to open the help file:\n\n") + helpFile,
                       QStringLiteral("Help file"), MessageIcon::Warning);
    }
}

bool CSkelvaneDlg::eventFilter(QObject* watched, QEvent* event)
{
    // The menu bar keeps Escape for leaving its keyboard navigation.
    if (IsDialogKey(event) && watched->isWidgetType() && watched != m_menuBar &&
        static_cast<QWidget*>(watched)->window() == this) {
        event->accept();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool CSkelvaneDlg::AnyJobRunning() const
{
    return (m_cube2DomePage && m_cube2DomePage->IsJobRunning()) ||
           (m_pano2DomePage && m_pano2DomePage->IsJobRunning());
}

void CSkelvaneDlg::StopJobsForClose()
{
    // No box comes up while the window goes: a page waits for its job's end
    // serving events, and an end box that waited (for the quit question) would
    // come up then; each page drops its own as it stops.
    const CModalScope closing;
    if (m_cube2DomePage) m_cube2DomePage->StopJobForClose();
    if (m_pano2DomePage) m_pano2DomePage->StopJobForClose();
}

void CSkelvaneDlg::closeEvent(QCloseEvent* event)
{
    if (AnyJobRunning()) {
        // The renders wait while the question is open, as they do for Stop's.
        const std::array<CDomePage*, 2> pages = {m_cube2DomePage, m_pano2DomePage};
        for (CDomePage* page : pages) {
            if (page) page->SuspendJob();
        }
        const MessageAnswer answer = AskMessageBox(this, this, QStringLiteral("A render is running. Stop it and quit?"),
                                                   QString(), MessageIcon::Question, MessageButtons::YesNo);
        if (answer != MessageAnswer::Yes) {
            for (CDomePage* page : pages) {
                if (page) page->ResumeJob();
            }
            event->ignore();
            return;
        }
    }
    StopJobsForClose();
    delete m_videoDlg;
    QDialog::closeEvent(event);
}

}  // namespace skelvane
