#include "lists/Calls.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "settings/SettingsStore.h"

#include <QCollator>
#include <QFile>
#include <QPersistentModelIndex>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>

namespace {

CallRow call(const QString &key, const QString &number, const QString &nickname = " ",
             const QString &status = " ")
{
    CallRow row;
    row.dateTime = key;
    row.number = number;
    row.nickname = nickname;
    row.status = status;
    return row;
}

QStringList column(const TCallList &list, int c)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts.append(list.text(i, c));
    return texts;
}

QStringList column(const TNickList &list, int c)
{
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts.append(list.text(i, c));
    return texts;
}

} // namespace

class TestLists : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void nicknameLookupsKeepTheFirstRowInListOrder();
    void flagQueries();
    void applyNicknameToCallsNamesMatchingCalls();
    void namingEveryMatchingCallWhateverTheSortColumn();
    void callSortKeys();
    void clickKeysToggleAndAreStored();
    void nickSortKeys();
    void collatorFastPathAgreesWithTheLocale();
    void sortKeysGiveTheCollatorOrder();
    void languageSwitchConvertsStoredWords();
    void modelFollowsChanges();
    void addCallFormatsTheMoment();

private:
    QScopedPointer<QTemporaryDir> FDir;
    QScopedPointer<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    QScopedPointer<TLists> FLists;
};

void TestLists::init()
{
    FDir.reset(new QTemporaryDir);
    FSettings.reset(new SettingsStore(FDir->path() + "/corvane.ini"));
    FPrompts = ScriptedPrompts();
    FLists.reset(
        new TLists(*FSettings, FPrompts, FDir->path(), QLocale(QLocale::German, QLocale::Germany)));
    FLists->SetLanguage(Language::English);
}

void TestLists::cleanup()
{
    FLists.reset();
    FSettings.reset();
}

void TestLists::nicknameLookupsKeepTheFirstRowInListOrder()
{
    TNickList &nicks = FLists->nicks();
    nicks.setRows({{"Anna", "0301234", "", "log|"},
                   {"Twin", "0301234", "", ""},
                   {"Star", "*", "", ""},
                   {"Long", "0301*", "", ""},
                   {"Short", "030*", "", ""},
                   {"Office", "12*", "", ""}});
    QCOMPARE(FLists->FindNickByNumber("0301234"), 0);
    QCOMPARE(FLists->FindNickByNumber("030123"), -1);
    QCOMPARE(FLists->FindNickByNumber("0301*"), 3); // exact texts, the star included
    QCOMPARE(FLists->FindNickByPrefix("1234"), 5);
    QCOMPARE(FLists->FindNickByPrefix("0301999"), 3); // first in list order, not shortest
    QCOMPARE(FLists->FindNickByPrefix("0309"), 4);
    QCOMPARE(FLists->FindNickByPrefix("999"), -1); // "*" alone never matches
    QCOMPARE(FLists->FindNickByPrefix(""), -1);
    QVERIFY(FLists->NickExists("Anna"));
    QVERIFY(!FLists->NickExists("anna"));

    // Every change is seen by the next look-up.
    nicks.removeRows(0, 1);
    QCOMPARE(FLists->FindNickByNumber("0301234"), 0);
    QCOMPARE(nicks.row(0).nickname, QString("Twin"));
    nicks.setText(2, NickRow::Number, "0309*");
    QCOMPARE(FLists->FindNickByPrefix("0301999"), 3);
    nicks.reorder({4, 3, 2, 1, 0});
    QCOMPARE(FLists->FindNickByPrefix("0301999"), 1);
    QCOMPARE(FLists->FindNickByPrefix("0309"), 1); // "030*" comes before "0309*" now
    nicks.appendRow({"New", "555", "", ""});
    QCOMPARE(FLists->FindNickByNumber("555"), 5);

    TMsnList &msns = FLists->msns();
    msns.setRows({{true, "85606", "Office", "", ""}, {false, "85606", "Dup", "", ""}});
    QCOMPARE(FLists->FindMsn("85606"), 0);
    QCOMPARE(FLists->FindMsn("8560"), -1);
}

