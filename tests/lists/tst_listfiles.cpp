#include "lists/ListFiles.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "platform/AtomicFile.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray Header = "196608 # DO NOT EDIT / NICHT VERAENDERN/LOESCHEN!!\r\n";
const QByteArray CallsCaption = "Date-Time;Date;Time;Phone number;Nickname;Town;Target;State;\r\n";
const QByteArray NicksCaption = "Nickname;Phone number;Soundfile;Action;\r\n";
const QByteArray MsnCaption = "MSN;Nickname;Soundfile;Action;\r\n";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Prompts that can act between the questions (repair a file before Retry).
class ActingPrompts : public ScriptedPrompts
{
public:
    std::function<void()> beforeAnswer;
    Answer askFileError(const QString &text) override
    {
        if (beforeAnswer) beforeAnswer();
        return ScriptedPrompts::askFileError(text);
    }
};

int modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class TestListFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void examplesRoundTripByteForByte();
    void valuesCannotBreakTheLayout();
    void callsAreWrittenInKeyOrderAndKeepTheUserOrder();
    void olderFormatsLoad();
    void commaDecimalMarkIsRepaired();
    void windows1252FilesKeepTheirUmlauts();
    void invalidCallsFileAnswers();
    void invalidNickAndMsnFiles();
    void emptyLines();
    void clearCallsMovesOldCallsToTheArchive();
    void failedSaveAnswers();
    void backupFailureIsReportedAndTheSaveGoesOn();
    void damagedFileNeverBecomesTheBackup();
    void longFilesAreReadInTwoHalves();
    void startupWithoutFilesAndShutdown();
    void msnSectionMovesIntoTheMsnFile();
    void everyFileIsPrivate();
    void linksAtListNamesAreNeitherReadNorWrittenThrough();
    void aSharedDirectoryIsToldOnce();

private:
    TLists &makeLists(Language language = Language::English);
    QString path(const QString &name) const { return FDir->path() + u'/' + name; }

    QScopedPointer<QTemporaryDir> FDir;
    QScopedPointer<SettingsStore> FSettings;
    ActingPrompts FPrompts;
    QScopedPointer<TLists> FLists;
};

void TestListFiles::init()
{
    FDir.reset(new QTemporaryDir);
    FSettings.reset(new SettingsStore(path("corvane.ini")));
    FSettings->settings.dateFormat = "dd.MM.yyyy";
    FSettings->settings.timeFormat = "hh:mm:ss";
    FPrompts = ActingPrompts();
}

void TestListFiles::cleanup()
{
    AtomicFile::setFaultHook(nullptr);
    FLists.reset();
    FSettings.reset();
}

TLists &TestListFiles::makeLists(Language language)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    FLists.reset(new TLists(*FSettings, FPrompts, FDir->path(), german));
    FLists->SetLanguage(language);
    FLists->files().fileFormats = {german, "dd.MM.yyyy", "HH:mm:ss"};
    FLists->now = [] { return QDateTime(QDate(2025, 12, 20), QTime(12, 0)); };
    return *FLists;
}

void TestListFiles::examplesRoundTripByteForByte()
{
    const QByteArray nicks =
        Header + NicksCaption + "Anna;0301234567;C:\\Sounds\\anna.wav;log|popup|;\r\n";
    const QByteArray calls =
        Header + CallsCaption +
        "46000.75;09.12.2025;18:00:00;0301234567;Anna;Berlin;Office;answered;\r\n";
    const QByteArray msn =
        Header + MsnCaption + "1;85606;Office;;log|popup|;\r\n0;85607;Fax;/s/f.wav;;\r\n";
    writeFile(path("Nicks"), nicks);
    writeFile(path("Calls"), calls);
    writeFile(path("MSN"), msn);

    TLists &lists = makeLists();
    QVERIFY(lists.LoadAtStartup());
    QCOMPARE(lists.calls().count(), 1);
    const CallRow &call = lists.calls().row(0);
    QCOMPARE(call.dateTime, QString("46000.75"));
    QCOMPARE(lists.calls().text(0, CallRow::Date), QString("09.12.2025")); // from the key
    QCOMPARE(call.number, QString("0301234567"));
    QCOMPARE(call.status, QString("answered"));
    QCOMPARE(lists.nicks().row(0),
             (NickRow{"Anna", "0301234567", "C:\\Sounds\\anna.wav", "log|popup|"}));
    QCOMPARE(lists.msns().count(), 2);
    QVERIFY(lists.msns().row(0).checked);
    QVERIFY(!lists.msns().row(1).checked);
    QVERIFY(FPrompts.fileErrors.isEmpty());

    QVERIFY(lists.SaveList(ListKind::Nicks));
    QVERIFY(lists.SaveList(ListKind::Calls));
    QVERIFY(lists.SaveList(ListKind::Msn));
    QCOMPARE(readFile(path("Nicks")), nicks);
    QCOMPARE(readFile(path("Calls")), calls);
    QCOMPARE(readFile(path("MSN")), msn);
    // Each save kept the file as it was before.
    QCOMPARE(readFile(path("Calls.bak")), calls);

    // German captions after a language switch.
    lists.SetLanguage(Language::German);
    QVERIFY(lists.SaveList(ListKind::Calls));
    QVERIFY(readFile(path("Calls"))
                .contains("\r\nDatum-Zeit;Datum;Zeit;Rufnummer;Spitzname;Stadt;Ziel;Status;\r\n"));
    QVERIFY(readFile(path("Calls")).contains(";angenommen;\r\n"));
}

