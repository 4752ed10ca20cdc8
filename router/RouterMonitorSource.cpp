#include "router/RouterMonitorSource.h"

#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <vector>

namespace router {

namespace {

// Read at most this much at a time: the parser keeps no more than a line of it.
constexpr qint64 ReadChunk = 64 * 1024;

bool SetKeepAlive(qintptr fd)
{
    const int on = 1;
    const int idle = TRouterMonitorSource::KeepIdleS;
    const int interval = TRouterMonitorSource::KeepIntervalS;
    const int count = TRouterMonitorSource::KeepCount;
    return ::setsockopt(int(fd), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0 &&
           ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0 &&
           ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0;
}

// Counts the socket's signals on the stack.
struct TInSignal
{
    explicit TInSignal(int &depth) : FDepth(depth) { ++FDepth; }
    ~TInSignal() { --FDepth; }
    int &FDepth;
};

} // namespace

TRouterMonitorSource::TRouterMonitorSource(QString host, quint16 port)
    : FHost(std::move(host)), FPort(port)
{
    FRetryTimer.setSingleShot(true);
    QObject::connect(&FRetryTimer, &QTimer::timeout, [this] { Connect(); });
    FConnectTimer.setSingleShot(true);
    QObject::connect(&FConnectTimer, &QTimer::timeout, [this] {
        SocketLost(QStringLiteral("no answer within %1 s").arg(ConnectTimeoutMs / 1000));
    });
}

TRouterMonitorSource::TRouterMonitorSource(const QString &settingError)
    : TRouterMonitorSource(QString(), DefaultPort)
{
    FError = settingError;
}

TRouterMonitorSource::~TRouterMonitorSource()
{
    Stop();
}

QString TRouterMonitorSource::Address() const
{
    const QString host = FHost.contains(QLatin1Char(':')) ? QLatin1Char('[') + FHost + QLatin1Char(']')
                                                          : FHost;
    return host + QLatin1Char(':') + QString::number(FPort);
}

qintptr TRouterMonitorSource::SocketDescriptor() const
{
    return FState == TState::Connected && FSocket ? FSocket->socketDescriptor() : -1;
}

bool TRouterMonitorSource::Start()
{
    if (FState != TState::Stopped) return FError.isEmpty();
    if (FHost.isEmpty()) return false;
    FRetryDelayMs = FFirstRetryMs;
    Connect();
    return true;
}

void TRouterMonitorSource::Stop()
{
    FState = TState::Stopped;
    FRetryTimer.stop();
    FConnectTimer.stop();
    DropSocket();
    FLive.clear();
    FParser.Reset();
}

void TRouterMonitorSource::Connect()
{
    FState = TState::Connecting;
    DropSocket();
    FSocket = std::make_unique<QTcpSocket>();
    // Bounds what the socket holds between two reads; the router's lines are short.
    FSocket->setReadBufferSize(ReadChunk);
    QTcpSocket *socket = FSocket.get();
    QObject::connect(socket, &QTcpSocket::connected, [this] {
        TInSignal scope(FInSocketSignal);
        SocketConnected();
    });
    QObject::connect(socket, &QTcpSocket::readyRead, [this] {
        TInSignal scope(FInSocketSignal);
        ReadAvailable();
    });
    QObject::connect(socket, &QTcpSocket::disconnected, [this] {
        TInSignal scope(FInSocketSignal);
        SocketLost(QStringLiteral("the router closed the connection"));
    });
    QObject::connect(socket, &QTcpSocket::errorOccurred, [this, socket] {
        // A close by the router also comes as "remote host closed"; disconnected says it better.
        if (socket->error() == QAbstractSocket::RemoteHostClosedError) return;
        TInSignal scope(FInSocketSignal);
        SocketLost(socket->errorString());
    });
    FConnectTimer.start(ConnectTimeoutMs);
    // The host name is resolved in Qt's resolver threads, again at each try.
    socket->connectToHost(FHost, FPort);
}

void TRouterMonitorSource::SocketConnected()
{
    FConnectTimer.stop();
    if (!SetKeepAlive(FSocket->socketDescriptor()))
        Log(QStringLiteral("router monitor: keep-alive could not be set; a router that goes "
                           "away may go unnoticed"));
    FState = TState::Connected;
    FConnectedSince.start();
    FParser.Reset();
    Log(QStringLiteral("router monitor: connected to %1").arg(Address()));
    // Said also when there was no error: the state went from connecting to connected.
    FError.clear();
    if (OnLineState) OnLineState();
}

void TRouterMonitorSource::SocketLost(const QString &why)
{
    if (FState != TState::Connecting && FState != TState::Connected) return;
    const bool wasConnected = FState == TState::Connected;
    FConnectTimer.stop();
    FState = TState::Waiting;
    DropSocket();
    FParser.Reset();
    if (wasConnected && FConnectedSince.elapsed() >= StableMs) FRetryDelayMs = FFirstRetryMs;
    const int delay = FRetryDelayMs;
    FRetryDelayMs = std::min(FRetryDelayMs * 2, FLastRetryMs);
    FRetryTimer.start(delay);
    Log(QStringLiteral("router monitor: %1 (%2); next try in %3 s")
            .arg(wasConnected ? QStringLiteral("connection lost") : QStringLiteral("no connection"),
                 why)
            .arg(delay / 1000.0));
    // The calls on the line end before the line is said to be down.
    EndAllLive(line::ReasonLineLost);
    if (FState != TState::Waiting) return; // stopped by a handler
    SetError(QStringLiteral("No connection to the router monitor at %1: %2").arg(Address(), why));
}

void TRouterMonitorSource::ReadAvailable()
{
    while (FState == TState::Connected && FSocket && FSocket->bytesAvailable() > 0) {
        const QByteArray bytes = FSocket->read(ReadChunk);
        if (bytes.isEmpty()) break;
        TMonitorParser::TResult result = FParser.Feed(bytes);
        for (const QString &why : result.Skipped)
            Log(QStringLiteral("router monitor: line skipped: %1").arg(why));
        for (const TMonitorEvent &event : result.Events) {
            // A handler may stop the source.
            if (FState != TState::Connected) return;
            HandleEvent(event);
        }
    }
}

void TRouterMonitorSource::HandleEvent(const TMonitorEvent &event)
{
    const int cid = event.ConnectionId;
    switch (event.Kind) {
    case EventKind::Ring:
    case EventKind::Call: {
        // The id is still live: the end of the call it named was lost.
        if (FLive.contains(cid)) EndLive(cid, line::ReasonLineLost);
        if (event.Kind == EventKind::Call) {
            FLive[cid] = TLiveCall{};
            return;
        }
        line::TOfferedCall call;
        call.Id = line::NewCallId();
        call.CallingPartyNumber = event.Caller;
        call.CalledPartyNumber = event.Called;
        FLive[cid] = TLiveCall{call.Id, false};
        bool reject = false; // nothing to reject with
        if (OnCallOffered) OnCallOffered(call, reject);
        return;
    }
    case EventKind::Connect: {
        const auto it = FLive.find(cid);
        if (it == FLive.end()) {
            Log(QStringLiteral("router monitor: CONNECT for unknown connection %1").arg(cid));
            return;
        }
        TLiveCall &live = it->second;
        if (live.Id == 0 || live.Answered || IsAnsweringMachine(event.Extension)) return;
        live.Answered = true;
        if (OnCallAnswered) OnCallAnswered(live.Id);
        return;
    }
    case EventKind::Disconnect:
        if (!FLive.contains(cid)) {
            Log(QStringLiteral("router monitor: DISCONNECT for unknown connection %1").arg(cid));
            return;
        }
        EndLive(cid, FLive[cid].Answered ? line::ReasonAnswered : line::ReasonNotAnswered);
        return;
    }
}

void TRouterMonitorSource::EndLive(int connectionId, uint16_t reason)
{
    const auto it = FLive.find(connectionId);
    if (it == FLive.end()) return;
    const line::TCallId id = it->second.Id;
    FLive.erase(it);
    if (id != 0 && OnCallEnded) OnCallEnded(id, reason);
}

void TRouterMonitorSource::EndAllLive(uint16_t reason)
{
    std::vector<line::TCallId> ids;
    for (const auto &[cid, live] : FLive)
        if (live.Id != 0) ids.push_back(live.Id);
    FLive.clear();
    for (line::TCallId id : ids)
        if (OnCallEnded) OnCallEnded(id, reason);
}

void TRouterMonitorSource::DropSocket()
{
    if (!FSocket) return;
    FSocket->disconnect();
    FSocket->abort();
    // Within one of its own signals the socket must outlive the signal.
    if (FInSocketSignal > 0)
        FSocket.release()->deleteLater();
    else
        FSocket.reset();
}

void TRouterMonitorSource::Log(const QString &text)
{
    if (OnLog) OnLog(text);
}

void TRouterMonitorSource::SetError(const QString &error)
{
    if (error == FError) return;
    FError = error;
    if (OnLineState) OnLineState();
}

} // namespace router
