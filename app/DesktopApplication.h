// What the desktop program and its picture tool share: the application's
// name, icon and dialog font, and the main window's two workflow pages.
#pragma once

namespace skelvane {

class CSkelvaneDlg;

// After the QApplication is made, before any window.
void SetUpDesktopApplication();

// The Cube2Dome and Pano2Dome pages, made and handed to the window.
void AddWorkflowPages(CSkelvaneDlg& window);

}  // namespace skelvane
