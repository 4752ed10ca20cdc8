// A home router's call monitor as a line source: a TCP connection to the router (port 1012 by
// default) on which it reports each call as a line of text. The router only talks; nothing is
// ever sent to it.
//
// The router reports calls without an end that the program could miss: the connection is kept
// for weeks, with TCP keep-alive so that a router that has gone (restart, Wi-Fi change, suspend)
// is noticed within about two minutes, and tried again forever, with a pause growing from 1 to
// 60 s. Calls that rang when the connection went end as on a lost line.
//
// The router cannot reject a call: CanRejectCalls is false.
//
// Main thread only; the socket and its timers run in the main thread's event loop, and no step
// waits (host names are resolved in Qt's resolver threads).
#pragma once

#include "line/LineSource.h"
#include "router/RouterMonitorParser.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class QTcpSocket;

namespace router {

constexpr quint16 DefaultPort = 1012;

class TRouterMonitorSource : public line::TLineSource
{
public:
    // Keep-alive: first probe after KeepIdleS seconds of silence, then KeepCount probes
    // KeepIntervalS apart: a dead peer is noticed after about two minutes.
    static constexpr int KeepIdleS = 60;
    static constexpr int KeepIntervalS = 10;
    static constexpr int KeepCount = 6;
    // The pause before the next try grows from the first to the last, doubling.
    static constexpr int FirstRetryMs = 1000;
    static constexpr int LastRetryMs = 60000;
    // A connection that has not come up after this long is given up and tried again.
    static constexpr int ConnectTimeoutMs = 10000;
    // A connection that lasted this long starts the pauses from the first again.
    static constexpr int StableMs = 60000;
    // Extensions of the router's answering machines: a call they take was missed at the desk.
    static bool IsAnsweringMachine(int extension) { return extension >= 40 && extension <= 44; }

    TRouterMonitorSource(QString host, quint16 port);
    // A source whose address cannot be used (setting error: why); it never connects and
    // says so in LineError.
    explicit TRouterMonitorSource(const QString &settingError);
    ~TRouterMonitorSource() override;

    line::TLineKind Kind() const override { return line::TLineKind::Router; }
    QString Address() const override;
    bool Start() override;
    void Stop() override;
    bool CanRejectCalls() const override { return false; }
    bool CanReject(line::TCallId) const override { return false; }
    bool RejectCall(line::TCallId) override { return false; }
    QString LineError() const override { return FError; }

    bool Connected() const { return FState == TState::Connected; }
    // The pause before the next try after this one.
    int RetryDelayMs() const { return FRetryDelayMs; }
    // Shorter pauses, for tests.
    void SetRetryDelays(int firstMs, int lastMs)
    {
        FFirstRetryMs = FRetryDelayMs = firstMs;
        FLastRetryMs = lastMs;
    }
    // The socket's descriptor while connected, else -1.
    qintptr SocketDescriptor() const;
    // Lines skipped, connections made and lost: for the log ("Debug").
    std::function<void(const QString &text)> OnLog;

private:
    enum class TState
    {
        Stopped,
        Connecting,
        Connected,
        Waiting // for the next try
    };
    struct TLiveCall
    {
        line::TCallId Id = 0; // 0: an outgoing call, whose events are dropped
        bool Answered = false;
    };

    void Connect();
    void SocketConnected();
    void SocketLost(const QString &why);
    void ReadAvailable();
    void HandleEvent(const TMonitorEvent &event);
    void EndLive(int connectionId, uint16_t reason);
    void EndAllLive(uint16_t reason);
    void DropSocket();
    void Log(const QString &text);
    void SetError(const QString &error);

    QString FHost;
    quint16 FPort;
    TState FState = TState::Stopped;
    std::unique_ptr<QTcpSocket> FSocket;
    int FInSocketSignal = 0; // the socket's signals on the stack
    QTimer FRetryTimer;
    QTimer FConnectTimer;
    QElapsedTimer FConnectedSince;
    int FFirstRetryMs = FirstRetryMs;
    int FLastRetryMs = LastRetryMs;
    int FRetryDelayMs = FirstRetryMs;
    QString FError;
    TMonitorParser FParser;
    std::map<int, TLiveCall> FLive; // by the router's connection id
};

} // namespace router
