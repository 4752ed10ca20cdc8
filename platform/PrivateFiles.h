#pragma once

#include <QByteArrayView>
#include <QString>

#include <functional>

// The call list says who called whom: Corvane's files are for their owner only. Every file
// the program writes gets mode 0600 and its data directory 0700; an existing file or
// directory that is stricter keeps its mode. Stateless functions; any thread.
namespace PrivateFiles {

inline constexpr unsigned FileMode = 0600;
inline constexpr unsigned DirectoryMode = 0700;

// The mode for rewriting a file that has `existingMode`: the owner's bits of it, never more
// than FileMode.
unsigned rewriteMode(unsigned existingMode);

// Removes the group's and others' bits of an existing file or directory (following a
// symbolic link). False when it cannot be changed; a missing path is no failure.
bool restrictToOwner(const QString &path);

// Appends to the file, creating it with FileMode; an existing looser file is tightened. A
// symbolic link at `path` and a file of another user's are refused.
bool append(const QString &path, QByteArrayView bytes, QString *error = nullptr);

// True for the names of the files the program keeps in its data directory: the three lists,
// their backups and dated copies, the call archive, the ini file and the log, and the
// temporary files a crash may have left of any of them.
bool isProgramFile(const QString &fileName);

// Tightens what an earlier version left readable: the program's files in `dir` and, with
// `includingDirectory`, the directory itself.
void tightenDataDirectory(const QString &dir, bool includingDirectory);

// Who besides the user could change the files in a directory.
enum class Exposure
{
    Private,
    ForeignOwner,    // the directory belongs to another user
    WritableByOthers // its group or everyone may create, replace and remove names in it
};

// False on file systems whose owners and modes come from mount options rather than from the
// files (FAT, exFAT, NTFS, FUSE, SMB): they say nothing about who can write there.
bool hasUnixPermissions(const QString &path);

// How others could change the files in `dir` for the user `uid`; a missing directory and one
// on a file system without Unix permissions count as private.
Exposure exposure(const QString &dir, uint uid,
                  const std::function<bool(const QString &)> &unixPermissions = hasUnixPermissions);

} // namespace PrivateFiles
