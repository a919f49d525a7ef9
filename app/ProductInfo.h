// The product's name, version, home page and contact values.
#pragma once

#include <QString>

namespace skelvane {

QString ProductVersion();       // "2.0"
QString MainWindowTitle();      // "Skelvane V2.0"

// The home page: the address configured for the build, else the program's own
// documentation (installed beside it, else the source tree's README).
QString HomePage();

struct ContactInfo {
    QString website;
    QString email;     // shown as is; the link opens "mailto:" + email
    QString phone;
    QString fax;
    QString address;
};
ContactInfo Contacts();

}  // namespace skelvane
