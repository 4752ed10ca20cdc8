#pragma once

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
};

// The simulated ISDN exchange on controller 1: answers the program's requests,
// offers calls, plays their course and the faults. Both front ends (the
// in-process library and the rcapi server) share this one class.
// Owned by the front end; every public method is thread-safe. A timer thread
// of its own ends calls whose end-after time has come.
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
    bool listening() const;

    // Offers each call to every listening application; returns the PLCIs.
    std::optional<std::vector<uint32_t>> ring(const std::vector<RingOptions> &calls,
                                              std::string *error);
    // Ends the call with plci (the newest call when none is given).
    std::optional<uint32_t> hangup(std::optional<uint32_t> plci, uint16_t reason,
                                   std::string *error);
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
        CallState state = CallState::Offered;
        bool b3Offered = false;
        std::optional<Clock::time_point> endAt;
        uint16_t reason = 0;
        uint16_t rejectReason = 0;
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
    uint8_t lastPlciNumber_ = 0;
    uint64_t order_ = 0;
    std::vector<std::pair<int, std::function<void()>>> observers_;
    int nextObserverId_ = 1;
    std::thread timer_;
};

} // namespace capisim
