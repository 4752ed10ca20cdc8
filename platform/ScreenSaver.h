// Wakes the display when a call comes in, so that the popup is seen.
//
// Two ways, both without waiting: the desktop's org.freedesktop.ScreenSaver service
// (SimulateUserActivity) on the session bus, asked without waiting for its answer, and the X
// server's screen-saver reset on the application's own X connection (xcb platform only).
//
// Owned by the main window; main thread only.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

namespace platform {

class DisplayWaker : public QObject
{
public:
    explicit DisplayWaker(QDBusConnection bus = QDBusConnection::sessionBus(),
                          QObject *parent = nullptr);

    // Starts waking the display and returns at once.
    void Wake();

    // The outcome of a Wake, once known: true when at least one way reached its target,
    // otherwise false with the reasons. The service's answer may never come (a desktop that
    // hangs): then neither does this, and nothing else waits for it.
    std::function<void(bool woken, const QString &error)> OnWoken;
    // How long the service's answer is awaited in the background.
    int ServiceTimeoutMs = 1000;

private:
    void AskService(int pathIndex, bool x11, const QString &x11Reason);
    void Report(bool woken, const QString &x11Reason, const QString &dbusReason);

    QDBusConnection FBus;
};

} // namespace platform
