#include "ui/DialogUnits.h"

#include <algorithm>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>

namespace skelvane {

void PlaceControl(QWidget* control, int x, int y, int width, int height)
{
    QRect area = DialogRect(x, y, width, height);
    if (qobject_cast<QLabel*>(control) || qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control)) {
        area.setWidth(std::max(area.width(), control->sizeHint().width()));
    }
    control->setGeometry(area);
}

QFont DialogFont()
{
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}

}  // namespace skelvane
