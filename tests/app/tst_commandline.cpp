// The program's command line as a Linux user meets it: --help (-h), --version and a misspelt
// option answer at once, without a display and without reaching the running Corvane; a
// second start says what it did, and names a word that is no switch; "/q" with nothing
// running starts nothing; a FIFO named "testcallnum" does not stop the running Corvane; the
// program needs no library of the address book.
#include "platform/SingleInstance.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

    // The environment of a start that may go on to run: no display, but Qt's offscreen
    // platform.
    QProcessEnvironment offscreen(const QString &corvaneHome) const
    {
        QProcessEnvironment env = environment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("CORVANE_HOME", corvaneHome);
        return env;
    }

    // A Corvane running on `home` (made, with the start screen off), listening for a
    // second start.
    bool startRunning(const QString &home, QProcess &running)
    {
        QDir().mkpath(home);
        QFile ini(home + "/corvane.ini");
        if (!ini.open(QIODevice::WriteOnly)) return false;
        ini.write("[Settings]\nShowNag=0\n");
        ini.close();
        running.setProcessEnvironment(offscreen(home));
        running.setProcessChannelMode(QProcess::ForwardedChannels);
        running.start(CORVANE_PROGRAM);
        qputenv("XDG_RUNTIME_DIR", FRoot.path().toUtf8());
        const QString server = SingleInstance::DefaultServerName(home);
        return QTest::qWaitFor([&] { return QFileInfo::exists(server); }, 30000);
    }

    // The libraries a program needs, as the dynamic loader lists them (as ldd has it do).
    Result librariesNeeded(const QString &program)
    {
        QProcessEnvironment env = environment();
        env.insert("LD_TRACE_LOADED_OBJECTS", "1");
        return runToEnd({"--version"}, env, program);
    }

    // A start that is expected to end by itself; exit code -1 when it did not.
    Result runToEnd(const QStringList &arguments, const QProcessEnvironment &env,
                    const QString &program = CORVANE_PROGRAM)
    {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(FRoot.path());
        process.start(program, arguments);
        if (!process.waitForFinished(15000)) {
            process.kill();
            process.waitForFinished();
            return {};
        }
        return {process.exitCode(), process.readAllStandardOutput(),
                process.readAllStandardError()};
    }

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
    void helpPrintsTheUsage_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("--help") << "--help";
        QTest::newRow("-h") << "-h";
    }
    void helpPrintsTheUsage()
    {
        QFETCH(QString, option);
        const Result result = run({option}, environment());
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

    // The address book's libraries come with its module, which the program loads only for
    // the contacts: the program itself needs none of them, so "--version" and a start with
    // the contacts off load none.
    void theProgramNeedsNoAddressBookLibrary()
    {
        const Result result = librariesNeeded(CORVANE_APP_PROGRAM);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.contains("libQt6Widgets"), result.out.constData());
        for (const char *library : {"libebook", "libedataserver", "libcamel", "libsoup"})
            QVERIFY2(!result.out.contains(library), library);
    }

    // What the user starts hands a second start over without the window system's libraries
    // (the full program is started only when nothing runs).
    void aSecondStartNeedsNoWindowSystem()
    {
        const Result result = librariesNeeded(CORVANE_PROGRAM);
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.contains("libQt6Network"), result.out.constData());
        for (const char *library : {"libQt6Gui", "libQt6Widgets", "libxcb.so", "libcurl"})
            QVERIFY2(!result.out.contains(library), library);
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

    // Started again without a switch, the program says where the running Corvane keeps its
    // files and ends. The data directory, however it is spelt, has one Corvane.
    void secondStartSaysWhatItDid()
    {
        const QString home = FRoot.filePath("running home");
        QProcess running;
        const auto stop = qScopeGuard([&] {
            running.kill();
            running.waitForFinished();
        });
        QVERIFY(startRunning(home, running));

        const QByteArray said =
            "Corvane is already running (data directory " + home.toUtf8() + ")\n";
        for (const QString &spelling :
             {home, home + "/", FRoot.filePath("x/../running home"), QString("running home")}) {
            const Result result = runToEnd({}, offscreen(spelling));
            QVERIFY2(result.exitCode == 0, qPrintable(spelling + " started a Corvane of its own"));
            QCOMPARE(result.err, said);
            QCOMPARE(result.out, QByteArray());
        }

        // A word that is no switch is named; the start goes on as without it.
        const Result result = runToEnd({"help"}, offscreen(home));
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(result.err,
                 "corvane: ignoring \"help\", which is no switch (see corvane --help)\n" + said);

        // A test call whose number cannot be handed over says why, and nothing else.
        const QString numberFile =
            QFileInfo(SingleInstance::DefaultServerName(home)).path() + "/testcallnum";
        QVERIFY(QDir().mkpath(numberFile));
        const Result test = runToEnd({"/t", "0441123"}, offscreen(home));
        QDir().rmdir(numberFile);
        QCOMPARE(test.exitCode, 0);
        QVERIFY2(test.err.contains("no test call: " + numberFile.toUtf8()), test.err.constData());
        QVERIFY(!test.err.contains("already running"));
        QCOMPARE(running.state(), QProcess::Running);
    }

    void quitWithNothingRunningStartsNothing()
    {
        QProcess process;
        process.setProcessEnvironment(offscreen(FRoot.filePath("other")));
        process.start(CORVANE_PROGRAM, {"/q"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        // No data directory, no lists, no ini file: the program never got going.
        QVERIFY(!QFileInfo::exists(FRoot.filePath("other")));
    }

    // A FIFO at the name "testcallnum" used to freeze the running Corvane when a test call
    // came: calls unhandled, "/q" ignored. It is refused at once now.
    void fifoAsTestNumberDoesNotFreeze()
    {
        const QString home = FRoot.filePath("fifo-home");
        const QProcessEnvironment env = offscreen(home);
        QProcess running;
        const auto stop = qScopeGuard([&] {
            running.kill();
            running.waitForFinished();
        });
        QVERIFY(startRunning(home, running));
        const QString server = SingleInstance::DefaultServerName(home);

        // FIFOs where the number comes from now and in a directory a frame names.
        const QString work = FRoot.filePath("work");
        QVERIFY(QDir().mkpath(work));
        QStringList fifos{work + "/testcallnum", QFileInfo(server).path() + "/testcallnum"};
        for (const QString &fifo : fifos)
            QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QVERIFY(SingleInstance::SendCommand(server, InstanceCommand::TestCall, work, 5000));

        QProcess quit;
        quit.setProcessEnvironment(env);
        quit.start(CORVANE_PROGRAM, {"/q"});
        QVERIFY(quit.waitForFinished(15000));
        const bool ended = running.waitForFinished(15000);
        // A frozen instance is let go, so that the test ends.
        for (const QString &fifo : fifos) {
            const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        }
        QVERIFY2(ended, "the running Corvane did not end on /q");
        QCOMPARE(running.exitStatus(), QProcess::NormalExit);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
