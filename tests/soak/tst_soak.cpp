// The long-run test: the real corvane on Xvfb takes thousands of calls from the line simulator
// as fast as the exchange lets them come, once on the ISDN line and once on a home router's call
// monitor whose connection drops now and then. The calls overlap; some are rejected by the
// nickname and MSN lists, some by the user with the popup's button (ISDN line), some come without
// number or from the phone book, and unknown callers are looked up on a server that now and then
// keeps the program waiting. Every 500 calls the run pauses as a user looks at the screen: the
// popup is dismissed.
//
// Afterwards every call is in the "Calls" file exactly once with the status the line says it
// had; from the state after the first 1,000 calls to the end, memory grew by no more than the
// stored rows explain, and descriptors and threads did not grow; SIGTERM ends the program within
// a second, also while a lookup hangs.
//
// SOAK_CALLS sets the calls rung in bulk on each line (default 2,000: the short form; the long
// form, test soak_long, rings 10,000). The figures are printed as QINFO lines.
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "settings/SettingsStore.h"
#include "tests/FakeNotifications.h"
#include "tests/e2e/Desktop.h"
#include "tests/lookup/LookupServer.h"
#include "tests/soak/SoakPlan.h"

#include <QtTest>

#include <algorithm>
#include <limits>

using namespace e2e;
using namespace soak;
using testing::LookupServer;

namespace {

// The run pauses after this many calls in bulk.
constexpr int kPause = 500;
// A lookup the server "hangs": answered only after the program has given up (8 s).
constexpr int kHangMs = 12000;
// What the memory may grow by per stored row, and once for page and allocator granularity.
constexpr qint64 kRowBytes = 1024;
constexpr qint64 kSlackBytes = 512 * 1024;

int BulkCalls()
{
    const int calls = qEnvironmentVariableIntValue("SOAK_CALLS");
    return calls > 0 ? calls : 2000;
}

// A field of /proc/PID/status or smaps_rollup in kB ("VmRSS:    1234 kB"); -1 when missing.
qint64 ProcKilobytes(const QString &path, const QByteArray &name)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).simplified().split(' ').value(0).toLongLong();
    return -1;
}

int Entries(const QString &dir)
{
    // Descriptors are symbolic links that may point nowhere: System lists those too.
    return int(QDir(dir)
                   .entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                              QDir::NoDotAndDotDot)
                   .size());
}

struct ProcessFigures
{
    qint64 rssKb = 0, anonKb = 0, pssKb = 0;
    int fds = 0, threads = 0;

    // Descriptors and threads as the fewest of a few looks, so that one that is opened and
    // closed again at that moment is not counted.
    static ProcessFigures Of(qint64 pid)
    {
        const QString proc = QStringLiteral("/proc/%1/").arg(pid);
        ProcessFigures f;
        f.rssKb = ProcKilobytes(proc + QStringLiteral("status"), "VmRSS");
        f.anonKb = ProcKilobytes(proc + QStringLiteral("status"), "RssAnon");
        f.pssKb = ProcKilobytes(proc + QStringLiteral("smaps_rollup"), "Pss");
        f.fds = f.threads = std::numeric_limits<int>::max();
        for (int look = 0; look < 5; ++look) {
            f.fds = std::min(f.fds, Entries(proc + QStringLiteral("fd")));
            f.threads = std::min(f.threads, Entries(proc + QStringLiteral("task")));
            QThread::msleep(100);
        }
        return f;
    }
    QString text() const
    {
        return QStringLiteral("RSS %1 KB, PSS %2 KB (anonymous %3 KB), %4 descriptors, %5 threads")
            .arg(rssKb)
            .arg(pssKb)
            .arg(anonKb)
            .arg(fds)
            .arg(threads);
    }
};

// The phone book with an entry for each bulk call from it, and the two own numbers.
void SeedLists(const Corvane &corvane, Line line, int bulk)
{
    SettingsStore settings(corvane.file(QStringLiteral("corvane.ini")));
    settings.readAll();
    ScriptedPrompts prompts;
    TLists lists(settings, prompts, corvane.home());
    lists.SetLanguage(Language::English);
    QList<NickRow> nicks;
    for (int i = 0; i < bulk; ++i) {
        const Call call = BulkCall(line, i);
        if (call.kind == Kind::Nickname)
            nicks.append(NickRow{call.nickname, call.number, QString(), "log|popup|"});
        else if (call.kind == Kind::BlockedNick)
            nicks.append(NickRow{call.nickname, call.number, QString(), "log|popup|reject all|"});
    }
    lists.nicks().setRows(nicks);
    lists.msns().setRows({MsnRow{true, kOffice, kOfficeName, QString(), "log|popup|"},
                          MsnRow{true, kBlockedMsn, kBlockedMsnName, QString(),
                                 "log|popup|reject all|"}});
    lists.SaveList(ListKind::Nicks);
    lists.SaveList(ListKind::Msn);
}

