#include "app/Screenshot.h"

#include <QApplication>
#include <QPixmap>
#include <QWidget>

namespace skelvane {

bool SaveWidgetPicture(QWidget& widget, const QString& path)
{
    widget.show();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    return widget.grab().save(path, "PNG");
}

}  // namespace skelvane
