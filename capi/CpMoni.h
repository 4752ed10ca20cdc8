// The call monitor: the main window's view of the ISDN line.
//
// Starts the CAPI engine, listens for every incoming call on one controller, turns each
// call into events with the calling and called numbers, and answers it: it lets the call
// ring on for the other phones after a time-out (Reject 1), takes and clears it when the
// user rejects it or no-disturb mode is on (Reject 0, then the B3 link is refused), or
// answers with the cause an event handler chose. Every call has its own countdown and
// answer; the events of one call carry its PLCI.
//
// Owned by the main window; lives in the main thread. Events fire in the main thread,
// most of them during the engine's dispatch: their handlers must not call Start or
// destroy the monitor (OnDoResetCapi is the exception: it fires from the event loop).
//
// When a remote controller goes away, the monitor reports it through Error/ErrorString
// and registers and listens again by itself, with a pause that grows from 1 s to 60 s.
#pragma once

#include "capi/CpHand.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class TCapiMonitor;

using TRejectCallQuestion =
    std::function<void(const QString &CallingPartyNumber, const QString &CalledPartyNumber,
                       uint16_t CipValue, uint16_t &aRejectCause, uint32_t aPLCI)>;
using TCapiCallNotification =
    std::function<void(const QString &CallingPartyNumber, const QString &CalledPartyNumber,
                       uint16_t CipValue, const QString &CipValueString)>;
using TStateChange = std::function<void(bool bUserCanReject, bool bUserCanCangeNoDisturbMode)>;
// aRejectCause is this call's answer (0xFFFF: none). A call still ringing when the line is
// lost ends with the reason ErrorLineLost (0x9004), and so does a call whose PLCI the driver
// offers again before its DISCONNECT_IND came (the indication was lost).
using TDisconnectInfo =
    std::function<void(uint16_t aRejectCause, uint16_t aDisconnectReason, uint32_t aPLCI)>;
using TNotifyEvent = std::function<void(TCapiMonitor *Sender)>;

class TCapiMonitor : public QObject
{
public:
    explicit TCapiMonitor(QObject *owner = nullptr);
    ~TCapiMonitor() override;

    // Creates the engine and listens on the controller; true on success. A second
    // Start begins again with a new engine.
    bool Start(uint32_t controller, int rejectTimeOut);
    // Answers the oldest call of this monitor that still waits for its answer: 0 takes it
    // (and clears it when its B3 link comes), 1 ignores it, 2 and above reject it.
    void AnswerCall(uint16_t cause);
    // Answers the call with this PLCI; false when it is not waiting for an answer (gone,
    // or answered already: a call gets one answer).
    bool AnswerCall(uint16_t cause, uint32_t plci);
    // The call's countdown runs: the user may reject it.
    bool CanReject(uint32_t plci) const;

    int RejectTimeOut() const { return FRejectTimeOut; }
    uint32_t Controller() const { return FController; }
    uint32_t Error() const { return FError; }
    QString ErrorString() const { return FErrorString; }
    // The answer given last, to whichever call.
    uint16_t LastRejectCause() const { return FLastRejectCause; }
    bool NoDisturbMode = false;

    TRejectCallQuestion OnRejectCallQuestion;
    TCapiCallNotification OnIncomingCall;
    TStateChange OnStateChange;
    TDisconnectInfo OnDisconnectInfo;
    TNotifyEvent OnDoResetCapi;
    // Error() may have changed: after each start, when the line is lost, and at each failed
    // attempt to register again.
    TNotifyEvent OnLineState;

    // Length of one countdown step (one second; tests shorten it).
    int CountdownIntervalMs = 1000;
    // Pauses before registering again after the line was lost.
    int ReconnectFirstPauseMs = 1000;
    int ReconnectMaxPauseMs = 60000;
    // True while the monitor waits to register again after a lost line.
    bool Reconnecting() const { return FReconnectTimer.isActive(); }

    // The engine, for inspection (null while not started).
    TCapi *Engine() const { return FCapi.get(); }

private:
    // A call this monitor was offered, from CONNECT_IND to DISCONNECT_IND.
    struct TCall
    {
        uint16_t RejectCause = 0xFFFF; // its answer; 0xFFFF while it has none
        int Countdown = 0;
        QTimer *Timer = nullptr; // the countdown's, while it runs (a child of the monitor)
    };

    void RefreshError();
    void CapiMessage(TConnection *connection, TCapiMessage &message, bool &DoDefault);
    void DoResetCapi();
    void CountdownTick(uint32_t plci);
    void StopCountdown(TCall &call);
    void DropCalls();
    bool AnyCanReject() const;
    void LineLost();
    void Reconnect();
    void FireStateChange(bool userCanReject, bool userCanChangeNoDisturbMode);
    void FireLineState();

    int FRejectTimeOut = 0;
    uint32_t FController = 1;
    uint32_t FError = 0;
    QString FErrorString;
    uint16_t FLastRejectCause = 0xFFFF;

    std::unique_ptr<TCapi> FCapi;
    std::map<uint32_t, TCall> FCalls; // by PLCI
    QTimer FReconnectTimer;
    int FReconnectPauseMs = 0;
};
