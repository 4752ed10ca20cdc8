#include "platform/ChannelDirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>

namespace ChannelDirectory {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ChannelDirectory", text);
}

// An absolute path from the environment, else empty (relative ones are ignored, as the
// XDG base directory rules say).
QString absoluteFromEnvironment(const char *name)
{
    const QString value = qEnvironmentVariable(name);
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QString();
}

QString cacheHome()
{
    const QString cache = absoluteFromEnvironment("XDG_CACHE_HOME");
    return cache.isEmpty() ? QDir::homePath() + QStringLiteral("/.cache") : cache;
}

} // namespace

QString whyNotPrivate(const QString &path, uid_t uid)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return path + QStringLiteral(": ") + qt_error_string(errno);
    if (S_ISLNK(st.st_mode)) return tr("%1 is a symbolic link").arg(path);
    if (!S_ISDIR(st.st_mode)) return tr("%1 is not a directory").arg(path);
    if (st.st_uid != uid)
        return tr("%1 belongs to user %2, not to user %3").arg(path).arg(st.st_uid).arg(uid);
    if ((st.st_mode & 07777) != Mode)
        return tr("%1 has mode %2, not 0700")
            .arg(path, QStringLiteral("%1").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0')));
    return QString();
}

QString locate(uid_t uid, QString *error, QString *note)
{
    QString base = absoluteFromEnvironment("XDG_RUNTIME_DIR");
    if (!base.isEmpty()) {
        if (const QString why = whyNotPrivate(base, uid); !why.isEmpty()) {
            if (note)
                *note = tr("XDG_RUNTIME_DIR is not used: %1; the cache directory is used instead")
                            .arg(why);
            base.clear();
        }
    }
    if (base.isEmpty()) {
        base = cacheHome();
        QDir().mkpath(base);
    }
    const QString dir = base + QStringLiteral("/corvane");
    const QByteArray name = QFile::encodeName(dir);
    // The umask may take bits away: a directory made here gets exactly 0700.
    if (::mkdir(name.constData(), Mode) == 0)
        ::chmod(name.constData(), Mode);
    else if (errno != EEXIST) {
        if (error) *error = tr("Cannot create %1: %2").arg(dir, qt_error_string(errno));
        return QString();
    }
    if (const QString why = whyNotPrivate(dir, uid); !why.isEmpty()) {
        if (error) *error = tr("The directory is refused: %1").arg(why);
        return QString();
    }
    return dir;
}

QString whySocketPathTooLong(const QString &path)
{
    const int bytes = int(QFile::encodeName(path).size());
    if (bytes <= MaxSocketPathBytes) return QString();
    return tr("The socket path %1 has %2 bytes; a socket path may have at most %3")
        .arg(path)
        .arg(bytes)
        .arg(MaxSocketPathBytes);
}

} // namespace ChannelDirectory
