#include "platform/AtomicFile.h"

#include "platform/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

std::function<bool(Stage)> &faultHook()
{
    static std::function<bool(Stage)> hook;
    return hook;
}

bool stageAllowed(Stage stage)
{
    const auto &hook = faultHook();
    if (hook && !hook(stage)) {
        errno = EIO;
        return false;
    }
    return true;
}

void setError(QString *error, int code)
{
    if (error) *error = qt_error_string(code);
}

// Saving through a symbolic link replaces the file it points to, not the link.
QString resolveTarget(const QString &path)
{
    QFileInfo info(path);
    if (!info.isSymLink()) return path;
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

void syncDirectory(const QString &dir)
{
    // Makes the rename itself durable; some file systems refuse fsync on directories, which
    // leaves nothing better to do.
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        if (!stageAllowed(Stage::Write)) return false;
        const ssize_t n = ::write(fd, data, size_t(qMin<qint64>(size, qint64(1) << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

void setFaultHook(std::function<bool(Stage)> hook)
{
    faultHook() = std::move(hook);
}

bool write(const QString &path, QByteArrayView bytes, QString *error)
{
    const QString target = resolveTarget(path);
    const QFileInfo info(target);
    const QString dir = info.absolutePath();
    // A fixed name: a temporary file left by a crash is simply reused by the next save.
    const QString temp = dir + QStringLiteral("/.") + info.fileName() + QStringLiteral(".tmp");
    const QByteArray tempName = QFile::encodeName(temp);

    if (!stageAllowed(Stage::Open)) {
        setError(error, errno);
        return false;
    }
    const int fd =
        ::open(tempName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
               PrivateFiles::FileMode);
    if (fd < 0) {
        setError(error, errno);
        return false;
    }
    // Also a temporary file a crash left behind gets the mode, which O_CREAT would not set.
    struct stat old;
    if (::stat(QFile::encodeName(target).constData(), &old) == 0)
        ::fchmod(fd, PrivateFiles::rewriteMode(old.st_mode & 07777));
    else
        ::fchmod(fd, PrivateFiles::FileMode);

    bool ok = writeAll(fd, bytes.data(), bytes.size());
    ok = ok && stageAllowed(Stage::Sync) && ::fsync(fd) == 0;
    int code = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && (!stageAllowed(Stage::Rename) ||
               ::rename(tempName.constData(), QFile::encodeName(target).constData()) != 0)) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        ::unlink(tempName.constData());
        setError(error, code);
        return false;
    }
    syncDirectory(dir);
    return true;
}

bool read(const QString &path, QByteArray *bytes, QString *error, qint64 maxSize)
{
    // A FIFO or a device in place of a file would block or never end.
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        setError(error, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    if (file.size() > maxSize) {
        setError(error, EFBIG);
        return false;
    }
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

bool copy(const QString &from, const QString &to, QString *error)
{
    QByteArray bytes;
    return read(from, &bytes, error) && write(to, bytes, error);
}

bool backup(const QString &path, const QString &backupPath, QString *error)
{
    const QString source = resolveTarget(path);
    const QString target = resolveTarget(backupPath);
    const QFileInfo info(target);
    const QByteArray link = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                              info.fileName() + QStringLiteral(".tmp"));
    ::unlink(link.constData());
    // The backup shares the list's inode: a list an earlier version left readable to others
    // is tightened first, since its next replacement cannot tighten the backup.
    PrivateFiles::restrictToOwner(source);
    if (::link(QFile::encodeName(source).constData(), link.constData()) == 0) {
        // No directory sync here: the new name of old, already durable data. A crash before
        // the next sync of the directory leaves the previous backup, which is complete too.
        if (::rename(link.constData(), QFile::encodeName(target).constData()) == 0) return true;
        ::unlink(link.constData());
    }
    // No hard links here (FAT, some network shares): copy the bytes instead.
    return copy(source, target, error);
}

} // namespace AtomicFile
