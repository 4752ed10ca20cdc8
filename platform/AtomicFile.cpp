#include "platform/AtomicFile.h"

#include "platform/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

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

// The temporary name beside `path`: hidden, random, ending in ".tmp". A name others may have
// created in a shared directory is never opened; the caller creates it exclusively.
QByteArray temporaryName(const QString &path)
{
    static constexpr char Letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(6, Qt::Uninitialized);
    for (char &c : suffix)
        c = Letters[QRandomGenerator::system()->bounded(int(sizeof(Letters) - 1))];
    const QFileInfo info(path);
    return QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + u'.' +
                             QLatin1StringView(suffix) + QStringLiteral(".tmp"));
}

// Creates a new temporary file for `path`, or -1 with errno set. O_EXCL refuses any existing
// name, a symbolic link included, so nobody can steer the new content into a file of theirs.
int createTemporary(const QString &path, QByteArray *name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = temporaryName(path);
        const int fd =
            ::open(name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   PrivateFiles::FileMode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
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
    // A symbolic link at `path` is replaced, never written through: in a directory that
    // others can write, it may point at any file of the user's.
    const QByteArray target = QFile::encodeName(path);
    const QString dir = QFileInfo(path).absolutePath();

    if (!stageAllowed(Stage::Open)) {
        setError(error, errno);
        return false;
    }
    QByteArray tempName;
    const int fd = createTemporary(path, &tempName);
    if (fd < 0) {
        setError(error, errno);
        return false;
    }
    // The umask may have taken bits of the mode; a stricter old file keeps its mode.
    struct stat old;
    if (::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode))
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
    if (ok &&
        (!stageAllowed(Stage::Rename) || ::rename(tempName.constData(), target.constData()) != 0)) {
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

bool read(const QString &path, QByteArray *bytes, QString *error, qint64 maxSize, Links links)
{
    // Non-blocking, so that a FIFO in place of the file cannot hold the reader up.
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0) {
        setError(error, errno);
        return false;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        if (error) *error = file.errorString();
        return false;
    }
    // A FIFO or a device would block or never end.
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        setError(error, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return false;
    }
    if (st.st_size > maxSize) {
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
    return read(from, &bytes, error, qint64(1) << 30, Links::Refuse) && write(to, bytes, error);
}

bool backup(const QString &path, const QString &backupPath, QString *error)
{
    const QByteArray source = QFile::encodeName(path);
    // Only the list's own file is kept: a link planted at its name may point anywhere.
    struct stat st;
    if (::lstat(source.constData(), &st) != 0) {
        setError(error, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, S_ISLNK(st.st_mode) ? ELOOP : EINVAL);
        return false;
    }
    // The backup shares the list's inode: a list an earlier version left readable to others
    // is tightened first, since its next replacement cannot tighten the backup.
    PrivateFiles::restrictToOwner(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        // link() never follows or replaces an existing name: a fresh name is tried instead.
        const QByteArray link = temporaryName(backupPath);
        if (::link(source.constData(), link.constData()) != 0) {
            if (errno == EEXIST) continue;
            break;
        }
        // No directory sync here: the new name of old, already durable data. A crash before
        // the next sync of the directory leaves the previous backup, which is complete too.
        if (::rename(link.constData(), QFile::encodeName(backupPath).constData()) == 0) return true;
        ::unlink(link.constData());
        break;
    }
    // No hard links here (FAT, some network shares): copy the bytes instead.
    return copy(path, backupPath, error);
}

} // namespace AtomicFile
