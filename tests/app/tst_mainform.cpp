// The popup and the tray as the call handling drives them, without a line: what a call
// shows, rotation, auto-hide, blinking and the arithmetic of the popup.
#include "app/about.h"
#include "app/main.h"
#include "capi/CpConst.h"
#include "lists/ListPrompts.h"
#include "lists/PromptBoxes.h"
#include "lists/lists.h"
#include "phone/isdntool.h"
#include "platform/KeyboardLed.h"
#include "platform/Sound.h"
#include "platform/TrayIcons.h"
#include "settings/SettingsStore.h"
#include "tests/app/CallTestSupport.h"

#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <dlfcn.h>

namespace {

class FakeLed : public platform::KeyboardLed
{
public:
    bool on = false;
    bool broken = false;
    int reads = 0;
    QStringList changes;
    bool ReadScrollLock(bool &state, QString *error) override
    {
        ++reads;
        if (broken) {
            if (error) *error = QStringLiteral("no keyboard here");
            return false;
        }
        state = on;
        return true;
    }
    bool PressScrollLock(QString *) override
    {
        on = !on;
        changes << (on ? QStringLiteral("on") : QStringLiteral("off"));
        return true;
    }
};

} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    std::unique_ptr<TLists> FLists;
    AreaCodeTable FTowns;
    FakeLed FLed;
    platform::Sound FSound;
    std::unique_ptr<TMainForm> FForm;
    qint64 FTick = 100000;
    FakeLine *FLine = nullptr;
    line::TCallId FCall = 0; // the call rung last

    RecordingLookup FLookup;

    GeneralSettings &s() { return FSettings->settings; }

    template <typename T> T *child(const char *name)
    {
        return FForm->findChild<T *>(QLatin1String(name));
    }

    // A call offered by the line a second after the last one; true when the handler
    // rejected it at once.
    bool ring(const QString &caller, const QString &called = QStringLiteral("85606"))
    {
        FTick += 1000;
        bool rejected = false;
        FCall = FLine->offer(caller, called, &rejected);
        return rejected;
    }

    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            FForm->Timer1Timer();
    }

