// A field the program fills and the user only reads (an angle that follows
// its slider, a size, a chosen folder). It looks read-only, as such fields
// of the classic dialogs do: drawn on the window's colour, not on the white
// of a field that takes typing. Its text can still be selected and copied.
#pragma once

class QLineEdit;

namespace skelvane {

void MakeReadOnly(QLineEdit* edit);

}  // namespace skelvane
