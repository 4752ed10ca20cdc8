// The program's command line as a Linux user meets it: --help, --version and a misspelt
// option answer at once, without a display and without reaching the running Corvane;
// "/q" with nothing running starts nothing.
#include "platform/SingleInstance.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace platform;

class TestCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir FRoot;

    QString home() const { return FRoot.filePath("home"); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // No display at all: anything that needed one would fail.
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.insert("CORVANE_HOME", home());
        env.insert("XDG_RUNTIME_DIR", FRoot.path());
        return env;
    }

    struct Result
    {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };

    // Runs the program while a stand-in for the running instance listens; no message may
    // reach it.
    Result run(const QStringList &arguments, const QProcessEnvironment &env)
    {
        qputenv("XDG_RUNTIME_DIR", FRoot.path().toUtf8());
        SingleInstance running(SingleInstance::DefaultServerName(home()));
        if (running.start() != SingleInstance::Role::Primary) {
            qWarning("the stand-in could not listen");
            return {};
        }
        QSignalSpy contacted(&running, &SingleInstance::activationRequested);
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(CORVANE_PROGRAM, arguments);
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return {};
        }
        QTest::qWait(200); // a message sent would now be delivered
        if (!contacted.isEmpty()) qWarning("the running instance was contacted");
        return {contacted.isEmpty() ? process.exitCode() : -2, process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

private slots:
    void helpPrintsTheUsage()
    {
        const Result result = run({"--help"}, environment());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.err, QByteArray());
        const QString out = QString::fromUtf8(result.out);
        QVERIFY2(out.startsWith("Usage: corvane [SWITCH]\n"), qPrintable(out));
        QVERIFY(out.contains("  /q, /quit "));
        QVERIFY(out.contains("  CORVANE_HOME "));
        QVERIFY(out.endsWith("Data directory: " + home() + "\n"));
        // Naming the directory does not create it.
        QVERIFY(!QFileInfo::exists(home()));
    }

    void versionPrintsTheVersion()
    {
        const Result result = run({"--version"}, environment());
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.out, QByteArray("Corvane " CORVANE_VERSION "\n"));
        QCOMPARE(result.err, QByteArray());
    }

    void unknownOptionIsAUsageError()
    {
        const Result result = run({"--verbose", "/c"}, environment());
        QCOMPARE(result.exitCode, 2);
        QCOMPARE(result.out, QByteArray());
        QVERIFY2(result.err.startsWith("corvane: unknown option --verbose\n\nUsage: corvane"),
                 result.err.constData());
        QVERIFY(!QFileInfo::exists(home()));
    }

    void quitWithNothingRunningStartsNothing()
    {
        QProcessEnvironment env = environment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("CORVANE_HOME", FRoot.filePath("other"));
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(CORVANE_PROGRAM, {"/q"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        // No data directory, no lists, no ini file: the program never got going.
        QVERIFY(!QFileInfo::exists(FRoot.filePath("other")));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
