#include "platform/ScreenSaver.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QStringList>

#include <X11/Xlib.h>

namespace platform {

namespace {

constexpr int DBusTimeoutMs = 1000;

QString tr(const char *text)
{
    return QCoreApplication::translate("ScreenSaver", text);
}

bool simulateUserActivity(QString &reason)
{
    const QString service = QStringLiteral("org.freedesktop.ScreenSaver");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        reason = tr("no D-Bus session bus");
        return false;
    }
    QDBusConnectionInterface *busInterface = bus.interface();
    if (!busInterface || !busInterface->isServiceRegistered(service).value()) {
        reason = tr("no %1 service").arg(service);
        return false;
    }
    // The freedesktop path first; KDE also serves the same interface at /ScreenSaver.
    for (const QString &path :
         {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")}) {
        const QDBusMessage call =
            QDBusMessage::createMethodCall(service, path, service, "SimulateUserActivity");
        const QDBusMessage reply = bus.call(call, QDBus::Block, DBusTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage) return true;
        reason = reply.errorMessage();
    }
    return false;
}

bool resetX11ScreenSaver(QString &reason)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        reason = tr("not an X11 display");
        return false;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        reason = tr("the X display cannot be opened");
        return false;
    }
    // Ends a running screen saver (and DPMS blanking) and restarts its idle time.
    XForceScreenSaver(display, ScreenSaverReset);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

} // namespace

bool WakeUpDisplay(QString *error)
{
    QString dbusReason, x11Reason;
    const bool dbus = simulateUserActivity(dbusReason);
    const bool x11 = resetX11ScreenSaver(x11Reason);
    if (dbus || x11) return true;
    if (error) {
        *error = tr("The display cannot be woken up: %1; %2.").arg(dbusReason, x11Reason);
    }
    return false;
}

} // namespace platform
