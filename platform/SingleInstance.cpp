#include "platform/SingleInstance.h"

#include "platform/ChannelDirectory.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr char Magic[4] = {'C', 'R', 'V', 'N'};
constexpr int HeaderBytes = 4 + 1 + 2 + 2;
constexpr char OkAnswer[] = "OK";
constexpr int AnswerBytes = 2;

enum class FrameStatus
{
    Incomplete,
    Invalid,
    Complete,
};

// Decides as early as the bytes allow, so a client cannot make the server hold more
// than one frame's worth.
FrameStatus DecodeFrame(const QByteArray &data, InstanceCommand &command, QString &directory)
{
    const int magicBytes = int(std::min<qsizetype>(data.size(), 4));
    if (memcmp(data.constData(), Magic, size_t(magicBytes)) != 0) return FrameStatus::Invalid;
    if (data.size() > 4 && quint8(data.at(4)) != SingleInstance::ProtocolVersion)
        return FrameStatus::Invalid;
    if (data.size() < HeaderBytes) return FrameStatus::Incomplete;
    const auto *p = reinterpret_cast<const uchar *>(data.constData());
    const int code = qFromBigEndian<quint16>(p + 5);
    const int length = qFromBigEndian<quint16>(p + 7);
    if (length > SingleInstance::MaxDirectoryBytes) return FrameStatus::Invalid;
    if (code != int(InstanceCommand::None) && !IsKnownCommand(code)) return FrameStatus::Invalid;
    if (data.size() < HeaderBytes + length) return FrameStatus::Incomplete;
    if (data.size() > HeaderBytes + length) return FrameStatus::Invalid;
    const QByteArray raw = data.mid(HeaderBytes, length);
    const QString dir = QString::fromUtf8(raw);
    // Reject what does not round-trip (invalid UTF-8) and anything but an absolute path.
    if (dir.toUtf8() != raw || raw.contains('\0')) return FrameStatus::Invalid;
    if (!dir.isEmpty() && !QDir::isAbsolutePath(dir)) return FrameStatus::Invalid;
    command = InstanceCommand(code);
    directory = dir;
    return FrameStatus::Complete;
}

// The user id of the process at the other end of a connected socket.
std::optional<uid_t> peerUid(const QLocalSocket &socket)
{
    struct ucred credentials
    {
    };
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                     &size) != 0)
        return std::nullopt;
    return credentials.uid;
}

// Empty when the other end belongs to `uid`; otherwise the message.
QString whyForeignPeer(const QLocalSocket &socket, uid_t uid)
{
    const std::optional<uid_t> peer = peerUid(socket);
    if (peer == uid) return QString();
    if (!peer) return SingleInstance::tr("Cannot tell who listens at %1").arg(socket.serverName());
    return SingleInstance::tr("The program at %1 belongs to user %2, not to user %3; it is "
                              "no instance of Corvane")
        .arg(socket.serverName())
        .arg(*peer)
        .arg(uid);
}

enum class Answer
{
    Nobody,
    Own,     // an instance of this user
    Foreign, // something of another user: not an instance
};

Answer whoAnswers(const QString &serverName, int timeoutMs, uid_t uid)
{
    QLocalSocket probe;
    probe.connectToServer(serverName);
    if (!probe.waitForConnected(timeoutMs)) return Answer::Nobody;
    const Answer answer = whyForeignPeer(probe, uid).isEmpty() ? Answer::Own : Answer::Foreign;
    probe.abort();
    return answer;
}

} // namespace

SingleInstance::SingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent), m_serverName(serverName)
{
    m_reader.setMaxThreadCount(1);
}

SingleInstance::~SingleInstance()
{
    if (m_server) m_server->close();
    // The lock goes last: until then a new start sees an instance and stays secondary.
    m_lock.reset();
}

QString SingleInstance::DefaultServerName(const QString &key, QString *error, QString *note,
                                          uid_t uid)
{
    const QString dir = ChannelDirectory::locate(uid, error, note);
    if (dir.isEmpty()) return QString();
    QString base = QStringLiteral("corvane");
    if (!key.isEmpty()) {
        const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
        base += QLatin1Char('-') + QString::fromLatin1(hash.toHex().left(12));
    }
    return dir + QLatin1Char('/') + base + QStringLiteral(".sock");
}

QString SingleInstance::channelDirectory() const
{
    return QFileInfo(m_serverName).absolutePath();
}

SingleInstance::Role SingleInstance::start(QString *error)
{
    if (m_role != Role::Undecided) return m_role;

    // Nothing is created or obeyed in a directory that another user could have prepared.
    QString refusal = QDir::isAbsolutePath(m_serverName)
                          ? ChannelDirectory::whyNotPrivate(channelDirectory(), m_uid)
                          : tr("%1 is no absolute path").arg(m_serverName);
    if (refusal.isEmpty()) refusal = ChannelDirectory::whySocketPathTooLong(m_serverName);
    if (!refusal.isEmpty()) {
        if (error) *error = refusal;
        return m_role = Role::Failed;
    }

    // The lock orders simultaneous starts; QLockFile breaks the lock of a dead process.
    m_lock = std::make_unique<QLockFile>(m_serverName + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError) {
            m_lock.reset();
            return m_role = Role::Secondary;
        }
        if (error) *error = tr("Cannot create the lock file %1").arg(m_serverName);
        m_lock.reset();
        return m_role = Role::Failed;
    }

    // Holding the lock, a socket at the name is normally a crashed instance's leftover;
    // remove it only when no instance of this user answers there.
    if (whoAnswers(m_serverName, 500, m_uid) == Answer::Own) {
        m_lock.reset();
        return m_role = Role::Secondary;
    }
    QLocalServer::removeServer(m_serverName);

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_serverName)) {
        if (error) *error = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        m_lock.reset();
        return m_role = Role::Failed;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptClients);
    return m_role = Role::Primary;
}

