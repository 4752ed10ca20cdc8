#pragma once

#include "tools/capisim/CallObserver.h"
#include "tools/capisim/CapiMessage.h"
#include "tools/capisim/Faults.h"
#include "tools/capisim/MessageLog.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace capisim {

// One registered application as a front end sees it. The exchange calls these
// with its lock held, from whichever thread drives it (a program's put, the
// control thread, the timer thread): they must not block and must not call back
// into the exchange.
class ExchangeClient
{
public:
    virtual ~ExchangeClient() = default;
    virtual void deliver(const Bytes &message) = 0;
    // The line went down: the application is detached and gets nothing more.
    virtual void lineLost() = 0;
};

// What a rung call looks like on the line.
struct RingOptions
{
    std::string from;            // calling party digits, may be empty
    uint8_t callingType = 0x01;  // type of number / numbering plan: unknown, ISDN
    uint8_t presentation = 0x80; // presentation allowed, user-provided
    std::string to;              // called party digits (the MSN)
    uint8_t calledType = 0x81;
    uint16_t cip = 16;              // telephony
    std::optional<double> endAfter; // seconds from the ring until the caller gives up
    uint16_t reason = 0x3490;       // DISCONNECT_IND reason when the call ends by itself
    uint16_t rejectReason = 0x3490; // DISCONNECT_IND reason after a reject
    // What only the router's call monitor sees.
    std::optional<std::string> routerCaller; // the RING line's caller field as it stands
    unsigned extension = 1;                  // the extension that answers
    std::optional<double> answerAfter;       // seconds from the ring until an extension answers
    bool blocked = false;                    // the router blocks the caller: the call ends at once
};

// An outgoing call, which only the router's call monitor sees.
struct OutgoingOptions
{
    std::string from; // own number
    std::string to;   // the number dialled
    unsigned extension = 1;
    std::optional<double> answerAfter;
    std::optional<double> endAfter;
};

struct RingResult
{
    std::vector<uint32_t> plcis; // one per call and listening application
    std::vector<unsigned> lines; // each call's connection id, while an observer watches
};

// What a hangup ended: one PLCI, or a whole call by its connection id.
struct HangupResult
{
    std::optional<uint32_t> plci;
    std::optional<unsigned> line;
};

// The simulated ISDN exchange on controller 1: answers the program's requests,
// offers calls, plays their course and the faults. Both front ends (the
// in-process library and the rcapi server) share this one class.
// Every call on the line also has a connection id, the lowest one not in use,
// as a home router's call monitor numbers calls; a call offered to CAPI
// applications ends on the line with the last of its PLCIs.
// Owned by the front end; every public method is thread-safe. A timer thread
// of its own answers and ends calls whose time has come.
class Exchange
{
public:
    Exchange();
    ~Exchange();
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;

    // CAPISIM_LOG and CAPISIM_FAULT; false with error on a bad value.
    bool configureFromEnvironment(std::string *error);
    // Ends the timer thread early (library unload); end-after stops working.
    void stopTimer();
    MessageLog &log() { return log_; }

    // An application appears (register) or goes (release, connection closed).
    bool attach(unsigned applId, ExchangeClient *client);
    void detach(unsigned applId);
    // One message put by the program; data holds at least size bytes. Returns 0,
    // or 0x1102 for a message the exchange cannot take (too short, length field
    // beyond size, unknown command, wrong direction).
    unsigned receive(unsigned applId, const uint8_t *data, size_t size);

    Faults faults() const;
    // For a front end that applies faults in a thread of its own (closing and
    // reopening its listener): fault commands then answer only once it has
    // acknowledged the faults, so the next client sees the new state.
    void requireFaultAcknowledgement();
    Faults faults(uint64_t *generation) const;
    void acknowledgeFaults(uint64_t generation);
    bool waitFaultsAcknowledged(std::chrono::milliseconds timeout);
    // "fault NAME [CODE]"; lose-line detaches every application.
    bool setFault(const std::string &name, const std::string &code, std::string *error);
    // An application listens, or a client watches the router's call monitor.
    bool listening() const;

    // At most one observer (the router's call monitor); nullptr removes it.
    void setCallObserver(CallObserver *observer);
    // The observer's clients came or went: wakes whoever waits for listening.
    void callObserverChanged();
    // Hands a fault of the router's port to the observer; an error without one.
    bool routerFault(const RouterFault &fault, std::string *reply, std::string *error);

