// The program's icon: a dome master, a bright fisheye disc on a dark square,
// drawn in code so that window, About box and the installed icon agree.
#pragma once

#include <QIcon>
#include <QImage>

namespace skelvane {

QImage SkelvaneIconImage(int side);
QIcon SkelvaneIcon();

}  // namespace skelvane
