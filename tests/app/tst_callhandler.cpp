// The decisions of the call handling, driven directly without a line or a screen: reject
// rules, number forms, status words, close rules, the repeat filter and the rows it stores.
#include "app/CallHandler.h"
#include "capi/CpConst.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "phone/isdntool.h"
#include "settings/SettingsStore.h"

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
    QStringList FLookups;
    QStringList FSounds;
    bool FPopup = false;
    int FNewCalls = 0;

    class RecordingLookup : public ICallerLookup
    {
    public:
        QStringList *numbers;
        void StartLookup(const QString &number) override { numbers->append(number); }
    } FLookup;

    GeneralSettings &s() { return FSettings->settings; }
    TCallHandler &h() { return *FHandler; }

    // A reject question as the monitor asks it; returns the cause the handler chose.
    uint16_t ring(const QString &caller, const QString &called = QStringLiteral("85606"))
    {
        FTick += 1000;
        uint16_t cause = capi::RejectUndecided;
        h().CapiMonitor1RejectCallQuestion(caller, called, capi::CipTelephony, cause);
        return cause;
    }

    void addNick(const QString &name, const QString &number, const QString &action,
                 const QString &sound = QString())
    {
        FLists->nicks().appendRow(NickRow{name, number, sound, action});
    }

    void addMsn(const QString &msn, const QString &name, const QString &action, bool checked = true)
    {
        FLists->msns().appendRow(MsnRow{checked, msn, name, QString(), action});
    }

    QString lastStatus() const
    {
        const TCallList &calls = FLists->calls();
        return calls.count() ? calls.row(calls.count() - 1).status : QStringLiteral("<none>");
    }

    QString shownCaller() const
    {
        const TCallRecord &r = FHandler->Calls.Get(-1);
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
        FLookups.clear();
        FSounds.clear();
        FLookup.numbers = &FLookups;
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
        addNick(QStringLiteral("Anna"), QStringLiteral("0441123"), QStringLiteral("log|popup|"));
        QCOMPARE(ring(QStringLiteral("0441123")), capi::RejectUndecided);
        QVERIFY(FPopup);
        QCOMPARE(FNewCalls, 1);
        QVERIFY(FLookups.isEmpty());
        const TCallRecord &r = h().Calls.Get(-1);
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
        QVERIFY(QFile(FLists->fileName(ListKind::Calls)).size() > 0);

        h().CapiMonitor1DisconnectInfo(capi::RejectIgnore, 0x3490);
        QCOMPARE(lastStatus(), QStringLiteral("not anwsered"));
    }

    void unknownCallerGetsTownAndLookup()
    {
        ring(QStringLiteral("0301234"));
        QCOMPARE(shownCaller(), QStringLiteral("0301234"));
        QCOMPARE(h().Calls.Get(-1).value("Town"), QStringLiteral("Berlin"));
        QCOMPARE(FLookups, QStringList({"0301234"}));
        QCOMPARE(FLists->calls().row(0).nickname, QStringLiteral(" "));
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
        addNick(QStringLiteral("Anna"), QStringLiteral("0441123"), QStringLiteral("log|popup|"),
                anna);
        addNick(QStringLiteral("Bert"), QStringLiteral("0441124"), QStringLiteral("log|popup|"),
                sounds.filePath("missing.wav"));
        addNick(QStringLiteral("Quiet"), QStringLiteral("0441125"), QStringLiteral("log|"), anna);
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
        uint16_t cause = capi::RejectUndecided;
        h().CapiMonitor1RejectCallQuestion(QString(), "85606", 16, cause);
        QCOMPARE(h().Calls.Count(), 1);
    }

    void repeatedQuestionWithin500msIsIgnored()
    {
        uint16_t cause = capi::RejectUndecided;
        h().CapiMonitor1RejectCallQuestion("0441123", "85606", 16, cause);
        FTick += 300;
        h().CapiMonitor1RejectCallQuestion("0441123", "85606", 16, cause);
        QCOMPARE(h().Calls.Count(), 1);
        FTick += 600;
        h().CapiMonitor1RejectCallQuestion("0441123", "85606", 16, cause);
        QCOMPARE(h().Calls.Count(), 2);
        QCOMPARE(FLists->calls().count(), 2);
    }

    void questionsBeforeTheListsAreLoaded()
    {
        h().SetListsLoaded(false);
        addNick(QStringLiteral("Nick"), QStringLiteral("0441123"),
                QStringLiteral("log|popup|reject all|"));
        QCOMPARE(ring(QStringLiteral("0441123")), capi::RejectUndecided);
        QCOMPARE(h().Calls.Count(), 0);
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
            addMsn(QStringLiteral("85606"), QStringLiteral("Office"), msnAction);
        if (!nickNumber.isEmpty()) addNick(QStringLiteral("Nick"), nickNumber, nickAction);
        const uint16_t cause = ring(caller);
        QCOMPARE(cause, rejected ? capi::RejectAccept : capi::RejectUndecided);
        QCOMPARE(h().FRejected, rejected);
        QCOMPARE(shownCaller(), shown);
        // A prefix entry gives name and rejection, not the flags of an exact entry.
        QCOMPARE(FLookups.isEmpty(), shown == QStringLiteral("Nick"));
        h().CapiMonitor1DisconnectInfo(0, 0x3490);
        QCOMPARE(lastStatus(),
                 rejected ? QStringLiteral("rejected") : QStringLiteral("not anwsered"));
    }

    void numberForms()
    {
        s().cutZeroes = 1;
        addNick(QStringLiteral("Anna"), QStringLiteral("0441123"), QStringLiteral("log|popup|"));
        ring(QStringLiteral("00441123"));
        QCOMPARE(shownCaller(), QStringLiteral("Anna"));

        s().cutZeroes = 0;
        s().homeFritz = true;
        ring(QStringLiteral("49441999"));
        QCOMPARE(h().Calls.Get(-1).value("Caller"), QStringLiteral("0441999"));
        QCOMPARE(h().Calls.Get(-1).value("Town"), QStringLiteral("Oldenburg"));
        ring(QStringLiteral("43662123"));
        QCOMPARE(h().Calls.Get(-1).value("Caller"), QStringLiteral("++43662123"));
        QCOMPARE(h().Calls.Get(-1).value("Town"), QStringLiteral("Österreich"));
        ring(QStringLiteral("+4930"));
        QCOMPARE(h().Calls.Get(-1).value("Caller"), QStringLiteral("+4930"));

        s().homeFritz = false;
        h().TestCallNumber = 1;
        ring(QStringLiteral("111"));
        ring(QStringLiteral("222"));
        QCOMPARE(h().Calls.Get(-1).value("Caller"), QStringLiteral("2222222"));
    }

    void callWithoutNumber()
    {
        ring(QString());
        QCOMPARE(shownCaller(), QStringLiteral("-not transmitted-"));
        QCOMPARE(FLists->calls().count(), 1);

        // A nickname entry for the not-transmitted text names such calls.
        addNick(QStringLiteral("Hidden"), QStringLiteral("-not transmitted-"),
                QStringLiteral("log|popup|"));
        ring(QString());
        QCOMPARE(shownCaller(), QStringLiteral("Hidden"));

        s().storeNotSubmitted = false;
        ring(QString());
        QCOMPARE(FLists->calls().count(), 2);
        h().CapiMonitor1DisconnectInfo(0xFFFF, 0x3490);
        QCOMPARE(lastStatus(), QStringLiteral(" "));
    }

    void ignoredMsnAndDeactivation()
    {
        addMsn(QStringLiteral("85606"), QStringLiteral("Office"), QStringLiteral("log|popup|"),
               false);
        ring(QStringLiteral("0441123"));
        QVERIFY(!FPopup);
        QCOMPARE(FNewCalls, 0);
        QCOMPARE(FLists->calls().count(), 0);

        addMsn(QStringLiteral("85607"), QStringLiteral("Fax"),
               QStringLiteral("log|popup|reject all|"));
        h().FActive = false;
        // Deactivated: still rejected by the lists, nothing shown or stored.
        QCOMPARE(ring(QStringLiteral("0441123"), QStringLiteral("85607")), capi::RejectAccept);
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
        h().CapiMonitor1DisconnectInfo(0xFFFF, uint16_t(reason));
        QCOMPARE(lastStatus(), status);
    }

    void statusFollowsItsRowAfterSorting()
    {
        FSettings->listViews.callsSort = 1; // newest first
        ring(QStringLiteral("0441111"));
        h().CapiMonitor1DisconnectInfo(0xFFFF, 0x3490);
        FTick += 5000;
        ring(QStringLiteral("0441222"));
        h().CapiMonitor1DisconnectInfo(0xFFFF, 0x34A2);
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
        h().CapiMonitor1DisconnectInfo(0xFFFF, 0x3490);
        QVERIFY(!FPopup);

        // With a display time the timer closes it, not the rule.
        s().duration = 5;
        ring(QStringLiteral("0441124"));
        h().CapiMonitor1DisconnectInfo(0xFFFF, 0x3490);
        QVERIFY(FPopup);

        // Two pending calls shown in rotation: the rule waits.
        s().duration = 0;
        s().showMultipleCalls = true;
        ring(QStringLiteral("0441125"));
        QVERIFY(h().Calls.Count() >= 2);
        h().CapiMonitor1DisconnectInfo(0xFFFF, 0x3490);
        QVERIFY(FPopup);

        // Rejected calls follow CloseReject.
        h().Calls.Acknowledge();
        s().closeReject = true;
        ring(QStringLiteral("0441126"));
        h().RejectCall();
        h().CapiMonitor1DisconnectInfo(0, 0x3400);
        QVERIFY(!FPopup);
        QCOMPARE(lastStatus(), QStringLiteral("rejected"));
    }

    void userDefinedStatusCodes()
    {
        s().duration = 0;
        s().closeDisCon = true;
        s().debug = true;
        setIni(QStringLiteral("StatusCodes"), QStringLiteral("$3490"), QStringLiteral("0"));
        ring(QStringLiteral("0441123"));
        h().CapiMonitor1DisconnectInfo(0xFFFF, 0x3490);
        QVERIFY(FPopup); // the built-in rule is off for this cause

        setIni(QStringLiteral("StatusCodes"), QStringLiteral("$34BB"), QStringLiteral("1"));
        ring(QStringLiteral("0441124"));
        h().CapiMonitor1DisconnectInfo(0xFFFF, 0x34BB);
        QVERIFY(!FPopup);
        QFile log(FDir->filePath("corvane.log"));
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