void TestLists::flagQueries()
{
    FLists->nicks().setRows({{"Anna", "0301", "", "popup|"},
                             {"Spam", "0900*", "", "reject all|"},
                             {"Old", "0302", "", QString::fromUtf8("speichern|alle abweisen|")}});
    QVERIFY(!FLists->NickStoreFlag("0301"));
    QVERIFY(FLists->NickPopupFlag("0301"));
    // Covered by a prefix entry only: the flags default to set.
    QVERIFY(FLists->NickStoreFlag("0900123"));
    QVERIFY(FLists->NickPopupFlag("0900123"));
    QVERIFY(FLists->NickRejectAllFlag(1));
    QVERIFY(FLists->NickRejectAllFlag(2));
    QVERIFY(FLists->NickStoreFlag("0302"));
    QVERIFY(!FLists->NickRejectAllFlag(0));
    QVERIFY(!FLists->NickRejectAllFlag(-1));
    QVERIFY(!FLists->NickRejectAllFlag(3));

    FLists->msns().setRows({{true, "1", "A", "", "log|popup|reject not submmitted|"},
                            {false, "2", "B", "", "reject all|"}});
    QVERIFY(FLists->MsnStoreFlag(0) && FLists->MsnPopupFlag(0));
    QVERIFY(FLists->MsnRejectNotSubmittedFlag(0) && !FLists->MsnRejectAllFlag(0));
    QVERIFY(FLists->MsnRejectAllFlag(1) && !FLists->MsnStoreFlag(1));
    QVERIFY(!FLists->MsnIgnored(0));
    QVERIFY(FLists->MsnIgnored(1));
    QVERIFY(!FLists->MsnIgnored(-1));
}

void TestLists::applyNicknameToCallsNamesMatchingCalls()
{
    TCallList &calls = FLists->calls();
    calls.setRows({call("46000.1", "123"), call("46000.2", "1239"), call("46000.3", "124")});
    TCalls pending;
    pending.Add("12345", "", "10:00", "", "", "Office");

    QVERIFY(!FLists->ApplyNicknameToCalls("", "123*", &pending));
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(!QFile::exists(FLists->fileName(ListKind::Calls))); // nothing saved either
    QCOMPARE(column(calls, CallRow::Nickname), QStringList({" ", " ", " "}));

    // "*" alone names nothing and saves nothing.
    QVERIFY(!FLists->ApplyNicknameToCalls("Everyone", "*", &pending));
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(!QFile::exists(FLists->fileName(ListKind::Calls)));
    QCOMPARE(column(calls, CallRow::Nickname), QStringList({" ", " ", " "}));
    QCOMPARE(pending.Get(-1).value("NickName"), QString());

    // A number that holds the prefix in its middle is not named.
    QVERIFY(!FLists->ApplyNicknameToCalls("Middle", "23*", &pending));
    QCOMPARE(column(calls, CallRow::Nickname), QStringList({" ", " ", " "}));

    QVERIFY(FLists->ApplyNicknameToCalls("Anna", "123*", &pending));
    QCOMPARE(column(calls, CallRow::Nickname), QStringList({"Anna", "Anna", " "}));
    QCOMPARE(pending.Get(-1).value("NickName"), QString("Anna"));
    QVERIFY(FLists->WaitForSaves());
    QVERIFY(QFile::exists(FLists->fileName(ListKind::Calls)));

    // Without a star the number still names longer numbers that begin with it.
    QVERIFY(!FLists->ApplyNicknameToCalls("Bert", "124", &pending));
    QCOMPARE(calls.row(2).nickname, QString("Bert"));

    QVERIFY(FLists->SetCallStatus(1, "answered"));
    QVERIFY(!FLists->SetCallStatus(3, "answered"));
    QCOMPARE(calls.row(1).status, QString("answered"));
}

void TestLists::namingEveryMatchingCallWhateverTheSortColumn()
{
    // Sorted by the nickname, each renamed row moves to its place; none is skipped.
    TCallList &calls = FLists->calls();
    calls.setRows({call("46000.1", "123"), call("46000.2", "1230"), call("46000.3", "124"),
                   call("46000.4", "1231")});
    FLists->SortCalls(-4);
    QVERIFY(!FLists->ApplyNicknameToCalls("Anna", "123"));
    QCOMPARE(column(calls, CallRow::Nickname), QStringList({" ", "Anna", "Anna", "Anna"}));

    // A lookup's name goes to exactly its number, here too.
    FLists->NameCallsFromNumber("Zoe", "1230");
    FLists->NameCallsFromNumber("Bert", "12");
    QCOMPARE(column(calls, CallRow::Nickname), QStringList({" ", "Anna", "Anna", "Zoe"}));
    QCOMPARE(column(calls, CallRow::Number), QStringList({"124", "123", "1231", "1230"}));
    QVERIFY(FLists->WaitForSaves());
    TLists reloaded(*FSettings, FPrompts, FDir->path());
    reloaded.SetLanguage(Language::English);
    QVERIFY(reloaded.LoadList(ListKind::Calls));
    QStringList saved = column(reloaded.calls(), CallRow::Nickname);
    saved.sort();
    QCOMPARE(saved, QStringList({" ", "Anna", "Anna", "Zoe"}));
}

