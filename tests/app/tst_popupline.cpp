// The popup's reject button on the simulated line (the simulator loaded in process): with
// two calls ringing, the button follows the call on show and rejects that call.
#include "app/main.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "platform/Sound.h"
#include "settings/SettingsStore.h"
#include "tests/app/CallTestSupport.h"
#include "tests/capi/SimLine.h"
#include "tests/platform/FakeScreenSaver.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

// The program's windows and data on a fresh data directory, with the popup ready for calls.
struct Program
{
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("corvane.ini")};
    ScriptedPrompts prompts;
    std::unique_ptr<TLists> lists;
    AreaCodeTable towns;
    NoLed led;
    platform::Sound sound;
    std::unique_ptr<TMainForm> form;

    explicit Program(const std::function<void(GeneralSettings &)> &configure = {})
    {
        qputenv("CORVANE_HOME", dir.path().toLocal8Bit());
        settings.readAll();
        GeneralSettings &s = settings.settings;
        s.showReject = true;
        s.balloon = false;
        s.scrollLed = false;
        s.rejectTime = 30;
        if (configure) configure(s);
        lists = std::make_unique<TLists>(settings, prompts, dir.path());
        lists->SetLanguage(Language::English);
        if (!lists->LoadAtStartup()) qFatal("the lists cannot be loaded");
        form = std::make_unique<TMainForm>(settings, *lists, towns, prompts, led, sound);
        form->ApplyLanguage(Language::English);
        form->SetListsLoaded(true);
        form->SetDialogsReady(true);
        form->FFirstShow = false;
    }
    ~Program() { form->CallHandler().StopLines(); }
};

class TestPopupLine : public QObject
{
    Q_OBJECT

    SimLine FLine;

    uint32_t ring(const QString &options)
    {
        QString reply;
        if (!FLine.command(QStringLiteral("ring --type 0x21 --to 85606 ") + options, &reply))
            return 0;
        return reply.section(QLatin1Char(' '), 0, 0).toUInt(nullptr, 16);
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(FLine.setUp(SimLine::InProcess, &error), qPrintable(error));
    }

    void cleanupTestCase() { FLine.tearDown(); }

    void rejectButtonActsOnTheCallOnShow()
    {
        Program program;
        TMainForm &form = *program.form;
        TLists &lists = *program.lists;
        QVERIFY(form.StartMonitor());
        QVERIFY(FLine.command(QStringLiteral("wait-listening --timeout 10")));
        auto *button = form.findChild<QToolButton *>(QStringLiteral("sbReject"));
        TCallHandler &calls = form.CallHandler();

        const uint32_t older = ring(QStringLiteral("--from 441111 --end-after 30"));
        QTRY_VERIFY(button->isVisible());
        const uint32_t newer = ring(QStringLiteral("--from 441222 --end-after 30"));
        QTRY_COMPARE(calls.PendingCalls().Count(), 2);
        QVERIFY(older && newer);

        // The newer call on show: the button rejects it, not the older one.
        auto acceptedPlci = [this] {
            const QStringList accepted = FLine.put().filter(QStringLiteral("1c 00"));
            if (accepted.isEmpty()) return uint32_t(0);
            const QStringList bytes = accepted.first().split(QLatin1Char(' '));
            return uint32_t(bytes.at(8).toUInt(nullptr, 16) | bytes.at(9).toUInt(nullptr, 16) << 8);
        };
        form.ShowCall(1);
        QVERIFY(button->isVisible());
        FLine.mark();
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(FLine.waitForPut(QStringLiteral("1c 00"))); // CONNECT_RESP taking a call
        QCOMPARE(acceptedPlci(), newer & 0xFFFF);
        QTRY_VERIFY(!button->isVisible());
        QTRY_COMPARE(lists.calls().row(1).status, QStringLiteral("rejected"));
        QCOMPARE(lists.calls().row(0).status, QStringLiteral(" "));

        // The older call on show can still be rejected.
        form.ShowCall(0);
        QVERIFY(button->isVisible());
        FLine.mark();
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(FLine.waitForPut(QStringLiteral("1c 00")));
        QCOMPARE(acceptedPlci(), older & 0xFFFF);
        QTRY_COMPARE(lists.calls().row(0).status, QStringLiteral("rejected"));
    }

    void aScreenSaverThatNeverAnswersHoldsNoCallUp()
    {
        if (!FakeScreenSaver::PrivateBus()) QSKIP("needs a private session bus (dbus-run-session)");
        FakeScreenSaver saver(QStringLiteral("/org/freedesktop/ScreenSaver"),
                              FakeScreenSaver::NeverAnswer);
        QVERIFY(saver.Registered());
        Program program([](GeneralSettings &s) { s.screensaver = true; });
        QVERIFY(program.form->StartMonitor());
        QVERIFY(FLine.command(QStringLiteral("wait-listening --timeout 10")));

        for (const QString &from : {QStringLiteral("441111"), QStringLiteral("441222")}) {
            FLine.mark();
            QElapsedTimer clock;
            clock.start();
            QVERIFY(ring(QStringLiteral("--from %1 --end-after 30").arg(from)));
            QVERIFY(FLine.waitForPut(QStringLiteral("0d 00"), 500)); // ALERT_REQ
            QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        }
        // Both wake-ups were asked for and neither was answered.
        QTRY_COMPARE(saver.Calls(), 2);
    }
};

QTEST_MAIN(TestPopupLine)
#include "tst_popupline.moc"
