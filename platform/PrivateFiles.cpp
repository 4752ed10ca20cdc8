#include "platform/PrivateFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace PrivateFiles {

unsigned rewriteMode(unsigned existingMode)
{
    return existingMode & FileMode;
}

bool restrictToOwner(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::stat(name.constData(), &st) != 0) return errno == ENOENT;
    const mode_t owner = st.st_mode & 0700;
    if ((st.st_mode & 07777) == owner) return true;
    return ::chmod(name.constData(), owner) == 0;
}

bool append(const QString &path, QByteArrayView bytes, QString *error)
{
    // Neither through a link nor into a file someone else made at the name: in a directory
    // others can write, either could carry the log into their hands or into a file of the
    // user's.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, FileMode);
    if (fd < 0) {
        if (error) *error = qt_error_string(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        if (error) *error = qt_error_string(EPERM);
        return false;
    }
    if ((st.st_mode & 077) != 0) ::fchmod(fd, rewriteMode(st.st_mode & 07777));
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        data += n;
        left -= n;
    }
    const int code = errno;
    ::close(fd);
    if (!ok && error) *error = qt_error_string(code);
    return ok;
}

bool isProgramFile(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^\\.?(?:(?:Calls|Nicks|MSN)"
        "(?:\\.bak|\\.old|\\.\\d\\d\\.\\d\\d\\.\\d{4}_\\d\\d\\.\\d\\d\\.\\d\\d(?:_\\d+)?)?"
        "|corvane\\.ini|corvane\\.log)(?:(?:\\.[A-Za-z0-9]{6})?\\.tmp)?$"));
    const QRegularExpressionMatch match = pattern.match(fileName);
    // A leading dot and ".tmp" come together: the temporary file of a replacement.
    return match.hasMatch() && fileName.startsWith(u'.') == fileName.endsWith(u".tmp");
}

void tightenDataDirectory(const QString &dir, bool includingDirectory)
{
    if (includingDirectory) restrictToOwner(dir);
    // A link at one of the names may point at any file of the user's: it is left alone.
    const QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System |
                                                  QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString &name : names) {
        if (isProgramFile(name)) restrictToOwner(dir + u'/' + name);
    }
}

bool hasUnixPermissions(const QString &path)
{
    // The magic numbers of <linux/magic.h>; not every one is in the headers of older kernels.
    constexpr unsigned long MountOptionTypes[] = {
        0x4d44,     // MSDOS_SUPER_MAGIC: vfat
        0x2011bab0, // EXFAT_SUPER_MAGIC
        0x5346544e, // NTFS_SB_MAGIC: ntfs
        0x7366746e, // ntfs3
        0x65735546, // FUSE_SUPER_MAGIC: ntfs-3g, exfat-fuse and the like
        0xff534d42, // CIFS_SUPER_MAGIC
        0xfe534d42, // SMB2_SUPER_MAGIC
    };
    struct statfs fs;
    if (::statfs(QFile::encodeName(path).constData(), &fs) != 0) return true;
    for (const unsigned long type : MountOptionTypes) {
        if (static_cast<unsigned long>(fs.f_type) == type) return false;
    }
    return true;
}

Exposure exposure(const QString &dir, uint uid,
                  const std::function<bool(const QString &)> &unixPermissions)
{
    struct stat st;
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || !unixPermissions(dir))
        return Exposure::Private;
    if (st.st_uid != uid) return Exposure::ForeignOwner;
    // The sticky bit does not help: others could still plant names that are not there yet.
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return Exposure::WritableByOthers;
    return Exposure::Private;
}

} // namespace PrivateFiles
