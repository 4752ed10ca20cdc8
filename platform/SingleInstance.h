// One running Corvane per user: the first start listens on a local socket, a second
// start hands its command to it and ends.
//
// The first instance holds a lock file for its whole life and listens on a user-only
// QLocalServer next to it. A later start that cannot take the lock is the second one; a
// start that takes the lock owns the name, so a socket left behind by a crashed instance
// is removed and listened on again (unless something still answers there).
//
// Wire format, one frame per connection, client to server (integers big-endian):
//   "CRVN"  magic, 4 bytes
//   1       version, 1 byte
//   command quint16: 0 (just bring to front) or 3024-3030, 3124
//   length  quint16, at most MaxDirectoryBytes
//   bytes   the sender's working directory, UTF-8, absolute (or empty)
// The server answers "OK" to a valid frame and closes; anything else (wrong magic or
// version, unknown command, oversized or trailing data, a client silent for
// ClientTimeoutMs) is dropped without an answer.
//
// Owned by the program's entry function (the server side lives as long as the main
// window); main thread only. Signals are delivered queued, from the event loop, so a
// handler may open modal dialogs.
#pragma once

#include "platform/InstanceCommand.h"

#include <QObject>
#include <QString>
#include <memory>

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

    // serverName: a QLocalServer name or an absolute socket path (tests use a temporary
    // directory). The lock file is the socket's path plus ".lock".
    explicit SingleInstance(const QString &serverName, QObject *parent = nullptr);
    // DefaultServerName().
    explicit SingleInstance(QObject *parent = nullptr);
    ~SingleInstance() override;

    // "$XDG_RUNTIME_DIR/corvane.sock", or "corvane-<uid>" in the temporary directory
    // when there is no runtime directory. A non-empty key gives a separate instance (a
    // hash of it joins the name), for example per $CORVANE_HOME in tests.
    static QString DefaultServerName(const QString &key = QString());

    // Decides the role once; later calls return the same role.
    Role start(QString *error = nullptr);
    Role role() const { return m_role; }
    QString serverName() const { return m_serverName; }
    // How long a connected client may stay silent (ClientTimeoutMs by default).
    void setClientTimeout(int ms) { m_clientTimeoutMs = ms; }
    // The socket path the server listens on (empty unless Primary).
    QString serverPath() const;

    // Second start: sends the command with the current directory and waits for the
    // answer. False when no instance answered within timeoutMs.
    bool sendToPrimary(InstanceCommand command, QString *error = nullptr,
                       int timeoutMs = 3000) const;
    static bool SendCommand(const QString &serverName, InstanceCommand command,
                            const QString &workingDirectory, int timeoutMs,
                            QString *error = nullptr);
    // The frame SendCommand writes (tests build broken ones from it).
    static QByteArray EncodeFrame(InstanceCommand command, const QString &workingDirectory);

signals:
    // Every valid message: the user started the program again (command None: without a
    // switch).
    void activationRequested(platform::InstanceCommand command);
    // After activationRequested, for a message with a command. workingDirectory is
    // where the sender wrote "testcallnum" (ReadTestCallNumber(workingDirectory)).
    void commandReceived(platform::InstanceCommand command, const QString &workingDirectory);

private:
    void acceptClients();
    void readClient(QLocalSocket *socket, QByteArray &buffer);

    QString m_serverName;
    Role m_role = Role::Undecided;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
    int m_clients = 0;
    int m_clientTimeoutMs = ClientTimeoutMs;
};

} // namespace platform
