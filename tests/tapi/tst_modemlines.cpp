// The line layer over modems on serial ports, against the modem simulator on a
// pseudo-terminal: which ports become devices, what goes out on the port, and how the
// modem's answers come back as line messages.
#include "tapi/LineApi.h"
#include "tapi/ModemLine.h"
#include "tapi/ModemProvider.h"
#include "tests/tapi/ModemSimProcess.h"

#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace tapi;

namespace {

struct Message
{
    uint32_t device;
    uint32_t message;
    uintptr_t param1;
    uintptr_t param2;
};

// A provider over the named ports and candidates, and the line layer over it.
struct Rig
{
    explicit Rig(const QString &ports, const QStringList &candidates = {})
        : modems([ports] { return ports; })
    {
        modems.FindCandidates = [candidates] { return candidates; };
        modems.ProbeTimeoutMs = 500;
        lines.addProvider(&modems, QStringLiteral("modems"));
    }

    // Asks the device named, or every candidate, and waits for the answers.
    bool probe(const QString &device = QString())
    {
        QSignalSpy done(&lines, &LineApi::devicesProbed);
        lines.probe(device);
        return !done.isEmpty() || done.wait(5000);
    }

    QStringList names() const
    {
        QStringList names;
        for (const LineDeviceInfo &device : modems.devices())
            names << device.name;
        return names;
    }

    QString why() const { return lines.lastErrorDetail().text(Language::English); }

    LineCallback recorder()
    {
        return [this](uint32_t device, uint32_t message, uintptr_t, uintptr_t p1, uintptr_t p2,
                      uintptr_t) {
            messages.append({device, message, p1, p2});
        };
    }

    // The call states so far, as the log names them.
    QStringList states() const
    {
        QStringList names;
        for (const Message &m : messages) {
            if (m.message == LINE_CALLSTATE)
                names << CallStateLogName(uint32_t(m.param1), uint32_t(m.param2));
        }
        return names;
    }

    // Opens device id and dials; the request id, or the failing code.
    int32_t dial(uint32_t id, const QString &number)
    {
        uint32_t count = 0;
        uint32_t version = 0;
        if (int32_t r = lines.lineInitialize(app, recorder(), count)) return r;
        if (int32_t r = lines.lineNegotiateAPIVersion(app, id, 0x20000, 0x20000, version)) return r;
        if (int32_t r = lines.lineOpen(app, id, line, version, 0)) return r;
        return lines.lineMakeCall(line, call, number);
    }

    ModemProvider modems; // outlives the line layer
    LineApi lines;
    QList<Message> messages;
    HLineApp app = 0;
    HLine line = 0;
    HCall call = 0;
};

} // namespace

class TestModemLines : public QObject
{
    Q_OBJECT

private slots:
    void modemPortsSetting();
    void dialableNumbers();
    void namedPortsThenUdevModemsAskedOnRequest();
    void portOpensRaw8N1AtTheNamedSpeed();
    void answersBecomeCallStates_data();
    void answersBecomeCallStates();
    void silenceEndsTheCall();
    void dialDuringAProbeTakesItsTurnAfterIt();
    void hangUpWhileDialingAndOneCallPerLine();
    void hangUpReachesTheModemAsTheProgramEnds();
    void portThatGoesAwayEndsTheCall();
    void busyMissingAndInUsePorts();
    void hostileNumberNeverReachesThePort();
    void noMessagesForFreedCallsOrApplications();
};

void TestModemLines::modemPortsSetting()
{
    const QList<ModemPortSpec> ports = ParseModemPorts(
        " /dev/ttyS0@9600 ; ;/dev/ttyUSB0;/dev/ttyS0@19200; ttyACM0 ;/dev/x@12;/dev/y@fast");
    QCOMPARE(ports.size(), 5);
    QCOMPARE(ports[0].path, QString("/dev/ttyS0"));
    QCOMPARE(ports[0].baud, 9600);
    QVERIFY(ports[0].problem.isEmpty());
    QCOMPARE(ports[1].path, QString("/dev/ttyUSB0"));
    QCOMPARE(ports[1].baud, 115200);
    QVERIFY(ports[1].problem.isEmpty());
    for (int i : {2, 3, 4})
        QVERIFY2(!ports[i].problem.isEmpty(), qPrintable(ports[i].path));
    QCOMPARE(ports[3].path, QString("/dev/x"));
}

void TestModemLines::dialableNumbers()
{
    for (const char *number : {"", "0441123", "*31#0441,123W5", "P0T1!@"})
        QVERIFY2(ModemLine::IsDialable(QString::fromLatin1(number)), number);
    QVERIFY(ModemLine::IsDialable(QString(60, u'1')));
    for (const QString &number :
         {QStringLiteral("0441;ATZ"), QStringLiteral("0441\r"), QStringLiteral("0441 123"),
          QStringLiteral("+49441"), QString::fromUtf8("٠٤٤١"), QString(61, u'1')})
        QVERIFY2(!ModemLine::IsDialable(number), qPrintable(number));
}

