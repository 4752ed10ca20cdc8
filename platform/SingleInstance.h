// One running Corvane per user: the first start listens on a local socket, a second
// start hands its command to it and ends.
//
// The first instance holds a lock file for its whole life and listens on a user-only
// QLocalServer next to it, both in the channel directory (ChannelDirectory.h), which start()
// checks first. A later start that cannot take the lock is the second one; a start that takes
// the lock owns the name, so a socket left behind by a crashed instance is removed and
// listened on again (unless the user's own instance still answers there). Both ends ask the
// kernel who is at the other end (SO_PEERCRED): the server drops a client of another user,
// and a client treats a server of another user as no server.
//
// Wire format, one frame per connection, client to server (integers big-endian):
//   "CRVN"  magic, 4 bytes
//   1       version, 1 byte
//   command quint16: 0 (just bring to front) or 3024-3030, 3124
//   length  quint16, at most MaxDirectoryBytes
//   bytes   the directory the sender wrote "testcallnum" to, UTF-8, absolute (or empty)
// The server answers "OK" to a valid frame and closes; anything else (wrong magic or
// version, unknown command, oversized or trailing data, a client silent for
// ClientTimeoutMs) is dropped without an answer. The server reads "testcallnum" from its
// own channel directory only, whatever the frame names: earlier versions sent their working
// directory there.
//
// Owned by the program's entry function (the server side lives as long as the main
// window); main thread only ("testcallnum" is read by a thread of its own). Signals are
// delivered queued, from the event loop, so a handler may open modal dialogs.
#pragma once

#include "platform/InstanceCommand.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <memory>
#include <unistd.h>

class QLocalServer;
class QLocalSocket;
class QLockFile;

namespace platform {

class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Role
    {
        Undecided, // start() not called yet
        Primary,   // this process is the running instance and listens
        Secondary, // another instance runs: send to it and end
        Failed,    // neither: the lock or the socket could not be set up
    };

    static constexpr quint8 ProtocolVersion = 1;
    static constexpr int MaxDirectoryBytes = 4096;
    static constexpr int ClientTimeoutMs = 5000;
    static constexpr int MaxClients = 16;

    // serverName: the absolute socket path; its directory is the channel directory (tests
    // use a temporary one). The lock file is the socket's path plus ".lock".
    explicit SingleInstance(const QString &serverName, QObject *parent = nullptr);
    ~SingleInstance() override;

    // "corvane.sock" in the channel directory (ChannelDirectory::locate). A non-empty key
    // gives a separate instance (a hash of it joins the name), for example per $CORVANE_HOME
    // in tests. Empty, with `error`, when there is no channel directory; `note` as locate().
    static QString DefaultServerName(const QString &key = QString(), QString *error = nullptr,
                                     QString *note = nullptr, uid_t uid = getuid());

    // The user whose directory and peers are accepted (getuid() by default; tests play
    // another user). Set before start().
    void setUserId(uid_t uid) { m_uid = uid; }
    // Decides the role once; later calls return the same role.
    Role start(QString *error = nullptr);
    Role role() const { return m_role; }
    QString serverName() const { return m_serverName; }
    // Where the socket, its lock and "testcallnum" live.
    QString channelDirectory() const;
    // How long a connected client may stay silent (ClientTimeoutMs by default).
    void setClientTimeout(int ms) { m_clientTimeoutMs = ms; }
    // The socket path the server listens on (empty unless Primary).
    QString serverPath() const;

    // Second start: sends the command with the channel directory and waits for the
    // answer. False when no instance of this user answered within timeoutMs.
    bool sendToPrimary(InstanceCommand command, QString *error = nullptr,
                       int timeoutMs = 3000) const;
    static bool SendCommand(const QString &serverName, InstanceCommand command,
                            const QString &directory, int timeoutMs, QString *error = nullptr,
                            uid_t uid = getuid());
    // The frame SendCommand writes (tests build broken ones from it).
    static QByteArray EncodeFrame(InstanceCommand command, const QString &directory);

signals:
    // Every valid message: the user started the program again (command None: without a
    // switch).
    void activationRequested(platform::InstanceCommand command);
    // After activationRequested, for a message with a command. testNumber: the number of
    // a TestCall, read from "testcallnum" in the channel directory; a TestCall whose file
    // cannot be read is not signalled (a warning says why).
    void commandReceived(platform::InstanceCommand command, const QString &testNumber);

private:
    void acceptClients();
    void readClient(QLocalSocket *socket, QByteArray &buffer);
    void deliver(InstanceCommand command);

    QString m_serverName;
    Role m_role = Role::Undecided;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
    int m_clients = 0;
    int m_clientTimeoutMs = ClientTimeoutMs;
    uid_t m_uid = getuid();
    // Reads "testcallnum"; a file system that hangs never holds up the main thread. Last
    // member: its destruction waits for a read still running, while the object is whole.
    QThreadPool m_reader;
};

} // namespace platform
