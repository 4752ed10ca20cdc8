// The lookup sources: background lookups with the built-in lookup and with plug-ins, switching
// and ending them while a lookup runs, the synchronous lookup, the number rewrite, and where a
// result lands in the pending calls and the call list.
#include "lists/ListPrompts.h"
#include "lookup/LookupSources.h"
#include "settings/SettingsStore.h"
#include "tests/lookup/LookupServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <dlfcn.h>

using testing::LookupServer;

namespace {

QString plugin(const char *name)
{
    return QStringLiteral(TEST_PLUGIN_DIR "/%1.so").arg(QLatin1String(name));
}

QString example(const char *name)
{
    return QStringLiteral(EXAMPLE_PLUGIN_DIR "/%1.so").arg(QLatin1String(name));
}

// A library of this process, looked at without loading it.
class Loaded
{
public:
    Loaded() = default;
    explicit Loaded(const QString &path)
        : FHandle(::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD))
    {
    }
    Loaded &operator=(Loaded &&other) noexcept
    {
        std::swap(FHandle, other.FHandle);
        return *this;
    }
    ~Loaded()
    {
        if (FHandle) ::dlclose(FHandle);
    }
    explicit operator bool() const { return FHandle != nullptr; }
    int call(const char *function) const
    {
        auto f = reinterpret_cast<int (*)()>(::dlsym(FHandle, function));
        return f ? f() : -1;
    }
    void release() const { reinterpret_cast<void (*)()>(::dlsym(FHandle, "TestPluginRelease"))(); }

private:
    void *FHandle = nullptr;
};

// A reverse search, waited for with the event loop turning ("<no answer>" when it never ends).
struct Searched
{
    bool done = false;
    bool answered = false;
    QString text;
};

Searched search(LookupSources &sources, const QString &number)
{
    Searched searched;
    QObject context;
    sources.ReverseSearch(number, &context, [&searched](bool answered, const QString &text) {
        searched = {true, answered, text};
    });
    if (!QTest::qWaitFor([&searched] { return searched.done; }, 20000))
        searched.text = QStringLiteral("<no answer>");
    return searched;
}

// The number to dial, or "<nothing>".
QString modify(LookupSources &sources, const QString &number)
{
    return sources.ModifyNumber(number).value_or(QStringLiteral("<nothing>"));
}

} // namespace

class TestLookupSources : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void builtInDeliversEachAnswer_data();
    void builtInDeliversEachAnswer();
    void aServerWithoutAnswerDeliversTheReasonAlone();
    void aNewerRequestWaitsForTheDeliveryAndReplacesAnOlderOne();
    void aServerThatNeverAnswersDoesNotHoldTheWorker();
    void switchingSourcesReturnsAtOnceAndStillDelivers();
    void endingAbortsTheLookupAtOnceAndDeliversNothing();
    void aCallWithoutNumberIsNeverLookedUp();
    void enabledOnlyWithAServerOrAPlugin();
    void reverseSearchWithTheBuiltInLookup();
    void settingsChooseTheSources();

    void pluginWithOnlyTheUnderscoreExports();
    void pluginFindingAnEmptyNameDeliversNothing();
    void aFileThatIsNoPluginLeavesNoneLoaded();
    void aLibraryWithoutTheExportIsRefused();
    void aBlockingPluginFreezesNothingAndStaysLoadedUntilItReturns();
    void csvExamplePlugin();
    void outsideLineExamplePlugin();
    void callsIntoOneLibraryAreSerialised();
    void aPluginThatDoesNotAnswerInTimeIsShutOff();

    void endingWhileAPluginBlocksKeepsItLoaded(); // last: the library then stays loaded

private:
    std::unique_ptr<LookupSources> makeSources();

    ScriptedPrompts FPrompts;
    QList<LookupResult> FResults;
    QList<qint64> FDeliveredAt; // on the server's clock
    LookupServer *FServer = nullptr;
};

void TestLookupSources::init()
{
    FPrompts = ScriptedPrompts();
    FResults.clear();
    FDeliveredAt.clear();
    FServer = new LookupServer;
}

