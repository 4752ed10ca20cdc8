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
#include "tests/lookup/HangingService.h"

#include <QDBusConnection>
#include <QtTest>

namespace {

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
    HangingAddressBook service;
    QVERIFY(service.Registered());

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
    service.Release();
    QTRY_VERIFY_WITH_TIMEOUT(!contacts.Exporting(), 30000);
    QCOMPARE(prompts.messages, QStringList({"Address book connection failed"}));
    calls.StopLines();
    line.tearDown();
}

QTEST_GUILESS_MAIN(TestContactsLine)
#include "tst_contacts_line.moc"
