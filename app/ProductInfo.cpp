#include "app/ProductInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "app/ProductConfig.h"

namespace skelvane {

QString ProductVersion()
{
    return QStringLiteral(SKELVANE_VERSION_TEXT);
}

QString MainWindowTitle()
{
    return QStringLiteral("Skelvane V") + ProductVersion();
}

QString HomePage()
{
    const QString configured = QStringLiteral(SKELVANE_CONFIGURED_HOME_PAGE);
    if (!configured.isEmpty()) return configured;
    const QString installed = QDir(QCoreApplication::applicationDirPath())
                                  .absoluteFilePath(QStringLiteral(SKELVANE_DOC_FROM_BINDIR "/README.md"));
    const QString readme = QFileInfo::exists(installed) ? installed : QStringLiteral(SKELVANE_SOURCE_README);
    return QUrl::fromLocalFile(QDir::cleanPath(readme)).toString();
}

ContactInfo Contacts()
{
    return {HomePage(), QStringLiteral(SKELVANE_CONTACT_EMAIL), QStringLiteral(SKELVANE_CONTACT_PHONE),
            QStringLiteral(SKELVANE_CONTACT_FAX), QStringLiteral(SKELVANE_CONTACT_ADDRESS)};
}

}  // namespace skelvane
