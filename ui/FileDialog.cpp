#include "ui/FileDialog.h"

#include <utility>

#include <QDir>
#include <QFileDialog>

#include "ui/MessageBox.h"

namespace skelvane {
namespace {

FileDialogHandler& InstalledHandler()
{
    static FileDialogHandler handler;
    return handler;
}

}  // namespace

QString FileFilter(const QString& name, const QStringList& extensions)
{
    QStringList patterns;
    for (const QString& extension : extensions) {
        patterns << QStringLiteral("*.") + extension.toLower() << QStringLiteral("*.") + extension.toUpper();
    }
    return QStringLiteral("%1 (%2)").arg(name, patterns.join(QLatin1Char(' ')));
}

QString AllFilesFilter()
{
    return QStringLiteral("All Files (*)");
}

QStringList VideoFilters(VideoCodec codec)
{
    QStringList filters;
    for (std::string_view extension : ContainersOf(codec)) {
        const QString bare = QString::fromLatin1(extension.substr(1).data(), static_cast<int>(extension.size() - 1));
        filters << FileFilter(bare.toUpper(), {bare});
    }
    return filters << AllFilesFilter();
}

QString VideoDefaultSuffix(VideoCodec codec)
{
    const std::string_view extension = ContainersOf(codec).front();
    return QString::fromLatin1(extension.substr(1).data(), static_cast<int>(extension.size() - 1));
}

QString RunFileDialog(QWidget* owner, const FileDialogRequest& request)
{
    if (InstalledHandler()) return InstalledHandler()(owner, request);

    QFileDialog dialog(owner, request.title, request.directory);
    const bool save = request.mode == FileDialogRequest::Mode::Save;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (!request.filters.isEmpty()) dialog.setNameFilters(request.filters);
    if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
    const CModalScope modal;
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen.front());
}

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler)
{
    return std::exchange(InstalledHandler(), std::move(handler));
}

}  // namespace skelvane