void TestLookupSources::cleanup()
{
    delete FServer;
    FServer = nullptr;
}

std::unique_ptr<LookupSources> TestLookupSources::makeSources()
{
    auto sources = std::make_unique<LookupSources>(FPrompts);
    sources->OnLookupResult = [this](const LookupResult &result) {
        FResults.append(result);
        FDeliveredAt.append(FServer->clock());
    };
    return sources;
}

void TestLookupSources::builtInDeliversEachAnswer_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("info");

    QTest::newRow("name and street")
        << QByteArray("Name: M&uuml;ller\nStra%C3%9Fe 1") << QString::fromUtf8("Name=Müller")
        << QString::fromUtf8("Straße 1\r");
    QTest::newRow("one line") << QByteArray("Bakery") << "Bakery"
                              << "";
    QTest::newRow("empty") << QByteArray("") << ""
                           << "";
    QTest::newRow("ERROR name cleared, information kept")
        << QByteArray("ERROR: not found\nTry later") << ""
        << "Try later\r";
    QTest::newRow("ERROR anywhere") << QByteArray("No ERROR here") << ""
                                    << "";
    QTest::newRow("error in lower case stays") << QByteArray("error") << "error"
                                               << "";
    QTest::newRow("a long name cut to a nickname's length")
        << QByteArray(100, 'N') + "\nStreet" << QString(MaxLookupNameLength, u'N') << "Street\r";
    // U+1F4DE, two UTF-16 units, across the end: it goes whole.
    QTest::newRow("never inside a character")
        << QByteArray(MaxLookupNameLength - 1, 'N') + "\xF0\x9F\x93\x9E"
        << QString(MaxLookupNameLength - 1, u'N') << "";
}

void TestLookupSources::builtInDeliversEachAnswer()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, name);
    QFETCH(QString, info);
    FServer->answer("0441123", body.toStdString());
    auto sources = makeSources();
    sources->SelectBuiltIn(FServer->baseUrl());
    sources->StartLookup(QStringLiteral("0441123"));
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 1, 10000);
    QCOMPARE(FResults[0].number, QStringLiteral("0441123"));
    QCOMPARE(FResults[0].name, name);
    QCOMPARE(FResults[0].info, info);
    QVERIFY(FResults[0].hasInfo);
}

void TestLookupSources::aServerWithoutAnswerDeliversTheReasonAlone()
{
    FServer->behave("0441", LookupServer::Behaviour::NotFound);
    FServer->behave("0442", LookupServer::Behaviour::CloseMidBody);
    FServer->answer("0443", "");
    auto sources = makeSources();
    sources->SelectBuiltIn(FServer->baseUrl());
    for (const char *number : {"0441", "0442", "0443"}) {
        sources->StartLookup(QLatin1String(number));
        QTRY_VERIFY_WITH_TIMEOUT(
            !FResults.isEmpty() && FResults.back().number == QLatin1String(number), 10000);
    }
    QCOMPARE(FResults.size(), 3);
    for (int i : {0, 1}) {
        QVERIFY(!FResults[i].failure.isEmpty());
        QCOMPARE(FResults[i].name, QString());
        QVERIFY(!FResults[i].hasInfo);
    }
    QCOMPARE(FResults[0].failure, QStringLiteral("HTTP status 404"));
    // Answered without a name: no failure.
    QCOMPARE(FResults[2].failure, QString());
    QVERIFY(FResults[2].hasInfo);

    // Nobody listens at the port.
    FResults.clear();
    sources->SelectBuiltIn(QStringLiteral("http://127.0.0.1:%1/").arg(testing::ClosedPort()));
    sources->StartLookup(QStringLiteral("0444"));
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 1, 10000);
    QVERIFY2(FResults[0].failure.contains(QStringLiteral("refused"), Qt::CaseInsensitive),
             qPrintable(FResults[0].failure));
    QVERIFY(FPrompts.messages.isEmpty()); // the background lookup asks nobody
}

