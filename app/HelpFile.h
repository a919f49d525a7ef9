// Finding the help file: the last "*.chm" (any case) of a folder in the order
// of a sorted listing, first in the current folder, then in the program's.
#pragma once

#include <QString>

namespace skelvane {

// The full path of the last help file of `folder`, or empty.
QString LastHelpFileIn(const QString& folder);
// The current folder first, then the folder of the program.
QString FindHelpFile();

}  // namespace skelvane