// One run of the program on one line: the calls rung so far and what a user does meanwhile.
class Run
{
public:
    Run(Line line, Corvane &corvane, LookupServer &server)
        : FLine(line), FCorvane(corvane), FServer(server)
    {
    }

    QList<Call> calls; // every call rung, in order

    // timeoutMs bounds the answer (wait-listening takes as long as it waits); the in-process
    // simulator's socket appears once the program uses the line.
    bool command(const QString &text, QString *reply = nullptr, int timeoutMs = 10000)
    {
        std::string answer;
        const bool ok = capisim::runCommand(FCorvane.socket().toStdString(), text.toStdString(),
                                            &answer, timeoutMs, 10000);
        if (reply) *reply = QString::fromStdString(answer);
        return ok;
    }

    // Rings the call as soon as the exchange has room for it (a PLCI, a connection id).
    bool ring(const Call &call, QString *reply = nullptr)
    {
        if (call.hangs)
            FServer.answer(call.number.toStdString(), LookupBody(call.number).toStdString(),
                           kHangMs);
        QString answer;
        QElapsedTimer waited;
        waited.start();
        while (!command(call.ring, &answer)) {
            if (!answer.contains(QLatin1String("too many calls")) || waited.elapsed() > 60000) {
                qWarning("%s: %s", qPrintable(call.ring), qPrintable(answer));
                return false;
            }
            QThread::msleep(2);
        }
        calls.append(call);
        if (call.lookedUp()) FLastLookup = call;
        if (reply) *reply = answer;
        return true;
    }

    // Waits until the "Calls" file holds a row for every call rung so far, each with its final
    // status (final) or as offered (the exchange may still have calls).
    bool waitForRows(bool final, int timeoutMs = 120000)
    {
        QElapsedTimer clock;
        clock.start();
        do {
            if (!final || exchangeIdle()) {
                const QList<Row> rows = ReadCallsFile(FCorvane.file(QStringLiteral("Calls")));
                if (rows.size() == calls.size() &&
                    (!final || std::none_of(rows.begin(), rows.end(),
                                            [](const Row &r) { return r.status == kBlank; })))
                    return true;
            }
            QThread::msleep(100);
        } while (clock.elapsed() < timeoutMs);
        return false;
    }
    bool settled() { return waitForRows(true); }
    // Why the file is not what it should be, for a failure's message.
    QString differences() const
    {
        return CompareRows(calls, ReadCallsFile(FCorvane.file(QStringLiteral("Calls"))))
            .join(u'\n');
    }

    // The user takes a ringing call with the popup's reject button.
    bool rejectWithTheButton()
    {
        const Call call = SpecialCall(FLine, Kind::UserReject, ++FSpecials);
        if (!ring(call)) return false;
        // Its number, or the name the server gives it.
        const QString popup = waitForWindow(
            QStringLiteral("^Corvane - (%1)?%2$").arg(LookupName({}), call.number));
        if (popup.isEmpty()) return false;
        const QRect rect = windowGeometry(popup);
        // The button sits in the top right corner, over the clock.
        for (int attempt = 0; attempt < 3; ++attempt) {
            click(QPoint(rect.right() - 30, rect.top() + 8));
            if (waitFor([&] { return hasRow(call.number, kRejected); }, 3000)) return true;
        }
        return false;
    }

    // The router goes away while three calls ring: it closes the connection, or restarts and
    // refuses connections for a second. The calls end as "unknown" in the program, the
    // simulator's line forgets them, and the program connects again by itself.
    bool dropConnection(bool restart)
    {
        QList<int> ids;
        for (int i = 0; i < 3; ++i) {
            QString reply;
            if (!ring(SpecialCall(FLine, Kind::Dropped, ++FSpecials), &reply)) return false;
            ids << reply.section(QStringLiteral("router="), 1).toInt();
        }
        // The program has them all, and the line has no other call, before the connection goes.
        QStringList ringing;
        for (const int id : ids)
            ringing << QStringLiteral("%1:ringing").arg(id);
        QString reply;
        if (!waitForRows(false, 30000) || !command(QStringLiteral("status"), &reply) ||
            !reply.endsWith(QStringLiteral("router-calls=") + ringing.join(u','))) {
            qWarning("the line is not as planned before the drop: %s", qPrintable(reply));
            return false;
        }
        if (!command(restart ? QStringLiteral("router refuse 1") : QStringLiteral("router close"),
                     &reply) ||
            !reply.contains(QLatin1String("closed=1"))) {
            qWarning("the connection did not drop: %s", qPrintable(reply));
            return false;
        }
        for (const int id : ids)
            if (!command(QStringLiteral("hangup --id %1").arg(id))) return false;
        return command(QStringLiteral("wait-listening --timeout 90"), nullptr, 100000);
    }