void TestModemLines::namedPortsThenUdevModemsAskedOnRequest()
{
    ModemSimProcess named, answers, refuses, silent;
    QVERIFY(named.start());
    QVERIFY(answers.start());
    QVERIFY(refuses.start({"AT ERROR"}));
    QVERIFY(silent.start({"AT"}));
    Rig rig(named.path() + QStringLiteral(";/dev/ttyS9@12"),
            {QStringLiteral("/dev/ttyACM97"), refuses.path(), named.path(), silent.path(),
             answers.path()});
    const auto device = [](const ModemSimProcess &modem) { return "Modem on " + modem.path(); };

    // Listing opens nothing: udev's modems are listed by name without being asked.
    HLineApp app = 0;
    uint32_t count = 0;
    QCOMPARE(rig.lines.lineInitialize(app, nullptr, count), 0);
    QCOMPARE(rig.names(),
             QStringList({device(named), "Modem on /dev/ttyS9", "Modem on /dev/ttyACM97",
                          device(refuses), device(silent), device(answers)}));
    QCOMPARE(rig.lines.lineShutdown(app), 0);
    // The one the user chooses is asked alone.
    QVERIFY(rig.probe(device(answers)));
    QCOMPARE(answers.received(), QStringList({"AT"}));
    for (const ModemSimProcess *modem : {&named, &refuses, &silent})
        QVERIFY(modem->received().isEmpty());

    // Asked all at once, the candidates say whether they answer; named ports are never asked.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(rig.probe());
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig.names().size(), 6);
    QVERIFY(named.received().isEmpty());
    QCOMPARE(refuses.received(), QStringList({"AT"}));
    QCOMPARE(silent.received(), QStringList({"AT"}));
    QCOMPARE(answers.received(), QStringList({"AT", "AT"}));
    QStringList notes;
    for (const Reason &note : rig.modems.probeNotes())
        notes << note.text(Language::English);
    QStringList expected = {"/dev/ttyACM97 does not exist (is the modem plugged in and on?)",
                            refuses.path() + " answered AT with ERROR",
                            silent.path() + " did not answer AT"};
    notes.sort();
    expected.sort();
    QCOMPARE(notes, expected);

    // The bad entry keeps its place but cannot be negotiated.
    uint32_t version = 0;
    QCOMPARE(rig.lines.lineInitialize(app, nullptr, count), 0);
    QCOMPARE(count, 6u);
    QCOMPARE(rig.lines.lineNegotiateAPIVersion(app, 1, 0x20000, 0x20000, version),
             LINEERR_NODRIVER);
    QVERIFY(rig.why().contains("unsupported speed"));
    QCOMPARE(rig.lines.lineNegotiateAPIVersion(app, 6, 0x20000, 0x20000, version),
             LINEERR_BADDEVICEID);
    QCOMPARE(rig.lines.lineNegotiateAPIVersion(app, 5, 0x30000, 0x40000, version),
             LINEERR_INCOMPATIBLEAPIVERSION);
    QCOMPARE(rig.lines.lineNegotiateAPIVersion(app, 5, 0x10004, 0x10004, version), 0);
    LineDevCaps caps;
    QCOMPARE(rig.lines.lineGetDevCaps(app, 5, version, caps), 0);
    QCOMPARE(caps.lineName, device(answers));
    QCOMPARE(rig.lines.lineShutdown(app), 0);

    // Without any device there is no line application.
    Rig empty{QString()};
    QCOMPARE(empty.lines.lineInitialize(app, nullptr, count), LINEERR_NODEVICE);
    QCOMPARE(app, 0u);
}

