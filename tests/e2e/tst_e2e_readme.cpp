// The README's quick start as a new user follows it: the demo's phone book and settings, and
// each ring command the README and the demo script show, rung on the simulated line; the call
// list must hold what the demo promises. The README's pictures are taken on the way.
#include "tests/e2e/Desktop.h"

#include <QRegularExpression>
#include <QtTest>

using namespace e2e;

namespace {

// What a command's calls look like in the call list.
struct Outcome
{
    QStringList numbers;
    QString nickname; // " " when the phone book has none
    QString town;
    QString target = QStringLiteral("Office"); // the demo's name of 85606
};

// The outcome the demo's files promise for a calling number as the command gives it, by
// --from ("" for a call without number).
const QMap<QString, Outcome> &expectedOutcomes()
{
    static const QMap<QString, Outcome> outcomes = {
        {"441123456", {{"0441123456"}, "Anna Example", "Oldenburg"}},
        {"301234567", {{"0301234567"}, " ", "Berlin"}},
        {"441123", {{"0441123"}, " ", "Oldenburg"}},
        {"", {{"-not transmitted-"}, " ", " "}},
        // The burst calls no number of the demo's.
        {"0441100",
         {{"0441100", "0441101", "0441102", "0441103", "0441104"}, " ", "Oldenburg", ""}},
    };
    return outcomes;
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// "ring ..." and "burst ..." as the capisim tool takes them, from every `inline` span and
// indented code line of the README and every line of the demo script.
QStringList ringCommands()
{
    QStringList pieces;
    const QString readme = readText(QStringLiteral(README_FILE));
    static const QRegularExpression inlineCode(QStringLiteral("`([^`]+)`"));
    for (auto it = inlineCode.globalMatch(readme); it.hasNext();)
        pieces << it.next().captured(1);
    for (const QString &line : readme.split(u'\n'))
        if (line.startsWith(QLatin1String("    "))) pieces << line;
    pieces << readText(QStringLiteral(RUN_DEMO_FILE)).split(u'\n');

    static const QRegularExpression command(
        QStringLiteral("capisim\"? ((?:ring|burst)\\b[^#>\"]*)"));
    QStringList commands;
    for (const QString &piece : pieces) {
        const QRegularExpressionMatch match = command.match(piece.simplified());
        if (match.hasMatch()) commands << match.captured(1).trimmed();
    }
    commands.removeDuplicates();
    // Bursts last: the README's picture of the call list shows the single calls.
    std::stable_partition(commands.begin(), commands.end(),
                          [](const QString &c) { return c.startsWith(QLatin1String("ring")); });
    return commands;
}

QString option(const QString &command, const QString &name)
{
    const QStringList words = command.split(u' ');
    const qsizetype at = words.indexOf(QStringLiteral("--") + name);
    return at >= 0 ? words.value(at + 1) : QString();
}

// The call list's rows: number, nickname, town, target.
QList<QStringList> callRows(const Corvane &corvane)
{
    QList<QStringList> rows;
    const QStringList lines =
        corvane.readFile(QStringLiteral("Calls")).split(QStringLiteral("\r\n"));
    for (const QString &line : lines.mid(2)) {
        const QStringList fields = line.split(u';');
        if (fields.size() >= 8) rows << fields.mid(3, 4);
    }
    return rows;
}

} // namespace

class TestE2eReadme : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrayHost> FTray;
    QString FShots;

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "runs on an X server (xvfb-run)");
        FTray = std::make_unique<TrayHost>();
        QVERIFY(FTray->start());
        FShots = QStringLiteral(E2E_SCREENSHOTS);
        QDir().mkpath(FShots);
    }

    void cleanupTestCase() { FTray.reset(); }

    void ringCommandsGiveTheDemosResults()
    {
        const QStringList commands = ringCommands();
        // The quick start's, the simulator section's and the demo's own.
        QVERIFY2(commands.size() >= 5, qPrintable(commands.join(" | ")));

        Corvane corvane;
        for (const char *name : {"Nicks", "MSN", "corvane.ini"})
            QVERIFY(QFile::copy(QStringLiteral(DEMO_DIR "/") + name, corvane.file(name)));
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));

        bool popupTaken = false;
        bool listsTaken = false;
        for (const QString &command : commands) {
            if (command.startsWith(QLatin1String("burst")) && !listsTaken) {
                takeListsPicture(corvane);
                listsTaken = true;
            }
            const QString from = option(command, QStringLiteral("from"));
            QVERIFY2(expectedOutcomes().contains(from),
                     qPrintable("the README rings \"" + command +
                                "\": add the demo's outcome for it to this test"));
            const Outcome expected = expectedOutcomes().value(from);
            const qsizetype before = callRows(corvane).size();
            QVERIFY2(corvane.line(command), qPrintable(command));

            if (expected.nickname == QLatin1String("Anna Example") && !popupTaken) {
                const QString popup = waitForWindow(QStringLiteral("^Corvane - Anna Example$"));
                QVERIFY2(!popup.isEmpty(), "the popup names the phone book's caller");
                // While it rings, with the reject button of the demo's settings.
                QTest::qWait(700);
                QVERIFY(windowShot(popup, FShots + QStringLiteral("/readme-popup.png")));
                popupTaken = true;
            }
            // Ended at once: the status is written and the call list saved.
            QVERIFY(corvane.line(QStringLiteral("hangup")));
            QVERIFY2(waitFor([&] {
                         return callRows(corvane).size() == before + expected.numbers.size();
                     }),
                     qPrintable(command + ": " + corvane.readFile(QStringLiteral("Calls"))));
            QStringList numbers;
            for (const QStringList &row : callRows(corvane).mid(before)) {
                numbers << row.at(0);
                QCOMPARE(row.at(1), expected.nickname);
                QCOMPARE(row.at(2), expected.town);
                QCOMPARE(row.at(3), expected.target);
            }
            numbers.sort();
            QCOMPARE(numbers, expected.numbers);
        }
        QVERIFY(popupTaken && listsTaken);
        QVERIFY(corvane.stop());
    }

private:
    void takeListsPicture(Corvane &corvane)
    {
        QCOMPARE(corvane.secondStart({QStringLiteral("/c")}), 0);
        const QString lists = waitForWindow(QStringLiteral("^Lists - [0-9]+ Entries$"));
        QVERIFY2(!lists.isEmpty(), "the call list opens");
        QTest::qWait(500);
        QVERIFY(windowShot(lists, FShots + QStringLiteral("/readme-lists.png")));
        run(QStringLiteral("xdotool"),
            {QStringLiteral("windowactivate"), QStringLiteral("--sync"), lists});
        run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
        QVERIFY(waitFor([&] { return findWindow(QStringLiteral("^Lists - ")).isEmpty(); }));
    }
};

QTEST_MAIN(TestE2eReadme)
#include "tst_e2e_readme.moc"