void TestListFiles::valuesCannotBreakTheLayout()
{
    TLists &lists = makeLists();
    CallRow row;
    row.dateTime = "46000.5";
    row.number = "0301";
    row.nickname = QString::fromUtf8("Jürgen; der Ältere");
    row.town = "Town;with;semicolons";
    row.target = "Office";
    row.status = "cause\r\ntext";
    lists.calls().setRows({row});
    lists.nicks().setRows({{QString::fromUtf8("Zoë 😀"), "0301", "", "log|"}});
    QVERIFY(lists.SaveList(ListKind::Calls));
    QVERIFY(lists.SaveList(ListKind::Nicks));

    TLists &again = makeLists();
    QVERIFY(again.LoadList(ListKind::Calls));
    QVERIFY(again.LoadList(ListKind::Nicks));
    QCOMPARE(again.calls().count(), 1);
    QCOMPARE(again.calls().row(0).nickname, QString::fromUtf8("Jürgen, der Ältere"));
    QCOMPARE(again.calls().row(0).town, QString("Town,with,semicolons"));
    QCOMPARE(again.calls().row(0).status, QString("cause  text"));
    QCOMPARE(again.calls().row(0).target, QString("Office"));
    QCOMPARE(again.nicks().row(0).nickname, QString::fromUtf8("Zoë 😀"));
}

void TestListFiles::callsAreWrittenInKeyOrderAndKeepTheUserOrder()
{
    TLists &lists = makeLists();
    CallRow a, b, c;
    a.dateTime = "46000.1";
    a.number = "A";
    b.dateTime = "46000.3";
    b.number = "B";
    c.dateTime = "46000.2";
    c.number = "C";
    lists.calls().setRows({a, b, c});
    FSettings->listViews.callsSort = 1; // newest first on screen
    QVERIFY(lists.SaveList(ListKind::Calls));
    const QByteArray written = readFile(path("Calls"));
    QVERIFY(written.indexOf(";A;") < written.indexOf(";C;"));
    QVERIFY(written.indexOf(";C;") < written.indexOf(";B;"));
    QCOMPARE(lists.calls().row(0).number, QString("B"));
    QCOMPARE(lists.calls().row(2).number, QString("A"));
}