private slots:
    void init()
    {
        FDir = std::make_unique<QTemporaryDir>();
        qputenv("CORVANE_HOME", FDir->path().toLocal8Bit());
        FSettings = std::make_unique<SettingsStore>(FDir->filePath("corvane.ini"));
        FSettings->readAll();
        s().scrollLed = false;
        s().balloon = false;
        FPrompts = ScriptedPrompts();
        FLists = std::make_unique<TLists>(*FSettings, FPrompts, FDir->path());
        FLists->SetLanguage(Language::English);
        QVERIFY(FLists->LoadAtStartup());
        FTowns.setLines({QStringLiteral("441 Oldenburg"), QStringLiteral("30 Berlin"),
                         QStringLiteral("++43 Österreich")});
        FLed = FakeLed();
        FForm = std::make_unique<TMainForm>(*FSettings, *FLists, FTowns, FPrompts, FLed, FSound);
        FForm->CallHandler().TickCount = [this] { return FTick; };
        auto fakeLine = std::make_unique<FakeLine>();
        FLine = fakeLine.get();
        FForm->CallHandler().AddLineSource(std::move(fakeLine));
        FLookup.numbers.clear();
        FForm->CallHandler().Lookup = &FLookup;
        FForm->ApplyLanguage(Language::English);
        FForm->SetListsLoaded(true);
        FForm->SetDialogsReady(true);
        FForm->FFirstShow = false;
        FForm->resize(400, 100);
    }

    void cleanup()
    {
        FForm.reset();
        FLists.reset();
        FSettings.reset();
        FDir.reset();
    }

    void knownCallerIsShownAndStored()
    {
        addNick(*FLists, QStringLiteral("Anna"), QStringLiteral("0441123"),
                QStringLiteral("log|popup|"));
        QVERIFY(!ring(QStringLiteral("0441123")));
        QVERIFY(FForm->isVisible());
        QCOMPARE(child<QLabel>("NumberLabel")->text(), QStringLiteral("Anna"));
        QCOMPARE(child<QLabel>("OrtLabel")->text(), QStringLiteral(" Nr.: 0441123"));
        QCOMPARE(child<QLabel>("TargetLabel")->text(), QStringLiteral(" Target: 85606"));
        QVERIFY(FLookup.numbers.isEmpty());
        QCOMPARE(FLists->calls().count(), 1);
        const CallRow row = FLists->calls().row(0);
        QCOMPARE(row.number, QStringLiteral("0441123"));
        QCOMPARE(row.nickname, QStringLiteral("Anna"));
        QCOMPARE(row.town, QStringLiteral("Oldenburg"));
        QCOMPARE(row.status, QStringLiteral(" "));
        // Written at once, so the call survives a line that never reports its end.
        QTRY_VERIFY(QFile(FLists->fileName(ListKind::Calls)).size() > 0);

        s().duration = 0;
        s().closeDisCon = true;
        FLine->end(FCall, 0x3490);
        QCOMPARE(lastStatus(*FLists), QStringLiteral("not anwsered"));
        QVERIFY(!FForm->isVisible());
    }

    void unknownCallerGetsTownAndLookup()
    {
        ring(QStringLiteral("0301234"));
        QCOMPARE(child<QLabel>("NumberLabel")->text(), QStringLiteral("0301234"));
        QCOMPARE(child<QLabel>("OrtLabel")->text(), QStringLiteral(" Town: Berlin"));
        QCOMPARE(FLookup.numbers, QStringList({"0301234"}));
        QCOMPARE(FLists->calls().row(0).nickname, QStringLiteral(" "));
    }

    // A language switch while a call is on show keeps its number, town and target and only
    // changes the captions; so does the count of new calls between two callers.
    void languageSwitchKeepsTheCallOnShow()
    {
        addNick(*FLists, QStringLiteral("Anna"), QStringLiteral("0441123"),
                QStringLiteral("log|popup|"));
        ring(QStringLiteral("0441123"));
        auto *caption = child<QLabel>("CallLabel");
        auto *town = child<QLabel>("OrtLabel");
        auto *target = child<QLabel>("TargetLabel");
        FForm->ApplyLanguage(Language::German);
        QCOMPARE(caption->text(), QStringLiteral(" Anruf von:"));
        QCOMPARE(child<QLabel>("NumberLabel")->text(), QStringLiteral("Anna"));
        QCOMPARE(town->text(), QStringLiteral(" Nr.: 0441123"));
        QCOMPARE(target->text(), QStringLiteral(" Ziel: 85606"));
        QVERIFY(target->width() >= target->fontMetrics().horizontalAdvance(target->text()));

        FForm->AcknowledgeCalls();
        ring(QStringLiteral("0301234"));
        FForm->ApplyLanguage(Language::English);
        QCOMPARE(child<QLabel>("NumberLabel")->text(), QStringLiteral("0301234"));
        QCOMPARE(town->text(), QStringLiteral(" Town: Berlin"));
        QCOMPARE(target->text(), QStringLiteral(" Target: 85606"));

        s().showMultipleCalls = true;
        s().duration = 0;
        s().callRotationTimeout = 30;
        ring(QStringLiteral("0441222"));
        FTick += 31000;
        auto *count = child<QLabel>("UnrecLabel");
        for (int i = 0; i < 30 && !count->isVisible(); ++i)
            FForm->Timer1Timer();
        QCOMPARE(count->text(), QStringLiteral("2 new calls"));
        FForm->ApplyLanguage(Language::German);
        QVERIFY(count->isVisible());
        QCOMPARE(count->text(), QStringLiteral("2 neue Anrufe"));
        QCOMPARE(caption->text(), QStringLiteral(" Hinweis:"));
        QCOMPARE(town->text(), QString());
    }

    void blockingLookupPluginFreezesNothing()
    {
        FForm->CallHandler().Lookup = &FForm->Lookup();
        QVERIFY(FForm->Lookup().SelectPlugin(QStringLiteral(BLOCKING_PLUGIN)));
        void *plugin = dlopen(BLOCKING_PLUGIN, RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(plugin);
        auto inside = reinterpret_cast<int (*)()>(dlsym(plugin, "TestPluginInside"));
        auto release = reinterpret_cast<void (*)()>(dlsym(plugin, "TestPluginRelease"));

        ring(QStringLiteral("0301234"));
        QVERIFY(FForm->isVisible());
        QCOMPARE(child<QLabel>("NumberLabel")->text(), QStringLiteral("0301234"));
        QTRY_COMPARE_WITH_TIMEOUT(inside(), 1, 10000);
        // While the plug-in blocks, the display timer ticks and the next call is shown.
        FForm->StartDisplayTimer();
        const int ticksBefore = FForm->FTickCount;
        QTRY_VERIFY_WITH_TIMEOUT(FForm->FTickCount >= ticksBefore + 3, 5000);
        addNick(*FLists, QStringLiteral("Anna"), QStringLiteral("0441123"),
                QStringLiteral("log|popup|"));
        ring(QStringLiteral("0441123"));
        QCOMPARE(child<QLabel>("NumberLabel")->text(), QStringLiteral("Anna"));
        QCOMPARE(inside(), 1);

        release();
        QTRY_COMPARE_WITH_TIMEOUT(FForm->CallHandler().PendingCalls().Get(0).value("NickName"),
                                  QStringLiteral("Found 0301234"), 10000);
        QCOMPARE(child<QLabel>("NumberLabel")->text(), QStringLiteral("Anna"));
        QCOMPARE(FLists->calls().count(), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(FLists->calls().row(i).nickname, FLists->calls().row(i).number == "0301234"
                                                          ? QStringLiteral("Found 0301234")
                                                          : QStringLiteral("Anna"));
        dlclose(plugin);
    }

    void numbersArePlainText()
    {
        ring(QStringLiteral("<b>0441</b>"));
        auto *label = child<QLabel>("NumberLabel");
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->text(), QStringLiteral("<b>0441</b>"));
    }

    void callBeforeTheFirstTickStaysOnShow()
    {
        FForm->FFirstShow = true;
        ring(QStringLiteral("0441123"));
        ticks(1);
        QVERIFY(FForm->isVisible());
    }

    void ignoredMsnAndDeactivation()
    {
        addMsn(*FLists, QStringLiteral("85606"), QStringLiteral("Office"),
               QStringLiteral("log|popup|"), false);
        ring(QStringLiteral("0441123"));
        QVERIFY(!FForm->isVisible());
        QCOMPARE(FLists->calls().count(), 0);

        addMsn(*FLists, QStringLiteral("85607"), QStringLiteral("Fax"),
               QStringLiteral("log|popup|reject all|"));
        FForm->ToggleActive();
        QCOMPARE(FForm->PopupMenu()->findChild<QAction *>("Deaktivieren1")->text(),
                 QStringLiteral("&Activate"));
        // Deactivated: still rejected by the lists, nothing shown or stored.
        QVERIFY(ring(QStringLiteral("0441123"), QStringLiteral("85607")));
        QVERIFY(!FForm->isVisible());
        QCOMPARE(FLists->calls().count(), 0);
    }

    void rotationCycle()
    {
        s().showMultipleCalls = true;
        s().duration = 0;
        s().callRotationTimeout = 30;
        ring(QStringLiteral("0441111"));
        ring(QStringLiteral("0441222"));
        auto *number = child<QLabel>("NumberLabel");
        auto *count = child<QLabel>("UnrecLabel");
        // While the rotation time-out runs the newest call stays.
        ticks(10);
        QCOMPARE(number->text(), QStringLiteral("0441222"));
        QVERIFY(!count->isVisible());

        FTick += 31000;
        QStringList seen;
        for (int i = 0; i < 30; ++i) {
            FForm->Timer1Timer();
            if (FForm->FTickCount % 5 != 0) continue;
            seen << (count->isVisible() ? count->text() : number->text());
            QCOMPARE(child<QLabel>("CallLabel")->text(),
                     count->isVisible() ? QStringLiteral(" Hint:") : QStringLiteral(" Call from:"));
        }
        const int start = seen.indexOf(QStringLiteral("2 new calls"));
        QVERIFY(start >= 0);
        QCOMPARE(seen.mid(start, 4),
                 QStringList({"2 new calls", "0441111", "0441222", "2 new calls"}));
    }

    void autoHide()
    {
        s().duration = 5;
        ring(QStringLiteral("0441123"));
        ticks(17);
        QVERIFY(FForm->isVisible());
        ticks(1);
        QVERIFY(!FForm->isVisible());

        // An unknown caller stays with KeepUnknown.
        s().keepUnknown = true;
        ring(QStringLiteral("0441124"));
        ticks(40);
        QVERIFY(FForm->isVisible());
    }

    void trayAndLedBlink()
    {
        s().scrollLed = true;
        ring(QStringLiteral("0441123"));
        // One flash, five ticks of rest, the next flash.
        ticks(7);
        QCOMPARE(FLed.changes, QStringList({"on", "off"}));
        ticks(2);
        QCOMPARE(FLed.changes, QStringList({"on", "off", "on", "off"}));

        FForm->AcknowledgeCalls();
        FLed.changes.clear();
        FTick += 1000;
        for (const char *caller : {"0441111", "0441222", "0441333"})
            ring(QLatin1String(caller));
        ticks(6);
        QCOMPARE(FLed.changes.count("on"), 3);
        ticks(5);
        QCOMPARE(FLed.changes.count("on"), 3); // the rest
        ticks(1);
        QCOMPARE(FLed.changes.count("on"), 4);
    }

    void unreadableKeyboardLatchesTheLed()
    {
        s().scrollLed = true;
        FLed.broken = true;
        ring(QStringLiteral("0441123"));
        ticks(3);
        QCOMPARE(FPrompts.messages, QStringList({"no keyboard here"}));
        QVERIFY(!s().scrollLed);
        FLed.broken = false;
        QVERIFY(!FForm->SetScrollLed(true));
        QVERIFY(FLed.changes.isEmpty());
    }

    void ledIsTouchedOnlyWhereTheProgramLitIt()
    {
        // The option off and no LED to reach: calls and acknowledging never ask for it.
        FLed.broken = true;
        ring(QStringLiteral("0441123"));
        ticks(8);
        FForm->AcknowledgeCalls();
        QCOMPARE(FLed.reads, 0);
        QVERIFY(FPrompts.messages.isEmpty());

        // The user's own Scroll Lock is left as it is, at acknowledging and at the end.
        FLed.broken = false;
        FLed.on = true;
        ring(QStringLiteral("0441124"));
        ticks(8);
        FForm->AcknowledgeCalls();
        QVERIFY(FLed.changes.isEmpty());

        // Switched off while the blinking has the LED lit: it goes dark and stays dark.
        FLed.on = false;
        s().scrollLed = true;
        ring(QStringLiteral("0441125"));
        ticks(1);
        QCOMPARE(FLed.changes, QStringList({"on"}));
        s().scrollLed = false;
        ticks(1);
        QCOMPARE(FLed.changes, QStringList({"on", "off"}));
        ticks(8);
        FForm->AcknowledgeCalls();
        QCOMPARE(FLed.changes, QStringList({"on", "off"}));

        // Lit by the program when it ends: switched off.
        s().scrollLed = true;
        ring(QStringLiteral("0441126"));
        ticks(1);
        QVERIFY(FLed.on);
        FForm.reset();
        QVERIFY(!FLed.on);
    }

    void layoutAtWidth400()
    {
        FForm->resize(400, 100);
        FForm->SetSize();
        QCOMPARE(child<QLabel>("CallLabel")->font().pointSize(), 12);
        QCOMPARE(child<QToolButton>("sbtnClose")->font().pointSize(), 14);
        QVERIFY(child<QLabel>("NumberLabel")->font().pointSize() <= 24);
        auto *close = child<QToolButton>("sbtnClose");
        auto *maker = child<QLabel>("lbTremlow");
        QCOMPARE(close->height(), maker->height());
        QCOMPARE(maker->x(), close->width());

        s().showClose = false;
        FForm->SetSize();
        QCOMPARE(child<QLabel>("lbTremlow")->x(), 0);
        FForm->resize(100, 20);
        FForm->SetSize();
        QCOMPARE(FForm->width(), 200); // the smallest width
        QCOMPARE(child<QLabel>("CallLabel")->font().pointSize(), 6);
    }

    void longNamesShrinkToFit()
    {
        addNick(*FLists, QString(60, QLatin1Char('W')), QStringLiteral("0441123"),
                QStringLiteral("log|popup|"));
        ring(QStringLiteral("0441123"));
        auto *number = child<QLabel>("NumberLabel");
        QCOMPARE(number->font().pointSize(), 3); // clipped at the smallest size
        addNick(*FLists, QStringLiteral("Bo"), QStringLiteral("0441124"),
                QStringLiteral("log|popup|"));
        ring(QStringLiteral("0441124"));
        QCOMPARE(number->font().pointSize(), 24);
    }

    void infoAreaGrowsAndShrinks()
    {
        ring(QStringLiteral("0441123"));
        const int base = FForm->height();
        FForm->CallHandler().PendingCalls().Get(-1).setValue("AdditionalInfo",
                                                    "Line one\nLine two\nLine three");
        FForm->ShowCall(-1);
        auto *info = child<QPlainTextEdit>("memInfo");
        QVERIFY(info->isVisible());
        QCOMPARE(info->toPlainText().split('\n').size(), 3);
        QVERIFY(FForm->height() > base + 28);
        QCOMPARE(FForm->BaseHeight(), base);
        // Lines as the lookup delivers them, each ended by a carriage return: as many lines.
        const int threeLines = FForm->height();
        FForm->CallHandler().PendingCalls().Get(-1).setValue("AdditionalInfo",
                                                    "Line one\rLine two\rLine three\r");
        FForm->ShowCall(-1);
        QCOMPARE(info->toPlainText(), QStringLiteral("Line one\nLine two\nLine three"));
        QCOMPARE(FForm->height(), threeLines);

        ring(QStringLiteral("0441124"));
        QVERIFY(!info->isVisible());
        QCOMPARE(FForm->height(), base);
    }

    void aLongAnswerStaysOnTheScreenAndScrolls()
    {
        const QRect screen = FForm->screen()->availableGeometry();
        FForm->move(screen.left(), screen.bottom() - 300);
        ring(QStringLiteral("0441123"));
        const int base = FForm->height();
        const QString info = QStringLiteral("Line\n").repeated(5000) + QStringLiteral("Last");
        FForm->CallHandler().PendingCalls().Get(-1).setValue("AdditionalInfo", info);
        FForm->ShowCall(-1);
        auto *memo = child<QPlainTextEdit>("memInfo");
        QVERIFY(FForm->height() > base);
        QVERIFY2(FForm->geometry().bottom() <= screen.bottom(),
                 qPrintable(QString::number(FForm->geometry().bottom())));
        QCOMPARE(FForm->BaseHeight(), base);
        QCOMPARE(memo->toPlainText(), info);
        QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        QVERIFY(memo->verticalScrollBar()->maximum() > 0);
    }

    void closingOpensNoWindow()
    {
        // A modal box at the end of the session would keep the program from ending.
        FForm->FormCloseQuery();
        QVERIFY(FPrompts.Quiet);
        TPromptBoxes boxes;
        boxes.Quiet = true;
        QCOMPARE(boxes.askFileError(QStringLiteral("Error saving nickname file")),
                 ListPrompts::Answer::Ignore);
        QVERIFY(!boxes.askYesNo(QStringLiteral("Delete?")));
        boxes.inform(QStringLiteral("nobody reads this"));
        QVERIFY(QFile::exists(FDir->filePath("corvane.ini")));
    }

    void aboutWindowClosesItself()
    {
        TAboutBox about;
        about.CloseAfterMs = 200;
        QElapsedTimer clock;
        clock.start();
        about.ShowModal(QStringLiteral("Tremlow Corvane: Connection to the CAPI controller lost."));
        QVERIFY(clock.elapsed() >= 150);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.findChild<QLabel *>("ProductName")->text(),
                 QStringLiteral("Tremlow Corvane: Connection to the CAPI controller lost."));
    }

    void transparency()
    {
        QCOMPARE(TMainForm::TransparencyAlpha(0), 255);
        QCOMPARE(TMainForm::TransparencyAlpha(100), 0);
        QCOMPARE(TMainForm::TransparencyAlpha(50), 128);
        QCOMPARE(TMainForm::TransparencyAlpha(30), 178);
    }

    void lineStateInTheHint()
    {
        QCOMPARE(FForm->TrayHint(), QStringLiteral("Tremlow Corvane"));
        qputenv("CORVANE_CAPI_LIBRARY", "/nonexistent/libcapi20.so.3");
        FForm->StartMonitor();
        QCOMPARE(
            FForm->TrayHint(),
            QStringLiteral("Tremlow Corvane: File \"/nonexistent/libcapi20.so.3\" not found."));
        QCOMPARE(FForm->TrayIcon()->toolTip(), FForm->TrayHint());

        // The tray shows it: the active image with its badge, while monitoring is on.
        const auto image = [](const QIcon &icon) { return icon.pixmap(22, 22).toImage(); };
        const QIcon active = platform::TrayIcon(platform::TrayIconState::Active, 2);
        QVERIFY(FForm->LineDown());
        QCOMPARE(image(FForm->TrayIcon()->icon()), image(platform::LineDownIcon(active)));
        FForm->ToggleActive();
        QCOMPARE(image(FForm->TrayIcon()->icon()),
                 image(platform::TrayIcon(platform::TrayIconState::Deactivated, 2)));
        FForm->ToggleActive();
        // A new call's blink alternates with the line's image, not the plain one.
        ring("0301234");
        ticks(2);
        QCOMPARE(image(FForm->TrayIcon()->icon()), image(platform::LineDownIcon(active)));
    }

    void theRouterMonitorInTheHintAndBackToIsdn()
    {
        QTcpServer router;
        QVERIFY(router.listen(QHostAddress::LocalHost));
        const QString address = QStringLiteral("127.0.0.1:%1").arg(router.serverPort());
        FSettings->ini().writeString("Settings", "RouterMonitorHost", address);
        QVERIFY(FSettings->ini().save());
        FForm->ReadIni();
        QVERIFY(FForm->StartMonitor());
        QVERIFY(!FForm->CallHandler().CapiMonitor());
        const QString prefix = QStringLiteral("Tremlow Corvane: Router's call monitor %1: ").arg(address);
        QCOMPARE(FForm->TrayHint(), prefix + QStringLiteral("connecting"));
        QTRY_COMPARE(FForm->TrayHint(), prefix + QStringLiteral("connected"));
        QVERIFY(!FForm->LineDown());

        // The router goes: the hint says why, the tray shows the badge.
        QTRY_VERIFY(router.hasPendingConnections());
        delete router.nextPendingConnection();
        QTRY_VERIFY(FForm->LineDown());
        QVERIFY2(FForm->TrayHint().startsWith(
                     QStringLiteral("Tremlow Corvane: No connection to the router monitor at %1")
                         .arg(address)),
                 qPrintable(FForm->TrayHint()));
        QCOMPARE(FForm->TrayIcon()->toolTip(), FForm->TrayHint());

        // Emptied at OK: the ISDN line again, at once.
        qputenv("CORVANE_CAPI_LIBRARY", "/nonexistent/libcapi20.so.3");
        FSettings->ini().writeString("Settings", "RouterMonitorHost", QString());
        QVERIFY(FSettings->ini().save());
        FForm->ReadIni();
        QCOMPARE(FForm->CallHandler().OwnLine()->Kind(), line::TLineKind::Capi);
        QCOMPARE(FForm->TrayHint(),
                 QStringLiteral("Tremlow Corvane: File \"/nonexistent/libcapi20.so.3\" not found."));
    }

    void trayIconFileIsReadOnce()
    {
        // The icon is set at every blink; its file is read when the settings name it, not then.
        const QString file = FDir->filePath("mine.png");
        QImage mine(16, 16, QImage::Format_ARGB32);
        mine.fill(Qt::magenta);
        QVERIFY(mine.save(file));
        FSettings->ini().writeString("Icons", "1", file);
        FForm->ReloadTrayIcons();
        const auto colour = [this] {
            return FForm->TrayIcon()->icon().pixmap(16, 16).toImage().pixelColor(8, 8);
        };
        QCOMPARE(colour(), QColor(Qt::magenta));
        QVERIFY(QFile::remove(file));
        ring("0301234");
        ticks(4);
        FForm->AcknowledgeCalls();
        QCOMPARE(colour(), QColor(Qt::magenta));
        // Read again when the options change the icons: gone, so the built-in one.
        FForm->ReloadTrayIcons();
        QVERIFY(colour() != QColor(Qt::magenta));
    }

    // Missing at the first look and each time it goes again, back in between: one report
    // each; a tray there from the start is no news.
    void trayWatchReportsEachChange()
    {
        const QList<bool> seen = {false, false, true, true, false, false};
        int look = 0, missing = 0, back = 0, found = 0;
        TTrayWatch watch;
        watch.TrayAvailable = [&] { return seen.value(look++, false); };
        watch.OnTrayMissing = [&] { ++missing; };
        watch.OnTrayBack = [&] { ++back; };
        watch.OnTrayFound = [&] { ++found; };
        QVERIFY(watch.Available()); // not looked yet
        watch.Start(5);
        QTRY_VERIFY(look > seen.size());
        QCOMPARE(missing, 2);
        QCOMPARE(back, 1);
        QCOMPARE(found, 1);
        QVERIFY(!watch.Available());

        // A tray there from the start is found (the icon waits for it off X11), not back.
        TTrayWatch there;
        there.TrayAvailable = [] { return true; };
        there.OnTrayBack = [&] { ++back; };
        there.OnTrayFound = [&] { ++found; };
        there.Start(5);
        QTRY_COMPARE(found, 2);
        QTest::qWait(50);
        QCOMPARE(back, 1);
        QCOMPARE(found, 2);
    }

    // Started again without a switch, the running program comes forward: with a tray and
    // no window open, its popup; an open window stays the one in front.
    void secondStartBringsThePopupForward()
    {
        QList<ListPage> opened;
        FForm->OnShowLists = [&opened](ListPage page) { opened << page; };
        FForm->TrayWatch().TrayAvailable = [] { return true; };
        QVERIFY(!FForm->isVisible());
        QVERIFY(!FForm->OpenWindow());
        FForm->AppMessage(platform::InstanceCommand::None, QString());
        QVERIFY(FForm->isVisible());
        QCOMPARE(FForm->OpenWindow(), static_cast<QWidget *>(FForm.get()));
        FForm->HidePopup();

        // A minimised dialog is restored instead.
        QDialog dialog;
        dialog.setWindowState(Qt::WindowMinimized);
        dialog.show();
        QCOMPARE(FForm->OpenWindow(), static_cast<QWidget *>(&dialog));
        QVERIFY(FForm->RaiseOpenWindow());
        QVERIFY(!(dialog.windowState() & Qt::WindowMinimized));
        FForm->AppMessage(platform::InstanceCommand::None, QString());
        QVERIFY(!FForm->isVisible());
        QVERIFY(opened.isEmpty());
        dialog.hide();
        QVERIFY(!FForm->RaiseOpenWindow());
    }

    void secondStartWithoutTrayOpensTheCallList()
    {
        QList<ListPage> opened;
        FForm->OnShowLists = [&opened](ListPage page) { opened << page; };
        FForm->TrayWatch().TrayAvailable = [] { return false; };
        ring("0301234");
        FForm->AppMessage(platform::InstanceCommand::None, QString());
        QCOMPARE(opened, QList<ListPage>{ListPage::Calls});
        QVERIFY(FForm->CallHandler().PendingCalls().IsAcknowledged());
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
