#pragma once

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

// The longest name a lookup gives a caller: as long as a nickname may be, so that it fits the
// call list's nickname column and can be taken into the phone book as it stands. A server may
// answer with a first line of any length.
constexpr qsizetype MaxLookupNameLength = 45;
// The name cut to that length (never inside a character).
QString CapLookupName(QString name);

// What a lookup found for a number.
struct LookupResult
{
    QString number; // as it was requested
    QString name;
    QString info;         // lines, each ended by a carriage return
    bool hasInfo = false; // the built-in lookup answers with information, a plug-in does not
    // Why the server gave no answer (unreachable, refused, timed out, an error status); empty
    // when it answered, with or without a name.
    QString failure;
};

// A background lookup of one number at a time (the built-in HTTP lookup or a user's plug-in).
// The main thread requests a number; the worker looks it up and hands the result to the main
// thread, and waits until it has been delivered there before it serves the next request. A
// request that arrives meanwhile waits in the pending slot, where a newer one replaces it.
//
// Created by the lookup sources, which hold it while it is their active source; the thread
// holds it too, so that a worker that was stopped finishes its lookup on its own and frees
// itself (so it is always made with std::make_shared). Request, Stop and Abort are called from
// the main thread and never wait for the worker.
class LookupWorker : public std::enable_shared_from_this<LookupWorker>
{
public:
    using Delivery = std::function<void(const LookupResult &)>;

    virtual ~LookupWorker() = default;
    LookupWorker(const LookupWorker &) = delete;
    LookupWorker &operator=(const LookupWorker &) = delete;

    // Starts the thread, asleep. Results are delivered in the thread of the receiver; when the
    // receiver is deleted, results not yet delivered are dropped (call Abort() first).
    void Start(QObject *receiver, Delivery deliver);
    // Puts the number into the pending slot and wakes the worker.
    void Request(const QString &number);
    // The worker ends: a lookup under way still finishes and is delivered, a pending request
    // is dropped.
    void Stop();
    // The program ends: the worker ends at once (a lookup under way is interrupted where that
    // is possible) and delivers nothing more. True when it was inside a lookup at that moment.
    bool Abort();
    // Waits at most the time for the thread to end; true when it has ended.
    bool WaitFinished(int timeoutMs);
    bool Busy() const;
    QString Pending() const;

protected:
    LookupWorker() = default;
    // Worker thread: looks the number up; true when the result is to be delivered.
    virtual bool Run(const QString &number, LookupResult &result) = 0;
    // Main thread, from Abort(): makes a Run under way return soon.
    virtual void Interrupt() {}

private:
    struct ThreadEnd
    {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };

    void Loop();
    void Deliver(const LookupResult &result);

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    QString FPending;
    bool FStopping = false;
    bool FAborted = false;
    bool FBusy = false;
    bool FDelivered = false;
    QObject *FReceiver = nullptr;
    Delivery FDeliver;
    std::shared_ptr<ThreadEnd> FEnd = std::make_shared<ThreadEnd>();
};
