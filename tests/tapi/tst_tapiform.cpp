// The dial window against the modem simulator: number preparation, device choice, the
// window's states, texts and size, the step log, hang-up and the failures a user meets.
#include "lists/ListPrompts.h"
#include "settings/SettingsStore.h"
#include "tapi/ModemProvider.h"
#include "tapi/SerialPort.h"
#include "tapi/tapifrm.h"
#include "tests/tapi/ModemSimProcess.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using namespace tapi;

namespace {

// The dial window over a modem provider with the given named ports and udev modems.
struct Dialer
{
    explicit Dialer(const QString &ports, const QStringList &candidates = {})
        : settings(dir.filePath(QStringLiteral("corvane.ini"))), modems([ports] { return ports; })
    {
        modems.FindCandidates = [candidates] { return candidates; };
        lines.addProvider(&modems, QStringLiteral("modems"));
        form = std::make_unique<TTapiForm>(lines, settings, prompts);
        form->ApplyLanguage(Language::English);
    }

    QString state() const { return form->findChild<QLabel *>("lblDial")->text(); }
    QString number() const { return form->findChild<QLabel *>("lblNumber")->text(); }
    QStringList log() const
    {
        return form->findChild<QPlainTextEdit *>("Memo1")->toPlainText().split(u'\n');
    }
    // Through the window system's queue, where a modal window would hold the click back.
    void hangUp()
    {
        auto *button = form->findChild<QPushButton *>("btnHangUp");
        const QPoint at = button->mapTo(form.get(), button->rect().center());
        QTest::mousePress(form->windowHandle(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(form->windowHandle(), Qt::LeftButton, {}, at);
    }
    QString prepared(const QString &number)
    {
        QString text = number;
        return form->PrepareNumber(text) ? text : QStringLiteral("refused");
    }

    QTemporaryDir dir;
    SettingsStore settings;
    ScriptedPrompts prompts;
    ModemProvider modems;
    LineApi lines;
    std::unique_ptr<TTapiForm> form;
};

QString deviceOf(const ModemSimProcess &modem)
{
    return ModemProvider::DeviceName(modem.path());
}

} // namespace

class TestTapiForm : public QObject
{
    Q_OBJECT

private slots:
    void numberPreparation();
    void statesInTheUsersLanguage_data();
    void statesInTheUsersLanguage();
    void busyStaysFiveSecondsThenEverythingCloses();
    void busyCleanUpSparesTheNextCall();
    void visibleLogKeepsTheWindow_data();
    void visibleLogKeepsTheWindow();
    void hangUpWhileDialingEvenBehindAModalWindow();
    void secondDialEndsTheFirst();
    void failuresComeBackAsText();
    void goneOrSilentModemEndsTheCall();
    void portLostWhileTheDialWaitsIsTold();
    void devicesAndTheSelectedOne();
};

void TestTapiForm::numberPreparation()
{
    Dialer dialer{QString()};
    QCOMPARE(dialer.prepared("+49 30 1234"), QString("refused"));
    QCOMPARE(dialer.prompts.messages,
             QStringList({"The passed string is not a telephone number: +49 30 1234"}));
    QCOMPARE(dialer.prepared("+49301234"), QString("0049301234"));
    QCOMPARE(dialer.prepared("++49301234"), QString("0049301234"));
    QCOMPARE(dialer.prepared(" 0441123\r\n"), QString("0441123"));
    QCOMPARE(dialer.prepared("+++49"), QString("refused"));

    // The rewrite comes first, then the outside-line prefix; empty numbers get neither.
    dialer.settings.settings.doPrependNum = true;
    dialer.settings.settings.prependNum = "0";
    dialer.form->ModifyNumber = [](const QString &number) { return "9" + number; };
    QCOMPARE(dialer.prepared("+49301234"), QString("090049301234"));
    for (const char *empty : {"", "   ", "+", "++"})
        QCOMPARE(dialer.prepared(empty), QString());

    // A whole clipboard of text is quoted only in part; the message follows the language.
    dialer.form->ApplyLanguage(Language::German);
    dialer.prompts.messages.clear();
    QCOMPARE(dialer.prepared(QString(5000, u'x')), QString("refused"));
    QVERIFY(dialer.prompts.messages.at(0).startsWith(
        QString::fromUtf8("Die übergebene Zeichenkette ist keine Telefonnummer: xxx")));
    QVERIFY(dialer.prompts.messages.at(0).size() < 200);
}

void TestTapiForm::statesInTheUsersLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("dialing");
    QTest::addColumn<QString>("ringback");
    QTest::newRow("English") << 1 << "Calling"
                             << "Hang up"
                             << "Dialing"
                             << "Ringback";
    QTest::newRow("German") << 0 << "Anruf"
                            << "Auflegen" << QString::fromUtf8("Wähle") << "Klingelt";
}

void TestTapiForm::statesInTheUsersLanguage()
{
    QFETCH(int, language);
    QFETCH(QString, title);
    QFETCH(QString, button);
    QFETCH(QString, dialing);
    QFETCH(QString, ringback);
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD*; +300 OK"}));
    Dialer dialer(modem.path());
    dialer.form->ApplyLanguage(language ? Language::English : Language::German);

    // The device name's letter case does not matter.
    QString error;
    QVERIFY(dialer.form->Dial(deviceOf(modem).toUpper(), "0441123", &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(dialer.form->isVisible());
    QCOMPARE(dialer.form->windowTitle(), title);
    QCOMPARE(dialer.form->findChild<QPushButton *>("btnHangUp")->text(), button);
    QCOMPARE(dialer.number(), QString("0441123"));
    QCOMPARE(dialer.form->size(), QSize(200, 116));
    QTRY_COMPARE(dialer.state(), dialing);
    QTRY_COMPARE(dialer.state(), ringback);
    QCOMPARE(modem.received(), QStringList({"ATD0441123;"}));
    QCOMPARE(dialer.form->StateText(0x0300), language ? QString("unknown") : QString("unbekannt"));
}

void TestTapiForm::busyStaysFiveSecondsThenEverythingCloses()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD*; OK | +200 BUSY"}));
    Dialer dialer(modem.path());
    QVERIFY(dialer.form->Dial(deviceOf(modem), "0441"));
    QTRY_COMPARE(dialer.state(), QString("Busy"));
    QVERIFY(dialer.form->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!dialer.form->isVisible(), 20000);
    // Measured from the modem's BUSY, which the window can only have seen later.
    const qint64 shownMs = (ModemSimProcess::monotonicMicros() - modem.sentAt("BUSY")) / 1000;
    QVERIFY2(shownMs >= 5000, qPrintable(QString::number(shownMs)));
    QTRY_COMPARE(modem.received(), QStringList({"ATD0441;", "ATH"}));
}

void TestTapiForm::busyCleanUpSparesTheNextCall()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD1; BUSY", "ATD2; OK"}));
    Dialer dialer(modem.path());
    QVERIFY(dialer.form->Dial(deviceOf(modem), "1"));
    QTRY_COMPARE(dialer.state(), QString("Busy"));
    QVERIFY(dialer.form->Dial(deviceOf(modem), "2"));
    QTRY_COMPARE(dialer.state(), QString("Ringback"));
    // Past the first call's five seconds, the second is still open.
    const qint64 busy = modem.sentAt("BUSY");
    QTRY_VERIFY_WITH_TIMEOUT(ModemSimProcess::monotonicMicros() - busy > 6000000, 10000);
    QVERIFY(dialer.form->isVisible());
    QCOMPARE(modem.received(), QStringList({"ATD1;", "ATH", "ATD2;"}));
}

void TestTapiForm::visibleLogKeepsTheWindow_data()
{
    QTest::addColumn<bool>("log");
    QTest::newRow("log shown") << true;
    QTest::newRow("no log") << false;
}

void TestTapiForm::visibleLogKeepsTheWindow()
{
    QFETCH(bool, log);
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD*; CONNECT"}));
    Dialer dialer(modem.path());
    dialer.settings.settings.tapiDebug = log;
    dialer.form->ReadSettings();
    QVERIFY(dialer.form->Dial(deviceOf(modem), "0441"));
    QCOMPARE(dialer.form->height(), log ? 490 : 116);
    QTRY_COMPARE(dialer.state(), QString("Connected"));
    QCOMPARE(dialer.form->isVisible(), log);
    if (!log) {
        QCOMPARE(dialer.log(), QStringList({""}));
        return;
    }
    const QString device = deviceOf(modem);
    QCOMPARE(
        dialer.log(),
        QStringList({"searching device", "searching device DONE: " + device + " 0",
                     "initialize line", "initialize line DONE", "lineNegotiateAPIVersion line",
                     "lineNegotiateAPIVersion line DONE", "open line", "open line DONE",
                     "make call", "make call done", "LineReply: 0",
                     "CallState: LINECALLSTATE_DIALING", "CallState: LINECALLSTATE_CONNECTED, 1"}));
}

void TestTapiForm::hangUpWhileDialingEvenBehindAModalWindow()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD*;"}));
    Dialer dialer(modem.path());
    QVERIFY(dialer.form->Dial(deviceOf(modem), "1"));
    QTRY_COMPARE(dialer.state(), QString("Dialing"));
    dialer.hangUp();
    QVERIFY(!dialer.form->isVisible());
    QTRY_COMPARE(modem.received(), QStringList({"ATD1;", "ATH"}));