QString SingleInstance::serverPath() const
{
    return m_server ? m_server->fullServerName() : QString();
}

void SingleInstance::acceptClients()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        // Another user's client is dropped before it is read.
        if (m_clients >= MaxClients || !whyForeignPeer(*socket, m_uid).isEmpty()) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_clients;
        socket->setParent(this);
        auto buffer = std::make_shared<QByteArray>();

        // A client that connects and says nothing is dropped after a while; the server
        // itself never waits for it.
        auto *timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, socket, &QLocalSocket::abort);
        timer->start(m_clientTimeoutMs);

        connect(socket, &QLocalSocket::readyRead, this,
                [this, socket, buffer] { readClient(socket, *buffer); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            --m_clients;
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0) readClient(socket, *buffer);
    }
}

void SingleInstance::readClient(QLocalSocket *socket, QByteArray &buffer)
{
    if (socket->state() != QLocalSocket::ConnectedState) return;
    // Never more than one frame plus one byte: enough to see trailing data.
    const qint64 room = HeaderBytes + MaxDirectoryBytes + 1 - buffer.size();
    buffer += socket->read(std::max<qint64>(room, 0));

    InstanceCommand command = InstanceCommand::None;
    QString directory;
    switch (DecodeFrame(buffer, command, directory)) {
    case FrameStatus::Incomplete:
        return;
    case FrameStatus::Invalid:
        socket->abort();
        return;
    case FrameStatus::Complete:
        break;
    }
    // Data after the frame makes it invalid; the client sends one frame and waits.
    if (socket->bytesAvailable() > 0) {
        socket->abort();
        return;
    }
    socket->write(OkAnswer, AnswerBytes);
    socket->disconnectFromServer();

    // The directory of the frame is not used: see the wire format.
    Q_UNUSED(directory);
    deliver(command);
}

void SingleInstance::deliver(InstanceCommand command)
{
    QMetaObject::invokeMethod(
        this, [this, command] { emit activationRequested(command); }, Qt::QueuedConnection);
    if (command == InstanceCommand::None) return;
    if (command != InstanceCommand::TestCall) {
        QMetaObject::invokeMethod(
            this, [this, command] { emit commandReceived(command, QString()); },
            Qt::QueuedConnection);
        return;
    }
    m_reader.start([this, directory = channelDirectory()] {
        QString error;
        const std::optional<QString> number = ReadTestCallNumber(directory, &error);
        QMetaObject::invokeMethod(
            this,
            [this, number, error] {
                if (number)
                    emit commandReceived(InstanceCommand::TestCall, *number);
                else
                    qWarning("Corvane: no test call: %s", qPrintable(error));
            },
            Qt::QueuedConnection);
    });
}

bool SingleInstance::sendToPrimary(InstanceCommand command, QString *error, int timeoutMs) const
{
    return SendCommand(m_serverName, command, channelDirectory(), timeoutMs, error, m_uid);
}

QByteArray SingleInstance::EncodeFrame(InstanceCommand command, const QString &directory)
{
    QByteArray dir = directory.toUtf8();
    // A longer path cannot travel; the command still does (without test-number hand-over).
    if (dir.size() > MaxDirectoryBytes) dir.clear();
    QByteArray frame(Magic, 4);
    frame += char(ProtocolVersion);
    uchar numbers[4];
    qToBigEndian<quint16>(quint16(command), numbers);
    qToBigEndian<quint16>(quint16(dir.size()), numbers + 2);
    frame.append(reinterpret_cast<const char *>(numbers), 4);
    frame += dir;
    return frame;
}

bool SingleInstance::SendCommand(const QString &serverName, InstanceCommand command,
                                 const QString &directory, int timeoutMs, QString *error, uid_t uid)
{
    if (const QString why = ChannelDirectory::whySocketPathTooLong(serverName); !why.isEmpty()) {
        if (error) *error = why;
        return false;
    }
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The first instance may hold the lock but not listen yet: try again until the
    // deadline.
    for (;;) {
        socket.connectToServer(serverName);
        if (socket.waitForConnected(int(deadline.remainingTime()))) break;
        if (deadline.hasExpired()) {
            if (error) *error = socket.errorString();
            return false;
        }
        socket.abort();
        QThread::msleep(50);
    }
    // Another user's server learns nothing, not even the command.
    if (const QString why = whyForeignPeer(socket, uid); !why.isEmpty()) {
        if (error) *error = why;
        return false;
    }
    socket.write(EncodeFrame(command, directory));
    QByteArray answer;
    while (answer.size() < AnswerBytes) {
        if (socket.bytesToWrite() > 0) socket.waitForBytesWritten(int(deadline.remainingTime()));
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        answer += socket.read(AnswerBytes - answer.size());
    }
    socket.abort();
    if (answer != QByteArray(OkAnswer, AnswerBytes)) {
        if (error) *error = tr("The running instance did not answer.");
        return false;
    }
    return true;
}

} // namespace platform
