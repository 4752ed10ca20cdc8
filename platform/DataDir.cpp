#include "platform/DataDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace DataDir {

namespace {

const QString IniName = QStringLiteral("corvane.ini");
const QString AreaCodeName = QStringLiteral("orte.asc");

QString xdgDataDir()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/corvane");
}

void ensureDirectory(const QString &dir)
{
    if (QFileInfo::exists(dir)) return;
    if (QDir().mkpath(dir)) {
        // Call lists and phone books are private.
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

} // namespace

QString programDir()
{
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

QString path()
{
    QString dir = qEnvironmentVariable("CORVANE_HOME");
    if (dir.isEmpty()) {
        const QString own = programDir();
        if (!own.isEmpty() && QFileInfo::exists(own + u'/' + IniName))
            dir = own;
        else
            dir = xdgDataDir();
    }
    dir = QDir::cleanPath(QDir(dir).absolutePath());
    ensureDirectory(dir);
    return dir;
}

QString filePath(const QString &name)
{
    return path() + u'/' + name;
}

QString iniFile()
{
    return filePath(IniName);
}

QString logFile()
{
    return filePath(QStringLiteral("corvane.log"));
}

QString areaCodeFile()
{
    const QStringList candidates = {
        filePath(AreaCodeName),
        // Relocatable installs and the build tree keep the data next to bin/.
        programDir() + QStringLiteral("/../share/corvane/") + AreaCodeName,
        QStringLiteral(CORVANE_INSTALL_DATADIR "/") + AreaCodeName,
    };
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isFile()) return QDir::cleanPath(candidate);
    }
    return QString();
}

} // namespace DataDir
