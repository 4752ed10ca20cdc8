// A call rings while the program waits, on the simulated line (the simulator loaded in
// process): for the desktop's screen saver that never answers, for the lists dialog's reverse
// search on a server that never answers, and for a number plug-in that sleeps before dialling.
// The call is answered (ALERT_REQ) while the wait goes on. A lookup server that cannot be
// reached, as the user learns of it; and the new-call notification names the caller the
// lookup found a moment later. Runs on a private session bus.
#include "lists/ListDlg.h"
#include "lists/ListView.h"
#include "lists/nick.h"
#include "platform/DesktopNotifications.h"
#include "tapi/LineApi.h"
#include "tapi/tapifrm.h"
#include "tests/FakeNotifications.h"
#include "tests/app/ProgramOnLine.h"
#include "tests/lookup/LookupServer.h"
#include "tests/platform/FakeScreenSaver.h"

#include <dlfcn.h>

namespace {

// A function of the sleeping plug-in, as this process has loaded it.
template <typename Function> Function *sleeping(const char *name)
{
    static void *handle = ::dlopen(SLEEPING_PLUGIN, RTLD_NOW);
    return reinterpret_cast<Function *>(::dlsym(handle, name));
}

} // namespace

class TestLookupLine : public QObject
{
    Q_OBJECT

    SimLine FLine;
    std::unique_ptr<Program> FProgram;
    // Ends after the program's objects, which end its connections.
    std::unique_ptr<testing::LookupServer> FServer;

