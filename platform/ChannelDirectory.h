// Where the running instance and a second start meet: the socket, its lock file and
// "testcallnum". The directory is the user's own, so that no other user on the machine can
// take the lock first, listen in the program's place or read what a start hands over:
// $XDG_RUNTIME_DIR/corvane, else $XDG_CACHE_HOME/corvane (~/.cache/corvane).
//
// The user id the checks compare with is a parameter, so that tests can play another user
// with directories they prepare. Stateless functions; any thread.
#pragma once

#include <QString>
#include <sys/types.h>

namespace ChannelDirectory {

inline constexpr unsigned Mode = 0700;
// sun_path of a Unix socket holds 108 bytes, 107 of a path with its terminating NUL; Qt's
// QLocalServer (6.4) takes one byte less and fails with a bare "Name error" beyond it.
inline constexpr int MaxSocketPathBytes = 106;

// Empty when `path` is a directory, not a symbolic link, owned by `uid` with mode 0700
// (checked with lstat); otherwise why it is not, for a message.
QString whyNotPrivate(const QString &path, uid_t uid);

// The channel directory, created with mode 0700 when missing. A $XDG_RUNTIME_DIR that fails
// the check above is passed over for the cache directory (`note` says so). Empty when the
// directory cannot be created or fails the check; `error` says why.
QString locate(uid_t uid, QString *error = nullptr, QString *note = nullptr);

// Empty when `path` fits into a socket address; otherwise the message.
QString whySocketPathTooLong(const QString &path);

} // namespace ChannelDirectory
