// The contacts never hold up a ringing call: an export that waits on an address-book service
// that does not answer leaves the main thread free, so the call on the simulated line is
// alerted at once. Runs on a private session bus (dbus-run-session) that knows no services
// but the one this test plays.
#include "app/CallHandler.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "lookup/OutlookContacts.h"
#include "phone/isdntool.h"
#include "settings/SettingsStore.h"
#include "tests/capi/SimLine.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QtTest>

namespace {

const QString Registry = QStringLiteral("org.gnome.evolution.dataserver.Sources5");

// Owns the address books' registry on the bus and answers nothing until released, as a
// service that hangs does. Lives in a thread of its own.
class HangingService : public QDBusVirtualObject
{
public:
    QString introspect(const QString &) const override { return QString(); }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QMutexLocker lock(&FMutex);
        if (FReleased)
            connection.send(message.createErrorReply(QDBusError::Failed, "released"));
        else
            FHeld.append(message);
        return true;
    }
    qsizetype Held() const
    {
        QMutexLocker lock(&FMutex);
        return FHeld.size();
    }
    // Every request held, and every one from now on, gets an error.
    void Release(const QDBusConnection &connection)
    {
        QMutexLocker lock(&FMutex);
        for (const QDBusMessage &message : std::as_const(FHeld))
            connection.send(message.createErrorReply(QDBusError::Failed, "released"));
        FHeld.clear();
        FReleased = true;
    }

private:
    mutable QMutex FMutex;
    QList<QDBusMessage> FHeld;
    bool FReleased = false;
};

// An ALERT_REQ as the line's log shows it: command 0x01, subcommand 0x80.
bool isAlert(const QString &message)
{
    const QStringList bytes = message.split(u' ');
    return bytes.size() > 5 && bytes[4] == "01" && bytes[5] == "80";
}

} // namespace

class TestContactsLine : public QObject
{
    Q_OBJECT

private slots:
    void callIsAlertedWhileAnExportWaits();
};

void TestContactsLine::callIsAlertedWhileAnExportWaits()
{
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "runs under dbus-run-session");
    QThread thread;
    HangingService service;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "hanging");
    const auto stop = qScopeGuard([&] {
        service.Release(bus);
        bus.unregisterService(Registry);
        bus.unregisterObject("/", QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus("hanging");
        thread.quit();
        thread.wait();
    });
    QVERIFY(bus.registerVirtualObject("/", &service, QDBusConnection::SubPath));
    QVERIFY(bus.registerService(Registry));
    service.moveToThread(&thread);
    thread.start();

    SimLine line;
    QString error;
    QVERIFY2(line.setUp(SimLine::InProcess, &error), qPrintable(error));
    QTemporaryDir dir;
    qputenv("CORVANE_HOME", dir.path().toLocal8Bit());
    SettingsStore settings(dir.filePath("corvane.ini"));
    settings.readAll();
    ScriptedPrompts prompts;
    TLists lists(settings, prompts, dir.path());
    QVERIFY(lists.LoadAtStartup());
    AreaCodeTable towns;
    TCallHandler calls(settings, lists, towns);
    calls.SetListsLoaded(true);
    calls.SetDialogsReady(true);
    QVERIFY(calls.StartLines());
    QVERIFY(line.command("wait-listening --timeout 10"));

    TOutlookContacts contacts(&settings, prompts);
    contacts.Export("Oma", "0441 123", PhoneField::Mobile, Language::English);
    QTRY_VERIFY(service.Held() > 0);

    line.mark();
    QVERIFY(line.command("ring --from 441777 --type 0x21 --to 85606 --end-after 5"));
    const auto alerted = [&line] {
        const QStringList put = line.put();
        return std::any_of(put.cbegin(), put.cend(), isAlert);
    };
    QTRY_VERIFY_WITH_TIMEOUT(alerted(), 500);
    QVERIFY(contacts.Exporting());
    QVERIFY(service.Held() > 0);

    // The service fails at last: the export ends and says so.
    service.Release(bus);
    QTRY_VERIFY_WITH_TIMEOUT(!contacts.Exporting(), 30000);
    QCOMPARE(prompts.messages, QStringList({"Address book connection failed"}));
    calls.StopLines();
    line.tearDown();
}

QTEST_GUILESS_MAIN(TestContactsLine)
#include "tst_contacts_line.moc"