void TestModemLines::portOpensRaw8N1AtTheNamedSpeed()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD*;"}));
    Rig rig(modem.path() + QStringLiteral("@9600"));
    QVERIFY(rig.dial(0, QStringLiteral("1")) > 0);
    const int fd = ::open(modem.path().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios settings{};
    QCOMPARE(::tcgetattr(fd, &settings), 0);
    ::close(fd);
    QCOMPARE(cfgetospeed(&settings), speed_t(B9600));
    QCOMPARE(settings.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
    QVERIFY(settings.c_cflag & CLOCAL);
    QCOMPARE(settings.c_lflag & (ICANON | ECHO), tcflag_t(0));
}

void TestModemLines::answersBecomeCallStates_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("states");
    const QString dialing = QStringLiteral("LINECALLSTATE_DIALING");
    const QString ringback = QStringLiteral("LINECALLSTATE_RINGBACK");
    QTest::newRow("OK, then BUSY")
        << "ATD*; OK | +100 BUSY" << QStringList{dialing, ringback, "LINECALLSTATE_BUSY, 1"};
    QTest::newRow("CONNECT") << "ATD*; CONNECT 64000"
                             << QStringList{dialing, "LINECALLSTATE_CONNECTED, 1"};
    QTest::newRow("connected, then NO CARRIER")
        << "ATD*; OK | +50 CONNECT | +50 NO CARRIER | +50 BUSY"
        << QStringList{dialing, ringback, "LINECALLSTATE_CONNECTED, 1",
                       "LINECALLSTATE_DISCONNECTED, 1"};
    QTest::newRow("NO ANSWER") << "ATD*; NO ANSWER"
                               << QStringList{dialing, "LINECALLSTATE_DISCONNECTED, 64"};
    QTest::newRow("NO DIALTONE") << "ATD*; NO DIALTONE"
                                 << QStringList{dialing, "LINECALLSTATE_DISCONNECTED, 4096"};
    QTest::newRow("ERROR") << "ATD*; ERROR"
                           << QStringList{dialing, "LINECALLSTATE_DISCONNECTED, 128"};
    QTest::newRow("RING and a late ERROR are no answers")
        << "ATD*; RING | OK | +50 ERROR | +50 NO CARRIER"
        << QStringList{dialing, ringback, "LINECALLSTATE_DISCONNECTED, 1"};
}

void TestModemLines::answersBecomeCallStates()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, states);
    ModemSimProcess modem;
    QVERIFY(modem.start({answer}));
    Rig rig(modem.path());
    const int32_t request = rig.dial(0, QStringLiteral("0441123"));
    QVERIFY(request > 0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.states(), states, 10000);
    // The request is answered first; every state names the call.
    QCOMPARE(rig.messages.first().message, LINE_REPLY);
    QCOMPARE(rig.messages.first().param1, uintptr_t(request));
    QCOMPARE(rig.messages.first().param2, uintptr_t(0));
    for (const Message &m : std::as_const(rig.messages).mid(1))
        QCOMPARE(m.device, rig.call);
    QCOMPARE(modem.received(), QStringList({"ATD0441123;"}));
    // Nothing more follows the end of the call.
    QTest::qWait(300);
    QCOMPARE(rig.states(), states);
}

void TestModemLines::silenceEndsTheCall()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD*;"}));
    Rig rig(modem.path());
    rig.modems.SilenceTimeoutMs = 300;
    QVERIFY(rig.dial(0, QString()) > 0);
    QTRY_COMPARE(rig.states(),
                 QStringList({"LINECALLSTATE_DIALING", "LINECALLSTATE_DISCONNECTED, 64"}));
    // An empty number takes the line for dialling by hand; the silent modem is hung up.
    QTRY_COMPARE(modem.received(), QStringList({"ATD;", "ATH"}));
}

void TestModemLines::dialDuringAProbeTakesItsTurnAfterIt()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"AT +300 OK", "ATD*;"}));
    Rig rig(QString(), {modem.path()});
    rig.lines.probe(ModemProvider::DeviceName(modem.path()));
    QTRY_COMPARE(modem.received(), QStringList({"AT"}));
    QVERIFY(rig.dial(0, QStringLiteral("0441")) > 0);
    // The OK answers the probe, not the dial that waited for it.
    QTRY_COMPARE(modem.received(), QStringList({"AT", "ATD0441;"}));
    QTest::qWait(300);
    QCOMPARE(rig.states(), QStringList({"LINECALLSTATE_DIALING"}));
    QCOMPARE(rig.names().size(), 1);
}

void TestModemLines::hangUpWhileDialingAndOneCallPerLine()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD*;"}));
    Rig rig(modem.path());
    QVERIFY(rig.dial(0, QStringLiteral("030")) > 0);
    HCall second = 0;
    QCOMPARE(rig.lines.lineMakeCall(rig.line, second, QStringLiteral("040")), LINEERR_CALLUNAVAIL);
    QTRY_COMPARE(modem.received(), QStringList({"ATD030;"}));

    QVERIFY(rig.lines.lineDrop(rig.call) > 0);
    QCOMPARE(rig.lines.lineDeallocateCall(rig.call), 0);
    QTRY_COMPARE(modem.received(), QStringList({"ATD030;", "ATH"}));
    // The line is free again; a call freed without a drop is hung up all the same.
    HCall call = 0;
    QVERIFY(rig.lines.lineMakeCall(rig.line, call, QStringLiteral("050")) > 0);
    QTRY_COMPARE(modem.received().size(), 3);
    QCOMPARE(rig.lines.lineDeallocateCall(call), 0);
    QTRY_COMPARE(modem.received(), QStringList({"ATD030;", "ATH", "ATD050;", "ATH"}));
    QCOMPARE(rig.lines.lineClose(rig.line), 0);
    QCOMPARE(rig.lines.lineClose(rig.line), LINEERR_INVALLINEHANDLE);
}