    // Dialled from a modal window (the lists dialog), the button still takes the click.
    QDialog lists;
    QTimer::singleShot(0, &lists, [&] {
        QVERIFY(dialer.form->Dial(deviceOf(modem), "2"));
        QTRY_COMPARE(dialer.state(), QString("Dialing"));
        dialer.hangUp();
        lists.accept();
    });
    lists.exec();
    QTRY_COMPARE(modem.received(), QStringList({"ATD1;", "ATH", "ATD2;", "ATH"}));
    QVERIFY(!dialer.form->isVisible());
}

void TestTapiForm::secondDialEndsTheFirst()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD1; OK", "ATD2;", "ATH +100 OK"}));
    Dialer dialer(modem.path());
    QVERIFY(dialer.form->Dial(deviceOf(modem), "1"));
    QTRY_COMPARE(dialer.state(), QString("Ringback"));
    QVERIFY(dialer.form->Dial(deviceOf(modem), "2"));
    QTRY_COMPARE(modem.received(), QStringList({"ATD1;", "ATH", "ATD2;"}));
    // The modem's OK to the hang-up is not taken for an answer to the new call.
    QTest::qWait(500);
    QCOMPARE(dialer.state(), QString("Dialing"));
}

void TestTapiForm::failuresComeBackAsText()
{
    ModemSimProcess modem;
    QVERIFY(modem.start());
    Dialer dialer(modem.path());
    QString error;

    QVERIFY(!dialer.form->Dial("Modem on /dev/gone", "1", &error));
    QCOMPARE(error, QString("device Modem on /dev/gone unknown"));
    QVERIFY(!dialer.form->isVisible());

    // Refused numbers are the user's message, not an error, and never shown or dialled.
    QVERIFY(!dialer.form->Dial(deviceOf(modem), "0441-123", &error));
    QVERIFY(error.isEmpty());
    QCOMPARE(dialer.prompts.messages.size(), 1);
    QVERIFY(!dialer.form->isVisible());

    // A prefix a modem would take for commands of its own.
    dialer.settings.settings.doPrependNum = true;
    dialer.settings.settings.prependNum = ";ATZ";
    QVERIFY(!dialer.form->Dial(deviceOf(modem), "1", &error));
    QVERIFY2(error.startsWith("lineMakeCall error -2147483632: a modem cannot dial"),
             qPrintable(error));
    dialer.settings.settings.doPrependNum = false;

    // A port held elsewhere says who may hold it.
    int32_t code = 0;
    Reason detail;
    auto holder = SerialPort::open(ParseModemPort(modem.path()), code, detail);
    QVERIFY(holder);
    QVERIFY(!dialer.form->Dial(deviceOf(modem), "1", &error));
    QVERIFY2(error.startsWith("lineOpen error -2147483647: " + modem.path() + " is busy"),
             qPrintable(error));
    QVERIFY(error.contains("ModemManager"));
    QVERIFY(!dialer.form->isVisible());
    // In the user's language.
    dialer.form->ApplyLanguage(Language::German);
    QVERIFY(!dialer.form->Dial(deviceOf(modem), "1", &error));
    QCOMPARE(error, "lineOpen error -2147483647: " + modem.path() +
                        QString::fromUtf8(" ist belegt: ein anderes Programm hält den Anschluss "
                                          "(zum Beispiel ModemManager)"));
    dialer.form->ApplyLanguage(Language::English);
    holder.reset();
    QVERIFY(modem.received().isEmpty());

    // An empty number takes the line, without the prefix.
    dialer.settings.settings.doPrependNum = true;
    dialer.settings.settings.prependNum = "0";
    QVERIFY(dialer.form->Dial(deviceOf(modem), "  ", &error));
    QTRY_COMPARE(modem.received(), QStringList({"ATD;"}));
}