    // Offers each call to every listening application. Without any, a call
    // still rings when an observer watches the line.
    std::optional<RingResult> ring(const std::vector<RingOptions> &calls, std::string *error);
    // Needs an observer: the call happens on the router only.
    std::optional<unsigned> call(const OutgoingOptions &options, std::string *error);
    // Ends the PLCI plci, or every PLCI of the call with connection id line, or
    // the newest call's newest PLCI (a call without PLCIs as a whole).
    std::optional<HangupResult> hangup(std::optional<uint32_t> plci, std::optional<unsigned> line,
                                       uint16_t reason, std::string *error);
    // Delivers raw bytes as one message to applId (the newest application when none).
    bool sendRaw(std::optional<unsigned> applId, const Bytes &bytes, std::string *error);
    std::string status() const;

    // Called with the lock held after listening or the faults changed; the
    // observer must only wake its own thread. Returns an id for removeObserver.
    int addObserver(std::function<void()> observer);
    void removeObserver(int id);

private:
    enum class CallState
    {
        Offered,
        Alerting,
        Ignored,
        Connected,
        B3Active,
        Disconnecting
    };
    using Clock = std::chrono::steady_clock;

    struct App
    {
        ExchangeClient *client = nullptr;
        uint32_t cipMask = 0;
        bool listening = false;
        uint16_t nextNumber = 1;
        uint64_t order = 0;
    };
    struct Call
    {
        unsigned applId = 0;
        unsigned line = 0; // connection id of the call on the line
        CallState state = CallState::Offered;
        bool b3Offered = false;
        std::optional<Clock::time_point> endAt;
        uint16_t reason = 0;
        uint16_t rejectReason = 0;
        uint64_t order = 0;
    };

    struct LineCall
    {
        MonitoredCall monitored;
        bool offered = false; // has PLCIs: ends with the last of them
        std::optional<Clock::time_point> answerAt;
        std::optional<Clock::time_point> endAt; // for a call without PLCIs
        std::optional<Clock::time_point> answeredAt;
        uint16_t reason = 0x3490; // how it ends by itself
        uint64_t order = 0;
    };

    static const char *stateName(CallState state);
    static uint32_t ncciOf(uint32_t plci) { return plci | 0x10000; }

    bool listeningLocked() const;
    void notifyObservers();
    void send(unsigned applId, const Bytes &message);
    uint16_t nextNumber(unsigned applId);
    void sendConf(unsigned applId, const MessageReader &request, uint16_t info);
    uint32_t allocatePlci();
    Bytes connectInd(unsigned applId, uint32_t plci, const RingOptions &options);
    void disconnect(uint32_t plci, Call &call, uint16_t reason);
    void loseLine();

    static std::optional<Clock::time_point> after(Clock::time_point now,
                                                  std::optional<double> seconds);
    unsigned startLineCall(LineCall call);
    void answerLineCall(unsigned line);
    void endLineCall(unsigned line, uint16_t reason);
    bool hasLivePlci(unsigned line) const;
    // Ends the calls that were offered to applications and have no live PLCI left.
    void endAbandonedLineCalls(uint16_t reason);

    void onListenReq(unsigned applId, const MessageReader &msg);
    void onAlertReq(unsigned applId, const MessageReader &msg);
    void onDisconnectReq(unsigned applId, const MessageReader &msg);
    void onConnectResp(unsigned applId, const MessageReader &msg);
    void onConnectB3Resp(unsigned applId, const MessageReader &msg);
    void onDisconnectResp(unsigned applId, const MessageReader &msg);
    Call *findCall(unsigned applId, uint32_t plci, const char *what);

    void timerLoop();

    MessageLog log_;
    mutable std::mutex mutex_;
    std::condition_variable timerWake_;
    bool stopping_ = false;
    Faults faults_;
    uint64_t faultGeneration_ = 0;
    uint64_t acknowledgedGeneration_ = 0;
    bool acknowledgementRequired_ = false;
    std::condition_variable faultsAcknowledged_;
    std::map<unsigned, App> apps_;
    std::map<uint32_t, Call> calls_;
    std::map<unsigned, LineCall> lineCalls_;
    CallObserver *callObserver_ = nullptr;
    uint8_t lastPlciNumber_ = 0;
    uint64_t order_ = 0;
    std::vector<std::pair<int, std::function<void()>>> observers_;
    int nextObserverId_ = 1;
    std::thread timer_;
};

} // namespace capisim