void TestModemLines::hangUpReachesTheModemAsTheProgramEnds()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD*;"}));
    {
        Rig rig(modem.path());
        QVERIFY(rig.dial(0, QStringLiteral("1")) > 0);
        QTRY_COMPARE(modem.received(), QStringList({"ATD1;"}));
        // No event loop runs between the hang-up and the end.
        QCOMPARE(rig.lines.lineShutdown(rig.app), 0);
    }
    QTRY_COMPARE(modem.received(), QStringList({"ATD1;", "ATH"}));
}

void TestModemLines::portThatGoesAwayEndsTheCall()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD*; OK | +200 !close"}));
    Rig rig(modem.path());
    QVERIFY(rig.dial(0, QStringLiteral("0441")) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.states(),
                              QStringList({"LINECALLSTATE_DIALING", "LINECALLSTATE_RINGBACK",
                                           "LINECALLSTATE_DISCONNECTED, 2048"}),
                              10000);
    QCOMPARE(rig.lines.lineDrop(rig.call), LINEERR_OPERATIONFAILED);
    QVERIFY(rig.why().contains("has gone"));
    QCOMPARE(rig.lines.lineDeallocateCall(rig.call), 0);
    HCall again = 0;
    QCOMPARE(rig.lines.lineMakeCall(rig.line, again, QStringLiteral("1")), LINEERR_OPERATIONFAILED);
    QCOMPARE(rig.lines.lineClose(rig.line), 0);
    QCOMPARE(rig.lines.lineShutdown(rig.app), 0);
}

void TestModemLines::busyMissingAndInUsePorts()
{
    ModemSimProcess modem;
    QVERIFY(modem.start());
    Rig rig(QStringLiteral("/dev/corvane-no-such-modem"), {modem.path()});
    QCOMPARE(rig.dial(0, QStringLiteral("1")), LINEERR_NODEVICE);
    QVERIFY(rig.why().contains("does not exist"));
    QCOMPARE(rig.modems.devices().size(), 2);

    HLine line = 0;
    uint32_t count = 0;
    QCOMPARE(rig.lines.lineOpen(rig.app, 1, line, 0x20000, 0), 0);
    // A second line of this program on the port is refused as such.
    HLineApp other = 0;
    HLine busy = 0;
    QCOMPARE(rig.lines.lineInitialize(other, nullptr, count), 0);
    QCOMPARE(rig.lines.lineOpen(other, 1, busy, 0x20000, 0), LINEERR_ALLOCATED);
    QCOMPARE(rig.why(), modem.path() + " is in use for another call");
    // A probe leaves the open port alone and keeps it listed.
    QVERIFY(rig.probe());
    QCOMPARE(rig.modems.devices().size(), 2);
    QVERIFY(modem.received().isEmpty());
    // Closed, it can be opened again.
    QCOMPARE(rig.lines.lineShutdown(rig.app), 0);
    QCOMPARE(rig.lines.lineOpen(other, 1, busy, 0x20000, 0), 0);
}

void TestModemLines::hostileNumberNeverReachesThePort()
{
    ModemSimProcess modem;
    QVERIFY(modem.start());
    Rig rig(modem.path());
    QCOMPARE(rig.dial(0, QStringLiteral("0441;ATZ\rATD110")), LINEERR_INVALADDRESS);
    QVERIFY(rig.why().contains("cannot dial"));
    QVERIFY(rig.lines.lineMakeCall(rig.line, rig.call, QStringLiteral("0441")) > 0);
    QTRY_COMPARE(modem.received(), QStringList({"ATD0441;"}));
}

void TestModemLines::noMessagesForFreedCallsOrApplications()
{
    ModemSimProcess modem;
    QVERIFY(modem.start({"ATD*; OK"}));
    Rig rig(modem.path());
    QVERIFY(rig.dial(0, QStringLiteral("1")) > 0);
    // Freed before the event loop ran: the states already on their way are dropped.
    QCOMPARE(rig.lines.lineDeallocateCall(rig.call), 0);
    QTest::qWait(300);
    QVERIFY(rig.states().isEmpty());

    QVERIFY(rig.lines.lineMakeCall(rig.line, rig.call, QStringLiteral("2")) > 0);
    QCOMPARE(rig.lines.lineShutdown(rig.app), 0);
    const qsizetype before = rig.messages.size();
    QTest::qWait(300);
    QCOMPARE(rig.messages.size(), before);
    QCOMPARE(rig.lines.lineOpen(rig.app, 0, rig.line, 0x20000, 0), LINEERR_INVALAPPHANDLE);
}

QTEST_GUILESS_MAIN(TestModemLines)
#include "tst_modemlines.moc"
