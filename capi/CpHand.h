// The CAPI application of the program: registration, the signal thread, dispatch of
// every driver message in the main thread, the replies the protocol requires, and the
// connection table.
//
// TCapi is created and destroyed in the main thread, which must run a Qt event loop.
// Its signal thread (TCapiCallBack) waits for driver messages, fetches one and hands it
// to the main thread, where it is decoded and dispatched while the thread waits; so the
// table needs no lock and the fetched message stays valid during the dispatch. After a
// DISCONNECT_IND that emptied the table, the thread posts the reset notification; it
// runs from the event loop, never inside a dispatch. Never destroy a TCapi from inside
// one of its hooks.
#pragma once

#include "capi/CpConnec.h"
#include "capi/CpMsg.h"

#include <QString>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QSocketNotifier;

// Waits for driver messages and hands them to the main thread. Owned by TCapi; created,
// stopped and destroyed in the main thread.
//
// The hand-over is a slot guarded by a mutex and an eventfd that wakes the main
// thread's event loop: the thread fills the slot and waits until the main thread has
// dispatched it, or until the engine stops, which cancels it. So stopping never waits
// for a hand-over, and a message fetched before the stop is never dispatched after it.
class TCapiCallBack
{
public:
    struct Callbacks
    {
        std::function<void(const uint8_t *)> dispatch; // while the thread waits
        std::function<void()> reset;                   // after the dispatch that asked for it
        std::function<void()> lineLost;
    };

    TCapiCallBack(uint32_t applId, Callbacks callbacks);
    ~TCapiCallBack();

    TCapiCallBack(const TCapiCallBack &) = delete;
    TCapiCallBack &operator=(const TCapiCallBack &) = delete;

    // False when the main thread cannot be woken (no eventfd): then there is no thread.
    bool Start();
    // Sets the stop flag and cancels a hand-over that has not been dispatched yet.
    void RequestStop();
    // Waits up to timeoutMs for the thread to end. A thread that does not end is left
    // to finish on its own (once stopped it touches nothing of the engine) and is
    // never destroyed while it runs.
    bool WaitForEnd(int timeoutMs);
    // Called during the dispatch of a DISCONNECT_IND that emptied the table: the reset
    // notification follows once that dispatch has returned.
    void RequestReset();

    // Slice of the driver wait, so that a stop is seen even when the driver never
    // wakes the thread.
    static constexpr int WaitSliceMs = 500;
    // Failed fetches in a row after "a message is waiting" that mean the line is lost.
    static constexpr int LostLineFailures = 5;

private:
    struct Shared;
    static void Run(std::shared_ptr<Shared> shared);
    static void Deliver(const std::shared_ptr<Shared> &shared);

    std::shared_ptr<Shared> FShared;
    QSocketNotifier *FWakeUp = nullptr; // deleted later: a callback may end the engine
    std::thread FThread;
};

class TCapi
{
public:
    using TMessageHook = std::function<void(TConnection *, TCapiMessage &, bool &DoDefault)>;

    // Registers with the driver and starts the signal thread. Read LastError
    // afterwards: non-zero means not registered and no thread.
    TCapi(uint32_t maxLogicalConnections, uint32_t maxBDataBlocks, uint32_t maxBDataLen);
    ~TCapi();

    TCapi(const TCapi &) = delete;
    TCapi &operator=(const TCapi &) = delete;

    // Sends the message with this application's id; the message is consumed. True when
    // the driver took it; otherwise its code is in LastError.
    bool PutMessage(std::unique_ptr<TCapiMessage> message);
    // Clears the call: DISCONNECT_B3_REQ while the B3 link is active, DISCONNECT_REQ in
    // the other states, nothing once gone. False (and a null reference) when the
    // connection is no longer in the table.
    bool Disconnect(TConnection *&connection);
    QString GetErrorText() const;

    bool Registered() const { return FRegistered; }
    TConnections &Connections() { return FConnections; }
    // Decodes and handles one driver message; the signal thread's hand-over ends here.
    void Dispatch(const uint8_t *raw);

    uint32_t ApplID = 0;
    uint32_t LastError = 0;
    TMessageHook OnMessage;
    std::function<void()> OnReset;
    // The driver keeps saying a message is waiting but cannot deliver one: the remote
    // controller went away. The signal thread has ended; the engine is of no further use.
    std::function<void()> OnLineLost;

private:
    void Register();
    void Release();
    void HandleIndication(TCapiMessage &message);
    void HandleConfirmation(TCapiMessage &message);
    void LineLost();

    uint32_t FMaxLogicalConnections;
    uint32_t FMaxBDataBlocks;
    uint32_t FMaxBDataLen;
    bool FRegistered = false;
    TConnections FConnections;
    std::unique_ptr<TCapiCallBack> FCallBack;
};
