// The lists and the languages in the real program: the tray menu opens the phone book,
// the nickname editor takes a new entry typed on the keyboard, a call from that number
// shows the new nickname; the windows in German and in English; the menu's Help opens the
// guide of the program's language.
#include "tests/e2e/Desktop.h"

#include <QtTest>

using namespace e2e;

class TestE2eLists : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrayHost> FTray;
    QString FShots;

    // The program's tray icon: a small visible window of the program's class.
    QRect trayIcon()
    {
        QRect icon;
        waitFor([&] {
            const QString ids = run(QStringLiteral("xdotool"),
                                    {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                     QStringLiteral("--class"), QStringLiteral("^corvane$")});
            for (const QString &id : ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
                const QRect rect = windowGeometry(id);
                if (rect.width() <= 48 && rect.height() <= 48 && rect.width() > 4) icon = rect;
            }
            return icon.isValid();
        });
        return icon;
    }

    // Opens the tray icon's menu with a right click; the icon, or an empty rectangle when
    // there is no icon or no menu.
    QRect openTrayMenu()
    {
        const QRect icon = trayIcon();
        if (!icon.isValid()) return {};
        click(icon.center(), 3);
        if (!waitFor([&] { return !visibleWindows(QStringLiteral(".*")).isEmpty(); })) return {};
        QTest::qWait(300);
        return icon;
    }

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

    void nicknameAddedThroughTheTrayMenu()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\nRejectTime=1\n");
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));

        const QRect icon = openTrayMenu();
        QVERIFY2(icon.isValid(), "the tray shows the program's icon and its menu");
        // The menu opens at the pointer; its first item is the phone book.
        screenshot(FShots + QStringLiteral("/tray-menu.png"));
        click(icon.center() + QPoint(20, 14));
        const QString lists = waitForWindow(QStringLiteral("^Lists - "));
        QVERIFY2(!lists.isEmpty(), "the tray menu opened the lists");

        // New entry from the view's context menu, then typed into the editor.
        const QRect listRect = windowGeometry(lists);
        click(listRect.center(), 3);
        QTest::qWait(300);
        key(QStringLiteral("n"));
        QVERIFY(!waitForWindow(QStringLiteral("^Nickname$")).isEmpty());
        QTest::qWait(200);
        type(QStringLiteral("Bernd"));
        key(QStringLiteral("Tab"));
        type(QStringLiteral("089555"));
        screenshot(FShots + QStringLiteral("/nickname-editor.png"));
        key(QStringLiteral("Return"));
        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Nicks"))
                .contains(QStringLiteral("Bernd;089555;"));
        }));
        screenshot(FShots + QStringLiteral("/lists-nicknames.png"));
        key(QStringLiteral("Escape")); // closes the lists

        QVERIFY(corvane.line(QStringLiteral("ring --from 89555 --type 0x21 --to 85606 "
                                            "--end-after 0.5")));
        QVERIFY(!waitForWindow(QStringLiteral("^Corvane - Bernd$")).isEmpty());
        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls"))
                .contains(QStringLiteral(";089555;Bernd;"));
        }));
        QVERIFY(corvane.stop());
    }

    void windowsInBothLanguages_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("listsTitle");
        QTest::addColumn<QString>("name");
        QTest::newRow("German") << 0 << "^Listen - 0 Einträge$"
                                << "german";
        QTest::newRow("English") << 1 << "^Lists - 0 Entries$"
                                 << "english";
    }

    void windowsInBothLanguages()
    {
        QFETCH(int, language);
        QFETCH(QString, listsTitle);
        QFETCH(QString, name);
        Corvane corvane;
        corvane.writeIni(QStringLiteral("[Settings]\nShowNag=0\nIntervall=0\nLanguage=%1\n")
                             .arg(language)
                             .toUtf8());
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY(corvane.line(QStringLiteral("ring --to 85606 --end-after 0.3")));
        QVERIFY(!waitForWindow(language ? QStringLiteral("^Corvane - -not transmitted-$")
                                        : QStringLiteral("^Corvane - -nicht übermittelt-$"))
                     .isEmpty());
        screenshot(FShots + QStringLiteral("/popup-%1.png").arg(name));

        QCOMPARE(corvane.secondStart({QStringLiteral("/n")}), 0);
        QVERIFY2(!waitForWindow(listsTitle).isEmpty(), qPrintable(listsTitle));
        QTest::qWait(300);
        screenshot(FShots + QStringLiteral("/lists-%1.png").arg(name));
        QVERIFY(corvane.stop());
    }

    // The guide as built (share/corvane of the build tree, beside the program's folder),
    // opened by a viewer of the test's own in place of the desktop's (xdg-open).
    void helpOpensTheGuideOfTheLanguage_data()
    {
        QTest::addColumn<QByteArray>("language");
        QTest::addColumn<QString>("guide");
        QTest::newRow("German") << QByteArray("0") << QStringLiteral("Corvane_g.pdf");
        QTest::newRow("English") << QByteArray("1") << QStringLiteral("Corvane_e.pdf");
    }

    void helpOpensTheGuideOfTheLanguage()
    {
        QFETCH(QByteArray, language);
        QFETCH(QString, guide);
        QTemporaryDir viewer;
        const QString opened = viewer.filePath(QStringLiteral("opened"));
        QFile script(viewer.filePath(QStringLiteral("xdg-open")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$1\" >>\"" + opened.toUtf8() + "\"\n");
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);

        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=" + language + "\n");
        QProcessEnvironment env = corvane.environment();
        env.insert(QStringLiteral("PATH"), viewer.path() + QLatin1Char(':') + env.value("PATH"));
        env.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        QVERIFY(corvane.start(env));
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY2(openTrayMenu().isValid(), "the tray shows the program's icon and its menu");
        key(QStringLiteral("h")); // "&Help", "&Hilfe"
        QVERIFY(waitFor([&] { return QFile::exists(opened); }));
        QFile record(opened);
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QString url = QString::fromUtf8(record.readAll()).trimmed();
        QVERIFY2(url.endsWith(QStringLiteral("/share/corvane/") + guide), qPrintable(url));
        QVERIFY(QFileInfo(QUrl(url).toLocalFile()).size() > 10000);
    }
};

QTEST_MAIN(TestE2eLists)
#include "tst_e2e_lists.moc"
