#include "lookup/LookupWorker.h"

#include <QMetaObject>
#include <QObject>

#include <thread>
#include <utility>

QString CapLookupName(QString name)
{
    if (name.size() <= MaxLookupNameLength) return name;
    name.truncate(name.at(MaxLookupNameLength).isLowSurrogate() ? MaxLookupNameLength - 1
                                                                : MaxLookupNameLength);
    return name;
}

void LookupWorker::Start(QObject *receiver, Delivery deliver)
{
    FReceiver = receiver;
    FDeliver = std::move(deliver);
    std::thread([self = shared_from_this(), end = FEnd]() mutable {
        self->Loop();
        self.reset(); // the last owner frees the worker here
        std::lock_guard lock(end->mutex);
        end->done = true;
        end->ended.notify_all();
    }).detach();
}

void LookupWorker::Request(const QString &number)
{
    {
        std::lock_guard lock(FMutex);
        FPending = number;
    }
    FWake.notify_all();
}

void LookupWorker::Stop()
{
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FWake.notify_all();
}

bool LookupWorker::Abort()
{
    bool busy;
    {
        std::lock_guard lock(FMutex);
        FAborted = true;
        busy = FBusy;
    }
    FWake.notify_all();
    Interrupt();
    return busy;
}

bool LookupWorker::WaitFinished(int timeoutMs)
{
    std::unique_lock lock(FEnd->mutex);
    return FEnd->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return FEnd->done; });
}

bool LookupWorker::Busy() const
{
    std::lock_guard lock(FMutex);
    return FBusy;
}

QString LookupWorker::Pending() const
{
    std::lock_guard lock(FMutex);
    return FPending;
}

void LookupWorker::Loop()
{
    for (;;) {
        QString number;
        {
            std::unique_lock lock(FMutex);
            FWake.wait(lock, [this] { return FAborted || FStopping || !FPending.isEmpty(); });
            if (FAborted || FStopping) return;
            number = std::exchange(FPending, QString());
            FBusy = true;
        }
        LookupResult result;
        result.number = number;
        const bool found = Run(number, result);

        std::unique_lock lock(FMutex);
        FBusy = false;
        if (FAborted) return;
        if (!found) continue;
        FDelivered = false;
        // Posted under the lock: once Abort() has returned, nothing reaches the receiver.
        QMetaObject::invokeMethod(
            FReceiver, [self = shared_from_this(), result] { self->Deliver(result); },
            Qt::QueuedConnection);
        FWake.wait(lock, [this] { return FDelivered || FAborted; });
        if (FAborted) return;
    }
}

void LookupWorker::Deliver(const LookupResult &result)
{
    {
        std::lock_guard lock(FMutex);
        if (FAborted) return;
    }
    try {
        if (FDeliver) FDeliver(result);
    } catch (...) {
        // A failed delivery loses this result only; the worker goes on.
    }
    {
        std::lock_guard lock(FMutex);
        FDelivered = true;
    }
    FWake.notify_all();
}
