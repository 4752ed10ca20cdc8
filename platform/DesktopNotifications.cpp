#include "platform/DesktopNotifications.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <utility>

namespace platform {

namespace {

const QString Path = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage methodCall(const QString &method)
{
    return QDBusMessage::createMethodCall(DesktopNotifications::ServiceName(), Path,
                                          DesktopNotifications::ServiceName(), method);
}

} // namespace

DesktopNotifications::DesktopNotifications(QDBusConnection bus, QObject *parent)
    : QObject(parent), FBus(std::move(bus))
{
    // D-Bus signals reach a slot by its name only.
    FBus.connect(ServiceName(), Path, ServiceName(), QStringLiteral("NotificationClosed"), this,
                 SLOT(NotificationClosed(uint, uint)));
}

bool DesktopNotifications::IsAvailable() const
{
    if (!FBus.isConnected() || !FBus.interface()) return false;
    if (FBus.interface()->isServiceRegistered(ServiceName()).value()) return true;
    return FBus.interface()->activatableServiceNames().value().contains(ServiceName());
}

void DesktopNotifications::AskCapabilities()
{
    if (FAskedCapabilities) return;
    FAskedCapabilities = true;
    auto *watcher = new QDBusPendingCallWatcher(
        FBus.asyncCall(methodCall(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<QStringList> reply = *w;
        if (!reply.isError()) FBodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
        w->deleteLater();
    });
}

bool DesktopNotifications::Show(const QString &topic, const QString &summary, const QString &body,
                                int expireMs)
{
    if (!IsAvailable()) return false;
    AskCapabilities();
    Topic &state = FTopics[topic];
    // Names and numbers come from callers and lookups: never markup.
    const QString text = FBodyMarkup ? body.toHtmlEscaped() : body;
    QDBusMessage call = methodCall(QStringLiteral("Notify"));
    call << QStringLiteral("Corvane") << state.id << QStringLiteral("corvane") << summary << text
         << QStringList() << QVariantMap() << expireMs;
    const int generation = ++state.generation;
    state.waiting = true;
    state.closeWhenKnown = false;
    state.update.reset();
    auto *watcher = new QDBusPendingCallWatcher(FBus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, topic, generation](QDBusPendingCallWatcher *w) {
                const QDBusPendingReply<uint> reply = *w;
                w->deleteLater();
                Topic &current = FTopics[topic];
                if (reply.isError()) {
                    if (generation == current.generation) current.waiting = false;
                    return;
                }
                // Shown before the id of the one it should replace was known.
                if (generation != current.generation) {
                    if (reply.value() != current.id) CloseId(reply.value());
                    return;
                }
                current.id = reply.value();
                current.waiting = false;
                if (current.closeWhenKnown) {
                    Close(topic);
                } else if (current.update) {
                    const Text update = *std::exchange(current.update, std::nullopt);
                    Show(topic, update.summary, update.body, update.expireMs);
                }
            });
    return true;
}

bool DesktopNotifications::Update(const QString &topic, const QString &summary,
                                  const QString &body, int expireMs)
{
    const auto state = FTopics.find(topic);
    // Replacing an id the service no longer knows would open a new notification.
    if (state == FTopics.end() || state->closeWhenKnown || (state->id == 0 && !state->waiting))
        return false;
    // Sent once the id is known, so that it replaces the notification in place.
    if (state->waiting) {
        state->update = Text{summary, body, expireMs};
        return true;
    }
    return Show(topic, summary, body, expireMs);
}

void DesktopNotifications::NotificationClosed(uint id, uint)
{
    for (Topic &state : FTopics)
        if (state.id == id) state.id = 0;
}

void DesktopNotifications::Close(const QString &topic)
{
    const auto state = FTopics.find(topic);
    if (state == FTopics.end()) return;
    if (state->waiting) {
        state->closeWhenKnown = true;
        state->update.reset();
        return;
    }
    if (state->id != 0) CloseId(state->id);
    state->id = 0;
}

void DesktopNotifications::CloseId(uint id)
{
    QDBusMessage call = methodCall(QStringLiteral("CloseNotification"));
    call << id;
    FBus.asyncCall(call);
}

} // namespace platform