void TestLists::callSortKeys()
{
    TCallList &calls = FLists->calls();
    const QList<CallRow> rows = {call("46000.5", "0302", "Carl"), call("45999.25", "0301", "anna"),
                                 call("46000.5", "0300", "Bert"), call("46001", "0303", "Dora")};
    calls.setRows(rows);
    FLists->SortCalls(-1);
    // Equal keys keep their order.
    QCOMPARE(column(calls, CallRow::Number), QStringList({"0301", "0302", "0300", "0303"}));
    FLists->SortCalls(1);
    QCOMPARE(column(calls, CallRow::Number), QStringList({"0303", "0302", "0300", "0301"}));
    calls.setRows(rows);
    FLists->SortCalls(0); // 0 sorts descending by key
    QCOMPARE(column(calls, CallRow::Number), QStringList({"0303", "0302", "0300", "0301"}));
    FLists->SortCalls(-4); // nickname column, locale order
    QCOMPARE(column(calls, CallRow::Nickname), QStringList({"anna", "Bert", "Carl", "Dora"}));
    FLists->SortCalls(3);
    QCOMPARE(column(calls, CallRow::Number), QStringList({"0303", "0302", "0301", "0300"}));
    // Keys are compared as texts: "9999.5" comes after "46000.5".
    calls.setRows({call("9999.5", "a"), call("46000.5", "b")});
    FLists->SortCalls(-1);
    QCOMPARE(column(calls, CallRow::Number), QStringList({"b", "a"}));
    // A key beyond the columns leaves the order alone.
    FLists->SortCalls(12);
    QCOMPARE(column(calls, CallRow::Number), QStringList({"b", "a"}));
    QCOMPARE(FSettings->listViews.callsSort, 12);
}

void TestLists::clickKeysToggleAndAreStored()
{
    TCallList &calls = FLists->calls();
    calls.setRows({call("46000.1", "0301"), call("46000.3", "0303"), call("46000.2", "0302")});
    FLists->SortCalls(-1);
    QVERIFY(FLists->CallsColumnClick(CallRow::Date));
    QCOMPARE(FSettings->listViews.callsSort, 1);
    QCOMPARE(column(calls, CallRow::Number), QStringList({"0303", "0302", "0301"}));
    QVERIFY(FLists->CallsColumnClick(CallRow::Date));
    QCOMPARE(FSettings->listViews.callsSort, -1);
    QCOMPARE(column(calls, CallRow::Number), QStringList({"0301", "0302", "0303"}));
    // Stored in the file at once.
    SettingsStore fromFile(FSettings->iniPath());
    fromFile.readAll();
    QCOMPARE(fromFile.listViews.callsSort, -1);
    // Column 3 and up: ascending order gives the positive index next.
    QCOMPARE(FLists->CallsClickSortKey(CallRow::Number), 3);
    FLists->SortCalls(3);
    QCOMPARE(FLists->CallsClickSortKey(CallRow::Number), -3);

    TNickList &nicks = FLists->nicks();
    nicks.setRows({{"Anna", "2", "", ""}, {"Bert", "1", "", ""}, {"Carl", "3", "", ""}});
    FLists->SortNicks(-1);
    QVERIFY(FLists->NicksColumnClick(NickRow::Number));
    QCOMPARE(FSettings->listViews.nicksSort, 1);
    QCOMPARE(column(nicks, NickRow::Number), QStringList({"3", "2", "1"}));
    FLists->SortNicks(-100);
    QCOMPARE(FLists->NicksClickSortKey(NickRow::Nickname), 100);
    FLists->SortNicks(100);
    QCOMPARE(FLists->NicksClickSortKey(NickRow::Nickname), -100);

    calls.clear();
    QCOMPARE(FLists->CallsClickSortKey(2), FSettings->listViews.callsSort);
}

