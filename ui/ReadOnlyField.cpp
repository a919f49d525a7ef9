#include "ui/ReadOnlyField.h"

#include <QLineEdit>
#include <QPalette>

namespace skelvane {

void MakeReadOnly(QLineEdit* edit)
{
    edit->setReadOnly(true);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    edit->setPalette(palette);
}

}  // namespace skelvane
