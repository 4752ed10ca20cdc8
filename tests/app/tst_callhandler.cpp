// The decisions of the call handling, driven directly without a line or a screen: reject
// rules, number forms, status words, close rules, the repeat filter and the rows it stores.
#include "app/CallHandler.h"
#include "capi/CpConst.h"
#include "capi/CpMoni.h"
#include "lists/ListFiles.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "phone/isdntool.h"
#include "settings/SettingsStore.h"
#include "tests/app/CallTestSupport.h"
#include "tests/capi/SimLine.h"

#include <QTemporaryDir>
#include <QtTest>

class TestCallHandler : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    std::unique_ptr<TLists> FLists;
    AreaCodeTable FTowns;
    std::unique_ptr<TCallHandler> FHandler;
    qint64 FTick = 100000;
    FakeLine *FLine = nullptr;
    line::TCallId FCall = 0; // the call rung last
    QStringList FSounds;
    bool FPopup = false;
    int FNewCalls = 0;

    RecordingLookup FLookup;

    GeneralSettings &s() { return FSettings->settings; }
    TCallHandler &h() { return *FHandler; }

    // A call offered by the line a second after the last one; true when the handler
    // rejected it at once.
    bool ring(const QString &caller, const QString &called = QStringLiteral("85606"))
    {
        FTick += 1000;
        bool rejected = false;
        FCall = FLine->offer(caller, called, &rejected);
        return rejected;
    }

    // The end of the call rung last (or of another).
    void end(uint16_t reason, line::TCallId call = 0) { FLine->end(call ? call : FCall, reason); }

    // The status and the nickname of the call-list row of a number.
    QString statusOf(const QString &number) const
    {
        for (const CallRow &row : FLists->calls().rows())
            if (row.number == number) return row.status;
        return QStringLiteral("<none>");
    }
    QString nicknameOf(const QString &number) const
    {
        for (const CallRow &row : FLists->calls().rows())
            if (row.number == number) return row.nickname;
        return QStringLiteral("<none>");
    }

    QString shownCaller() const
    {
        const TCallRecord &r = FHandler->PendingCalls().Get(-1);
        const QString nick = r.value(QStringLiteral("NickName"));
        return nick.isEmpty() ? r.value(QStringLiteral("Caller")) : nick;
    }

    void setIni(const QString &section, const QString &key, const QString &value)
    {
        FSettings->ini().writeString(section, key, value);
        QVERIFY(FSettings->ini().save());
    }