void TestTapiForm::goneOrSilentModemEndsTheCall()
{
    ModemSimProcess gone;
    QVERIFY(gone.start({"ATD*; OK | +200 !close"}));
    ModemSimProcess silent;
    QVERIFY(silent.start({"ATD*;"}));
    Dialer dialer(gone.path() + u';' + silent.path());
    dialer.modems.SilenceTimeoutMs = 500;

    QVERIFY(dialer.form->Dial(deviceOf(gone), "1"));
    QTRY_COMPARE_WITH_TIMEOUT(dialer.state(), QString("Disconnected"), 10000);
    QVERIFY(dialer.form->isVisible());
    dialer.hangUp();
    QVERIFY(!dialer.form->isVisible());

    QVERIFY(dialer.form->Dial(deviceOf(silent), "2"));
    QTRY_COMPARE_WITH_TIMEOUT(dialer.state(), QString("Disconnected"), 10000);
    QTRY_COMPARE(silent.received(), QStringList({"ATD2;", "ATH"}));
}

void TestTapiForm::portLostWhileTheDialWaitsIsTold()
{
    // The dial waits for a probe, and the modem goes during it.
    ModemSimProcess modem;
    QVERIFY(modem.start({"AT +300 !close"}));
    Dialer dialer(QString(), {modem.path()});
    dialer.form->ProbeDevices();
    QTRY_COMPARE(modem.received(), QStringList({"AT"}));
    QVERIFY(dialer.form->Dial(deviceOf(modem), "1"));
    QVERIFY(dialer.prompts.messages.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(dialer.prompts.messages,
                              QStringList({"lineMakeCall error -2147483576: " + modem.path() +
                                           " has gone (unplugged or switched off?)"}),
                              10000);
    QCOMPARE(dialer.state(), QString("error"));
    QVERIFY(!dialer.form->isVisible());
    // The probe's note, in the user's language.
    dialer.form->ApplyLanguage(Language::German);
    QCOMPARE(dialer.form->ProbeNotes(),
             modem.path() +
                 QString::fromUtf8(" ist nicht mehr da (ausgesteckt oder ausgeschaltet?)"));
}

void TestTapiForm::devicesAndTheSelectedOne()
{
    ModemSimProcess modem;
    QVERIFY(modem.start());
    Dialer dialer("/dev/ttyS0@1;" + modem.path());
    QStringList devices;
    QVERIFY(dialer.form->ListDevices(devices));
    QCOMPARE(devices, QStringList({"unknown telephony device", deviceOf(modem)}));

    dialer.settings.settings.tapiDevice = "1";
    QCOMPARE(dialer.form->SelectedDevice(), deviceOf(modem));
    dialer.settings.settings.tapiDevice = deviceOf(modem);
    QCOMPARE(dialer.form->SelectedDevice(), deviceOf(modem));
    // A stored device that is gone is kept, so that the failure names it.
    dialer.settings.settings.tapiDevice = "Modem on /dev/ttyACM7";
    QString error;
    QVERIFY(!dialer.form->Dial(dialer.form->SelectedDevice(), "1", &error));
    QCOMPARE(error, QString("device Modem on /dev/ttyACM7 unknown"));

    Dialer none{QString()};
    QVERIFY(!none.form->ListDevices(devices));
    QVERIFY(devices.isEmpty());
}

QTEST_MAIN(TestTapiForm)
#include "tst_tapiform.moc"