void TestLookupSources::aNewerRequestWaitsForTheDeliveryAndReplacesAnOlderOne()
{
    FServer->answer("0441", "First", 500);
    FServer->answer("0442", "Second");
    FServer->answer("0443", "Third");
    auto sources = makeSources();
    sources->SelectBuiltIn(FServer->baseUrl());
    sources->StartLookup(QStringLiteral("0441"));
    QTRY_COMPARE_WITH_TIMEOUT(FServer->busy(), 1, 10000);
    sources->StartLookup(QStringLiteral("0442"));
    sources->StartLookup(QStringLiteral("0443"));
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 2, 10000);
    QCOMPARE(FResults[0].name, QStringLiteral("First"));
    QCOMPARE(FResults[1].name, QStringLiteral("Third"));
    const std::vector<LookupServer::Request> requests = FServer->requests();
    QCOMPARE(requests.size(), size_t(2));
    QCOMPARE(requests[1].number, std::string("0443"));
    QVERIFY(requests[1].receivedMs >= FDeliveredAt[0]);
}

void TestLookupSources::aServerThatNeverAnswersDoesNotHoldTheWorker()
{
    FServer->behave("0441", LookupServer::Behaviour::Hang);
    FServer->answer("0442", "Next caller");
    auto sources = makeSources();
    sources->SelectBuiltIn(FServer->baseUrl());
    sources->StartLookup(QStringLiteral("0441"));
    QTRY_COMPARE_WITH_TIMEOUT(FServer->busy(), 1, 10000);
    sources->StartLookup(QStringLiteral("0442"));
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 2, TfrmLookup::TotalTimeoutMs + 10000);
    // The time-out is said, then the next caller is looked up.
    QCOMPARE(FResults[0].number, QStringLiteral("0441"));
    QVERIFY2(FResults[0].failure.contains(QStringLiteral("timed out")),
             qPrintable(FResults[0].failure));
    QCOMPARE(FResults[1].number, QStringLiteral("0442"));
    QCOMPARE(FResults[1].name, QStringLiteral("Next caller"));
    QVERIFY(FDeliveredAt[1] >= TfrmLookup::TotalTimeoutMs - 500);
}

void TestLookupSources::switchingSourcesReturnsAtOnceAndStillDelivers()
{
    FServer->answer("0441", "Under way", 1000);
    auto sources = makeSources();
    sources->SelectBuiltIn(FServer->baseUrl());
    sources->StartLookup(QStringLiteral("0441"));
    QTRY_COMPARE_WITH_TIMEOUT(FServer->busy(), 1, 10000);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(sources->SelectPlugin(QString()));
    QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!sources->Enabled());
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 1, 10000);
    QCOMPARE(FResults[0].name, QStringLiteral("Under way"));
    // No source now: nothing more is asked.
    sources->StartLookup(QStringLiteral("0442"));
    QTest::qWait(300);
    QCOMPARE(FServer->requests().size(), size_t(1));
}

void TestLookupSources::endingAbortsTheLookupAtOnceAndDeliversNothing()
{
    FServer->behave("0441", LookupServer::Behaviour::Hang);
    FServer->answer("0442", "Stopped, would be delivered", 3000);
    auto sources = makeSources();
    sources->SelectBuiltIn(FServer->baseUrl());
    sources->StartLookup(QStringLiteral("0442"));
    QTRY_COMPARE_WITH_TIMEOUT(FServer->busy(), 1, 10000);
    sources->SelectBuiltIn(FServer->baseUrl()); // a stopped worker still finishing
    sources->StartLookup(QStringLiteral("0441"));
    QTRY_COMPARE_WITH_TIMEOUT(FServer->busy(), 2, 10000);
    QElapsedTimer clock;
    clock.start();
    sources.reset();
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    // The stopped worker's answer comes and goes; the other one never comes.
    QTRY_COMPARE_WITH_TIMEOUT(FServer->busy(), 1, 10000);
    QTest::qWait(300);
    QCOMPARE(FResults.size(), 0);
}