void TestListFiles::olderFormatsLoad()
{
    // Version 2.5 (131077): BEL separators, key and five fields, no stored date or time.
    writeFile(path("Calls"), "131077 # DO NOT EDIT / NICHT VERAENDERN/LOESCHEN!!\r\ncaptions\r\n"
                             "46000.75\a0301\aAnna\aBerlin\aOffice\aanswered\a\r\n");
    TLists &lists = makeLists();
    QVERIFY(lists.LoadList(ListKind::Calls));
    QCOMPARE(lists.calls().row(0).number, QString("0301"));
    QCOMPARE(lists.calls().row(0).status, QString("answered"));
    QCOMPARE(lists.calls().text(0, CallRow::Time), QString("18:00:00"));

    // Without header: a caption line, then rows of five BELs.
    writeFile(path("Calls"), "Datum\aZeit\r\n46000.5\a0301\a \a \aOffice\a \r\n"
                             "46001.5\a0302\aBert\a \aOffice\abusy\r\n");
    QVERIFY(lists.LoadList(ListKind::Calls));
    QCOMPARE(lists.calls().count(), 2);
    QCOMPARE(lists.calls().row(1).status, QString("busy")); // the unterminated last field
    QVERIFY(FPrompts.fileErrors.isEmpty());

    // A line with six BELs is from a version too old to read.
    writeFile(path("Calls"), "x\r\n46000.5\a0301\a \a \aOffice\a \a\a\r\n");
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Abort};
    QVERIFY(!lists.LoadList(ListKind::Calls));
    QCOMPARE(FPrompts.fileErrors.last(),
             QString("Incoming calls file is invalid. Click Ignore to create a backup of it and "
                     "continue with empty call list"));

    // Old phone books without header get the store and popup flags.
    writeFile(path("Nicks"), "caption\r\nAnna\a0301\a\a\a\r\nBert\a0302\ax.wav\aold\a\r\n");
    QVERIFY(lists.LoadList(ListKind::Nicks));
    QCOMPARE(lists.nicks().count(), 2);
    for (const NickRow &row : lists.nicks().rows())
        QVERIFY(HasStoreFlag(row.action) && HasPopupFlag(row.action));

    // Version 131078 and later: semicolons.
    writeFile(
        path("MSN"),
        "131078 # DO NOT EDIT / NICHT VERAENDERN/LOESCHEN!!\r\nc\r\n1;85606;Office;;log|;\r\n");
    QVERIFY(lists.LoadList(ListKind::Msn));
    QCOMPARE(lists.msns().row(0).msn, QString("85606"));
}

void TestListFiles::commaDecimalMarkIsRepaired()
{
    writeFile(path("Calls"),
              Header + CallsCaption +
                  "46000,75;09.12.2025;18:00:00;0301;Anna;Berlin;Office;answered;\r\n");
    TLists &lists = makeLists();
    QVERIFY(lists.LoadList(ListKind::Calls));
    QCOMPARE(lists.calls().row(0).dateTime, QString("46000.75"));
    QVERIFY(lists.WaitForSaves()); // rewritten in the background
    QVERIFY(readFile(path("Calls")).contains("\r\n46000.75;09.12.2025;"));
}

void TestListFiles::windows1252FilesKeepTheirUmlauts()
{
    writeFile(path("Nicks"), Header + "Spitzname;Rufnummer;Sounddatei;Aktion;\r\n"
                                      "J\xfcrgen;0301;;speichern|;\r\n");
    TLists &lists = makeLists();
    QVERIFY(lists.LoadList(ListKind::Nicks));
    QCOMPARE(lists.nicks().row(0).nickname, QString::fromUtf8("Jürgen"));
    QVERIFY(lists.SaveList(ListKind::Nicks));
    QVERIFY(readFile(path("Nicks")).contains("J\xc3\xbcrgen;0301;;speichern|;\r\n"));
}

void TestListFiles::invalidCallsFileAnswers()
{
    const QByteArray damaged = Header + CallsCaption +
                               "46000.5;d;t;0301;Anna;Berlin;Office;answered;\r\n"
                               "garbage;d;t;0302;Bert;;Office;busy;\r\n";
    writeFile(path("Calls"), damaged);
    TLists &lists = makeLists();

    // Abort: the load fails and nothing is written.
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Abort};
    QVERIFY(!lists.LoadList(ListKind::Calls));
    QCOMPARE(readFile(path("Calls")), damaged);
    QCOMPARE(QDir(FDir->path()).entryList({"Calls.*"}, QDir::Files), QStringList());

    // Retry reads the file again: repaired in the meantime, it loads.
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Retry};
    FPrompts.beforeAnswer = [this] {
        writeFile(path("Calls"), Header + CallsCaption + "46000.5;d;t;0301;Anna;;Office;;\r\n");
    };
    QVERIFY(lists.LoadList(ListKind::Calls));
    QCOMPARE(lists.calls().count(), 1);
    FPrompts.beforeAnswer = nullptr;

    // Ignore keeps a dated copy and rewrites the file with the rows read.
    writeFile(path("Calls"), damaged);
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Ignore};
    QVERIFY(lists.LoadList(ListKind::Calls));
    QCOMPARE(readFile(path("Calls.20.12.2025_12.00.00")), damaged);
    QCOMPARE(lists.calls().count(), 1);
    QVERIFY(lists.WaitForSaves());
    QCOMPARE(readFile(path("Calls")),
             Header + CallsCaption +
                 "46000.5;09.12.2025;12:00:00;0301;Anna;Berlin;Office;answered;\r\n");

    // An empty file has no first line: invalid; Ignore leaves header and captions.
    writeFile(path("Calls"), "");
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Ignore};
    QVERIFY(lists.LoadList(ListKind::Calls));
    QVERIFY(lists.WaitForSaves());
    QCOMPARE(readFile(path("Calls")), Header + CallsCaption);
    // A second dated copy in the same second does not replace the first.
    QCOMPARE(readFile(path("Calls.20.12.2025_12.00.00")), damaged);
    QCOMPARE(readFile(path("Calls.20.12.2025_12.00.00_2")), QByteArray());
    QVERIFY(QFile::exists(path("Calls.20.12.2025_12.00.00_2")));

    // Something that cannot be read as a file is invalid, too.
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Abort};
    QVERIFY(QFile::remove(path("Calls")));
    QVERIFY(QDir().mkdir(path("Calls"))); // exists, but cannot be read as a file
    QVERIFY(!lists.LoadList(ListKind::Calls));
    QVERIFY(FPrompts.fileErrors.last().startsWith("Incoming calls file is invalid"));
}

