// The command line of a start and the "testcallnum" hand-over.
#include "platform/InstanceCommand.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace platform;

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
        for (int code : {3024, 3025, 3026, 3027, 3028, 3029, 3124})
            QVERIFY2(IsKnownCommand(code), qPrintable(QString::number(code)));
        for (int code : {0, 3023, 3030, 3123, 3125, -1})
            QVERIFY2(!IsKnownCommand(code), qPrintable(QString::number(code)));
    }

    void testNumberFileRoundTrip()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(!ReadTestCallNumber(dir.path()).has_value());

        QString error;
        QVERIFY2(WriteTestCallNumber("0441123", &error, dir.path()), qPrintable(error));
        QFile file(dir.filePath("testcallnum"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("0441123\n"));
        file.close();
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>("0441123"));

        // Overwritten, not appended.
        QVERIFY(WriteTestCallNumber("12", &error, dir.path()));
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>("12"));
    }

    void receiverTakesFirstLineTrimmed()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("testcallnum"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("  0441123 \r\nsecond line\r\n");
        file.close();
        QCOMPARE(ReadTestCallNumber(dir.path()), std::optional<QString>("0441123"));
    }

    void writeFailsCleanly()
    {
        QTemporaryDir dir;
        QString error;
        QVERIFY(!WriteTestCallNumber("1", &error, dir.filePath("missing/dir")));
        QVERIFY(!error.isEmpty());
    }

    // The start writes the number into the current directory before it sends.
    void prepareWritesNumberInCurrentDirectory()
    {
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });

        QCOMPARE(PrepareCommand({"corvane", "/t", "0441123"}), InstanceCommand::TestCall);
        QCOMPARE(ReadTestCallNumber(), std::optional<QString>("0441123"));

        // Nothing written for anything but a test call with a number.
        QVERIFY(QFile::remove(dir.filePath("testcallnum")));
        QCOMPARE(PrepareCommand({"corvane", "/t"}), InstanceCommand::None);
        QCOMPARE(PrepareCommand({"corvane", "/c"}), InstanceCommand::Calls);
        QVERIFY(!QFile::exists(dir.filePath("testcallnum")));
    }

    void unwritableNumberSendsNothing()
    {
        QTemporaryDir dir;
        // A directory where the file should be: the write must fail, even as root.
        QVERIFY(QDir(dir.path()).mkdir("testcallnum"));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
        QString error;
        QCOMPARE(PrepareCommand({"corvane", "/test", "0441123"}, &error), InstanceCommand::None);
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestInstanceCommand)
#include "tst_instancecommand.moc"