private slots:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        qputenv("CORVANE_HOME", FDir->path().toLocal8Bit());
        FSettings = std::make_unique<SettingsStore>(FDir->filePath("corvane.ini"));
        FSettings->readAll();
        FPrompts = ScriptedPrompts();
        FLists = std::make_unique<TLists>(*FSettings, FPrompts, FDir->path());
        FLists->SetLanguage(Language::English);
        QVERIFY(FLists->LoadAtStartup());
        FTowns.setLines({QStringLiteral("441 Oldenburg"), QStringLiteral("30 Berlin"),
                         QStringLiteral("++43 Österreich")});
        FHandler = std::make_unique<TCallHandler>(*FSettings, *FLists, FTowns);
        h().TickCount = [this] { return FTick; };
        auto fakeLine = std::make_unique<FakeLine>();
        FLine = fakeLine.get();
        h().AddLineSource(std::move(fakeLine));
        FLookup.numbers.clear();
        FSounds.clear();
        h().Lookup = &FLookup;
        FPopup = false;
        FNewCalls = 0;
        h().PopupVisible = [this] { return FPopup; };
        h().OnShowPopup = [this] { FPopup = true; };
        h().OnHidePopup = [this] { FPopup = false; };
        h().OnNewCall = [this] { ++FNewCalls; };
        h().OnPlaySound = [this](const QString &file) {
            FSounds << QFileInfo(file).fileName();
            return true;
        };
        h().SetListsLoaded(true);
        h().SetDialogsReady(true);
    }

    void cleanup()
    {
        FHandler.reset();
        FLists.reset();
        FSettings.reset();
        FDir.reset();
    }

    void knownCallerIsStoredAtOnce()
    {
        addNick(*FLists, QStringLiteral("Anna"), QStringLiteral("0441123"),
                QStringLiteral("log|popup|"));
        QVERIFY(!ring(QStringLiteral("0441123")));
        QVERIFY(FPopup);
        QCOMPARE(FNewCalls, 1);
        QVERIFY(FLookup.numbers.isEmpty());
        const TCallRecord &r = h().PendingCalls().Get(-1);
        QCOMPARE(r.value("NickName"), QStringLiteral("Anna"));
        QCOMPARE(r.value("Town"), QStringLiteral("Oldenburg"));
        QCOMPARE(r.value("Target"), QStringLiteral("85606"));
        QCOMPARE(FLists->calls().count(), 1);
        const CallRow row = FLists->calls().row(0);
        QCOMPARE(row.number, QStringLiteral("0441123"));
        QCOMPARE(row.nickname, QStringLiteral("Anna"));
        QCOMPARE(row.town, QStringLiteral("Oldenburg"));
        QCOMPARE(row.status, QStringLiteral(" "));
        // Written at once, so the call survives a line that never reports its end.
        QTRY_VERIFY(QFile(FLists->fileName(ListKind::Calls)).size() > 0);

        end(0x3490);
        QCOMPARE(lastStatus(*FLists), QStringLiteral("not anwsered"));
    }

    void unknownCallerGetsTownAndLookup()
    {
        ring(QStringLiteral("0301234"));
        QCOMPARE(shownCaller(), QStringLiteral("0301234"));
        QCOMPARE(h().PendingCalls().Get(-1).value("Town"), QStringLiteral("Berlin"));
        QCOMPARE(FLookup.numbers, QStringList({"0301234"}));
        QCOMPARE(FLists->calls().row(0).nickname, QStringLiteral(" "));
    }

    void lookupIsAskedOnceTheCallIsInPlace()
    {
        // However quick the answer, it finds the pending call and its row.
        struct Lookup : ICallerLookup
        {
            TCallHandler *handler;
            TLists *lists;
            QStringList seen;
            void StartLookup(const QString &number) override
            {
                seen << QStringLiteral("%1 pending as %2, %3 rows")
                            .arg(number, handler->PendingCalls().Get(-1).value("Caller"))
                            .arg(lists->calls().count());
            }
        } lookup;
        lookup.handler = FHandler.get();
        lookup.lists = FLists.get();
        h().Lookup = &lookup;
        ring(QStringLiteral("0301234"));
        ring(QStringLiteral("0441999"));
        QCOMPARE(lookup.seen, QStringList({"0301234 pending as 0301234, 1 rows",
                                           "0441999 pending as 0441999, 2 rows"}));
        h().Lookup = &FLookup;
    }

    void soundsOfNicknameAndMsn()
    {
        QTemporaryDir sounds;
        const QString anna = sounds.filePath("anna.wav");
        const QString office = sounds.filePath("office.wav");
        for (const QString &file : {anna, office}) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        FLists->msns().appendRow(
            MsnRow{true, QStringLiteral("85606"), QStringLiteral("Office"), office, "log|popup|"});
        addNick(*FLists, QStringLiteral("Anna"), QStringLiteral("0441123"),
                QStringLiteral("log|popup|"), anna);
        addNick(*FLists, QStringLiteral("Bert"), QStringLiteral("0441124"),
                QStringLiteral("log|popup|"), sounds.filePath("missing.wav"));
        addNick(*FLists, QStringLiteral("Quiet"), QStringLiteral("0441125"), QStringLiteral("log|"),
                anna);
        ring(QStringLiteral("0441123"));
        ring(QStringLiteral("0441124")); // its own file is missing: the MSN's sound
        ring(QStringLiteral("0441125")); // no popup flag: silent
        ring(QStringLiteral("0441999")); // unknown: the MSN's sound
        QCOMPARE(FSounds, QStringList({"anna.wav", "office.wav", "office.wav"}));
    }

    void firstCallRightAfterTheStart()
    {
        // A call without number within half a second of the start is no repeat.
        FTick = 200;
        FLine->offer(QString());
        QCOMPARE(h().PendingCalls().Count(), 1);
    }

    void repeatedQuestionWithin500msIsIgnored()
    {
        FLine->offer("0441123");
        FTick += 300;
        FLine->offer("0441123");
        QCOMPARE(h().PendingCalls().Count(), 1);
        FTick += 600;
        FLine->offer("0441123");
        QCOMPARE(h().PendingCalls().Count(), 2);
        QCOMPARE(FLists->calls().count(), 2);
    }

    void questionsBeforeTheListsAreLoaded()
    {
        h().SetListsLoaded(false);
        addNick(*FLists, QStringLiteral("Nick"), QStringLiteral("0441123"),
                QStringLiteral("log|popup|reject all|"));
        QVERIFY(!ring(QStringLiteral("0441123")));
        QCOMPARE(h().PendingCalls().Count(), 0);
    }

    void rejectRules_data()
    {
        QTest::addColumn<QString>("msnAction");
        QTest::addColumn<QString>("nickNumber");
        QTest::addColumn<QString>("nickAction");
        QTest::addColumn<bool>("allowGroup");
        QTest::addColumn<QString>("caller");
        QTest::addColumn<bool>("rejected");
        QTest::addColumn<QString>("shown");
        QTest::newRow("MSN rejects all") << "log|popup|reject all|"
                                         << ""
                                         << "" << true << "0441123" << true << "0441123";
        QTest::newRow("MSN rejects callers without number")
            << "log|popup|reject not submmitted|"
            << ""
            << "" << true << "" << true << "-not transmitted-";
        QTest::newRow("MSN lets numbers through") << "log|popup|reject not submmitted|"
                                                  << ""
                                                  << "" << true << "0441123" << false << "0441123";
        QTest::newRow("German MSN word") << "speichern|popup|alle abweisen|"
                                         << ""
                                         << "" << true << "0441123" << true << "0441123";
        QTest::newRow("nickname rejects")
            << ""
            << "0441123"
            << "log|popup|reject all|" << true << "0441123" << true << "Nick";
        QTest::newRow("prefix entry")
            << ""
            << "0441*"
            << "log|popup|reject all|" << true << "04411234" << true << "Nick";
        QTest::newRow("prefix entry without grouping")
            << ""
            << "0441*"
            << "log|popup|reject all|" << false << "04411234" << false << "04411234";
    }

    void rejectRules()
    {
        QFETCH(QString, msnAction);
        QFETCH(QString, nickNumber);
        QFETCH(QString, nickAction);
        QFETCH(bool, allowGroup);
        QFETCH(QString, caller);
        QFETCH(bool, rejected);
        QFETCH(QString, shown);
        s().allowGroup = allowGroup;
        if (!msnAction.isEmpty())
            addMsn(*FLists, QStringLiteral("85606"), QStringLiteral("Office"), msnAction);
        if (!nickNumber.isEmpty()) addNick(*FLists, QStringLiteral("Nick"), nickNumber, nickAction);
        QCOMPARE(ring(caller), rejected);
        QCOMPARE(shownCaller(), shown);
        // A prefix entry gives name and rejection, not the flags of an exact entry. A call
        // without number is not looked up.
        QCOMPARE(FLookup.numbers.isEmpty(), shown == QStringLiteral("Nick") || caller.isEmpty());
        end(0x3490);
        QCOMPARE(lastStatus(*FLists),
                 rejected ? QStringLiteral("rejected") : QStringLiteral("not anwsered"));
    }

    void numberForms()
    {
        s().cutZeroes = 1;
        addNick(*FLists, QStringLiteral("Anna"), QStringLiteral("0441123"),
                QStringLiteral("log|popup|"));
        ring(QStringLiteral("00441123"));
        QCOMPARE(shownCaller(), QStringLiteral("Anna"));

        s().cutZeroes = 0;
        s().homeFritz = true;
        ring(QStringLiteral("49441999"));
        QCOMPARE(h().PendingCalls().Get(-1).value("Caller"), QStringLiteral("0441999"));
        QCOMPARE(h().PendingCalls().Get(-1).value("Town"), QStringLiteral("Oldenburg"));
        ring(QStringLiteral("43662123"));
        QCOMPARE(h().PendingCalls().Get(-1).value("Caller"), QStringLiteral("++43662123"));
        QCOMPARE(h().PendingCalls().Get(-1).value("Town"), QStringLiteral("Österreich"));
        ring(QStringLiteral("+4930"));
        QCOMPARE(h().PendingCalls().Get(-1).value("Caller"), QStringLiteral("+4930"));

        s().homeFritz = false;
        h().SetTestCallNumber(1);
        ring(QStringLiteral("111"));
        ring(QStringLiteral("222"));
        QCOMPARE(h().PendingCalls().Get(-1).value("Caller"), QStringLiteral("2222222"));
    }

    void callWithoutNumber()
    {
        ring(QString());
        QCOMPARE(shownCaller(), QStringLiteral("-not transmitted-"));
        QCOMPARE(FLists->calls().count(), 1);
        QVERIFY(FLookup.numbers.isEmpty());

        // A nickname entry for the not-transmitted text names such calls.
        addNick(*FLists, QStringLiteral("Hidden"), QStringLiteral("-not transmitted-"),
                QStringLiteral("log|popup|"));
        ring(QString());
        QCOMPARE(shownCaller(), QStringLiteral("Hidden"));

        s().storeNotSubmitted = false;
        ring(QString());
        QCOMPARE(FLists->calls().count(), 2);
        end(0x3490);
        QCOMPARE(lastStatus(*FLists), QStringLiteral(" "));
    }

    void ignoredMsnAndDeactivation()
    {
        addMsn(*FLists, QStringLiteral("85606"), QStringLiteral("Office"),
               QStringLiteral("log|popup|"), false);
        ring(QStringLiteral("0441123"));
        QVERIFY(!FPopup);
        QCOMPARE(FNewCalls, 0);
        QCOMPARE(FLists->calls().count(), 0);

        addMsn(*FLists, QStringLiteral("85607"), QStringLiteral("Fax"),
               QStringLiteral("log|popup|reject all|"));
        h().SetActive(false);
        // Deactivated: still rejected by the lists, nothing shown or stored.
        QVERIFY(ring(QStringLiteral("0441123"), QStringLiteral("85607")));
        QVERIFY(!FPopup);
        QCOMPARE(FLists->calls().count(), 0);
    }

    void statusWords_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QString>("status");
        QTest::newRow("answered elsewhere") << 0x3400 << ""
                                            << "answered";
        QTest::newRow("not answered") << 0x3490 << ""
                                      << "not anwsered";
        QTest::newRow("busy") << 0x34A2 << ""
                              << "busy";
        QTest::newRow("other cause") << 0x34BB << ""
                                     << "User busy ($34BB)";
        QTest::newRow("configured text") << 0x34BB << "Besetzt!"
                                         << "Besetzt!";
        QTest::newRow("built-in word wins") << 0x34A2 << "Anders"
                                            << "busy";
    }

    void statusWords()
    {
        QFETCH(int, reason);
        QFETCH(QString, configured);
        QFETCH(QString, status);
        if (!configured.isEmpty())
            setIni(QStringLiteral("StatusCodeStrings"),
                   SettingsStore::statusCodeKey(uint16_t(reason)), configured);
        ring(QStringLiteral("0441123"));
        end(uint16_t(reason));
        QCOMPARE(lastStatus(*FLists), status);
    }

    void statusFollowsItsRowAfterSorting()
    {
        FSettings->listViews.callsSort = 1; // newest first
        ring(QStringLiteral("0441111"));
        end(0x3490);
        FTick += 5000;
        ring(QStringLiteral("0441222"));
        end(0x34A2);
        for (const CallRow &row : FLists->calls().rows())
            QCOMPARE(row.status, row.number == "0441111" ? QStringLiteral("not anwsered")
                                                         : QStringLiteral("busy"));
    }

    void closeRules()
    {
        s().duration = 0;
        s().closeDisCon = true;
        ring(QStringLiteral("0441123"));
        QVERIFY(FPopup);
        end(0x3490);
        QVERIFY(!FPopup);

        // With a display time the timer closes it, not the rule.
        s().duration = 5;
        ring(QStringLiteral("0441124"));
        end(0x3490);
        QVERIFY(FPopup);

        // Two pending calls shown in rotation: the rule waits.
        s().duration = 0;
        s().showMultipleCalls = true;
        ring(QStringLiteral("0441125"));
        QVERIFY(h().PendingCalls().Count() >= 2);
        end(0x3490);
        QVERIFY(FPopup);

        // Rejected calls follow CloseReject.
        h().PendingCalls().Acknowledge();
        s().closeReject = true;
        addNick(*FLists, QStringLiteral("Spam"), QStringLiteral("0441126"),
                QStringLiteral("log|popup|reject all|"));
        ring(QStringLiteral("0441126"));
        end(0x3400);
        QVERIFY(!FPopup);
        QCOMPARE(lastStatus(*FLists), QStringLiteral("rejected"));
    }

    void overlappingCallsKeepTheirOwnRowsAndStatuses()
    {
        addNick(*FLists, QStringLiteral("Spam"), QStringLiteral("0441666"),
                QStringLiteral("log|popup|reject all|"));
        ring(QStringLiteral("0441111"));
        const line::TCallId a = FCall;
        ring(QStringLiteral("0441666")); // rejected by its entry
        const line::TCallId spam = FCall;
        ring(QStringLiteral("0441222"));
        const line::TCallId b = FCall;

        end(0x34A2, a);
        QCOMPARE(statusOf("0441111"), QStringLiteral("busy"));
        QCOMPARE(statusOf("0441222"), QStringLiteral(" "));
        QCOMPARE(statusOf("0441666"), QStringLiteral(" "));
        end(0x3490, b);
        QCOMPARE(statusOf("0441222"), QStringLiteral("not anwsered"));
        end(0x3400, spam);
        QCOMPARE(statusOf("0441666"), QStringLiteral("rejected"));

        // A second end of a call, or of one never offered, writes nothing.
        end(0x3400, a);
        end(0x3400, line::NewCallId());
        QCOMPARE(statusOf("0441111"), QStringLiteral("busy"));
        QCOMPARE(statusOf("0441222"), QStringLiteral("not anwsered"));
    }

    void repeatedQuestionGetsNoStatusOfItsOwn()
    {
        ring(QStringLiteral("0441111"));
        const line::TCallId first = FCall;
        FTick -= 800; // the exchange asks again at once, on another connection
        ring(QStringLiteral("0441111"));
        QCOMPARE(FLists->calls().count(), 1);
        end(0x34A2); // the repeat ends: it is not the stored call
        QCOMPARE(statusOf("0441111"), QStringLiteral(" "));
        end(0x3490, first);
        QCOMPARE(statusOf("0441111"), QStringLiteral("not anwsered"));
    }

    void lostLineGivesTheUnknownWord()
    {
        ring(QStringLiteral("0441111"));
        end(line::ReasonLineLost);
        QCOMPARE(statusOf("0441111"), QStringLiteral("unknown"));
        FLists->SetLanguage(Language::German);
        ring(QStringLiteral("0441222"));
        end(line::ReasonLineLost);
        QCOMPARE(statusOf("0441222"), QStringLiteral("unbekannt"));
        setIni(QStringLiteral("StatusCodeStrings"), QStringLiteral("$9004"),
               QStringLiteral("Leitung weg"));
        ring(QStringLiteral("0441333"));
        end(line::ReasonLineLost);
        QCOMPARE(statusOf("0441333"), QStringLiteral("Leitung weg"));
    }

    void lookupResultGoesToThatCaller()
    {
        int changes = 0;
        h().OnPendingCallChanged = [&changes] { ++changes; };
        ring(QStringLiteral("0301111"));
        ring(QStringLiteral("0302222"));
        ring(QStringLiteral("03011119")); // a longer number that begins with the first
        QVERIFY(FLists->WaitForSaves());
        const QDateTime fileTime = QFileInfo(FLists->fileName(ListKind::Calls)).lastModified();
        QTest::qWait(20);

        h().LookupResult(QStringLiteral("0301111"), QStringLiteral("Anna"),
                         QStringLiteral("Street 1\nBerlin"));
        QCOMPARE(changes, 1);
        QCOMPARE(h().PendingCalls().Get(0).value("NickName"), QStringLiteral("Anna"));
        QCOMPARE(h().PendingCalls().Get(0).value("AdditionalInfo"), QStringLiteral("Street 1\nBerlin"));
        QCOMPARE(h().PendingCalls().Get(1).value("NickName"), QString());
        QCOMPARE(h().PendingCalls().Get(2).value("NickName"), QString());
        QCOMPARE(nicknameOf("0301111"), QStringLiteral("Anna"));
        // Another subscriber whose number begins with the one looked up keeps its row.
        QCOMPARE(nicknameOf("03011119"), QStringLiteral(" "));
        QCOMPARE(nicknameOf("0302222"), QStringLiteral(" "));
        QVERIFY(FLists->WaitForSaves());
        QVERIFY(QFileInfo(FLists->fileName(ListKind::Calls)).lastModified() > fileTime);

        // Information without a name names nothing.
        h().LookupResult(QStringLiteral("0302222"), QString(), QStringLiteral("ERROR page"));
        QCOMPARE(h().PendingCalls().Get(1).value("AdditionalInfo"), QStringLiteral("ERROR page"));
        QCOMPARE(nicknameOf("0302222"), QStringLiteral(" "));

        // A result for a call without number is dropped.
        ring(QString());
        h().LookupResult(QStringLiteral("-not transmitted-"), QStringLiteral("Nobody"));
        QCOMPARE(h().PendingCalls().Get(-1).value("NickName"), QString());
        QCOMPARE(nicknameOf("-not transmitted-"), QStringLiteral(" "));
    }

    void burstWithALongList()
    {
        // 400 calls, two ringing at a time, with 100,000 stored: each call stored once with
        // its own status, and far fewer rewrites of the file than changes.
        QList<CallRow> stored;
        for (int i = 0; i < 100000; ++i)
            stored.append(CallRow{QString::number(40000 + i * 0.01, 'f', 2),
                                  QStringLiteral("0301%1").arg(i), QStringLiteral(" "),
                                  QStringLiteral("Berlin"), QStringLiteral("Office"),
                                  QStringLiteral("answered")});
        FLists->calls().setRows(stored);
        QVERIFY(FLists->SaveList(ListKind::Calls));
        addNick(*FLists, QStringLiteral("Spam"), QStringLiteral("0999000013"),
                QStringLiteral("log|popup|reject all|"));
        const qint64 rewritesBefore = FLists->files().writer().Rewrites;

        const uint16_t reasons[] = {0x3490, 0x34A2, 0x3400};
        const QString words[] = {"not anwsered", "busy", "answered"};
        auto number = [](int call) {
            return QStringLiteral("0999%1").arg(call, 6, 10, QChar('0'));
        };
        line::TCallId previous = 0;
        for (int call = 0; call <= 400; ++call) {
            line::TCallId current = 0;
            if (call < 400) {
                FTick += 1000;
                current = FLine->offer(number(call));
            }
            if (call > 0) FLine->end(previous, reasons[(call - 1) % 3]);
            previous = current;
        }
        QVERIFY(FLists->WaitForSaves());
        const qint64 rewrites = FLists->files().writer().Rewrites - rewritesBefore;
        QVERIFY2(rewrites >= 1 && rewrites < 100, qPrintable(QString::number(rewrites)));

        TLists reloaded(*FSettings, FPrompts, FDir->path());
        reloaded.SetLanguage(Language::English);
        QVERIFY(reloaded.LoadList(ListKind::Calls));
        QCOMPARE(reloaded.calls().count(), 100400);
        QHash<QString, QString> statuses;
        for (const CallRow &row : reloaded.calls().rows()) {
            if (!row.number.startsWith(QLatin1String("0999"))) continue;
            QVERIFY2(!statuses.contains(row.number), qPrintable(row.number + " stored twice"));
            statuses.insert(row.number, row.status);
        }
        QCOMPARE(statuses.size(), 400);
        for (int call = 0; call < 400; ++call) {
            const QString expected = call == 13 ? QStringLiteral("rejected") : words[call % 3];
            QCOMPARE(statuses.value(number(call)), expected);
        }
    }

    void overlappingCallsOnTheLine()
    {
        // The handler with its own monitor on the simulated line: A ends busy while B
        // still rings; B is ignored after its own countdown; the reject button acts on the
        // call it is given, the older one here.
        SimLine line;
        QString error;
        QVERIFY2(line.setUp(SimLine::InProcess, &error), qPrintable(error));
        s().rejectTime = 3;
        h().CapiMonitor()->CountdownIntervalMs = 100;
        h().TickCount = [] { return QDateTime::currentMSecsSinceEpoch(); };
        int rejectStates = 0;
        h().OnRejectPossible = [&rejectStates] { ++rejectStates; };
        QVERIFY(h().StartLines());
        QVERIFY(line.command(QStringLiteral("wait-listening --timeout 10")));

        auto ringOnLine = [&line](const QString &options) {
            QString reply;
            line.command(QStringLiteral("ring --type 0x21 --to 85606 ") + options, &reply);
            return reply.section(QLatin1Char(' '), 0, 0).toUInt(nullptr, 16);
        };
        ringOnLine("--from 441111 --end-after 0.15 --reason 0x34a2");
        QTRY_COMPARE(h().PendingCalls().Count(), 1);
        ringOnLine("--from 441222 --end-after 1 --reason 0x3490");
        QTRY_COMPARE(h().PendingCalls().Count(), 2);
        const quint64 idA = h().PendingCalls().Get(0).CallId;
        const quint64 idB = h().PendingCalls().Get(1).CallId;
        QVERIFY(idA != idB);
        QTRY_COMPARE(statusOf("0441111"), QStringLiteral("busy"));
        QVERIFY(!h().CanReject(idA));
        QVERIFY(!h().RejectCall(idA)); // gone
        QVERIFY(rejectStates > 0);
        // B is ignored by its own countdown and rings on elsewhere until it ends.
        QTRY_COMPARE_WITH_TIMEOUT(statusOf("0441222"), QStringLiteral("not anwsered"), 10000);
        QVERIFY(!h().CanReject(idB));

        // The button rejects the older of two ringing calls while the newer rings on.
        ringOnLine("--from 441333 --end-after 20");
        QTRY_COMPARE(h().PendingCalls().Count(), 3);
        ringOnLine("--from 441444 --end-after 0.5 --reason 0x3490");
        QTRY_COMPARE(h().PendingCalls().Count(), 4);
        const quint64 idC = h().PendingCalls().Get(2).CallId;
        QVERIFY(h().RejectCall(idC));
        QVERIFY(!h().RejectCall(idC)); // answered already
        QTRY_COMPARE(statusOf("0441333"), QStringLiteral("rejected"));
        QTRY_COMPARE_WITH_TIMEOUT(statusOf("0441444"), QStringLiteral("not anwsered"), 10000);
        h().StopLines();
        line.tearDown();
    }

    void aPlciOfferedAgainEndsTheCallItHeld()
    {
        // The exchange lost a call's DISCONNECT_IND and offers its PLCI to a new call: the old
        // call ends as on a lost line, and the new call's end goes to its own row.
        SimLine line;
        QString error;
        QVERIFY2(line.setUp(SimLine::InProcess, &error), qPrintable(error));
        s().rejectTime = 20;
        h().TickCount = [] { return QDateTime::currentMSecsSinceEpoch(); };
        QVERIFY(h().StartLines());
        QVERIFY(line.command(QStringLiteral("wait-listening --timeout 10")));
        QString reply;
        QVERIFY(line.command(QStringLiteral("ring --type 0x21 --to 85606 --from 441111 "
                                            "--end-after 20"),
                             &reply));
        const uint32_t plci = reply.section(QLatin1Char(' '), 0, 0).toUInt(nullptr, 16);
        QTRY_COMPARE(h().PendingCalls().Count(), 1);
        QVERIFY(line.command(QStringLiteral("send-hex ") +
                             SimLine::connectIndHex(h().CapiMonitor()->Engine()->ApplID, plci,
                                                    "441222")));
        QTRY_COMPARE(h().PendingCalls().Count(), 2);
        QCOMPARE(statusOf("0441111"), QStringLiteral("unknown"));
        QVERIFY(h().CanReject(h().PendingCalls().Get(-1).CallId));
        QVERIFY(line.command(QStringLiteral("hangup --plci 0x%1 --reason 0x34a2").arg(plci, 0, 16)));
        QTRY_COMPARE(statusOf("0441222"), QStringLiteral("busy"));
        QCOMPARE(statusOf("0441111"), QStringLiteral("unknown"));
        h().StopLines();
        line.tearDown();
    }

    void aSourceThatTellsTheAnswer()
    {
        // A line that reports the answer: the status and the close rule come then, and the
        // end of the conversation (even a lost line) changes nothing more.
        s().duration = 0;
        s().closeConnect = true;
        ring(QStringLiteral("0441111"));
        const line::TCallId first = FCall;
        FLine->answer(first);
        QCOMPARE(statusOf("0441111"), QStringLiteral("answered"));
        QVERIFY(!FPopup);
        QVERIFY(!h().CanReject(first));
        end(line::ReasonLineLost, first);
        QCOMPARE(statusOf("0441111"), QStringLiteral("answered"));

        // A call rejected here stays rejected when the line says it was answered.
        addNick(*FLists, QStringLiteral("Spam"), QStringLiteral("0441666"),
                QStringLiteral("log|popup|reject all|"));
        QVERIFY(ring(QStringLiteral("0441666")));
        FLine->answer(FCall);
        end(line::ReasonAnswered);
        QCOMPARE(statusOf("0441666"), QStringLiteral("rejected"));
    }

    void aLineThatCannotRejectShowsWhatHappened()
    {
        // The router's call monitor: no reject rule applies, the call is stored as it went.
        FLine->rejects = false;
        addMsn(*FLists, QStringLiteral("85606"), QStringLiteral("Office"),
               QStringLiteral("log|popup|reject not submmitted|"));
        addNick(*FLists, QStringLiteral("Spam"), QStringLiteral("0441666"),
                QStringLiteral("log|popup|reject all|"));
        QVERIFY(!ring(QStringLiteral("0441666")));
        QCOMPARE(shownCaller(), QStringLiteral("Spam"));
        QVERIFY(!h().CanReject(FCall));
        QVERIFY(!h().RejectCall(FCall));
        FLine->answer(FCall);
        end(line::ReasonAnswered);
        QCOMPARE(statusOf("0441666"), QStringLiteral("answered"));
        QVERIFY(!ring(QString()));
        end(line::ReasonNotAnswered);
        QCOMPARE(lastStatus(*FLists), QStringLiteral("not anwsered"));
        QVERIFY(FLine->rejected.isEmpty());
    }

    void anotherOwnLineEndsTheCallsOfTheOld()
    {
        // The user points the program at the router: what rang on the ISDN line ends as on a
        // lost line, and the new line's calls are handled.
        auto isdn = std::make_unique<FakeLine>();
        FakeLine *old = isdn.get();
        h().SetOwnLine(std::move(isdn));
        QCOMPARE(h().OwnLine(), old);
        QVERIFY(!h().CapiMonitor());
        FCall = old->offer(QStringLiteral("0441111"));
        int lineStates = 0;
        h().OnLineState = [&lineStates] { ++lineStates; };
        auto router = std::make_unique<FakeLine>();
        FakeLine *next = router.get();
        h().SetOwnLine(std::move(router));
        QCOMPARE(statusOf("0441111"), QStringLiteral("unknown"));
        QCOMPARE(lineStates, 1);
        FTick += 1000;
        next->end(next->offer(QStringLiteral("0302222")), line::ReasonNotAnswered);
        QCOMPARE(statusOf("0302222"), QStringLiteral("not anwsered"));
        h().SetOwnLine(nullptr);
        QCOMPARE(h().OwnLine(), nullptr);
    }

    void callWithoutNumberKeepsItsRowAcrossALanguageSwitch()
    {
        // The language switch converts the not-transmitted text of the ringing call's row;
        // its end still finds the row.
        ring(QString());
        FLists->SetLanguage(Language::German);
        QCOMPARE(statusOf("-nicht übermittelt-"), QStringLiteral(" "));
        end(0x3490);
        QCOMPARE(statusOf("-nicht übermittelt-"), QStringLiteral("nicht angenommen"));
    }

    void userDefinedStatusCodes()
    {
        s().duration = 0;
        s().closeDisCon = true;
        s().debug = true;
        setIni(QStringLiteral("StatusCodes"), QStringLiteral("$3490"), QStringLiteral("0"));
        ring(QStringLiteral("0441123"));
        end(0x3490);
        QVERIFY(FPopup); // the built-in rule is off for this cause

        setIni(QStringLiteral("StatusCodes"), QStringLiteral("$34BB"), QStringLiteral("1"));
        ring(QStringLiteral("0441124"));
        end(0x34BB);
        QVERIFY(!FPopup);
        QFile log(FDir->filePath("corvane.log"));
        QTRY_VERIFY(log.size() > 0); // written in the background
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString line = QString::fromUtf8(log.readAll()).trimmed();
        QVERIFY2(line.endsWith(": Hiding window due to user defined Statuscode $34BB: User busy "
                               "($34BB)"),
                 qPrintable(line));
        QCOMPARE(line.count('\n'), 0);
    }
};

QTEST_GUILESS_MAIN(TestCallHandler)
#include "tst_callhandler.moc"