void TestListFiles::invalidNickAndMsnFiles()
{
    writeFile(path("Nicks"), "abc # DO NOT EDIT / NICHT VERAENDERN/LOESCHEN!!\r\n");
    writeFile(path("MSN"), "");
    TLists &lists = makeLists(Language::German);
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Abort, ListPrompts::Answer::Ignore};
    QVERIFY(!lists.LoadList(ListKind::Nicks));
    const QString message = FPrompts.fileErrors.last();
    QVERIFY2(
        message.startsWith(QString::fromUtf8("Spitznamendatei nicht gefunden oder ungültig: "
                                             "'abc' is not a valid integer value (Errorcode ")),
        qPrintable(message));
    QVERIFY(message.endsWith(u')'));
    QVERIFY(lists.LoadList(ListKind::Msn));
    QVERIFY(FPrompts.fileErrors.last().startsWith(
        QString::fromUtf8("MSN-Datei nicht gefunden oder ungültig: ")));
    QVERIFY(QFile::exists(path("MSN.20.12.2025_12.00.00")));
    QCOMPARE(lists.msns().count(), 0);
}

void TestListFiles::emptyLines()
{
    // In the calls file every line counts: an empty one makes the file invalid.
    writeFile(path("Calls"),
              Header + CallsCaption + "46000.5;d;t;0301;;;;;\r\n\r\n46000.6;d;t;0302;;;;;\r\n");
    writeFile(path("Nicks"), Header + NicksCaption + "\r\nAnna;0301;;;\r\n\r\n");
    TLists &lists = makeLists();
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Abort};
    QVERIFY(!lists.LoadList(ListKind::Calls));
    QVERIFY(lists.LoadList(ListKind::Nicks));
    QCOMPARE(lists.nicks().count(), 1);
    QCOMPARE(FPrompts.fileErrors.size(), 1);
}

void TestListFiles::clearCallsMovesOldCallsToTheArchive()
{
    // Now is 46011.5 (20.12.2025 12:00); ten days ago is 46001.5.
    const QByteArray exactlyTen = "46001.5;d;t;0301;;;;;";
    const QByteArray older = "45990.1;d;t;0300;;;;;";
    const QByteArray almostTen = "46001.6;d;t;0302;;;;;";
    writeFile(path("Calls"),
              Header + CallsCaption + older + "\r\n" + exactlyTen + "\r\n" + almostTen + "\r\n");
    writeFile(path("Calls.old"), "archived before\r\n");
    FSettings->settings.clearCalls = true;
    FSettings->settings.clearCallDays = 10;
    TLists &lists = makeLists();
    QVERIFY(lists.LoadList(ListKind::Calls));
    QCOMPARE(lists.calls().count(), 1);
    QCOMPARE(lists.calls().row(0).number, QString("0302"));
    // The last one read comes first, the older archive follows.
    QCOMPARE(readFile(path("Calls.old")), exactlyTen + "\r\n" + older + "\r\narchived before\r\n");
    QVERIFY(lists.WaitForSaves());
    const QByteArray rewritten = readFile(path("Calls"));
    QVERIFY(!rewritten.contains(";0301;") && rewritten.contains(";0302;"));

    // Nothing to purge: nothing is written.
    QVERIFY(lists.LoadList(ListKind::Calls));
    QCOMPARE(readFile(path("Calls")), rewritten);

    // An archive that cannot be written keeps the calls in the list.
    writeFile(path("Calls"), Header + CallsCaption + older + "\r\n");
    QVERIFY(QFile::remove(path("Calls.old")));
    QVERIFY(QDir().mkdir(path("Calls.old")));
    QVERIFY(lists.LoadList(ListKind::Calls));
    QCOMPARE(lists.calls().count(), 1);
    QCOMPARE(readFile(path("Calls")), Header + CallsCaption + older + "\r\n");
    QCOMPARE(FPrompts.messages.size(), 1);
}

