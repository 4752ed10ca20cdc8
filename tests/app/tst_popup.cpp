// The popup's mouse and keys, the tray icon's clicks, and the shell around them: presses go
// through the window as real ones do (the right button's context menu included), so a press
// that a control lets fall through to the panel behind it shows here.
#define QTEST_QPA_MOUSE_HANDLING

#include "app/DialogPlacement.h"
#include "app/about.h"
#include "app/main.h"
#include "lists/ListPrompts.h"
#include "lists/lists.h"
#include "phone/isdntool.h"
#include "platform/KeyboardLed.h"
#include "platform/Sound.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

class TestPopup : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<SettingsStore> FSettings;
    ScriptedPrompts FPrompts;
    std::unique_ptr<TLists> FLists;
    AreaCodeTable FTowns;
    platform::UnavailableKeyboardLed FLed{QStringLiteral("no keyboard in this test")};
    platform::Sound FSound;
    std::unique_ptr<TMainForm> FForm;
    qint64 FTick = 100000;
    QStringList FHooks; // what the popup asked of the other windows

    GeneralSettings &s() { return FSettings->settings; }

    template <typename T> T *child(const char *name)
    {
        return FForm->findChild<T *>(QLatin1String(name));
    }

    // A call of a known caller, not yet seen, on show.
    void showNewCall()
    {
        FForm->CallHandler().PendingCalls().Add("0441123", "Anna", "12:00:00", QString(), "Oldenburg",
                                       "Office");
        FForm->ShowCall(-1);
        FForm->ShowPopup();
        FForm->move(100, 100);
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
    }

    static void closePopupMenus()
    {
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    }

    // The effects the popup shows after an action, in a fixed order.
    QString effects(const QPoint &placeBefore, const QSignalSpy &menus, const QSignalSpy &rejects)
    {
        QStringList seen;
        if (FForm->CallHandler().PendingCalls().IsAcknowledged()) seen << "ack";
        if (!FForm->isVisible()) seen << "hide";
        seen << FHooks;
        if (menus.count() > 0) seen << "menu";
        if (FForm->pos() != placeBefore) seen << "move";
        if (rejects.count() > 0) seen << "reject";
        return seen.join(u' ');
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
        s().useTapi = true;
        s().showReject = true;
        FPrompts = ScriptedPrompts();
        FLists = std::make_unique<TLists>(*FSettings, FPrompts, FDir->path());
        FLists->SetLanguage(Language::English);
        QVERIFY(FLists->LoadAtStartup());
        FLists->nicks().appendRow(NickRow{"Anna", "0441123", QString(), "log|popup|"});
        FForm = std::make_unique<TMainForm>(*FSettings, *FLists, FTowns, FPrompts, FLed, FSound);
        FForm->CallHandler().TickCount = [this] { return FTick; };
        FForm->ApplyLanguage(Language::English);
        FForm->SetListsLoaded(true);
        FForm->SetDialogsReady(true);
        FForm->FFirstShow = false;
        FForm->resize(400, 100);
        FHooks.clear();
        FForm->OnShowLists = [this](ListPage page) {
            FHooks << (page == ListPage::Calls ? "lists" : "other-lists");
        };
        FForm->OnOfferNewNickname = [this](const QString &, const QString &) { FHooks << "offer"; };
        FForm->OnDial = [this](const QString &number) { FHooks << "dial:" + number; };
        FForm->OnShowSearch = [this] { FHooks << "search"; };
    }

    void cleanup()
    {
        closePopupMenus();
        FForm.reset();
        FLists.reset();
        FSettings.reset();
        FDir.reset();
    }

    void mouse_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("shift");
        QTest::addColumn<bool>("drag");
        QTest::addColumn<QString>("expected");

        // What a left click, a right click and a left click with Shift do, and what a drag
        // with each does where it differs.
        struct Row
        {
            const char *control;
            const char *left, *right, *shiftLeft;
            const char *leftDrag, *shiftLeftDrag;
        };
        const char *panelLeft = "ack lists";
        const char *panelRight = "ack hide";
        const char *panelShift = "ack dial:0441123";
        const Row rows[] = {
            {"pnlMain", panelLeft, panelRight, panelShift, panelLeft, panelShift},
            {"CallLabel", panelLeft, panelRight, panelShift, panelLeft, panelShift},
            {"NumberLabel", panelLeft, panelRight, panelShift, panelLeft, panelShift},
            {"UnrecLabel", panelLeft, panelRight, panelShift, panelLeft, panelShift},
            {"OrtLabel", panelLeft, panelRight, panelShift, panelLeft, panelShift},
            // The header moves the window and offers the menu; it never acts as the panel.
            {"lbTremlow", "", "menu", "", "move", "move"},
            {"lbCorvane", "", "menu", "", "", ""},
            {"TimeLabel", "", "", "", "", ""},
            {"TargetLabel", "", "", "", "", ""},
            // A drag off a button cancels its click.
            {"sbtnClose", "ack hide", "menu", "ack hide", "", ""},
            {"sbReject", "reject", "menu", "reject", "", ""},
            {"memInfo", "ack", "ack", "ack", "ack", "ack"},
            {"margin", "ack", "ack", "ack", "ack", "ack"},
        };
        for (const Row &row : rows) {
            auto add = [&row](const char *how, Qt::MouseButton button, bool shift, bool drag,
                              const char *expected) {
                QTest::addRow("%s %s", row.control, how)
                    << QString::fromLatin1(row.control) << int(button) << shift << drag
                    << QString::fromLatin1(expected);
            };
            add("left", Qt::LeftButton, false, false, row.left);
            add("right", Qt::RightButton, false, false, row.right);
            add("shift+left", Qt::LeftButton, true, false, row.shiftLeft);
            add("left drag", Qt::LeftButton, false, true, row.leftDrag);
            add("right drag", Qt::RightButton, false, true, row.right);
            add("shift+left drag", Qt::LeftButton, true, true, row.shiftLeftDrag);
        }
    }

    void mouse()
    {
        QFETCH(QString, control);
        QFETCH(int, button);
        QFETCH(bool, shift);
        QFETCH(bool, drag);
        QFETCH(QString, expected);

        showNewCall();
        FForm->CapiMonitor1StateChange(control == "sbReject");
        if (control == "memInfo" || control == "margin")
            FForm->ShowAdditionalInfo(QStringLiteral("Main Street 1\nOldenburg"));
        if (control == "UnrecLabel") {
            child<QLabel>("NumberLabel")->hide();
            child<QLabel>("UnrecLabel")->setText(QStringLiteral("2 new calls"));
            child<QLabel>("UnrecLabel")->show();
        }
        auto *panel = child<QWidget>("pnlMain");
        QPoint at;
        QWidget *target = nullptr; // what the window finds under the point
        if (control == "pnlMain") {
            at = QPoint(FForm->width() / 2, panel->height() - 2);
            target = panel;
        } else if (control == "margin") {
            at = QPoint(FForm->width() / 2, panel->height() + 5);
        } else if (control == "memInfo") {
            auto *info = child<QPlainTextEdit>("memInfo");
            at = info->geometry().center();
            target = info->viewport();
        } else {
            target = child<QWidget>(control.toLatin1().constData());
            QVERIFY(target && target->isVisible());
            at = target->mapTo(FForm.get(), target->rect().center());
        }
        QCOMPARE(FForm->childAt(at), target);

        QSignalSpy menus(FForm->PopupMenu(), &QMenu::aboutToShow);
        QSignalSpy rejects(child<QToolButton>("sbReject"), &QToolButton::clicked);
        const QPoint placeBefore = FForm->pos();
        QWindow *window = FForm->windowHandle();
        const Qt::KeyboardModifiers modifiers = shift ? Qt::ShiftModifier : Qt::NoModifier;
        const auto mouseButton = Qt::MouseButton(button);
        QTest::mousePress(window, mouseButton, modifiers, at);
        // Up and to the left: away from a menu that opens down and to the right.
        const QPoint distance(-40, -30);
        QPoint releaseAt = at;
        if (drag) {
            QTest::mouseMove(window, at + distance);
            // A window that follows keeps the pointer over the control.
            if (FForm->pos() == placeBefore) releaseAt = at + distance;
        }
        QTest::mouseRelease(window, mouseButton, modifiers, releaseAt);
        closePopupMenus();

        const QString actual = effects(placeBefore, menus, rejects);
        if (actual.contains("move")) QCOMPARE(FForm->pos(), placeBefore + distance);
        QCOMPARE(actual, expected);
    }

    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << "ack hide";
        QTest::newRow("Alt+F4") << int(Qt::Key_F4) << int(Qt::AltModifier) << "ack hide";
        QTest::newRow("F4") << int(Qt::Key_F4) << int(Qt::NoModifier) << "ack";
        QTest::newRow("Ctrl+Alt+F4")
            << int(Qt::Key_F4) << int(Qt::AltModifier | Qt::ControlModifier) << "ack";
        QTest::newRow("F3") << int(Qt::Key_F3) << int(Qt::NoModifier) << "ack search";
        QTest::newRow("a letter") << int(Qt::Key_A) << int(Qt::NoModifier) << "ack";
        QTest::newRow("Scroll Lock") << int(Qt::Key_ScrollLock) << int(Qt::NoModifier) << "";
    }

    void keys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, expected);
        showNewCall();
        QSignalSpy menus(FForm->PopupMenu(), &QMenu::aboutToShow);
        QSignalSpy rejects(child<QToolButton>("sbReject"), &QToolButton::clicked);
        QTest::keyClick(FForm.get(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(effects(FForm->pos(), menus, rejects), expected);
    }

    void trayClickTogglesOncePerUserAction()
    {
        showNewCall();
        FForm->HidePopup();
        QSystemTrayIcon *tray = FForm->TrayIcon();
        const int interval = QApplication::doubleClickInterval();

        // A double click arrives as a click and a double click: the popup opens and stays.
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(FForm->isVisible());
        FTick += interval / 2;
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(FForm->isVisible());
        // Hosts that send two clicks for it: likewise.
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(FForm->isVisible());
        QVERIFY(!FForm->CallHandler().PendingCalls().IsAcknowledged());

        // The next click of its own closes it and the calls count as seen.
        FTick += interval + 1;
        emit tray->activated(QSystemTrayIcon::Trigger);
        QVERIFY(!FForm->isVisible());
        QVERIFY(FForm->CallHandler().PendingCalls().IsAcknowledged());
        FTick += interval + 1;
        emit tray->activated(QSystemTrayIcon::Context);
        QVERIFY(!FForm->isVisible());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(FForm->isVisible());
    }

    void unreadableSettingsShowInTheHintAndTheLog()
    {
        const QString ini = FSettings->iniPath();
        QVERIFY(QFile::remove(ini));
        QVERIFY(QDir().mkpath(ini)); // a directory cannot be read as the file
        FForm->ReadIni();
        const QString why = ini + " cannot be read (";
        QVERIFY2(FForm->TrayHint().startsWith("Tremlow Corvane: " + why),
                 qPrintable(FForm->TrayHint()));
        QCOMPARE(FForm->TrayIcon()->toolTip(), FForm->TrayHint());
        const auto logged = [this] {
            QFile log(FDir->filePath("corvane.log"));
            return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
        };
        QTRY_VERIFY(logged().contains(why)); // written in the background
        QString error;
        QVERIFY(!FForm->WriteIni(&error));
        QVERIFY(QFileInfo(ini).isDir());

        QVERIFY(QDir(ini).removeRecursively());
        FForm->ReadIni();
        QCOMPARE(FForm->TrayHint(), QStringLiteral("Tremlow Corvane"));
        QVERIFY(FForm->WriteIni());
    }

    // Where a window goes that would open under the popup.
    void placeClearOfAnObstacle_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("obstacle");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("apart") << QRect(100, 300, 300, 200) << QRect(0, 0, 400, 100)
                               << QPoint(100, 300);
        QTest::newRow("below") << QRect(100, 50, 300, 200) << QRect(0, 0, 400, 100)
                               << QPoint(100, 100);
        QTest::newRow("right") << QRect(50, 50, 300, 200) << QRect(0, 0, 400, 500)
                               << QPoint(400, 50);
        QTest::newRow("left") << QRect(450, 50, 300, 200) << QRect(400, 0, 400, 500)
                              << QPoint(100, 50);
        QTest::newRow("above") << QRect(100, 400, 300, 200) << QRect(0, 450, 800, 150)
                               << QPoint(100, 250);
        QTest::newRow("on the screen") << QRect(700, 50, 300, 200) << QRect(0, 0, 800, 100)
                                       << QPoint(500, 100);
        QTest::newRow("too large: its title bar below")
            << QRect(0, 0, 700, 500) << QRect(0, 0, 800, 300) << QPoint(0, 300);
    }

    void placeClearOfAnObstacle()
    {
        QFETCH(QRect, frame);
        QFETCH(QRect, obstacle);
        QFETCH(QPoint, expected);
        QCOMPARE(PlaceClearOf(frame, obstacle, QRect(0, 0, 800, 600)), expected);
    }

    // A dialog that would open under the popup on top (the about window from the tray menu,
    // the lists where the settings put them) appears below it, within the screen; while the
    // popup is hidden or not on top, a dialog opens where it would.
    void dialogsOpenClearOfThePopup()
    {
        showNewCall();
        FForm->setGeometry(0, 0, 600, 280); // enlarged by the user
        const QRect screen = FForm->screen()->availableGeometry();
        const auto clear = [this, screen](QWidget *dialog) {
            const QRect frame = dialog->frameGeometry();
            return !frame.intersects(FForm->frameGeometry()) && screen.contains(frame);
        };
        TAboutBox about;
        FForm->AboutBox = &about;
        FForm->UpdateMenuAvailability();
        bool aboutClear = false;
        QTimer::singleShot(0, &about, [&] {
            aboutClear = about.isVisible() && clear(&about);
            about.accept();
        });
        FForm->PopupMenu()->findChild<QAction *>("Info")->trigger();
        QVERIFY(aboutClear);

        QDialog lists;
        lists.setGeometry(100, 100, 566, 200);
        lists.show();
        QVERIFY(clear(&lists));
        lists.hide();

        FForm->HidePopup();
        lists.setGeometry(100, 100, 566, 200);
        lists.show();
        QCOMPARE(lists.geometry().topLeft(), QPoint(100, 100));
        lists.hide();
        FForm->setWindowFlag(Qt::WindowStaysOnTopHint, false);
        FForm->ShowPopup();
        QVERIFY(FForm->isVisible());
        lists.show();
        QCOMPARE(lists.geometry().topLeft(), QPoint(100, 100));
    }

    void cancelledLogoutStillSavesAtTheEnd()
    {
        const QString ini = FSettings->iniPath();
        s().duration = 7;
        FForm->CommitSessionData();
        QVERIFY(!FForm->Closed());
        QVERIFY(!FPrompts.Quiet); // messages are shown again
        QFile file(ini);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Intervall=7000"));
        file.close();

        // The logout was cancelled; the settings change again, and the real end writes them.
        s().duration = 9;
        FForm->FormCloseQuery();
        QVERIFY(FForm->Closed());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Intervall=9000"));
    }
};

QTEST_MAIN(TestPopup)
#include "tst_popup.moc"
