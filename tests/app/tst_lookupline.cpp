// A call rings while the user waits, on the simulated line (the simulator loaded in process):
// for the lists dialog's reverse search on a server that never answers, and for a number
// plug-in that sleeps before dialling. The call is answered (ALERT_REQ) while the wait goes on.
#include "app/main.h"
#include "lists/ListDlg.h"
#include "lists/ListPrompts.h"
#include "lists/ListView.h"
#include "lists/lists.h"
#include "lists/nick.h"
#include "platform/Sound.h"
#include "settings/SettingsStore.h"
#include "tapi/LineApi.h"
#include "tapi/tapifrm.h"
#include "tests/app/CallTestSupport.h"
#include "tests/capi/SimLine.h"
#include "tests/lookup/LookupServer.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

namespace {

// A function of the sleeping plug-in, as this process has loaded it.
template <typename Function> Function *sleeping(const char *name)
{
    static void *handle = ::dlopen(SLEEPING_PLUGIN, RTLD_NOW);
    return reinterpret_cast<Function *>(::dlsym(handle, name));
}

} // namespace

class TestLookupLine : public QObject
{
    Q_OBJECT

    SimLine FLine;
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    std::unique_ptr<TLists> FLists;
    AreaCodeTable FTowns;
    NoLed FLed;
    platform::Sound FSound;
    std::unique_ptr<TMainForm> FForm;
    // Ends after the program's objects, which end its connections.
    std::unique_ptr<testing::LookupServer> FServer;

    // Rings an unknown caller; true when the program answered with ALERT_REQ within 500 ms.
    bool ringIsAlerted()
    {
        FLine.mark();
        QElapsedTimer clock;
        clock.start();
        if (!FLine.command(QStringLiteral("ring --from 301234 --type 0x21 --to 85606")))
            return false;
        while (clock.elapsed() < 500) {
            for (const QString &message : FLine.put())
                if (message.mid(12, 5) == QLatin1String("01 80")) return true;
            QTest::qWait(5);
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(FLine.setUp(SimLine::InProcess, &error), qPrintable(error));
    }

    void cleanupTestCase() { FLine.tearDown(); }

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
        FForm = std::make_unique<TMainForm>(*FSettings, *FLists, FTowns, FPrompts, FLed, FSound);
        FForm->ApplyLanguage(Language::English);
        FForm->SetListsLoaded(true);
        FForm->SetDialogsReady(true);
        FForm->FFirstShow = false;
        QVERIFY(FForm->StartMonitor());
        QVERIFY(FLine.command(QStringLiteral("wait-listening --timeout 10")));
    }

    void cleanup()
    {
        FForm->CallHandler().StopLines();
        FForm.reset();
        FServer.reset();
        FLists.reset();
        FSettings.reset();
        FDir.reset();
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
    }

    void reverseSearchOnAServerThatNeverAnswers()
    {
        FServer = std::make_unique<testing::LookupServer>();
        FServer->behave("0441123", testing::LookupServer::Behaviour::Hang);
        FForm->Lookup().SelectBuiltIn(FServer->baseUrl());
        CallRow call;
        call.dateTime = QStringLiteral("46000.5");
        call.number = QStringLiteral("0441123");
        FLists->calls().appendRow(call);
        TNickForm editor(*FLists);
        TListDlg lists(*FLists, editor);
        lists.OnReverseSearch = [&](const QString &number, TListDlg::ReverseSearchDone done) {
            FForm->Lookup().ReverseSearch(number, &lists, std::move(done));
        };
        lists.View(ListPage::Calls)->selectOnlyRow(0);
        lists.mnuReverseSearchClick();
        QTRY_COMPARE(FServer->busy(), 1);
        // The busy cursor shows while the search is under way.
        QVERIFY(ringIsAlerted());
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(FServer->busy(), 1);
    }

    void numberPluginThatSleepsBeforeDialling()
    {
        QVERIFY(FForm->Lookup().LoadNumberPlugin(QStringLiteral(SLEEPING_PLUGIN)));
        tapi::LineApi lines;
        TTapiForm dialer(lines, *FSettings, FPrompts);
        dialer.ModifyNumber = [this](const QString &number) {
            return FForm->Lookup().ModifyNumber(number);
        };
        // While the dial waits for the plug-in: a call rings, then the plug-in answers.
        bool alerted = false;
        int insideMeanwhile = 0;
        QTimer::singleShot(0, this, [&] {
            QTRY_COMPARE(sleeping<int()>("TestPluginInside")(), 1);
            alerted = ringIsAlerted();
            insideMeanwhile = sleeping<int()>("TestPluginInside")();
            sleeping<void()>("TestPluginRelease")();
        });
        QString number = QStringLiteral("0441");
        QVERIFY(dialer.PrepareNumber(number));
        QCOMPARE(number, QStringLiteral("90441"));
        QVERIFY(alerted);
        QCOMPARE(insideMeanwhile, 1);
    }
};

QTEST_MAIN(TestLookupLine)
#include "tst_lookupline.moc"