void TestLists::nickSortKeys()
{
    TNickList &nicks = FLists->nicks();
    nicks.setRows(
        {{"Bert", "1", "", ""}, {"anna", "3", "", ""}, {QString::fromUtf8("Ärger"), "2", "", ""}});
    FLists->SortNicks(100); // the default lists nicknames descending
    QCOMPARE(column(nicks, NickRow::Nickname),
             QStringList({"Bert", QString::fromUtf8("Ärger"), "anna"}));
    FLists->SortNicks(0);
    QCOMPARE(column(nicks, NickRow::Nickname),
             QStringList({"Bert", QString::fromUtf8("Ärger"), "anna"}));
    FLists->SortNicks(-100);
    QCOMPARE(column(nicks, NickRow::Nickname),
             QStringList({"anna", QString::fromUtf8("Ärger"), "Bert"}));
    FLists->SortNicks(-1);
    QCOMPARE(column(nicks, NickRow::Number), QStringList({"1", "2", "3"}));
}

void TestLists::collatorFastPathAgreesWithTheLocale()
{
    for (const QLocale &locale :
         {QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English),
          QLocale(QLocale::Swedish), QLocale::c()}) {
        TextCollator collator(locale);
        QCollator reference(locale);
        reference.setCaseSensitivity(Qt::CaseSensitive);
        QVERIFY(collator.isPlain(QStringLiteral("46000.75")));
        QRandomGenerator random(17);
        auto text = [&random] {
            QString s;
            const int length = random.bounded(0, 9);
            for (int i = 0; i < length; ++i)
                s += QString(" .0123456789")[random.bounded(12)];
            return s;
        };
        for (int i = 0; i < 3000; ++i) {
            const QString a = text(), b = text();
            const int expected = reference.compare(a, b);
            const int got = collator.compare(a, b);
            QVERIFY2((expected < 0) == (got < 0) && (expected > 0) == (got > 0),
                     qPrintable(locale.name() + ": '" + a + "' vs '" + b + "'"));
        }
    }
    TextCollator german(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(german.compare(QString::fromUtf8("Äpfel"), u"Zebra") < 0);
    QVERIFY(german.compare(u"apfel", u"Apfel") != 0); // case-sensitive
    QVERIFY(!german.isPlain(u"++49"));
}

void TestLists::sortKeysGiveTheCollatorOrder()
{
    const QLocale locale(QLocale::German, QLocale::Germany);
    TextCollator collator(locale);
    QCollator reference(locale);
    reference.setCaseSensitivity(Qt::CaseSensitive);
    QRandomGenerator random(99);
    const QStringList words = {"Anna",
                               "anna",
                               QString::fromUtf8("Änne"),
                               "Bert",
                               "bert",
                               "Zoe",
                               "++4930",
                               "030",
                               " ",
                               "-not transmitted-",
                               QString::fromUtf8("Öl"),
                               "Oliver",
                               "1",
                               "10",
                               "9"};
    QStringList texts;
    for (int i = 0; i < 2000; ++i)
        texts.append(words[random.bounded(words.size())]);
    for (const bool descending : {false, true}) {
        const std::vector<int> order =
            collator.order(std::vector<QStringView>(texts.begin(), texts.end()), descending);
        std::vector<int> expected(texts.size());
        std::iota(expected.begin(), expected.end(), 0);
        std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
            const int c = reference.compare(texts[a], texts[b]);
            return descending ? c > 0 : c < 0;
        });
        QVERIFY(order == expected);
    }

    // Many distinct numbers with a few words among them: the numbers are ranked by code
    // order, the words placed among them by the collator.
    texts.clear();
    for (int i = 0; i < 3000; ++i) {
        texts.append(random.bounded(10) == 0 ? words[random.bounded(words.size())]
                                             : QString::number(random.bounded(100000)));
    }
    texts.append({"030", "030", "-not transmitted-"});
    for (const bool descending : {false, true}) {
        const std::vector<int> order =
            collator.order(std::vector<QStringView>(texts.begin(), texts.end()), descending);
        std::vector<int> expected(texts.size());
        std::iota(expected.begin(), expected.end(), 0);
        std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
            const int c = reference.compare(texts[a], texts[b]);
            return descending ? c > 0 : c < 0;
        });
        QVERIFY(order == expected);
    }
}