void TestListFiles::failedSaveAnswers()
{
    TLists &lists = makeLists();
    lists.nicks().setRows({{"Anna", "0301", "", "log|"}});
    QVERIFY(lists.SaveList(ListKind::Nicks));
    const QByteArray first = readFile(path("Nicks"));
    lists.nicks().appendRow({"Bert", "0302", "", "log|"});
    QVERIFY(lists.SaveList(ListKind::Nicks));
    const QByteArray second = readFile(path("Nicks"));
    QCOMPARE(readFile(path("Nicks.bak")), first);
    lists.nicks().appendRow({"Carl", "0303", "", "log|"});

    // Retry: the second attempt goes through.
    int failures = 1;
    AtomicFile::setFaultHook([&failures](AtomicFile::Stage stage) {
        return stage != AtomicFile::Stage::Sync || failures-- <= 0;
    });
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Retry};
    QVERIFY(lists.SaveList(ListKind::Nicks));
    QVERIFY(FPrompts.fileErrors.last().startsWith("Error saving nickname file: "));
    QVERIFY(FPrompts.fileErrors.last().contains(" (Errorcode "));
    QVERIFY(readFile(path("Nicks")).contains("Carl"));
    QCOMPARE(readFile(path("Nicks.bak")), second);

    // Abort, restore the backup: the file is the backup; the list stays as it is.
    const QByteArray third = readFile(path("Nicks"));
    failures = 1;
    AtomicFile::setFaultHook([&failures](AtomicFile::Stage stage) {
        return stage != AtomicFile::Stage::Write || failures-- <= 0;
    });
    lists.nicks().appendRow({"Dora", "0304", "", "log|"});
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Abort};
    FPrompts.restoreAnswers = {true};
    const int messages = FPrompts.messages.size();
    QVERIFY(!lists.SaveList(ListKind::Nicks));
    AtomicFile::setFaultHook(nullptr);
    QCOMPARE(FPrompts.restoreQuestions.last(),
             QString("Should it be tried to restore the old file?"));
    QCOMPARE(FPrompts.messages.size(), messages);
    QCOMPARE(readFile(path("Nicks")), third); // the backup made by this save
    QCOMPARE(lists.nicks().count(), 4);

    // Ignore without restoring: true, the file unchanged.
    const QByteArray before = readFile(path("Nicks"));
    AtomicFile::setFaultHook(
        [](AtomicFile::Stage stage) { return stage != AtomicFile::Stage::Rename; });
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Ignore};
    FPrompts.restoreAnswers = {false};
    QVERIFY(lists.SaveList(ListKind::Nicks));
    AtomicFile::setFaultHook(nullptr);
    QCOMPARE(readFile(path("Nicks")), before);

    // A failed restore is reported with the backup message.
    AtomicFile::setFaultHook(
        [](AtomicFile::Stage stage) { return stage != AtomicFile::Stage::Open; });
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Abort};
    FPrompts.restoreAnswers = {true};
    QVERIFY(!lists.SaveList(ListKind::Msn));
    AtomicFile::setFaultHook(nullptr);
    QVERIFY(FPrompts.fileErrors.last().startsWith("Error saving MSN file: "));
    QVERIFY(FPrompts.messages.last().startsWith(
        "Error creating backup of file (CALLS.BAK, NICKS.BAK or MSN.BAK)."));
}

void TestListFiles::backupFailureIsReportedAndTheSaveGoesOn()
{
    TLists &lists = makeLists();
    QVERIFY(lists.SaveList(ListKind::Nicks));
    QVERIFY(lists.SaveList(ListKind::Msn));
    QVERIFY(QDir().mkpath(path("Nicks.bak/x")));
    QVERIFY(QDir().mkpath(path("MSN.bak/x")));
    lists.nicks().setRows({{"Anna", "0301", "", ""}});
    QVERIFY(lists.SaveList(ListKind::Nicks));
    QVERIFY(
        FPrompts.messages.last().startsWith("Error creating backup of file (CALLS.BAK, NICKS.BAK "
                                            "or MSN.BAK). Check available disk space.: "));
    QVERIFY(FPrompts.messages.last().endsWith(" (Errorcode 0)"));
    QVERIFY(readFile(path("Nicks")).contains("Anna"));
    QVERIFY(lists.SaveList(ListKind::Msn));
    QVERIFY(!FPrompts.messages.last().endsWith(")"));
}