    // The user has seen the calls: a right click on the popup hides it and acknowledges them,
    // so that the program no longer keeps them for showing.
    bool dismissPopup()
    {
        const QString pattern = QStringLiteral("^Corvane - ");
        const QString popup = waitForWindow(pattern, 5000);
        if (popup.isEmpty()) return false;
        const QRect rect = windowGeometry(popup);
        for (int attempt = 0; attempt < 3; ++attempt) {
            click(QPoint(rect.center().x(), rect.top() + 50), 3); // on the caller's name
            if (waitFor([&] { return findWindow(pattern).isEmpty(); }, 3000)) return true;
        }
        return false;
    }

    // The lookups have caught up: the server has answered the newest caller asked about (the
    // program asks for the newest waiting number once the lookup before has ended).
    bool lookupsIdle()
    {
        if (FLastLookup.hangs) return false;
        const std::string number = FLastLookup.number.toStdString();
        const bool answered = waitFor(
            [&] {
                const auto done = FServer.answered();
                return std::any_of(done.begin(), done.end(),
                                   [&](const auto &answer) { return answer.first == number; });
            },
            30000);
        QThread::msleep(300); // the answer reaches the popup and the list
        return answered;
    }

    // A last call, whose lookup the server keeps waiting: true once it is stored and the
    // program is waiting for the server.
    bool ringWithHangingLookup()
    {
        Call call = SpecialCall(FLine, Kind::Unknown, ++FSpecials);
        call.hangs = true;
        if (!ring(call) || !settled()) return false;
        const std::string number = call.number.toStdString();
        return waitFor(
            [&] {
                const auto asked = FServer.requests();
                return std::any_of(asked.begin(), asked.end(),
                                   [&](const auto &request) { return request.number == number; });
            },
            30000);
    }

private:
    bool exchangeIdle()
    {
        QString status;
        return command(QStringLiteral("status"), &status) &&
               status.contains(FLine == Line::Capi ? QLatin1String(" calls=-")
                                                   : QLatin1String("router-calls=-"));
    }
    bool hasRow(const QString &number, const QString &status) const
    {
        const QList<Row> rows = ReadCallsFile(FCorvane.file(QStringLiteral("Calls")));
        return std::any_of(rows.begin(), rows.end(), [&](const Row &row) {
            return row.number == number && row.status == status;
        });
    }

    Line FLine;
    Corvane &FCorvane;
    LookupServer &FServer;
    int FSpecials = 0;
    Call FLastLookup;
};

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrayHost> FTray;

    void soak(Line line);

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "runs on an X server (xvfb-run)");
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "runs under dbus-run-session");
        FTray = std::make_unique<TrayHost>();
        QVERIFY(FTray->start());
    }
    void cleanupTestCase() { FTray.reset(); }

    void isdnLine() { soak(Line::Capi); }
    void routerMonitor() { soak(Line::Router); }
};

