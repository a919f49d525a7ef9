// Pictures of the program's windows for the documentation: a window is shown
// on whatever platform runs (offscreen in scripts), drawn into an image and
// saved as PNG.
#pragma once

#include <QString>

class QWidget;

namespace skelvane {

// Shows `widget`, lets it lay itself out and paint, and saves it to `path`.
bool SaveWidgetPicture(QWidget& widget, const QString& path);

}  // namespace skelvane