void TestLists::languageSwitchConvertsStoredWords()
{
    FLists->SetLanguage(Language::German);
    FLists->calls().setRows({call("1", QString::fromUtf8("-nicht übermittelt-"), " ", "besetzt"),
                             call("2", "0301", " ", "unbekannt"),
                             call("3", "0302", " ", "Leitung gestört")});
    FLists->nicks().setRows({{"A", "1", "", QString::fromUtf8("speichern|popup|alle abweisen|")}});
    FLists->msns().setRows(
        {{true, "1", "M", "", QString::fromUtf8("abweisen bei \"nicht übermittelt\"|")}});
    QCOMPARE(FLists->BuildActionText(true, true, false, false), QString("speichern|popup|"));
    QSignalSpy headers(&FLists->calls(), &QAbstractItemModel::headerDataChanged);

    FLists->SetLanguage(Language::English);
    QCOMPARE(headers.count(), 1);
    QCOMPARE(FLists->calls().headerData(3, Qt::Horizontal).toString(), QString("Phone number"));
    QCOMPARE(column(FLists->calls(), CallRow::Number),
             QStringList({"-not transmitted-", "0301", "0302"}));
    QCOMPARE(column(FLists->calls(), CallRow::Status),
             QStringList({"busy", "unknown", QString::fromUtf8("Leitung gestört")}));
    QCOMPARE(FLists->nicks().row(0).action, QString("log|popup|reject all|"));
    QCOMPARE(FLists->msns().row(0).action, QString("reject not submmitted|"));
    QCOMPARE(FLists->BuildActionText(false, false, true, true),
             QString("reject all|reject not submmitted|"));
}

void TestLists::modelFollowsChanges()
{
    TCallList &calls = FLists->calls();
    calls.setRows({call("3", "c"), call("1", "a"), call("2", "b")});
    QCOMPARE(calls.rowCount(), 3);
    QCOMPARE(calls.columnCount(), 8);
    QCOMPARE(calls.data(calls.index(1, CallRow::Number)).toString(), QString("a"));
    const QPersistentModelIndex selected(calls.index(0, CallRow::Number));
    FLists->SortCalls(-1);
    QCOMPARE(selected.row(), 2);
    QCOMPARE(selected.data().toString(), QString("c"));

    TMsnList &msns = FLists->msns();
    msns.setRows({{true, "85606", "Office", "", "log|"}});
    QSignalSpy toggled(&msns, &TMsnList::checkedChanged);
    QCOMPARE(msns.data(msns.index(0, 0), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QVERIFY(msns.flags(msns.index(0, 0)) & Qt::ItemIsUserCheckable);
    QVERIFY(msns.setData(msns.index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(toggled.count(), 1);
    QVERIFY(FLists->MsnIgnored(0));
    QVERIFY(msns.setData(msns.index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(toggled.count(), 1); // no change, no signal
    QCOMPARE(msns.headerData(1, Qt::Horizontal).toString(), QString("MSN"));
    QCOMPARE(msns.data(msns.index(0, 0)).toString(), QString());
}

void TestLists::addCallFormatsTheMoment()
{
    FSettings->settings.dateFormat = "dd.MM.yyyy";
    FSettings->settings.timeFormat = "hh:mm:ss";
    const int index = FLists->AddCall(QDateTime(QDate(2025, 12, 9), QTime(18, 0)), "0301", "",
                                      " Berlin", "Office");
    const CallRow &row = FLists->calls().row(index);
    QCOMPARE(row.dateTime, QString("46000.75"));
    QCOMPARE(FLists->calls().text(index, CallRow::Date), QString("09.12.2025"));
    QCOMPARE(FLists->calls().text(index, CallRow::Time), QString("18:00:00"));
    QCOMPARE(FLists->calls().data(FLists->calls().index(index, CallRow::Time)).toString(),
             QString("18:00:00"));
    // The columns follow the settings as they are now.
    FSettings->settings.dateFormat = "yyyy-MM-dd";
    FSettings->settings.timeFormat = "h:mm AP";
    QCOMPARE(FLists->calls().text(index, CallRow::Date), QString("2025-12-09"));
    QCOMPARE(FLists->calls().text(index, CallRow::Time), QString("6:00 PM"));
    // Formats from the ini file speak the language of the files users have: mm is the month.
    FSettings->settings.dateFormat = DateTimeFormat::fromIni("dd.mm.yyyy");
    FSettings->settings.timeFormat = DateTimeFormat::fromIni("h:nn a/p");
    QCOMPARE(FLists->calls().text(index, CallRow::Date), QString("09.12.2025"));
    QCOMPARE(FLists->calls().text(index, CallRow::Time), QString("6:00 p"));
    QCOMPARE(row.nickname, QString(" "));
    QCOMPARE(row.town, QString("Berlin"));
    QCOMPARE(row.status, QString(" "));
    FLists->AddCall(QDateTime(QDate(2025, 12, 9), QTime(18, 0, 1)), "0302", "Bert", "", "Office");
    QCOMPARE(FLists->calls().row(1).dateTime, QString("46000.7500115741"));
    QCOMPARE(FLists->calls().row(1).town, QString(" "));
}

QTEST_GUILESS_MAIN(TestLists)
#include "tst_lists.moc"