void TestLookupSources::aCallWithoutNumberIsNeverLookedUp()
{
    FServer->answer("0441", "Caller");
    auto sources = makeSources();
    sources->SelectBuiltIn(FServer->baseUrl());
    sources->StartLookup(QString());
    sources->StartLookup(QStringLiteral("-not transmitted-"));
    sources->StartLookup(QString::fromUtf8("-nicht übermittelt-"));
    sources->StartLookup(QStringLiteral("0441"));
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 1, 10000);
    QCOMPARE(FServer->requests().size(), size_t(1));
    QCOMPARE(FServer->requests()[0].number, std::string("0441"));
}

void TestLookupSources::enabledOnlyWithAServerOrAPlugin()
{
    auto sources = makeSources();
    QVERIFY(!sources->Enabled());
    sources->SelectBuiltIn(QStringLiteral("  "));
    QVERIFY(sources->BuiltInSelected());
    QVERIFY(!sources->Enabled());
    QCOMPARE(search(*sources, QStringLiteral("0441")).text, QString());
    sources->SelectBuiltIn(FServer->baseUrl());
    QVERIFY(sources->Enabled());
    QVERIFY(sources->SelectPlugin(plugin("found")));
    QVERIFY(!sources->BuiltInSelected());
    QVERIFY(sources->Enabled());
    QVERIFY(sources->SelectPlugin(QString()));
    QVERIFY(!sources->Enabled());
    QVERIFY(FPrompts.messages.isEmpty());
}

void TestLookupSources::reverseSearchWithTheBuiltInLookup()
{
    FServer->answer("0441", "Name: M&uuml;ller\r\nStra%C3%9Fe 1\r\nOldenburg");
    FServer->answer("0442", "ERROR\nSomething");
    FServer->answer("0443", "");
    FServer->answer("0444", "<b>Markup</b>");
    FServer->behave("0445", LookupServer::Behaviour::NotFound);
    FServer->answer("0446", std::string(60, 'N') + "\nStreet");
    auto sources = makeSources();
    sources->ApplyLanguage(Language::English);
    sources->SelectBuiltIn(FServer->baseUrl());
    Searched searched = search(*sources, QStringLiteral("0441"));
    QVERIFY(searched.answered);
    QCOMPARE(searched.text, QString::fromUtf8("Name=Müller\nStraße 1\nOldenburg"));
    for (const char *nothing : {"0442", "0443"}) {
        searched = search(*sources, QLatin1String(nothing));
        QVERIFY(searched.answered);
        QCOMPARE(searched.text, QString());
    }
    QVERIFY(FPrompts.messages.isEmpty());
    // No answer is not "nobody known": the search ends with the reason, in the user's language.
    searched = search(*sources, QStringLiteral("0445"));
    QVERIFY(searched.done);
    QVERIFY(!searched.answered);
    QCOMPARE(FPrompts.messages, QStringList("No answer from the reverse search server " +
                                            FServer->baseUrl() + ": HTTP status 404"));
    sources->ApplyLanguage(Language::German);
    const QString closed = QStringLiteral("http://127.0.0.1:%1/").arg(testing::ClosedPort());
    sources->SelectBuiltIn(closed);
    QVERIFY(!search(*sources, QStringLiteral("0441")).answered);
    QCOMPARE(FPrompts.messages.size(), 2);
    QVERIFY2(FPrompts.messages[1].startsWith(
                 QString::fromUtf8("Keine Antwort vom Server der Rückwärtssuche ") + closed + ": "),
             qPrintable(FPrompts.messages[1]));
    QVERIFY(FPrompts.messages[1].contains(QStringLiteral("refused"), Qt::CaseInsensitive));
    sources->SelectBuiltIn(FServer->baseUrl());
    QCOMPARE(search(*sources, QStringLiteral("0444")).text, QStringLiteral("<b>Markup</b>"));
    QCOMPARE(search(*sources, QStringLiteral("0446")).text,
             QString(MaxLookupNameLength, u'N') + QStringLiteral("\nStreet"));
    // The worker was not used.
    QCOMPARE(FResults.size(), 0);
}

