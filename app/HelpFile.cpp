#include "app/HelpFile.h"

#include <QCoreApplication>
#include <QDir>

namespace skelvane {

QString LastHelpFileIn(const QString& folder)
{
    QDir dir(folder);
    dir.setNameFilters({QStringLiteral("*.chm")});
    // Without QDir::CaseSensitive the name filter ignores case: "GUIDE.CHM" counts.
    dir.setFilter(QDir::Files | QDir::Hidden);
    dir.setSorting(QDir::Name | QDir::IgnoreCase);
    const QStringList names = dir.entryList();
    return names.isEmpty() ? QString() : dir.absoluteFilePath(names.back());
}

QString FindHelpFile()
{
    const QString here = LastHelpFileIn(QDir::currentPath());
    if (!here.isEmpty()) return here;
    return LastHelpFileIn(QCoreApplication::applicationDirPath());
}

}  // namespace skelvane
