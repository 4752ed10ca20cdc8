// Desktop notifications through the session bus's org.freedesktop.Notifications service
// (GNOME, KDE, Xfce, dunst and the like), which shows them whether or not a tray is there.
//
// Notifications come in topics: a new notification of a topic replaces the one shown
// before, so that "3 new calls" takes the place of "2 new calls" instead of piling up.
// Update changes the text of a topic's notification only while it is shown: one the user
// closed, or that expired, stays closed.
// Calls to the service are asynchronous; a service that hangs never blocks the program.
//
// Owned by the main window; main thread only.
#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

#include <optional>

namespace platform {

class DesktopNotifications : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QObject *parent = nullptr);

    // A notification service runs, or the bus can start one.
    bool IsAvailable() const;

    // Shows a notification of the topic in place of the topic's earlier one. The body is
    // plain text (markup in it is shown as it stands). expireMs -1: the service's default.
    // False when no service is there.
    bool Show(const QString &topic, const QString &summary, const QString &body, int expireMs = -1);
    // Replaces the text of the topic's notification while it is shown (or on its way); false,
    // and nothing shown, when it was closed, has expired or was never shown.
    bool Update(const QString &topic, const QString &summary, const QString &body,
                int expireMs = -1);
    // Closes the topic's notification, if one is shown.
    void Close(const QString &topic);

    static QString ServiceName() { return QStringLiteral("org.freedesktop.Notifications"); }

private slots:
    // The service's signal: the notification is gone (expired, dismissed, closed).
    void NotificationClosed(uint id, uint reason);

private:
    void AskCapabilities();

    void CloseId(uint id);

    struct Text
    {
        QString summary;
        QString body;
        int expireMs = -1;
    };
    struct Topic
    {
        uint id = 0;          // the service's id of the shown notification; 0: none yet
        int generation = 0;   // counts the Show calls; an older answer is outdated
        bool waiting = false; // the answer to the newest Show is on the way
        bool closeWhenKnown = false;
        std::optional<Text> update; // an Update while waiting, sent once the id is known
    };

    QDBusConnection FBus;
    QHash<QString, Topic> FTopics;
    // The service reads the body as markup; unknown until it answers: escaped meanwhile.
    bool FBodyMarkup = true;
    bool FAskedCapabilities = false;
};

} // namespace platform
