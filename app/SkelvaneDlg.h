// The main window "Skelvane V2.0": a fixed-size window with the menu and the
// tab control that holds the Cube2Dome and Pano2Dome pages.
//
// The window owns the pages it is given, the one video settings dialog (made
// hidden at construction, shown by "Video(&V)...", destroyed when the window
// closes) and the video encoder settings that dialog writes and the
// Pano2Dome page's jobs read. Enter and Escape never reach the window or its
// pages, so neither closes the window nor presses a button. Closing while a
// render job runs asks first (the renders wait meanwhile), then stops and
// joins the job before anything it reads goes; a question left open while
// the last render ends goes with it (the window stays).
#pragma once

#include <functional>

#include <QDialog>
#include <QPointer>

#include "pano2dome/VideoEncoderSettings.h"

class QAction;
class QMenu;
class QMenuBar;

namespace skelvane {

class CDomePage;
class CDomeTabCtrl;
class CVideoSettingDlg;

class CSkelvaneDlg : public QDialog {
    Q_OBJECT
public:
    // Menu command ids.
    static constexpr int kIdAppExit = 57665;
    static constexpr int kIdCube2DomeSetting = 32771;
    static constexpr int kIdPano2DomeSetting = 32772;
    static constexpr int kIdVideoSetting = 32776;
    static constexpr int kIdAppAbout = 57664;
    static constexpr int kIdHomePage = 32778;
    static constexpr int kIdHelpFile = 32777;

    explicit CSkelvaneDlg(QWidget* parent = nullptr);
    ~CSkelvaneDlg() override;

    // Adds the two workflow pages (the window takes them over; either may be
    // null while its workflow is not built) and creates them, the Cube2Dome
    // page shown first. Call once.
    void SetPages(CDomePage* cube2dome, CDomePage* pano2dome);

    // Written by the video settings dialog, read by video jobs.
    VideoEncoderSettings& VideoSettings() { return m_videoSettings; }

    CDomeTabCtrl* TabCtrl() const { return m_tabCtrl; }
    CVideoSettingDlg* VideoSettingDlg() const { return m_videoDlg; }
    QMenuBar* MenuBar() const { return m_menuBar; }
    // The menu item of a command id, or null.
    QAction* Command(int id) const;

public Q_SLOTS:
    void OnCube2DomeSetting();
    void OnPano2DomeSetting();
    void OnVideoSetting();
    void OnAbout();
    void OnHomePage();
    void OnHelpFile();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenu();
    QAction* AddCommand(QMenu* menu, const QString& text, int id, const std::function<void()>& handler);
    bool AnyJobRunning() const;
    void StopJobsForClose();

    VideoEncoderSettings m_videoSettings;
    QMenuBar* m_menuBar;
    CDomeTabCtrl* m_tabCtrl;
    CDomePage* m_cube2DomePage = nullptr;
    CDomePage* m_pano2DomePage = nullptr;
    QPointer<CVideoSettingDlg> m_videoDlg;
};

}  // namespace skelvane
