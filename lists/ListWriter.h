#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Writes list files in a thread of its own, so that nobody who changes a list waits for the
// disk. A job holds everything it needs (a snapshot of the rows, the language, the formats);
// a newer job for the same file replaces one that has not started yet, and a job waits a
// short while before it starts, so a burst of changes costs one or two rewrites.
//
// Created, fed and destroyed by the main thread; the jobs run in the writer's thread, and
// `onResult` is called from there when a job has ended (it must only hand over, e.g. post to
// the main thread). Destroying the writer finishes the jobs already given to it.
class TListWriter
{
public:
    struct Result
    {
        int list = 0;
        bool ok = false;
        QString error;       // why the file could not be written
        QString backupError; // why the backup copy could not be made (the save went on)
        int steps = 0;
        qint64 bytes = 0;
    };
    struct Job
    {
        int list = 0; // which file: a newer job for the same list replaces an older one
        std::function<Result()> run;
    };

    explicit TListWriter(std::function<void()> onResult);
    ~TListWriter();

    TListWriter(const TListWriter &) = delete;
    TListWriter &operator=(const TListWriter &) = delete;

    void Submit(Job job);
    // Blocks until every job given so far has ended (none waits for its start any more).
    void WaitIdle();
    std::vector<Result> TakeResults();
    bool Busy() const;

    // How long a job waits for newer changes before it starts.
    std::chrono::milliseconds Delay{300};

    // Figures: files written and bytes written since the start.
    std::atomic<qint64> Rewrites{0};
    std::atomic<qint64> BytesWritten{0};

private:
    void Run();

    std::function<void()> FOnResult;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<Job> FQueue;
    std::optional<std::chrono::steady_clock::time_point> FFirstQueued;
    bool FRunning = false;
    bool FUrgent = false; // someone waits: start at once
    bool FStop = false;
    std::vector<Result> FResults;
    std::thread FThread;
};
