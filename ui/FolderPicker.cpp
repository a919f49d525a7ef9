#include "ui/FolderPicker.h"

#include <utility>

#include <QFileDialog>

#include "ui/MessageBox.h"

namespace skelvane {
namespace {

FolderPickerHandler& InstalledHandler()
{
    static FolderPickerHandler handler;
    return handler;
}

}  // namespace

QString FolderPickerTitle()
{
    return QStringLiteral("Please selete a directory: ");
}

QString BrowseForFolder(QWidget* owner, const QString& initialFolder)
{
    if (InstalledHandler()) return InstalledHandler()(owner, FolderPickerTitle(), initialFolder);
    const CModalScope modal;
    return QFileDialog::getExistingDirectory(owner, FolderPickerTitle(), initialFolder, QFileDialog::ShowDirsOnly);
}

FolderPickerHandler SetFolderPickerHandler(FolderPickerHandler handler)
{
    return std::exchange(InstalledHandler(), std::move(handler));
}

}  // namespace skelvane
