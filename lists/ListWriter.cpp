#include "lists/ListWriter.h"

#include <algorithm>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

TListWriter::TListWriter(std::function<void()> onResult) : FOnResult(std::move(onResult))
{
    FThread = std::thread([this] { Run(); });
}

TListWriter::~TListWriter()
{
    {
        std::lock_guard guard(FLock);
        FStop = true;
        FUrgent = true;
    }
    FChanged.notify_all();
    FThread.join();
}

void TListWriter::Submit(Job job)
{
    {
        std::lock_guard guard(FLock);
        const auto same = std::find_if(FQueue.begin(), FQueue.end(), [&job](const Job &queued) {
            return queued.list == job.list;
        });
        if (same != FQueue.end())
            *same = std::move(job);
        else
            FQueue.push_back(std::move(job));
        if (!FFirstQueued) FFirstQueued = std::chrono::steady_clock::now();
    }
    FChanged.notify_all();
}

void TListWriter::WaitIdle()
{
    std::unique_lock guard(FLock);
    FUrgent = true;
    FChanged.notify_all();
    FChanged.wait(guard, [this] { return FQueue.empty() && !FRunning; });
    FUrgent = false;
}

std::vector<TListWriter::Result> TListWriter::TakeResults()
{
    std::lock_guard guard(FLock);
    return std::exchange(FResults, {});
}

bool TListWriter::Busy() const
{
    std::lock_guard guard(FLock);
    return !FQueue.empty() || FRunning;
}

void TListWriter::Run()
{
    // Below the main thread: a save of a long list (and the helper thread it starts, which
    // inherits this) must not take a small machine's processors from a call being answered.
    setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), 10);
    std::unique_lock guard(FLock);
    for (;;) {
        FChanged.wait(guard, [this] { return FStop || !FQueue.empty(); });
        if (FQueue.empty()) return; // stopped with nothing left to write
        // Gather the changes that follow closely, unless someone waits.
        FChanged.wait_until(guard, *FFirstQueued + Delay, [this] { return FUrgent; });
        std::vector<Job> jobs = std::exchange(FQueue, {});
        FFirstQueued.reset();
        FRunning = true;
        guard.unlock();
        std::vector<Result> results;
        for (Job &job : jobs) {
            Result result = job.run();
            result.list = job.list;
            if (result.ok) {
                ++Rewrites;
                BytesWritten += result.bytes;
            }
            results.push_back(std::move(result));
        }
        jobs.clear(); // the snapshots go before the main thread hears of the end
        guard.lock();
        for (Result &result : results)
            FResults.push_back(std::move(result));
        FRunning = false;
        FChanged.notify_all();
        if (FOnResult) {
            guard.unlock();
            FOnResult();
            guard.lock();
        }
    }
}