void TestListFiles::damagedFileNeverBecomesTheBackup()
{
    const QByteArray good = Header + NicksCaption + "Anna;0301;;log|;\r\n";
    writeFile(path("Nicks.bak"), good);
    writeFile(path("Nicks"),
              "x # DO NOT EDIT / NICHT VERAENDERN/LOESCHEN!!\r\nc\r\nBert;0302;;;\r\n");
    TLists &lists = makeLists();
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Ignore};
    QVERIFY(lists.LoadList(ListKind::Nicks));
    lists.nicks().appendRow({"Carl", "0303", "", ""});
    QVERIFY(lists.SaveList(ListKind::Nicks));
    QCOMPARE(readFile(path("Nicks.bak")), good);
    // From now on the file is good again and is backed up as usual.
    QVERIFY(lists.SaveList(ListKind::Nicks));
    QVERIFY(readFile(path("Nicks.bak")).contains("Carl"));
}

void TestListFiles::longFilesAreReadInTwoHalves()
{
    // Over a megabyte: two threads split the lines near the middle.
    QByteArray file = Header + CallsCaption;
    QStringList numbers;
    for (int i = 0; i < 30000; ++i) {
        const QByteArray number = QByteArray::number(300000 + i);
        file += QByteArray::number(45000 + i / 100.0, 'f', 2) + ";d;t;" + number +
                ";Nick;M\xc3\xbcnchen;Office;answered;" + (i % 2 ? "\n" : "\r\n");
        numbers.append(QString::fromLatin1(number));
    }
    QVERIFY(file.size() > (1 << 20));
    ListFormat::CallsOptions options;
    options.clearCalls = true;
    options.clearCallDays = 10;
    options.now = 45020.0; // the first thousand and one calls go to the archive
    ListFormat::CallsResult result = ListFormat::parseCalls(file, options);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.rows.size() + result.purged.size(), 30000);
    QCOMPARE(result.purged.size(), 1001);
    QVERIFY(result.keysAscending);
    for (int i = 0; i < result.rows.size(); ++i)
        QCOMPARE(result.rows[i].number, numbers[i + 1001]);
    QCOMPARE(result.rows.last().town, QString::fromUtf8("München"));
    QVERIFY(result.purged.first().startsWith("45010.00;"));

    // Written by two threads and read again: the same rows, in the same order.
    std::vector<int> order(size_t(result.rows.size()));
    std::iota(order.begin(), order.end(), 0);
    const QByteArray written = ListFormat::formatCalls(
        result.rows, order, Language::English, ListFormat::FileFormats::fromLocale(QLocale::c()));
    QCOMPARE(written.count("\r\n"), result.rows.size() + 2);
    const ListFormat::CallsResult again = ListFormat::parseCalls(written, {});
    QVERIFY(again.ok);
    QVERIFY(again.rows == result.rows);

    // A bad key in the second half: the rows before it are kept, in order.
    const qsizetype bad = file.lastIndexOf("45250.00;");
    QVERIFY(bad > file.size() / 2);
    file.replace(bad, 8, "45x50.00");
    options.clearCalls = false;
    result = ListFormat::parseCalls(file, options);
    QVERIFY(!result.ok);
    QCOMPARE(result.error, QString("'45x50.00;' is not a valid floating point value").remove(u';'));
    QCOMPARE(result.rows.size(), 25000);
    QCOMPARE(result.rows.last().number, numbers[24999]);
}

void TestListFiles::startupWithoutFilesAndShutdown()
{
    TLists &lists = makeLists();
    QVERIFY(lists.LoadAtStartup());
    QCOMPARE(lists.calls().count() + lists.nicks().count() + lists.msns().count(), 0);
    QCOMPARE(QDir(FDir->path()).entryList(QDir::Files), QStringList());
    lists.SaveMissingLists();
    QCOMPARE(readFile(path("Calls")), Header + CallsCaption);
    QCOMPARE(readFile(path("Nicks")), Header + NicksCaption);
    QCOMPARE(readFile(path("MSN")), Header + MsnCaption);
    // Existing files are not written again.
    lists.SaveMissingLists();
    QVERIFY(!QFile::exists(path("Calls.bak")));
}

