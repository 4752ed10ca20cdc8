// Desktop notifications on a private session bus (dbus-run-session) with a notification
// service of the test's own: topics replace their own notification, closing works also
// before the service answered, and caller texts never become markup.
#include "platform/DesktopNotifications.h"
#include "tests/FakeNotifications.h"

#include <QtTest>

using namespace platform;

class TestNotifications : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "runs under dbus-run-session");
    }

    void nothingWithoutAService()
    {
        DesktopNotifications notifications;
        QVERIFY(!notifications.IsAvailable());
        QVERIFY(!notifications.Show("calls", "Hint", "1 new call"));
        // No bus at all.
        DesktopNotifications unconnected(QDBusConnection(QStringLiteral("none")));
        QVERIFY(!unconnected.IsAvailable());
    }

    void topicsReplaceTheirOwnNotification()
    {
        NotificationServiceOnBus bus;
        QVERIFY(bus.registered());
        DesktopNotifications notifications;
        QVERIFY(notifications.IsAvailable());
        QVERIFY(notifications.Show("calls", "Hint", "1 new call"));
        QTRY_COMPARE(bus.service().shown().size(), 1);
        QVERIFY(notifications.Show("calls", "Hint", "2 new calls"));
        QVERIFY(notifications.Show("line", "ISDN line", "lost"));
        QTRY_COMPARE(bus.service().shown().size(), 3);
        const QList<ShownNotification> shown = bus.service().shown();
        QCOMPARE(shown[0].app, QString("Corvane"));
        QCOMPARE(shown[0].replaces, 0u);
        QCOMPARE(shown[1].replaces, shown[0].id); // the count, updated in place
        QCOMPARE(shown[2].replaces, 0u);          // another topic stands alone
        QVERIFY(shown[2].id != shown[0].id);

        notifications.Close("calls");
        QTRY_COMPARE(bus.service().closed(), QList<uint>{shown[0].id});
        notifications.Close("calls"); // nothing shown any more
        notifications.Close("unknown");
        QTest::qWait(100);
        QCOMPARE(bus.service().closed().size(), 1);
    }

    // Shown in quick succession, before the service told the first one's id: one stays.
    void quickSuccessionLeavesOneNotification()
    {
        NotificationServiceOnBus bus;
        DesktopNotifications notifications;
        notifications.Show("calls", "Hint", "1 new call");
        notifications.Show("calls", "Hint", "2 new calls");
        notifications.Close("calls");
        QTRY_COMPARE(bus.service().shown().size(), 2);
        QTRY_COMPARE(bus.service().closed().size(), 2);
        QList<uint> ids;
        for (const ShownNotification &n : bus.service().shown())
            ids << n.id;
        QList<uint> closed = bus.service().closed();
        std::sort(ids.begin(), ids.end());
        std::sort(closed.begin(), closed.end());
        QCOMPARE(closed, ids);
    }

    // Update changes the text of the notification on show; one that was never shown, that
    // the user dismissed or that the program closed is not opened again.
    void updateOpensNoClosedNotification()
    {
        NotificationServiceOnBus bus;
        FakeNotificationService &service = bus.service();
        DesktopNotifications notifications;
        ClosedNotificationsSeen seen;
        QVERIFY(!notifications.Update("calls", "Hint", "Anna"));

        QVERIFY(notifications.Show("calls", "Hint", "0441123"));
        // Before the service has told the notification's id: it is replaced once it has.
        QVERIFY(notifications.Update("calls", "Hint", "Anna"));
        QTRY_COMPARE(service.shown().size(), 2);
        const uint id = service.shown()[0].id;
        QCOMPARE(service.shown()[1].replaces, id);
        QCOMPARE(service.shown()[1].body, QString("Anna"));
        QVERIFY(service.closed().isEmpty());

        service.dismiss(id);
        QTRY_VERIFY(seen.ids.contains(id));
        const int count = int(service.shown().size());
        QVERIFY(!notifications.Update("calls", "Hint", "Anna Example"));
        QTest::qWait(100);
        QCOMPARE(service.shown().size(), count);

        // A new call opens a new one; closed by the program, it takes no update either.
        QVERIFY(notifications.Show("calls", "Hint", "0301234"));
        QTRY_COMPARE(service.shown().size(), count + 1);
        QCOMPARE(service.shown().last().replaces, 0u);
        notifications.Close("calls");
        QVERIFY(!notifications.Update("calls", "Hint", "Erika"));
        QTRY_COMPARE(service.closed().size(), 1);
        QCOMPARE(service.closed().first(), service.shown().last().id);
        QCOMPARE(service.shown().size(), count + 1);
    }

    void callerTextsAreNeverMarkup()
    {
        const QString caller = "<b>Müller & Sohn</b>";
        {
            NotificationServiceOnBus bus;
            DesktopNotifications notifications;
            notifications.Show("calls", "Hint", caller);
            QTRY_COMPARE(bus.service().shown().size(), 1);
            QCOMPARE(bus.service().shown()[0].body, caller.toHtmlEscaped());
        }
        // A service without markup gets the text as it stands.
        NotificationServiceOnBus plain(QStringList{"body"});
        DesktopNotifications notifications;
        notifications.Show("calls", "Hint", "first");
        QTest::qWait(200); // the capabilities have come
        notifications.Show("calls", "Hint", caller);
        QTRY_COMPARE(plain.service().shown().size(), 2);
        QCOMPARE(plain.service().shown()[1].body, caller);
    }
};

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
