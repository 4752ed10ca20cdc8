// The command line of a start, the menu entry's actions and the "testcallnum" hand-over.
#include "platform/InstanceCommand.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace platform;

namespace {

unsigned modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestInstanceCommand : public QObject
{
    Q_OBJECT

private slots:
    void switches_data()
    {
        QTest::addColumn<QStringList>("parameters");
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("number");

        const auto row = [](const char *name, QStringList params, InstanceCommand c,
                            const QString &number = QString()) {
            QTest::newRow(name) << params << int(c) << number;
        };
        row("none", {}, InstanceCommand::None);
        row("/w", {"/w"}, InstanceCommand::ShowPopup);
        row("/window", {"/window"}, InstanceCommand::ShowPopup);
        row("/c", {"/c"}, InstanceCommand::Calls);
        row("/calls", {"/calls"}, InstanceCommand::Calls);
        row("/m", {"/m"}, InstanceCommand::Msn);
        row("/msn", {"/msn"}, InstanceCommand::Msn);
        row("/n", {"/n"}, InstanceCommand::Nicknames);
        row("/nicknames", {"/nicknames"}, InstanceCommand::Nicknames);
        row("/o", {"/o"}, InstanceCommand::Options);
        row("/options", {"/options"}, InstanceCommand::Options);
        row("/d", {"/d"}, InstanceCommand::Dial);
        row("/dial", {"/dial"}, InstanceCommand::Dial);
        row("/t number", {"/t", "0441123"}, InstanceCommand::TestCall, "0441123");
        row("/test number", {"/test", "++43662123"}, InstanceCommand::TestCall, "++43662123");
        row("/q", {"/q"}, InstanceCommand::Quit);
        row("/quit", {"/quit"}, InstanceCommand::Quit);
        row("/Q", {"/Q"}, InstanceCommand::None);
        row("extra parameters ignored", {"/c", "/o"}, InstanceCommand::Calls);
        // Switches are case-sensitive and exact.
        row("/W", {"/W"}, InstanceCommand::None);
        row("/Calls", {"/Calls"}, InstanceCommand::None);
        row("-c", {"-c"}, InstanceCommand::None);
        row("c", {"c"}, InstanceCommand::None);
        row("/c with blank", {"/c "}, InstanceCommand::None);
        row("/callsx", {"/callsx"}, InstanceCommand::None);
        row("empty", {""}, InstanceCommand::None);
        row("/t without number", {"/t"}, InstanceCommand::None);
        row("/test without number", {"/test"}, InstanceCommand::None);
        // Only the first parameter is a switch.
        row("switch second", {"x", "/c"}, InstanceCommand::None);
    }
    void switches()
    {
        QFETCH(QStringList, parameters);
        QFETCH(int, command);
        QFETCH(QString, number);
        const ParsedCommandLine parsed =
            ParseCommandLine(QStringList{"/usr/bin/corvane"} + parameters);
        QCOMPARE(int(parsed.command), command);
        QCOMPARE(parsed.testNumber, number);
    }

    void knownCodes()
    {
        for (int code : {3024, 3025, 3026, 3027, 3028, 3029, 3030, 3124})
            QVERIFY2(IsKnownCommand(code), qPrintable(QString::number(code)));
        for (int code : {0, 3023, 3031, 3123, 3125, -1})
            QVERIFY2(!IsKnownCommand(code), qPrintable(QString::number(code)));
    }

    void linuxOptions_data()
    {
        QTest::addColumn<QStringList>("parameters");
        QTest::addColumn<int>("action");
        const auto row = [](const char *name, QStringList params, StartAction action) {
            QTest::newRow(name) << params << int(action);
        };
        row("--help", {"--help"}, StartAction::Help);
        row("--version", {"--version"}, StartAction::Version);
        row("--help before a switch", {"--help", "/c"}, StartAction::Help);
        row("unknown", {"--verbose"}, StartAction::UnknownOption);
        row("misspelt", {"--hepl"}, StartAction::UnknownOption);
        row("with a value", {"--help=all"}, StartAction::UnknownOption);
        row("upper case", {"--HELP"}, StartAction::UnknownOption);
        // Everything else keeps the old rules: a switch, or nothing at all.
        row("-h", {"-h"}, StartAction::Help);
        row("-h before a switch", {"-h", "/c"}, StartAction::Help);
        row("double dash alone", {"--"}, StartAction::Run);
        row("one dash", {"-c"}, StartAction::Run);
        row("-h second", {"/c", "-h"}, StartAction::Run);
        row("switch first", {"/c", "--help"}, StartAction::Run);
        row("test number", {"/t", "--5"}, StartAction::Run);
        row("none", {}, StartAction::Run);
    }
    void linuxOptions()
    {
        QFETCH(QStringList, parameters);
        QFETCH(int, action);
        const ParsedCommandLine parsed = ParseCommandLine(QStringList{"corvane"} + parameters);
        QCOMPARE(int(parsed.action), action);
        // An option never becomes a command for the running instance.
        if (action != int(StartAction::Run)) QCOMPARE(parsed.command, InstanceCommand::None);
    }

    // Parameters nothing acts on, which the start names on standard error.
    void ignoredParameters_data()
    {
        QTest::addColumn<QStringList>("parameters");
        QTest::addColumn<QStringList>("ignored");
        const auto row = [](const char *name, QStringList params, QStringList ignored) {
            QTest::newRow(name) << params << ignored;
        };
        row("none", {}, {});
        row("switch", {"/c"}, {});
        row("test call", {"/t", "0441123"}, {});
        row("/t without number", {"/t"}, {});
        row("a word", {"help"}, {"help"});
        row("upper-case switch", {"/W"}, {"/W"});
        row("one dash", {"-c"}, {"-c"});
        row("double dash alone", {"--"}, {"--"});
        row("empty", {""}, {""});
        row("after a switch", {"/c", "now"}, {"now"});
        row("after the test number", {"/t", "0441123", "0441124"}, {"0441124"});
        row("switch second", {"x", "/c"}, {"x", "/c"});
        row("options are not run", {"--help", "x"}, {});
    }
    void ignoredParameters()
    {
        QFETCH(QStringList, parameters);
        QFETCH(QStringList, ignored);
        QCOMPARE(ParseCommandLine(QStringList{"corvane"} + parameters).ignored, ignored);
    }

    void usageNamesEverySwitchAndTheDataDirectory()
    {
        const QString usage = UsageText("corvane", "/home/anna/.local/share/corvane");
        QVERIFY(usage.startsWith("Usage: corvane "));
        for (const char *item : {"/w, /window", "/c, /calls", "/n, /nicknames", "/m, /msn",
                                 "/o, /options", "/d, /dial", "/t, /test NUMBER", "/q, /quit",
                                 "-h, --help", "--version", "CORVANE_HOME", "CORVANE_CAPI_LIBRARY",
                                 "CORVANE_CONTACTS_MODULE",
                                 "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR",
                                 "corvane.ini", "Calls, Nicks, MSN", "orte.asc", "corvane.log"})
            QVERIFY2(usage.contains(QLatin1String("\n  ") + item), item);
        QVERIFY(usage.endsWith("Data directory: /home/anna/.local/share/corvane\n"));
        // Each switch the usage names is one the program takes.
        static const QRegularExpression switchLine("\n  (/\\w+), (/\\w+)");
        int switches = 0;
        for (auto it = switchLine.globalMatch(usage); it.hasNext(); ++switches) {
            const QRegularExpressionMatch match = it.next();
            const ParsedCommandLine shortForm =
                ParseCommandLine({"corvane", match.captured(1), "0441"});
            QVERIFY2(shortForm.command != InstanceCommand::None, qPrintable(match.captured(1)));
            QCOMPARE(ParseCommandLine({"corvane", match.captured(2), "0441"}).command,
                     shortForm.command);
        }
        QCOMPARE(switches, 8);
    }

    // The manual page comes from the same table: one item for each item of the help, plus
    // the installed files; names as typed (bold, "\-" for a minus), arguments in italics; and
    // no line of text that roff would take for a request.
    void manPageHasTheHelpsItems()
    {
        const QString page = ManPageText("3.0.0", "/usr/share/corvane");
        QVERIFY(page.startsWith(".TH CORVANE 1 \"\" \"Corvane 3.0.0\" \"User Commands\"\n"));
        const QStringList requests{"TH", "nh", "ad", "SH", "TP", "B", "RI", "I"};
        int items = 0;
        for (const QString &line : page.split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith('.') || line.startsWith('\''))
                QVERIFY2(requests.contains(line.mid(1).section(' ', 0, 0)), qPrintable(line));
            if (line == ".TP") ++items;
        }
        // An item's term starts at the third column; its text's further lines further right.
        static const QRegularExpression helpItem("^  \\S", QRegularExpression::MultilineOption);
        int helpItems = 0;
        for (auto it = helpItem.globalMatch(UsageText("corvane", "/data")); it.hasNext(); it.next())
            ++helpItems;
        QCOMPARE(helpItems, 21);
        QCOMPARE(items, helpItems + 2);
        for (const char *term :
             {"\\fB/t\\fR, \\fB/test\\fR \\fINUMBER\\fR", "\\fB\\-h\\fR, \\fB\\-\\-help\\fR",
              "\\fB\\-\\-version\\fR", "\\fBCORVANE_CAPI_LIBRARY\\fR",
              "\\fBCalls\\fR, \\fBNicks\\fR, \\fBMSN\\fR", ".I /usr/share/corvane/orte.asc\n"})
            QVERIFY2(page.contains(QLatin1String(term)), term);
    }