void TestLookupSources::settingsChooseTheSources()
{
    GeneralSettings settings;
    settings.internalReverseSearch = true;
    settings.reverseLookupUrl = FServer->baseUrl();
    settings.externalNumberLookupDll = plugin("found");
    settings.externalNumberManipulationDll = example("outsideline");
    auto sources = makeSources();
    sources->ApplySettings(settings);
    QVERIFY(sources->BuiltInSelected());
    QCOMPARE(sources->ServerUrl(), FServer->baseUrl());
    QCOMPARE(sources->LookupPluginPath(), QString());
    QCOMPARE(sources->NumberPluginPath(), example("outsideline"));
    QCOMPARE(modify(*sources, QStringLiteral("0441123")), QStringLiteral("00441123"));

    settings.internalReverseSearch = false;
    settings.externalNumberManipulationDll.clear();
    sources->ApplySettings(settings);
    QVERIFY(!sources->BuiltInSelected());
    QCOMPARE(sources->LookupPluginPath(), plugin("found"));
    QCOMPARE(sources->NumberPluginPath(), QString());
    sources->StartLookup(QStringLiteral("0441"));
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 1, 10000);
    QCOMPARE(FResults[0].name, QStringLiteral("Found 0441"));
    QVERIFY(FServer->requests().empty());

    // A lookup plug-in that cannot be loaded is reported and leaves no source.
    settings.externalNumberLookupDll = QStringLiteral("/nonexistent/lookup.so");
    sources->ApplySettings(settings);
    QCOMPARE(FPrompts.messages,
             QStringList{QStringLiteral("unable to load library /nonexistent/lookup.so")});
    QVERIFY(!sources->Enabled());
}

void TestLookupSources::pluginWithOnlyTheUnderscoreExports()
{
    auto sources = makeSources();
    QVERIFY(sources->SelectPlugin(plugin("underscore")));
    QVERIFY(sources->LoadNumberPlugin(plugin("underscore")));
    QVERIFY(FPrompts.messages.isEmpty());
    sources->StartLookup(QStringLiteral("++4930123"));
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 1, 10000);
    QCOMPARE(FResults[0].number, QStringLiteral("++4930123"));
    QCOMPARE(FResults[0].name, QStringLiteral("Found ++4930123"));
    QVERIFY(!FResults[0].hasInfo);
    QCOMPARE(search(*sources, QStringLiteral("0441")).text, QStringLiteral("Found 0441"));
    QCOMPARE(modify(*sources, QStringLiteral("0441")), QStringLiteral("90441"));
}

void TestLookupSources::pluginFindingAnEmptyNameDeliversNothing()
{
    auto sources = makeSources();
    QVERIFY(sources->SelectPlugin(plugin("empty")));
    QVERIFY(sources->LoadNumberPlugin(plugin("empty")));
    Loaded library(plugin("empty"));
    QVERIFY(library);
    const int callsBefore = library.call("TestPluginCalls");
    sources->StartLookup(QStringLiteral("0441"));
    QTRY_COMPARE_WITH_TIMEOUT(library.call("TestPluginCalls"), callsBefore + 1, 10000);
    const Searched searched = search(*sources, QStringLiteral("0441"));
    QVERIFY(searched.answered);
    QCOMPARE(searched.text, QString());
    QCOMPARE(modify(*sources, QStringLiteral("0441")), QStringLiteral("0441"));
    QTest::qWait(300);
    QCOMPARE(FResults.size(), 0);
}

void TestLookupSources::aFileThatIsNoPluginLeavesNoneLoaded()
{
    QTemporaryDir dir;
    const QString fake = dir.filePath("fake.so");
    QFile file(fake);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a shared object\n");
    file.close();

    auto sources = makeSources();
    QVERIFY(sources->SelectPlugin(plugin("found")));
    QVERIFY(sources->LoadNumberPlugin(plugin("found")));
    QVERIFY(!sources->SelectPlugin(fake));
    QVERIFY(!sources->LoadNumberPlugin(fake));
    QCOMPARE(FPrompts.messages,
             QStringList({"unable to load library " + fake, "unable to load library " + fake}));
    QVERIFY(!sources->Enabled());
    QCOMPARE(sources->LookupPluginPath(), QString());
    QCOMPARE(sources->NumberPluginPath(), QString());
    QCOMPARE(modify(*sources, QStringLiteral("0441")), QStringLiteral("0441"));
    sources->StartLookup(QStringLiteral("0441"));
    QTest::qWait(300);
    QCOMPARE(FResults.size(), 0);
}