    TMainForm &form() { return *FProgram->form; }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(FLine.setUp(SimLine::InProcess, &error), qPrintable(error));
    }

    void cleanupTestCase() { FLine.tearDown(); }

    void init()
    {
        FProgram = std::make_unique<Program>();
        QVERIFY(FProgram->StartLine(FLine));
    }

    void cleanup()
    {
        FProgram.reset();
        FServer.reset();
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }

    void aScreenSaverThatNeverAnswers()
    {
        if (!FakeScreenSaver::PrivateBus()) QSKIP("needs a private session bus (dbus-run-session)");
        FakeScreenSaver saver(QStringLiteral("/org/freedesktop/ScreenSaver"),
                              FakeScreenSaver::NeverAnswer);
        QVERIFY(saver.Registered());
        FProgram->settings.settings.screensaver = true;
        QVERIFY(RingIsAlerted(FLine, QStringLiteral("441111")));
        QVERIFY(RingIsAlerted(FLine, QStringLiteral("441222")));
        // Both wake-ups were asked for and neither was answered.
        QTRY_COMPARE(saver.Calls(), 2);
    }

    void reverseSearchOnAServerThatNeverAnswers()
    {
        FServer = std::make_unique<testing::LookupServer>();
        FServer->behave("0441123", testing::LookupServer::Behaviour::Hang);
        form().Lookup().SelectBuiltIn(FServer->baseUrl());
        CallRow call;
        call.dateTime = QStringLiteral("46000.5");
        call.number = QStringLiteral("0441123");
        FProgram->lists->calls().appendRow(call);
        TNickForm editor(*FProgram->lists);
        TListDlg lists(*FProgram->lists, editor);
        lists.OnReverseSearch = [&](const QString &number, TListDlg::ReverseSearchDone done) {
            form().Lookup().ReverseSearch(number, &lists, std::move(done));
        };
        lists.View(ListPage::Calls)->selectOnlyRow(0);
        lists.mnuReverseSearchClick();
        QTRY_COMPARE(FServer->busy(), 1);
        // The busy cursor shows while the search is under way.
        QVERIFY(RingIsAlerted(FLine));
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(FServer->busy(), 1);
    }

    void aLookupServerThatCannotBeReachedIsSaidOnce()
    {
        if (!FakeScreenSaver::PrivateBus()) QSKIP("needs a private session bus (dbus-run-session)");
        NotificationServiceOnBus service;
        QVERIFY(service.registered());
        platform::DesktopNotifications notifications;
        form().Notifications = &notifications;
        FProgram->settings.settings.debug = true;
        FProgram->towns.setLines({QStringLiteral("30 Berlin")});
        const QString server = QStringLiteral("http://127.0.0.1:%1/").arg(testing::ClosedPort());
        form().Lookup().SelectBuiltIn(server);
        QFile log(FProgram->dir.filePath(QStringLiteral("corvane.log")));
        const auto logLines = [&log] {
            if (!log.open(QIODevice::ReadOnly)) return QStringList();
            const QString text = QString::fromUtf8(log.readAll());
            log.close();
            return text.split(u'\n').filter(QStringLiteral("Reverse lookup of"));
        };

        QVERIFY(RingIsAlerted(FLine, QStringLiteral("301234")));
        QTRY_COMPARE(logLines().size(), 1);
        QVERIFY(RingIsAlerted(FLine, QStringLiteral("301235")));
        QTRY_COMPARE(logLines().size(), 2);
        const QStringList lines = logLines();
        QVERIFY2(lines[0].contains(QStringLiteral("Reverse lookup of 0301234 failed: ")) &&
                     lines[0].contains(QStringLiteral("refused"), Qt::CaseInsensitive),
                 qPrintable(lines[0]));
        // The desktop hears of it once in the run, in the user's language.
        QTRY_COMPARE(service.service().shown().size(), 1);
        QTest::qWait(200);
        const QList<ShownNotification> shown = service.service().shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].summary, QStringLiteral("The reverse search server does not answer"));
        QVERIFY2(shown[0].body.startsWith("No answer from the reverse search server " + server),
                 qPrintable(shown[0].body));
        // The calls keep what the program knew: number and town, no name.
        const TCalls &calls = form().CallHandler().PendingCalls();
        for (int i = 0; i < calls.Count(); ++i) {
            QCOMPARE(calls.Get(i).value(QStringLiteral("Town")), QStringLiteral("Berlin"));
            QCOMPARE(calls.Get(i).value(QStringLiteral("NickName")), QString());
        }
        form().Notifications = nullptr;
    }

    // The notification of a call takes the name the lookup finds for it, in place; a name
    // found for an earlier call leaves the newest caller's notification alone, and one the
    // user dismissed stays closed.
    void theNotificationNamesTheCallerTheLookupFound()
    {
        if (!FakeScreenSaver::PrivateBus()) QSKIP("needs a private session bus (dbus-run-session)");
        NotificationServiceOnBus bus;
        QVERIFY(bus.registered());
        FakeNotificationService &service = bus.service();
        platform::DesktopNotifications notifications;
        ClosedNotificationsSeen seen;
        form().Notifications = &notifications;
        const auto unset = qScopeGuard([this] { form().Notifications = nullptr; });
        FProgram->settings.settings.balloon = true;
        FServer = std::make_unique<testing::LookupServer>();
        FServer->answer("0301234", "Erika Muster\nHauptstr. 1\n");
        FServer->answer("0441111", "Otto Alt\n", 1000);
        FServer->answer("0305555", "Paula Spaet\n", 1000);
        // Known to nobody: an answer without a name, not an error status that the program
        // would report as a server without answer.
        FServer->answerAll("");
        form().Lookup().SelectBuiltIn(FServer->baseUrl());
        const auto named = [this](const QString &number, const QString &name) {
            for (const CallRow &row : FProgram->lists->calls().rows())
                if (row.number == number && row.nickname == name) return true;
            return false;
        };

        QVERIFY(RingIsAlerted(FLine, QStringLiteral("301234")));
        QTRY_COMPARE(service.shown().size(), 2);
        QList<ShownNotification> shown = service.shown();
        QVERIFY2(shown[0].body.startsWith("1 new call\n0301234"), qPrintable(shown[0].body));
        QVERIFY2(shown[1].body.startsWith("1 new call\nErika Muster"), qPrintable(shown[1].body));
        QCOMPARE(shown[1].replaces, shown[0].id);

        // Otto's name comes after the next caller rang.
        QVERIFY(RingIsAlerted(FLine, QStringLiteral("441111")));
        QVERIFY(RingIsAlerted(FLine, QStringLiteral("302222")));
        QTRY_VERIFY(named(QStringLiteral("0441111"), QStringLiteral("Otto Alt")));
        QTest::qWait(200); // a notification asked for meanwhile has reached the service
        shown = service.shown();
        QVERIFY2(shown.last().body.startsWith("3 new calls\n0302222"), qPrintable(shown.last().body));
        for (const ShownNotification &n : shown)
            QVERIFY2(!n.body.contains("Otto Alt"), qPrintable(n.body));

        // Dismissed before Paula's name comes: nothing opens again.
        QVERIFY(RingIsAlerted(FLine, QStringLiteral("305555")));
        QTRY_COMPARE(service.shown().size(), shown.size() + 1);
        service.dismiss(service.shown().last().id);
        QTRY_VERIFY(seen.ids.contains(service.shown().last().id));
        QTRY_VERIFY(named(QStringLiteral("0305555"), QStringLiteral("Paula Spaet")));
        QTest::qWait(200);
        QCOMPARE(service.shown().size(), shown.size() + 1);
    }

    void numberPluginThatSleepsBeforeDialling()
    {
        QVERIFY(form().Lookup().LoadNumberPlugin(QStringLiteral(SLEEPING_PLUGIN)));
        tapi::LineApi lines;
        TTapiForm dialer(lines, FProgram->settings, FProgram->prompts);
        dialer.ModifyNumber = [this](const QString &number) {
            return form().Lookup().ModifyNumber(number);
        };
        // While the dial waits for the plug-in: a call rings, then the plug-in answers.
        bool alerted = false;
        int insideMeanwhile = 0;
        QTimer::singleShot(0, this, [&] {
            QTRY_COMPARE(sleeping<int()>("TestPluginInside")(), 1);
            alerted = RingIsAlerted(FLine);
            insideMeanwhile = sleeping<int()>("TestPluginInside")();
            sleeping<void()>("TestPluginRelease")();
        });
        QString number = QStringLiteral("0441");
        QVERIFY(dialer.PrepareNumber(number));
        QCOMPARE(number, QStringLiteral("90441"));
        QVERIFY(alerted);
        QCOMPARE(insideMeanwhile, 1);
    }
};

QTEST_MAIN(TestLookupLine)
#include "tst_lookupline.moc"