    // The launcher's menu reaches the running program through these actions on every
    // desktop, tray or not.
    void desktopEntryActionsAreSwitches()
    {
        QProcess validate;
        validate.start("desktop-file-validate", {CORVANE_DESKTOP_FILE});
        QVERIFY2(validate.waitForFinished(30000), "desktop-file-validate (desktop-file-utils)");
        QCOMPARE(validate.exitCode(), 0);
        QCOMPARE(validate.readAll(), QByteArray());

        QFile file(CORVANE_DESKTOP_FILE);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QMap<QString, QMap<QString, QString>> groups;
        QString group;
        for (const QString &line : QString::fromUtf8(file.readAll()).split('\n')) {
            if (line.startsWith('['))
                group = line.mid(1, line.size() - 2);
            else if (line.contains('='))
                groups[group][line.section('=', 0, 0)] = line.section('=', 1);
        }
        QCOMPARE(groups["Desktop Entry"]["Exec"], QString("corvane"));
        const QMap<QString, InstanceCommand> expected = {{"Calls", InstanceCommand::Calls},
                                                         {"Nicknames", InstanceCommand::Nicknames},
                                                         {"MSN", InstanceCommand::Msn},
                                                         {"Options", InstanceCommand::Options},
                                                         {"Exit", InstanceCommand::Quit}};
        QStringList actions = groups["Desktop Entry"]["Actions"].split(';', Qt::SkipEmptyParts);
        QCOMPARE(QSet<QString>(actions.begin(), actions.end()),
                 QSet<QString>(expected.keyBegin(), expected.keyEnd()));
        for (const QString &action : actions) {
            const QMap<QString, QString> &entry = groups["Desktop Action " + action];
            QVERIFY2(!entry.value("Name").isEmpty(), qPrintable(action));
            const QStringList exec = entry.value("Exec").split(' ');
            QCOMPARE(exec.value(0), QString("corvane"));
            QCOMPARE(ParseCommandLine(exec).command, expected.value(action));
        }
        QCOMPARE(groups["Desktop Action Calls"]["Name[de]"], QString("Anrufliste"));
        QCOMPARE(groups["Desktop Action Exit"]["Name[de]"], QString("Beenden"));
    }

