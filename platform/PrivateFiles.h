#pragma once

#include <QByteArrayView>
#include <QString>

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

// Appends to the file, creating it with FileMode; an existing looser file is tightened.
bool append(const QString &path, QByteArrayView bytes, QString *error = nullptr);

// True for the names of the files the program keeps in its data directory: the three lists,
// their backups and dated copies, the call archive, the ini file and the log, and the
// temporary files a crash may have left of any of them.
bool isProgramFile(const QString &fileName);

// Tightens what an earlier version left readable: the program's files in `dir` and, with
// `includingDirectory`, the directory itself.
void tightenDataDirectory(const QString &dir, bool includingDirectory);

} // namespace PrivateFiles