void TestSoak::soak(Line line)
{
    const int bulk = BulkCalls();
    QVERIFY2(bulk >= 2 * kPause, "SOAK_CALLS is at least 1000");
    const int checkpoint = std::clamp(bulk / 2 / kPause * kPause, kPause, 1000);
    const int pauses = (bulk + kPause - 1) / kPause;
    const int dropEvery = std::max(2, pauses / 5);

    httplib::Server http;
    // One request per connection: between lookups the program holds no connection to the
    // server, so that its descriptors can be compared at any pause.
    http.set_keep_alive_max_count(1);
    LookupServer server(&http);
    server.answerAll(LookupBody(QStringLiteral("%n")).toStdString());

    // The desktop's notification service, as every usual desktop has one: new calls are
    // announced there.
    NotificationServiceOnBus notifications;
    QVERIFY(notifications.registered());
    Corvane corvane;
    corvane.captureErrors();
    RouterSim router;
    QByteArray ini = "[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\nRejectTime=10\n"
                     "ShowReject=1\nStoreNotSubmitted=1\nInternalReverseSearch=1\n"
                     "ReverseLookupURL=" +
                     server.baseUrl().toUtf8() + "\n";
    QProcessEnvironment env = corvane.environment();
    if (line == Line::Router) {
        QVERIFY(router.start(corvane));
        ini += "RouterMonitorHost=127.0.0.1:" + QByteArray::number(router.port()) + "\n";
        env.remove(QStringLiteral("CORVANE_CAPI_LIBRARY"));
    }
    corvane.writeIni(ini);
    SeedLists(corvane, line, bulk);
    QVERIFY(corvane.start(env));
    Run run(line, corvane, server);
    QVERIFY(run.command(QStringLiteral("wait-listening --timeout 20"), nullptr, 30000));

    ProcessFigures early;
    qsizetype earlyRows = 0;
    qint64 ringingMs = 0;
    for (int pause = 0; pause < pauses; ++pause) {
        QElapsedTimer clock;
        clock.start();
        for (int i = pause * kPause; i < std::min(bulk, (pause + 1) * kPause); ++i)
            QVERIFY(run.ring(BulkCall(line, i)));
        QVERIFY2(run.settled(), qPrintable(run.differences()));
        ringingMs += clock.elapsed();

        if (line == Line::Capi)
            QVERIFY2(run.rejectWithTheButton(), qPrintable(run.differences()));
        else if (pause % dropEvery == dropEvery - 1)
            QVERIFY(run.dropConnection(pause / dropEvery % 2 == 1));
        QVERIFY2(run.settled(), qPrintable(run.differences()));
        QVERIFY2(run.dismissPopup(), "the popup goes at a right click");
        const QString errors = corvane.errorOutput();
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
        if ((pause + 1) * kPause == checkpoint) {
            QVERIFY(run.lookupsIdle());
            early = ProcessFigures::Of(corvane.pid());
            earlyRows = run.calls.size();
        }
    }
    QVERIFY(run.lookupsIdle());
    const ProcessFigures late = ProcessFigures::Of(corvane.pid());
    const qsizetype lateRows = run.calls.size();

    QVERIFY(run.ringWithHangingLookup());
    QElapsedTimer stopping;
    stopping.start();
    QVERIFY2(corvane.stop(), "ends by itself on SIGTERM");
    const qint64 stopMs = stopping.elapsed();
    QCOMPARE(corvane.exitCode(), 0);
    QVERIFY2(corvane.errorOutput().isEmpty(), qPrintable(corvane.errorOutput()));

    // What the program left, against the plan and, on the ISDN line, the line's own record.
    const QStringList rows =
        CompareRows(run.calls, ReadCallsFile(corvane.file(QStringLiteral("Calls"))));
    QVERIFY2(rows.isEmpty(), qPrintable(rows.join(u'\n')));
    if (line == Line::Capi) {
        const QList<LineCall> onLine = ReadCapiLog(corvane.lineLog());
        const QStringList differences = CompareWithLine(run.calls, onLine);
        QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));
    }

    const qsizetype grownRows = lateRows - earlyRows;
    const qint64 rssGrowth = (late.rssKb - early.rssKb) * 1024;
    const qint64 pssGrowth = (late.pssKb - early.pssKb) * 1024;
    qInfo("%s: %lld calls, %d of them in bulk in %.1f s: %.0f calls/s",
          line == Line::Capi ? "ISDN line" : "router monitor", qlonglong(run.calls.size()), bulk,
          ringingMs / 1000.0, bulk * 1000.0 / std::max<qint64>(ringingMs, 1));
    qInfo("after %lld calls: %s", qlonglong(earlyRows), qPrintable(early.text()));
    qInfo("after %lld calls: %s", qlonglong(lateRows), qPrintable(late.text()));
    qInfo("growth per stored row: RSS %.0f bytes, PSS %.0f bytes (allowed: %lld bytes, and %lld KB "
          "once)",
          double(rssGrowth) / grownRows, double(pssGrowth) / grownRows, qlonglong(kRowBytes),
          qlonglong(kSlackBytes / 1024));
    QSet<std::string> hanging;
    for (const Call &call : run.calls)
        if (call.hangs) hanging.insert(call.number.toStdString());
    const auto asked = server.requests();
    qInfo("lookups: %lld asked, %lld of them kept waiting by the server",
          qlonglong(asked.size()),
          qlonglong(std::count_if(asked.begin(), asked.end(), [&](const auto &request) {
              return hanging.contains(request.number);
          })));
    qInfo("SIGTERM to exit, while a lookup hangs: %lld ms", qlonglong(stopMs));
    QVERIFY2(!notifications.service().shown().isEmpty(), "calls are announced as notifications");

    QVERIFY2(rssGrowth <= grownRows * kRowBytes + kSlackBytes, "RSS grew beyond the rows");
    QVERIFY2(pssGrowth <= grownRows * kRowBytes + kSlackBytes, "PSS grew beyond the rows");
    QVERIFY2(late.fds <= early.fds, "open descriptors grew");
    QVERIFY2(late.threads <= early.threads, "threads grew");
    QVERIFY2(stopMs < 1000, "SIGTERM ends the program within a second");
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
