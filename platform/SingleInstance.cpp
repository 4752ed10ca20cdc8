#include "platform/SingleInstance.h"

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
#include <unistd.h>

namespace platform {

namespace {

constexpr char Magic[4] = {'C', 'R', 'V', 'N'};
constexpr int HeaderBytes = 4 + 1 + 2 + 2;
constexpr char Answer[] = "OK";
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

QString socketPath(const QString &serverName)
{
    if (QDir::isAbsolutePath(serverName)) return serverName;
    return QDir(QDir::tempPath()).filePath(serverName);
}

// True when a server accepts connections at the name.
bool someoneAnswers(const QString &serverName, int timeoutMs)
{
    QLocalSocket probe;
    probe.connectToServer(serverName);
    const bool connected = probe.waitForConnected(timeoutMs);
    probe.abort();
    return connected;
}

} // namespace

SingleInstance::SingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent), m_serverName(serverName)
{
}

SingleInstance::SingleInstance(QObject *parent) : SingleInstance(DefaultServerName(), parent) {}

SingleInstance::~SingleInstance()
{
    if (m_server) m_server->close();
    // The lock goes last: until then a new start sees an instance and stays secondary.
    m_lock.reset();
}

QString SingleInstance::DefaultServerName(const QString &key)
{
    QString base = QStringLiteral("corvane");
    if (!key.isEmpty()) {
        const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
        base += QLatin1Char('-') + QString::fromLatin1(hash.toHex().left(12));
    }
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QDir::isAbsolutePath(runtimeDir) && QFileInfo(runtimeDir).isDir())
        return QDir(runtimeDir).filePath(base + QStringLiteral(".sock"));
    // /tmp is shared: the user id keeps users apart, UserAccessOption keeps others out.
    return base + QLatin1Char('-') + QString::number(getuid());
}

SingleInstance::Role SingleInstance::start(QString *error)
{
    if (m_role != Role::Undecided) return m_role;

    // The lock orders simultaneous starts; QLockFile breaks the lock of a dead process.
    m_lock = std::make_unique<QLockFile>(socketPath(m_serverName) + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError) {
            m_lock.reset();
            return m_role = Role::Secondary;
        }
        if (error) *error = tr("Cannot create the lock file %1").arg(socketPath(m_serverName));
        m_lock.reset();
        return m_role = Role::Failed;
    }

    // Holding the lock, a socket at the name is normally a crashed instance's leftover;
    // remove it only when nothing answers there.
    if (someoneAnswers(m_serverName, 500)) {
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
        if (m_clients >= MaxClients) {
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
    socket->write(Answer, AnswerBytes);
    socket->disconnectFromServer();

    QMetaObject::invokeMethod(
        this,
        [this, command, directory] {
            emit activationRequested(command);
            if (command != InstanceCommand::None) emit commandReceived(command, directory);
        },
        Qt::QueuedConnection);
}

bool SingleInstance::sendToPrimary(InstanceCommand command, QString *error, int timeoutMs) const
{
    return SendCommand(m_serverName, command, QDir::currentPath(), timeoutMs, error);
}

QByteArray SingleInstance::EncodeFrame(InstanceCommand command, const QString &workingDirectory)
{
    QByteArray dir = workingDirectory.toUtf8();
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
                                 const QString &workingDirectory, int timeoutMs, QString *error)
{
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
    socket.write(EncodeFrame(command, workingDirectory));
    QByteArray answer;
    while (answer.size() < AnswerBytes) {
        if (socket.bytesToWrite() > 0) socket.waitForBytesWritten(int(deadline.remainingTime()));
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        answer += socket.read(AnswerBytes - answer.size());
    }
    socket.abort();
    if (answer != QByteArray(Answer, AnswerBytes)) {
        if (error) *error = tr("The running instance did not answer.");
        return false;
    }
    return true;
}

} // namespace platform
