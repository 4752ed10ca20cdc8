// The options dialog in the real program: opened by "/o" from a second start, every page
// photographed in both languages, a colour and the language changed with the keyboard, OK;
// after a restart the popup of the next call shows the colour and the language. "Load at
// startup" writes an entry that starts the same Corvane on the same files and line.
#include "tests/DesktopExec.h"
#include "tests/e2e/Desktop.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace e2e;

class TestE2eOptions : public QObject
{
    Q_OBJECT

    std::unique_ptr<TrayHost> FTray;
    QString FShots;

    // Screenshots of the six pages, from the one shown; ends on that page again.
    void photographPages(const QString &language)
    {
        const QStringList pages = {"general", "calls", "icon", "colours", "telephony", "contacts"};
        for (const QString &page : pages) {
            QTest::qWait(300);
            screenshot(FShots + QStringLiteral("/options-%1-%2.png").arg(language, page));
            key(QStringLiteral("ctrl+Next"));
        }
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

    void colourAndLanguageChangedByKeyboard()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\nRejectTime=1\n"
                         "bgColor=0\n[Mine]\nkept=yes\n");
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));

        QElapsedTimer opening;
        opening.start();
        QCOMPARE(corvane.secondStart({QStringLiteral("/o")}), 0);
        const QString dialog = waitForWindow(QStringLiteral("^Options$"));
        QVERIFY2(!dialog.isEmpty(), "/o opened the options");
        qInfo("from the second start to the visible dialog: %lld ms", opening.elapsed());

        // A second request while it is open is ignored.
        QCOMPARE(corvane.secondStart({QStringLiteral("/options")}), 0);
        QTest::qWait(500);
        QCOMPARE(visibleWindows(QStringLiteral("^Options$")).size(), 1);

        photographPages(QStringLiteral("english"));
        key(QStringLiteral("alt+g")); // "&German"
        QVERIFY2(!waitForWindow(QStringLiteral("^Optionen$")).isEmpty(),
                 "the dialog switched to German");
        photographPages(QStringLiteral("german"));

        // The colours page: the keyboard starts on the background square.
        for (int i = 0; i < 3; ++i)
            key(QStringLiteral("ctrl+Next"));
        QTest::qWait(300);
        key(QStringLiteral("space"));
        const QString chooser = waitForWindow(QStringLiteral("^Select Colou?r$"));
        QVERIFY2(!chooser.isEmpty(), "the colour chooser opened");
        QTest::qWait(300);
        key(QStringLiteral("alt+h")); // "&HTML:"
        key(QStringLiteral("ctrl+a"));
        type(QStringLiteral("#ff0000"));
        QTest::qWait(200);
        screenshot(FShots + QStringLiteral("/options-colour-chooser.png"));
        key(QStringLiteral("Return"));
        QVERIFY(waitFor([&] { return findWindow(QStringLiteral("^Select Colou?r$")).isEmpty(); }));
        QTest::qWait(300);
        screenshot(FShots + QStringLiteral("/options-german-colours-red.png"));
        key(QStringLiteral("Return")); // OK
        QVERIFY(waitFor([&] { return findWindow(QStringLiteral("^Optionen$")).isEmpty(); }));

        const QString ini = corvane.readFile(QStringLiteral("corvane.ini"));
        QVERIFY2(ini.contains(QStringLiteral("bgColor=255\n")), qPrintable(ini));
        QVERIFY(ini.contains(QStringLiteral("Language=0\n")));
        QVERIFY(ini.contains(QStringLiteral("[Mine]\nkept=yes\n")));
        // The language changed: the lists were saved in it.
        QVERIFY(waitFor([&] { return QFile::exists(corvane.file(QStringLiteral("Calls"))); }));
        QVERIFY(corvane.stop());

        // Restarted, the next call's popup is red and German.
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY(corvane.line(QStringLiteral("ring --to 85606 --end-after 0.3")));
        const QString popup = waitForWindow(QStringLiteral("^Corvane - -nicht übermittelt-$"));
        QVERIFY2(!popup.isEmpty(), "the popup speaks German after the restart");
        QTest::qWait(500);
        const QRect area = windowGeometry(popup);
        const QImage shot = screenshot(FShots + QStringLiteral("/options-popup-after-restart.png"));
        const int red = countPixels(shot, area, qRgb(255, 0, 0));
        QVERIFY2(red > area.width() * area.height() / 3,
                 qPrintable(QStringLiteral("%1 red pixels in %2x%3")
                                .arg(red)
                                .arg(area.width())
                                .arg(area.height())));
        QVERIFY(corvane.stop());
    }

    // "Load at startup" ticked in a Corvane with files and a line of its own, as in the
    // demo: what the autostart entry starts at the next login is that Corvane again.
    void autostartEntryStartsTheSameCorvane()
    {
        Corvane corvane(QStringLiteral("demo's 100% \"files\""));
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\n");
        QTemporaryDir config;
        QProcessEnvironment env = corvane.environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        QVERIFY(corvane.start(env));
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QCOMPARE(corvane.secondStart({QStringLiteral("/o")}), 0);
        QVERIFY2(!waitForWindow(QStringLiteral("^Options$")).isEmpty(), "/o opened the options");
        QTest::qWait(300);
        key(QStringLiteral("alt+l")); // "&Load at startup"
        QTest::qWait(200);
        key(QStringLiteral("Return"));
        QVERIFY(waitFor([&] { return findWindow(QStringLiteral("^Options$")).isEmpty(); }));
        const QString entry = config.filePath(QStringLiteral("autostart/corvane.desktop"));
        QVERIFY2(waitFor([&] { return QFile::exists(entry); }), "the autostart entry is written");
        QVERIFY(corvane.stop());

        const std::optional<QStringList> command = desktopexec::Split(desktopexec::ExecOf(entry));
        QVERIFY2(command && command->size() == 4, qPrintable(desktopexec::ExecOf(entry)));
        QCOMPARE(command->mid(0, 3),
                 QStringList({QStringLiteral("env"), "CORVANE_HOME=" + corvane.home(),
                              QStringLiteral("CORVANE_CAPI_LIBRARY=" CAPISIM_LIBRARY)}));
        QCOMPARE(QFileInfo(command->at(3)).canonicalFilePath(),
                 QFileInfo(QStringLiteral(CORVANE_PROGRAM)).canonicalFilePath());

        // The login starts it without the variables, elsewhere: the same files, the same line.
        QProcessEnvironment login = env;
        login.remove(QStringLiteral("CORVANE_HOME"));
        login.remove(QStringLiteral("CORVANE_CAPI_LIBRARY"));
        QProcess started;
        started.setProcessEnvironment(login);
        started.setWorkingDirectory(config.path());
        started.setProcessChannelMode(QProcess::ForwardedChannels);
        started.start(command->at(0), command->mid(1));
        const auto stop = qScopeGuard([&] {
            started.terminate();
            if (!started.waitForFinished(15000)) started.kill();
            started.waitForFinished();
        });
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY(corvane.line(QStringLiteral("ring --from 441123 --type 0x21 --to 85606 "
                                            "--end-after 0.3")));
        QVERIFY2(
            waitFor([&] { return corvane.readFile(QStringLiteral("Calls")).contains("0441123"); }),
            "the call is stored in the same data directory");
    }

    // Stored icons that cannot be read: one message once the line listens, and a call while
    // it is up is shown all the same.
    void unreadableIconsAtStart()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\nRejectTime=1\n"
                         "[Icons]\n1=/nonexistent/one.png\n[DIcons]\n2=/nonexistent/two.png\n");
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY2(!waitForWindow(QStringLiteral("^Corvane$")).isEmpty(), "the message is shown");
        QVERIFY(corvane.line(QStringLiteral("ring --from 441321 --type 0x21 --to 85606 "
                                            "--end-after 1")));
        QVERIFY2(!waitForWindow(QStringLiteral("^Corvane - 0441321$")).isEmpty(),
                 "the call is shown while the message is up");
        QCOMPARE(visibleWindows(QStringLiteral("^Corvane$")).size(), 1);
        screenshot(FShots + QStringLiteral("/icon-read-error-call.png"));
        QVERIFY(corvane.stop());
    }

    // A data directory everyone may write to: one message once the line listens; none once
    // the directory is the user's alone.
    void sharedDataDirectoryAtStart()
    {
        Corvane corvane;
        corvane.writeIni("[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\n");
        QVERIFY(QFile::setPermissions(corvane.home(), QFileDevice::Permissions(0x7777)));
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY2(!waitForWindow(QStringLiteral("^Corvane$")).isEmpty(), "the message is shown");
        QTest::qWait(1000);
        QCOMPARE(visibleWindows(QStringLiteral("^Corvane$")).size(), 1);
        screenshot(FShots + QStringLiteral("/shared-data-directory.png"));
        QVERIFY(corvane.stop());

        QVERIFY(QFile::setPermissions(corvane.home(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(corvane.start());
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QTest::qWait(1500);
        QVERIFY(visibleWindows(QStringLiteral("^Corvane$")).isEmpty());
        QVERIFY(corvane.stop());
    }
};

QTEST_MAIN(TestE2eOptions)
#include "tst_e2e_options.moc"
