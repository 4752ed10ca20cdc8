#include "platform/DataDir.h"

#include "platform/PrivateFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

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
    // Call lists and phone books are private from the first moment on.
    QDir().mkpath(QFileInfo(dir).absolutePath());
    ::mkdir(QFile::encodeName(dir).constData(), PrivateFiles::DirectoryMode);
}

enum class Origin
{
    Home,     // $CORVANE_HOME
    Portable, // beside the program
    Xdg,      // $XDG_DATA_HOME/corvane
};

struct Choice
{
    QString dir;
    Origin origin;
};

Choice choose()
{
    Choice choice{qEnvironmentVariable("CORVANE_HOME"), Origin::Home};
    if (choice.dir.isEmpty()) {
        const QString own = programDir();
        if (!own.isEmpty() && QFileInfo::exists(own + u'/' + IniName))
            choice = {own, Origin::Portable};
        else
            choice = {xdgDataDir(), Origin::Xdg};
    }
    choice.dir = QDir::cleanPath(QDir(choice.dir).absolutePath());
    return choice;
}

} // namespace

QString programDir()
{
    if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

QString path()
{
    const QString dir = choose().dir;
    ensureDirectory(dir);
    return dir;
}

QString location()
{
    return choose().dir;
}

bool isDefault()
{
    return choose().dir == QDir::cleanPath(xdgDataDir());
}

void tightenPermissions()
{
    const Choice choice = choose();
    // The directory beside a portable program and one the user named stay as they are.
    PrivateFiles::tightenDataDirectory(choice.dir, choice.origin == Origin::Xdg);
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
