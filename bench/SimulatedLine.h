// What the benchmarks on the simulated line share: the simulator loaded in process with its
// control socket and timed log in a folder of the benchmark's, and a wait that lets the event
// loop turn.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <functional>

// Call before the application object: the line simulator in process (unless
// CORVANE_CAPI_LIBRARY names another library), the windows without a screen, the simulator's
// socket and log (with times) in dir.
inline void UseSimulatedLine(const QTemporaryDir &dir)
{
    if (qEnvironmentVariableIsEmpty("CORVANE_CAPI_LIBRARY"))
        qputenv("CORVANE_CAPI_LIBRARY", CAPISIM_LIBRARY);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("CAPISIM_SOCKET", dir.filePath("control.sock").toLocal8Bit());
    qputenv("CAPISIM_LOG", dir.filePath("line.log").toLocal8Bit());
    qputenv("CAPISIM_LOG_TIMES", "1");
}

// Lets the event loop turn until done or the time is up; false on time-out.
inline bool WaitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}
