#include "platform/Help.h"

#include "platform/DataDir.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace platform {

QString HelpFileName(bool english)
{
    return english ? QStringLiteral("Corvane_e.pdf") : QStringLiteral("Corvane_g.pdf");
}

QStringList HelpSearchDirectories(const QString &dataDirectory)
{
    QStringList dirs{QDir::currentPath()};
    if (!dataDirectory.isEmpty()) dirs << dataDirectory;
    // The build tree and relocated installs keep the data next to bin/.
    dirs << QDir::cleanPath(DataDir::programDir() + QStringLiteral("/../share/corvane"))
         << QStringLiteral(CORVANE_INSTALL_DATADIR);
    dirs.removeDuplicates();
    return dirs;
}

QString FindHelpFile(const QString &fileName, const QStringList &directories)
{
    for (const QString &dir : directories) {
        const QFileInfo info(QDir(dir), fileName);
        if (info.isFile() && info.isReadable()) return info.absoluteFilePath();
    }
    return QString();
}

bool OpenHelp(bool english, const QString &dataDirectory)
{
    const QString path = FindHelpFile(HelpFileName(english), HelpSearchDirectories(dataDirectory));
    if (path.isEmpty()) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace platform