void TestLookupSources::aLibraryWithoutTheExportIsRefused()
{
    auto sources = makeSources();
    QVERIFY(!sources->SelectPlugin(plugin("noexports")));
    // The lookup example has no number function.
    QVERIFY(!sources->LoadNumberPlugin(example("csvlookup")));
    QCOMPARE(FPrompts.messages,
             QStringList({"unable to load function TmLookupNumber from user plug-in",
                          "unable to load function TmModifyNumber from user plug-in"}));
    QVERIFY(!sources->Enabled());
    QCOMPARE(sources->NumberPluginPath(), QString());
}

void TestLookupSources::aBlockingPluginFreezesNothingAndStaysLoadedUntilItReturns()
{
    auto sources = makeSources();
    QVERIFY(sources->SelectPlugin(plugin("blocking")));
    Loaded library(plugin("blocking"));
    QVERIFY(library);
    sources->StartLookup(QStringLiteral("0441"));
    QTRY_COMPARE_WITH_TIMEOUT(library.call("TestPluginInside"), 1, 10000);

    // The main thread goes on: its timers fire while the plug-in blocks.
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 5, 5000);

    QElapsedTimer clock;
    clock.start();
    sources->SelectBuiltIn(FServer->baseUrl());
    QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(library.call("TestPluginInside"), 1);
    QVERIFY(Loaded(plugin("blocking")));

    library.release();
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 1, 10000);
    QCOMPARE(FResults[0].name, QStringLiteral("Found 0441"));
    // Unloaded once the worker has gone.
    library = {};
    QTRY_VERIFY_WITH_TIMEOUT(!Loaded(plugin("blocking")), 10000);
}

void TestLookupSources::csvExamplePlugin()
{
    QTemporaryDir dir;
    const QString csv = dir.filePath("phonebook.csv");
    QFile file(csv);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# number;name\n0441123456;B\xC3\xA4"
               "ckerei M\xC3\xBCller\r\n"
               "++4319876543;Wiener B\xC3\xBCro\nbroken line\n0301;\n");
    file.close();
    qputenv("CORVANE_LOOKUP_CSV", QFile::encodeName(csv));

    auto sources = makeSources();
    QVERIFY(sources->SelectPlugin(example("csvlookup")));
    sources->StartLookup(QStringLiteral("0441123456"));
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 1, 10000);
    QCOMPARE(FResults[0].name, QString::fromUtf8("Bäckerei Müller"));
    sources->StartLookup(QStringLiteral("++4319876543"));
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 2, 10000);
    QCOMPARE(FResults[1].name, QString::fromUtf8("Wiener Büro"));
    QCOMPARE(search(*sources, QStringLiteral("0441")).text, QString());
    QCOMPARE(search(*sources, QStringLiteral("0301")).text, QString()); // empty name
    QCOMPARE(search(*sources, QStringLiteral("broken line")).text, QString());

    // A file in Windows-1252 is read too.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("0441;M\xFCller\n");
    file.close();
    QCOMPARE(search(*sources, QStringLiteral("0441")).text, QString::fromUtf8("Müller"));
    qunsetenv("CORVANE_LOOKUP_CSV");
    QCOMPARE(search(*sources, QStringLiteral("0441")).text, QString());
}