    void testNumberFileRoundTrip()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString error;
        QVERIFY(!ReadTestCallNumber(dir.path(), &error).has_value());
        QVERIFY(error.contains("testcallnum"));

        QVERIFY2(WriteTestCallNumber("0441123", dir.path(), &error), qPrintable(error));
        QFile file(dir.filePath("testcallnum"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("0441123\n"));
        file.close();
        // For the user alone, whatever the umask.
        QCOMPARE(modeOf(file.fileName()), 0600u);
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>("0441123"));

        // Overwritten, not appended; no temporary file stays behind.
        QVERIFY(WriteTestCallNumber("12", dir.path(), &error));
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>("12"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{"testcallnum"});
    }

    void receiverTakesFirstLineTrimmed()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("testcallnum"), "  0441123 \r\nsecond line\r\n"));
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>("0441123"));
        QCOMPARE(TestCallNumberFromText(" 0441 \nx"), QString("0441"));
    }

    // The reader takes at most 256 bytes: a first line that does not end within them is
    // refused, not cut short; what follows a complete first line is never read.
    void receiverReadsAtMostTheLimit()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("testcallnum");
        const QByteArray longest(MaxTestCallNumberBytes - 1, '7');
        QVERIFY(writeFile(path, longest + "\n" + QByteArray(1 << 20, 'x')));
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>(QString(longest)));

        QVERIFY(writeFile(path, longest + "7\n"));
        QString error;
        QVERIFY(!ReadTestCallNumber(dir.path(), &error).has_value());
        QVERIFY2(error.contains("256"), qPrintable(error));

        // A last line without its line end is still a number.
        QVERIFY(writeFile(path, "0441"));
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>("0441"));
    }

    // A FIFO, a symbolic link or a directory at the name is refused at once: nothing waits
    // for a writer, and no link leads the reader elsewhere.
    void receiverReadsOnlyARegularFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("testcallnum");
        const QByteArray name = QFile::encodeName(path);
        QVERIFY(::mkfifo(name.constData(), 0600) == 0);

        // Should the reader wait on the FIFO, a writer that comes and goes at once lets it
        // go on, so that the test fails instead of hanging.
        std::atomic<bool> done = false;
        std::thread unblock([&] {
            const QDeadlineTimer deadline(3000);
            while (!done && !deadline.hasExpired())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            while (!done) {
                const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) ::close(fd);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        QElapsedTimer timer;
        timer.start();
        QString error;
        const std::optional<QString> fromFifo = ReadTestCallNumber(dir.path(), &error);
        done = true;
        unblock.join();
        QVERIFY(!fromFifo.has_value());
        QVERIFY2(error.contains("not a regular file"), qPrintable(error));
        QVERIFY(timer.elapsed() < 2000);

        QVERIFY(QFile::remove(path));
        QVERIFY(writeFile(dir.filePath("elsewhere"), "0441\n"));
        QVERIFY(QFile::link(dir.filePath("elsewhere"), path));
        QVERIFY(!ReadTestCallNumber(dir.path(), &error).has_value());
        QVERIFY2(error.contains("symbolic link"), qPrintable(error));

        QVERIFY(QFile::remove(path));
        QVERIFY(QDir(dir.path()).mkdir("testcallnum"));
        QVERIFY(!ReadTestCallNumber(dir.path()).has_value());
    }

    // Whatever stands at the name is replaced, never written through.
    void writerReplacesWhatIsAtTheName()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("testcallnum");
        const QString victim = dir.filePath("victim");
        QVERIFY(writeFile(victim, "mine\n"));
        QVERIFY(QFile::link(victim, path));
        QString error;
        QVERIFY2(WriteTestCallNumber("0441", dir.path(), &error), qPrintable(error));
        QCOMPARE(QFileInfo(path).isSymLink(), false);
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>("0441"));
        QFile mine(victim);
        QVERIFY(mine.open(QIODevice::ReadOnly));
        QCOMPARE(mine.readAll(), QByteArray("mine\n"));

        QVERIFY(QFile::remove(path));
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0666) == 0);
        QVERIFY2(WriteTestCallNumber("0442", dir.path(), &error), qPrintable(error));
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>("0442"));
        QCOMPARE(modeOf(path), 0600u);
    }

    void writeFailsCleanly()
    {
        QTemporaryDir dir;
        QString error;
        QVERIFY(!WriteTestCallNumber("1", dir.filePath("missing/dir"), &error));
        QVERIFY(!error.isEmpty());
    }

    // The start writes the number into the directory it is given, never into the current
    // one.
    void prepareWritesNumberInTheGivenDirectory()
    {
        QTemporaryDir dir;
        QTemporaryDir current;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(current.path()));
        const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });

        QCOMPARE(PrepareCommand({"corvane", "/t", "0441123"}, dir.path()),
                 InstanceCommand::TestCall);
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>("0441123"));
        QVERIFY(
            QDir(current.path())
                .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));

        // Nothing written for anything but a test call with a number.
        QVERIFY(QFile::remove(dir.filePath("testcallnum")));
        QCOMPARE(PrepareCommand({"corvane", "/t"}, dir.path()), InstanceCommand::None);
        QCOMPARE(PrepareCommand({"corvane", "/c"}, dir.path()), InstanceCommand::Calls);
        QVERIFY(!QFile::exists(dir.filePath("testcallnum")));
    }

    void unwritableNumberSendsNothing()
    {
        QTemporaryDir dir;
        // A directory where the file should be: the write must fail, even as root.
        QVERIFY(QDir(dir.path()).mkdir("testcallnum"));
        QString error;
        QCOMPARE(PrepareCommand({"corvane", "/test", "0441123"}, dir.path(), &error),
                 InstanceCommand::None);
        QVERIFY(!error.isEmpty());
        // The temporary file went again.
        QCOMPARE(
            QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{"testcallnum"});
    }
};

QTEST_GUILESS_MAIN(TestInstanceCommand)
#include "tst_instancecommand.moc"
