#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

// Whole-file replacement that survives a crash at any moment: the new content goes to a
// temporary file in the same directory, is flushed to disk and then renamed over the old
// file, so a reader sees either the old or the new file, never a part of one.
// Stateless functions, safe from any thread; the fault hook is a test seam only.
namespace AtomicFile {

// Replaces `path` with `bytes`; a symbolic link at `path` is replaced itself, the file it
// points to stays as it is. The temporary file gets a new random name and is created
// exclusively, so a name planted in a shared directory cannot redirect the content. The file
// is private to its owner (PrivateFiles::FileMode); an existing stricter file keeps its mode.
// On failure the old file is untouched and `error` holds the system's text.
bool write(const QString &path, QByteArrayView bytes, QString *error = nullptr);

// Makes `backupPath` a copy of the complete file `path`: a hard link when the file system
// allows it (list files are only ever replaced, never changed in place), else a durable copy.
// The hard link becomes durable with the next write() in the same directory. Fails when `path`
// is not a regular file (a symbolic link included); a link at `backupPath` is replaced.
bool backup(const QString &path, const QString &backupPath, QString *error = nullptr);

enum class Links
{
    Follow,
    Refuse // a symbolic link at the name fails with ELOOP
};

// Durable copy of `from` to `to`, replacing `to` as write() does; a link at `from` is refused.
bool copy(const QString &from, const QString &to, QString *error = nullptr);

// Reads a whole regular file, without blocking on anything else; false with the system's text
// when it cannot be read or is larger than `maxSize` bytes.
bool read(const QString &path, QByteArray *bytes, QString *error = nullptr,
          qint64 maxSize = qint64(1) << 30, Links links = Links::Follow);

enum class Stage
{
    Open,
    Write,
    Sync,
    Rename
};

// Tests: the hook runs before each stage of write(); returning false fails that stage as an
// I/O error would. Pass nullptr to remove it.
void setFaultHook(std::function<bool(Stage)> hook);

} // namespace AtomicFile