void TestLookupSources::outsideLineExamplePlugin()
{
    auto sources = makeSources();
    QCOMPARE(modify(*sources, QStringLiteral("0441123")), QStringLiteral("0441123"));
    QVERIFY(sources->LoadNumberPlugin(example("outsideline")));
    QCOMPARE(modify(*sources, QStringLiteral("21")), QStringLiteral("21"));
    QCOMPARE(modify(*sources, QStringLiteral("0441123")), QStringLiteral("00441123"));
    qputenv("CORVANE_OUTSIDE_LINE", "9");
    qputenv("CORVANE_EXTENSION_DIGITS", "4");
    QCOMPARE(modify(*sources, QStringLiteral("2100")), QStringLiteral("2100"));
    QCOMPARE(modify(*sources, QStringLiteral("004930123")), QStringLiteral("9004930123"));
    qunsetenv("CORVANE_OUTSIDE_LINE");
    qunsetenv("CORVANE_EXTENSION_DIGITS");
    // A replacement longer than the buffer's 254 bytes is no change.
    const QString longNumber(300, u'1');
    QCOMPARE(modify(*sources, longNumber), longNumber);
    QVERIFY(sources->LoadNumberPlugin(QString()));
    QCOMPARE(modify(*sources, QStringLiteral("0441123")), QStringLiteral("0441123"));
    QVERIFY(FPrompts.messages.isEmpty());
}

void TestLookupSources::callsIntoOneLibraryAreSerialised()
{
    auto sources = makeSources();
    QVERIFY(sources->SelectPlugin(plugin("blocking")));
    QVERIFY(sources->LoadNumberPlugin(plugin("blocking")));
    Loaded library(plugin("blocking"));
    library.call("TestPluginHold");
    sources->StartLookup(QStringLiteral("0441"));
    QTRY_COMPARE_WITH_TIMEOUT(library.call("TestPluginInside"), 1, 10000);
    // The rewrite waits for the lookup to leave the library, the event loop turning.
    QTimer::singleShot(300, [&library] { library.release(); });
    QCOMPARE(modify(*sources, QStringLiteral("0442")), QStringLiteral("90442"));
    QTRY_COMPARE_WITH_TIMEOUT(FResults.size(), 1, 10000);
    QCOMPARE(library.call("TestPluginMostInside"), 1);
}

void TestLookupSources::aPluginThatDoesNotAnswerInTimeIsShutOff()
{
    auto sources = makeSources();
    sources->ApplyLanguage(Language::English);
    sources->PluginTimeLimitMs = 300;
    QVERIFY(sources->SelectPlugin(plugin("stalling")));
    Loaded library(plugin("stalling"));
    QVERIFY(!search(*sources, QStringLiteral("0441")).answered);
    QCOMPARE(FPrompts.messages,
             QStringList{QStringLiteral("The plug-in %1 did not answer within 1 seconds. Corvane "
                                        "will not call it again until it is restarted.")
                             .arg(plugin("stalling"))});

    // Once it has returned, nothing calls it again, also when it is loaded anew.
    library.release();
    QTRY_COMPARE_WITH_TIMEOUT(library.call("TestPluginInside"), 0, 10000);
    QVERIFY(sources->LoadNumberPlugin(plugin("stalling")));
    QCOMPARE(modify(*sources, QStringLiteral("0441")), QStringLiteral("<nothing>"));
    sources->StartLookup(QStringLiteral("0441"));
    QTest::qWait(300);
    QCOMPARE(library.call("TestPluginCalls"), 1);
    QCOMPARE(FPrompts.messages.size(), 2);
    QCOMPARE(FResults.size(), 0);
    sources.reset();
    QVERIFY(Loaded(plugin("stalling")));
}

void TestLookupSources::endingWhileAPluginBlocksKeepsItLoaded()
{
    auto sources = makeSources();
    QVERIFY(sources->SelectPlugin(plugin("blocking2")));
    Loaded library(plugin("blocking2"));
    QVERIFY(library);
    sources->StartLookup(QStringLiteral("0441"));
    QTRY_COMPARE_WITH_TIMEOUT(library.call("TestPluginInside"), 1, 10000);
    QElapsedTimer clock;
    clock.start();
    sources.reset();
    QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
    library.release();
    QTRY_COMPARE_WITH_TIMEOUT(library.call("TestPluginInside"), 0, 10000);
    QTest::qWait(300);
    QCOMPARE(FResults.size(), 0);
    // Not unloaded under the returning thread's feet, nor afterwards.
    QVERIFY(Loaded(plugin("blocking2")));
}

QTEST_GUILESS_MAIN(TestLookupSources)
#include "tst_lookupsources.moc"
