#include "platform/ScreenSaver.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>

#include <X11/Xlib.h>

namespace platform {

namespace {

const QString Service = QStringLiteral("org.freedesktop.ScreenSaver");
// The freedesktop path first; KDE also serves the same interface at /ScreenSaver.
const QString Paths[] = {QStringLiteral("/org/freedesktop/ScreenSaver"),
                         QStringLiteral("/ScreenSaver")};

QString tr(const char *text)
{
    return QCoreApplication::translate("ScreenSaver", text);
}

bool resetX11ScreenSaver(QString &reason)
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    if (!display) {
        reason = tr("not an X11 display");
        return false;
    }
    // Ends a running screen saver (and DPMS blanking) and restarts its idle time. Flushed,
    // not synchronised: nothing waits for the server.
    XForceScreenSaver(display, ScreenSaverReset);
    XFlush(display);
    return true;
}

} // namespace

DisplayWaker::DisplayWaker(QDBusConnection bus, QObject *parent)
    : QObject(parent), FBus(std::move(bus))
{
}

void DisplayWaker::Wake()
{
    QString x11Reason;
    const bool x11 = resetX11ScreenSaver(x11Reason);
    if (!FBus.isConnected()) {
        Report(x11, x11Reason, tr("no D-Bus session bus"));
        return;
    }
    AskService(0, x11, x11Reason);
}

void DisplayWaker::AskService(int pathIndex, bool x11, const QString &x11Reason)
{
    const QString &path = Paths[pathIndex];
    const QDBusMessage call =
        QDBusMessage::createMethodCall(Service, path, Service, QStringLiteral("SimulateUserActivity"));
    auto *watcher = new QDBusPendingCallWatcher(FBus.asyncCall(call, ServiceTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, pathIndex, x11, x11Reason](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<> reply = *w;
                if (!reply.isError()) {
                    Report(true, x11Reason, QString());
                } else if (pathIndex + 1 < int(std::size(Paths))) {
                    AskService(pathIndex + 1, x11, x11Reason);
                } else {
                    Report(x11, x11Reason, reply.error().message());
                }
            });
}

void DisplayWaker::Report(bool woken, const QString &x11Reason, const QString &dbusReason)
{
    if (!OnWoken) return;
    OnWoken(woken, woken ? QString()
                         : tr("The display cannot be woken up: %1; %2.").arg(dbusReason, x11Reason));
}

} // namespace platform