void TestListFiles::msnSectionMovesIntoTheMsnFile()
{
    writeFile(path("corvane.ini"), "[MSN]\n85606=Office\n85607=Fax;0;/snd/fax.wav\n");
    writeFile(path("MSN"), Header + MsnCaption + "1;99999;Stale;;;\r\n");
    FSettings->readAll();
    TLists &lists = makeLists(Language::German);
    QVERIFY(lists.LoadAtStartup());
    QCOMPARE(lists.msns().count(), 2);
    QCOMPARE(lists.msns().row(1),
             (MsnRow{false, "85607", "Fax", "/snd/fax.wav", "speichern|popup"}));
    QCOMPARE(readFile(path("MSN")),
             Header + "MSN;Spitzname;Sounddatei;Aktion;\r\n1;85606;Office;;speichern|popup;\r\n"
                      "0;85607;Fax;/snd/fax.wav;speichern|popup;\r\n");
    QVERIFY(FSettings->writeAll());
    QVERIFY(!FSettings->hasMsnSection());
    QVERIFY(lists.LoadAtStartup());
    QCOMPARE(lists.msns().count(), 2);
}

void TestListFiles::everyFileIsPrivate()
{
    const mode_t oldUmask = ::umask(022);
    const auto restore = qScopeGuard([oldUmask] { ::umask(oldUmask); });
    // Written by an earlier version, readable to every user of the machine; the calls file
    // is damaged and holds calls for the archive.
    const QByteArray calls = Header + CallsCaption + "45990.1;d;t;0300;;;;;\r\n" +
                             "garbage;d;t;0302;Bert;;Office;busy;\r\n" +
                             "46011.4;d;t;0301;Anna;Berlin;Office;answered;\r\n";
    writeFile(path("Calls"), calls);
    writeFile(path("Calls.old"), "archived before\r\n");
    writeFile(path("Nicks"), Header + NicksCaption + "Anna;0301;;log|popup|;\r\n");
    writeFile(path("MSN"), Header + MsnCaption + "1;85606;Office;;log|popup|;\r\n");
    writeFile(path("corvane.ini"), "[Settings]\nClearCalls=1\nClearCallDays=10\n");
    for (const char *name : {"Calls", "Calls.old", "Nicks", "MSN", "corvane.ini"})
        QVERIFY(QFile::setPermissions(path(name), QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ReadGroup | QFile::ReadOther));
    FSettings->readAll();
    TLists &lists = makeLists();

    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Ignore};
    QVERIFY(lists.LoadAtStartup());
    QVERIFY(QFile::exists(path("Calls.20.12.2025_12.00.00")));
    lists.nicks().setRows({NickRow{"Anna", "0301", "", "log|popup|"}});
    lists.SaveList(ListKind::Nicks);
    lists.SaveList(ListKind::Msn);
    lists.SaveList(ListKind::Calls);
    QVERIFY(FSettings->writeAll());

    const QStringList files = QDir(FDir->path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files, QStringList({"Calls", "Calls.20.12.2025_12.00.00", "Calls.bak", "Calls.old",
                                 "corvane.ini", "MSN", "MSN.bak", "Nicks", "Nicks.bak"}));
    for (const QString &name : files)
        QVERIFY2(modeOf(path(name)) == 0600,
                 qPrintable(name + QString(" has mode %1").arg(modeOf(path(name)), 0, 8)));

    // A user who made a file stricter keeps it so.
    QVERIFY(QFile::setPermissions(path("Nicks"), QFile::ReadOwner));
    lists.SaveList(ListKind::Nicks);
    QCOMPARE(modeOf(path("Nicks")), 0400);
}

