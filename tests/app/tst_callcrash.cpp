// Calls survive a crash: a child process rings calls through the call handling (the list
// saved in the background) and ends them; the parent kills it at a random moment, during a
// background save or in the middle of a burst. After the kill the list file loads complete,
// and every call that rang more than a save's margin (a second; more under the sanitizers)
// before the kill is in it, with its status when its end had come that long before.

#include "app/CallHandler.h"
#include "lists/ListFiles.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "settings/SettingsStore.h"
#include "tests/app/CallTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <ctime>

namespace {

constexpr int StoredCalls = 20000;

// How long after a call its save may still be under way: the writer's short wait and one
// rewrite of the file. A sanitizer build rewrites several times slower, and a disk busy with
// another build's writes can hold a save's sync for seconds; fewer rounds keep its time.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CORVANE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CORVANE_SANITIZED 1
#endif
#endif
#ifdef CORVANE_SANITIZED
constexpr int SaveMarginMs = 8000;
constexpr int Rounds = 3;
#else
constexpr int SaveMarginMs = 1000;
constexpr int Rounds = 6;
#endif

qint64 monotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

QString numberOf(int call)
{
    return QStringLiteral("0999%1").arg(call, 6, 10, QLatin1Char('0'));
}

// Child: a stored list, then calls two at a time, each ending busy or unanswered; one line
// per event on stdout with the monotonic time ("rang N T", "ended N STATUS T"). pauseMs
// between events: short for a burst, longer so that the kill often meets a save under way.
int ringForever(const QString &dir, int pauseMs)
{
    SettingsStore settings(dir + "/corvane.ini");
    settings.readAll();
    ScriptedPrompts prompts;
    TLists lists(settings, prompts, dir, QLocale::c());
    lists.SetLanguage(Language::English);
    if (!lists.LoadAtStartup()) return 1;
    AreaCodeTable towns;
    TCallHandler handler(settings, lists, towns);
    handler.SetListsLoaded(true);
    handler.SetDialogsReady(true);
    auto say = [](const QString &line) {
        fputs(qPrintable(line + QStringLiteral(" %1\n").arg(monotonicMs())), stdout);
        fflush(stdout);
    };
    say(QStringLiteral("ready"));
    auto fakeLine = std::make_unique<FakeLine>();
    FakeLine &fake = *fakeLine;
    handler.AddLineSource(std::move(fakeLine));
    line::TCallId previous = 0;
    for (int call = 1;; ++call) {
        const line::TCallId current = fake.offer(numberOf(call));
        say(QStringLiteral("rang %1").arg(call));
        if (call > 1) {
            const bool busy = call % 2 == 0;
            fake.end(previous, busy ? 0x34A2 : 0x3490);
            say(QStringLiteral("ended %1 %2").arg(call - 1).arg(busy ? "busy" : "unanswered"));
        }
        previous = current;
        QCoreApplication::processEvents();
        if (pauseMs > 0) QTest::qSleep(pauseMs);
    }
}

} // namespace

class TestCallCrash : public QObject
{
    Q_OBJECT

    void killAndCheck(int pauseMs, int rounds);

private slots:
    void killedDuringABackgroundSave() { killAndCheck(40, Rounds); }
    void killedDuringABurst() { killAndCheck(1, Rounds); }
};

void TestCallCrash::killAndCheck(int pauseMs, int rounds)
{
    QRandomGenerator random(20251209 + quint32(pauseMs));
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir dir;
        {
            // The stored calls, written as the program writes them.
            SettingsStore settings(dir.filePath("corvane.ini"));
            ScriptedPrompts prompts;
            TLists lists(settings, prompts, dir.path(), QLocale::c());
            QList<CallRow> rows;
            for (int i = 0; i < StoredCalls; ++i)
                rows.append(CallRow{QString::number(40000 + i * 0.01, 'f', 2),
                                    QStringLiteral("0301%1").arg(i), QStringLiteral(" "),
                                    QStringLiteral("Berlin"), QStringLiteral("Office"),
                                    QStringLiteral("answered")});
            lists.calls().setRows(rows);
            QVERIFY(lists.SaveList(ListKind::Calls));
        }
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {"--ring-forever", dir.path(), QString::number(pauseMs)});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(60000));
        QTest::qWait(random.bounded(SaveMarginMs + 500, SaveMarginMs + 3000));
        const qint64 killedAt = monotonicMs();
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());

        // What had happened a save's margin before the kill.
        QHash<QString, QString> expected; // number -> status
        for (const QByteArray &raw : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> words = raw.split(' ');
            if (words.size() < 3 || words.last().toLongLong() > killedAt - SaveMarginMs) continue;
            const QString number = numberOf(words.at(1).toInt());
            if (words.first() == "rang") expected.insert(number, QStringLiteral(" "));
            if (words.first() == "ended")
                expected.insert(number, words.at(2) == "busy" ? QStringLiteral("busy")
                                                              : QStringLiteral("not anwsered"));
        }
        QVERIFY2(!expected.isEmpty(), "no call rang long enough before the kill");

        SettingsStore settings(dir.filePath("check.ini"));
        ScriptedPrompts prompts;
        TLists lists(settings, prompts, dir.path(), QLocale::c());
        lists.SetLanguage(Language::English);
        QVERIFY(lists.files().LoadCalls(dir.filePath("Calls")));
        QVERIFY2(prompts.fileErrors.isEmpty(), qPrintable(prompts.fileErrors.join('\n')));
        QVERIFY(lists.calls().count() >= StoredCalls + expected.size());
        QHash<QString, QString> found;
        for (const CallRow &row : lists.calls().rows()) {
            if (!row.number.startsWith(QLatin1String("0999"))) continue;
            QVERIFY2(!found.contains(row.number), qPrintable(row.number + " stored twice"));
            found.insert(row.number, row.status);
        }
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            QVERIFY2(found.contains(it.key()), qPrintable(it.key() + " lost"));
            // A later status may have been saved too; never an older one.
            if (it.value() != QLatin1String(" ")) QCOMPARE(found.value(it.key()), it.value());
        }
        if (QFile::exists(dir.filePath("Calls.bak"))) {
            TLists backup(settings, prompts, dir.path(), QLocale::c());
            QVERIFY(backup.files().LoadCalls(dir.filePath("Calls.bak")));
            QVERIFY2(prompts.fileErrors.isEmpty(), "the backup is damaged");
        }
    }
}

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--ring-forever") == 0) {
        QCoreApplication app(argc, argv);
        return ringForever(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    }
    QCoreApplication app(argc, argv);
    TestCallCrash test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_callcrash.moc"
