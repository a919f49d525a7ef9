// The open and save file dialogs. Tests install a handler that answers in
// place of the dialog and can check what the dialog would have shown.
#pragma once

#include <functional>

#include <QString>
#include <QStringList>

#include "pano2dome/VideoFormat.h"

class QWidget;

namespace skelvane {

struct FileDialogRequest {
    enum class Mode { Open, Save };
    Mode mode = Mode::Open;
    QString title;
    QString directory;          // where the dialog opens
    QString fileName;           // proposed name (save dialogs)
    QStringList filters;        // e.g. "JPEG (*.jpg *.JPG *.jpeg *.JPEG)", first one selected
    QString defaultSuffix;      // appended to a typed name without one, e.g. "jpg"
    bool confirmOverwrite = true;  // save dialogs: ask before replacing a file
};

// Filter text for one kind of file: "JPEG (*.jpg *.JPG *.jpeg *.JPEG)" from
// ("JPEG", {"jpg", "jpeg"}); both cases of every extension are listed.
QString FileFilter(const QString& name, const QStringList& extensions);
// The filter that shows every file.
QString AllFilesFilter();
// One filter per container that carries `codec` ("AVI (*.avi *.AVI)"), the
// preferred first, then every file; and the preferred one's extension.
QStringList VideoFilters(VideoCodec codec);
QString VideoDefaultSuffix(VideoCodec codec);

// The chosen path, or an empty string when the user cancelled.
QString RunFileDialog(QWidget* owner, const FileDialogRequest& request);

// An empty handler restores the real dialog; returns the previous handler.
using FileDialogHandler = std::function<QString(QWidget*, const FileDialogRequest&)>;
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);

}  // namespace skelvane