void TestListFiles::linksAtListNamesAreNeitherReadNorWrittenThrough()
{
    // Another user planted links at the names in a shared data directory: one at a file of
    // the user's, one at a list of their own making, one at nothing yet.
    QTemporaryDir outside;
    const QString notes = outside.path() + "/notes";
    const QString forged = outside.path() + "/forged";
    writeFile(notes, "the user's own notes");
    writeFile(forged, Header + NicksCaption + "Bank;0301;;log|popup|;\r\n");
    QVERIFY(QFile::link(notes, path("Calls")));
    QVERIFY(QFile::link(forged, path("Nicks")));
    QVERIFY(QFile::link(outside.path() + "/later", path("MSN")));
    TLists &lists = makeLists();

    // Abort ends the start, as for any list that cannot be read.
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Abort};
    QVERIFY(!lists.LoadAtStartup());
    QCOMPARE(FPrompts.fileErrors.size(), 1);
    QVERIFY2(FPrompts.fileErrors[0].startsWith(path("Calls") + " is a symbolic link."),
             qPrintable(FPrompts.fileErrors[0]));

    // Retry looks again: the user put a real file in place of the link meanwhile.
    FPrompts.fileErrorAnswers = {ListPrompts::Answer::Retry, ListPrompts::Answer::Ignore,
                                 ListPrompts::Answer::Ignore};
    FPrompts.beforeAnswer = [this] {
        if (!QFileInfo(path("Calls")).isSymLink()) return;
        QVERIFY(QFile::remove(path("Calls")));
        writeFile(path("Calls"), Header + CallsCaption + "46000.5;d;t;0301;Anna;;Office;;\r\n");
    };
    // Ignore goes on without the lists behind the links; no copy of what they point to.
    QVERIFY(lists.LoadAtStartup());
    QCOMPARE(FPrompts.fileErrors.size(), 4);
    QVERIFY(FPrompts.fileErrors[2].startsWith(path("Nicks") + " is a symbolic link."));
    QVERIFY(FPrompts.fileErrors[3].startsWith(path("MSN") + " is a symbolic link."));
    QCOMPARE(lists.calls().count(), 1);
    QCOMPARE(lists.nicks().count(), 0);
    QCOMPARE(lists.msns().count(), 0);

    // Saves replace the links; what they pointed to stays as it was, and is not the backup.
    lists.nicks().setRows({NickRow{"Anna", "0301", "", "log|popup|"}});
    lists.SaveList(ListKind::Nicks);
    lists.SaveList(ListKind::Msn);
    QVERIFY(lists.WaitForSaves());
    QVERIFY(FPrompts.messages.isEmpty());
    for (const char *name : {"Nicks", "MSN"})
        QVERIFY(!QFileInfo(path(name)).isSymLink());
    QVERIFY(readFile(path("Nicks")).contains("Anna;0301"));
    QCOMPARE(readFile(forged), Header + NicksCaption + "Bank;0301;;log|popup|;\r\n");
    QVERIFY(!QFileInfo::exists(outside.path() + "/later"));
    QStringList files = QDir(FDir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QCOMPARE(files, QStringList({"Calls", "MSN", "Nicks"}));
    QCOMPARE(QDir(outside.path()).entryList(QDir::Files), QStringList({"forged", "notes"}));
    QCOMPARE(readFile(notes), QByteArray("the user's own notes"));
}

void TestListFiles::aSharedDirectoryIsToldOnce()
{
    const auto unix = [](const QString &) { return true; };
    const auto fat = [](const QString &) { return false; };
    QVERIFY(QFile::setPermissions(FDir->path(), QFile::Permissions(0x7777)));
    TLists &lists = makeLists();
    lists.WarnIfDirectoryShared(::getuid(), unix);
    QCOMPARE(FPrompts.messages.size(), 1);
    QCOMPARE(FPrompts.messages[0],
             "Other users may write to the data directory " + FDir->path() +
                 ": they can replace Corvane's lists and settings or put files beside them. Take "
                 "their write permission away (chmod go-w) or use a directory of your own "
                 "(CORVANE_HOME)");
    // Loading and saving say nothing more about it.
    QVERIFY(lists.LoadAtStartup());
    lists.SaveList(ListKind::Nicks);
    QVERIFY(lists.WaitForSaves());
    QCOMPARE(FPrompts.messages.size(), 1);

    // A stick with FAT or NTFS: the modes say nothing, so nothing is said.
    lists.WarnIfDirectoryShared(::getuid(), fat);
    lists.WarnIfDirectoryShared(::getuid() + 1, fat);
    QCOMPARE(FPrompts.messages.size(), 1);

    // Private, but another user's (played by another uid); in the user's language.
    QVERIFY(QFile::setPermissions(FDir->path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    lists.WarnIfDirectoryShared(::getuid(), unix);
    QCOMPARE(FPrompts.messages.size(), 1);
    lists.SetLanguage(Language::German);
    lists.WarnIfDirectoryShared(::getuid() + 1, unix);
    QCOMPARE(FPrompts.messages.size(), 2);
    QVERIFY2(FPrompts.messages[1].startsWith(
                 QString::fromUtf8("Das Datenverzeichnis %1 gehört einem anderen Benutzer")
                     .arg(FDir->path())),
             qPrintable(FPrompts.messages[1]));
}

QTEST_GUILESS_MAIN(TestListFiles)
#include "tst_listfiles.moc"
