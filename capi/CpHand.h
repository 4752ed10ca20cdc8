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
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QObject;

// Waits for driver messages and hands them to the main thread. Owned by TCapi.
class TCapiCallBack
{
public:
    struct Callbacks
    {
        std::function<void(const uint8_t *)> dispatch; // main thread, while the thread waits
        std::function<void()> reset;                   // main thread, posted
        std::function<void()> lineLost;                // main thread, posted
    };

    // notifier: an object of the main thread that receives the hand-overs.
    TCapiCallBack(uint32_t applId, QObject *notifier, Callbacks callbacks);
    // The thread must have been stopped (RequestStop and WaitForEnd).
    ~TCapiCallBack();

    void Start();
    // Sets the stop flag and cancels a hand-over that has not been dispatched yet.
    void RequestStop();
    // Waits up to timeoutMs for the thread to end. A thread that does not end is left
    // to finish on its own (it touches nothing of the engine once stopped) and is never
    // destroyed while it runs.
    bool WaitForEnd(int timeoutMs);

    // Set by the dispatch of a DISCONNECT_IND that emptied the table.
    std::atomic<bool> ResetRequested{false};

    // Pause of the wait, so that a stop is seen even when the driver never wakes it.
    static constexpr int WaitSliceMs = 500;
    // Fetch failures after "a message is waiting" in a row that mean the line is lost.
    static constexpr int LostLineFailures = 5;

private:
    struct Shared;
    static void Run(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> FShared;
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
    QObject *FNotifier; // deleted later: a hook may end the engine from its own hand-over
    std::unique_ptr<TCapiCallBack> FCallBack;
};
