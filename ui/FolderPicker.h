// The folder picker of every "choose a folder" button, titled
// "Please selete a directory: " and opened at a preselected folder. Tests
// install a handler that answers in place of the dialog.
#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace skelvane {

QString FolderPickerTitle();

// The chosen folder, or an empty string when the user cancelled.
QString BrowseForFolder(QWidget* owner, const QString& initialFolder);

// (owner, title, initialFolder) -> chosen folder or empty. An empty handler
// restores the real dialog; returns the previous handler. Ui thread only.
using FolderPickerHandler = std::function<QString(QWidget*, const QString&, const QString&)>;
FolderPickerHandler SetFolderPickerHandler(FolderPickerHandler handler);

}  // namespace skelvane
