// The real program on a Wayland desktop: GNOME's compositor (mutter, headless, on a runtime
// directory of the test's own) with the Xwayland it starts. With both WAYLAND_DISPLAY and
// DISPLAY set, Corvane runs on the X server: a call's popup is where "MainPos" puts it once
// the window manager has placed it, it stays on top, "MainPos" is the same after the end,
// and Qt says nothing on standard error. Without an X server it runs on Wayland and says
// once what cannot work there.
#include "tests/e2e/Desktop.h"

#include <QDirIterator>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

using namespace e2e;

namespace {

const QString WaylandNote = QStringLiteral("Corvane: Corvane runs on Wayland here");

// GNOME's compositor without a screen, with a Wayland display and an Xwayland of its own.
class Mutter
{
public:
    bool start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), FRuntime.path());
        for (const char *name : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        FProcess.setProcessEnvironment(env);
        FProcess.setProcessChannelMode(QProcess::MergedChannels);
        FProcess.start(QStringLiteral("mutter"),
                       {QStringLiteral("--wayland"), QStringLiteral("--headless"),
                        QStringLiteral("--virtual-monitor"), QStringLiteral("1280x800"),
                        QStringLiteral("--wayland-display"), QStringLiteral("corvane-test")});
        if (!FProcess.waitForStarted(5000)) return false;
        // Ready once its Wayland socket is there and its X server has a window manager.
        return waitFor(
            [&] {
                FOutput += QString::fromUtf8(FProcess.readAll());
                return QFile::exists(waylandDisplay()) && findXServer() &&
                       run(QStringLiteral("xprop"),
                           {QStringLiteral("-display"), FDisplay, QStringLiteral("-root"),
                            QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                           .contains(QLatin1String("window id"));
            },
            30000);
    }

    // An absolute path, so that a program with a runtime directory of its own finds it.
    QString waylandDisplay() const { return FRuntime.filePath(QStringLiteral("corvane-test")); }
    QString xDisplay() const { return FDisplay; }
    QString xAuthority() const { return FAuthority; }
    QString output()
    {
        FOutput += QString::fromUtf8(FProcess.readAll());
        return FOutput;
    }

    ~Mutter()
    {
        FProcess.terminate();
        if (!FProcess.waitForFinished(10000)) FProcess.kill();
        FProcess.waitForFinished();
    }

private:
    // The display of the Xwayland that mutter started, and the authority file it wrote for
    // it, from Xwayland's command line.
    bool findXServer()
    {
        if (!FDisplay.isEmpty()) return true;
        const QString mutter = QString::number(FProcess.processId());
        QDirIterator processes(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
        while (processes.hasNext()) {
            const QString dir = processes.next();
            QFile status(dir + QStringLiteral("/status"));
            if (!status.open(QIODevice::ReadOnly)) continue;
            const QString text = QString::fromUtf8(status.readAll());
            if (!text.startsWith(QLatin1String("Name:\tXwayland")) ||
                !text.contains(QStringLiteral("\nPPid:\t%1\n").arg(mutter)))
                continue;
            QFile cmdline(dir + QStringLiteral("/cmdline"));
            if (!cmdline.open(QIODevice::ReadOnly)) continue;
            const QList<QByteArray> arguments = cmdline.readAll().split('\0');
            for (qsizetype i = 1; i < arguments.size(); ++i) {
                if (arguments[i].startsWith(':') && FDisplay.isEmpty())
                    FDisplay = QString::fromUtf8(arguments[i]);
                if (arguments[i] == "-auth" && i + 1 < arguments.size())
                    FAuthority = QString::fromUtf8(arguments[i + 1]);
            }
        }
        if (FDisplay.isEmpty()) return false;
        qputenv("DISPLAY", FDisplay.toUtf8());
        qputenv("XAUTHORITY", FAuthority.toUtf8());
        return true;
    }

    QTemporaryDir FRuntime;
    QProcess FProcess;
    QString FOutput;
    QString FDisplay;
    QString FAuthority;
};

bool waylandPluginInstalled()
{
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                         QStringLiteral("/platforms"));
    return !platforms.entryList({QStringLiteral("libqwayland-*.so")}).isEmpty();
}

// The lines of standard error that come from Qt rather than from Corvane.
QStringList qtLines(const QString &errors)
{
    QStringList lines;
    for (const QString &line : errors.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("qt.")) || line.contains(QLatin1String("QObject::")) ||
            line.contains(QLatin1String("Qt platform plugin")))
            lines << line;
    return lines;
}

// A property of a window as xprop prints it.
QString windowProperty(const QString &window, const QString &name)
{
    return run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, name});
}

// Where the X server has the window: its absolute upper-left corner.
QPoint xPosition(const QString &window)
{
    const QString info = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), window});
    const auto value = [&](const char *label) {
        const QRegularExpression pattern(QLatin1String(label) + QStringLiteral(":\\s*(-?\\d+)"));
        return pattern.match(info).captured(1).toInt();
    };
    return {value("Absolute upper-left X"), value("Absolute upper-left Y")};
}

const char *const PlacedIni = "[Settings]\nShowNag=0\nIntervall=0\nLanguage=1\n"
                              "[MainPos]\nLeft=437\nTop=291\nWidth=400\nHeight=100\n";

} // namespace

class TestE2eWayland : public QObject
{
    Q_OBJECT

    std::unique_ptr<Mutter> FMutter;

    // Corvane as a Wayland session starts it: no platform chosen, the desktop named.
    QProcessEnvironment sessionEnvironment(const Corvane &corvane) const
    {
        QProcessEnvironment env = corvane.environment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), FMutter->waylandDisplay());
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
        return env;
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("mutter")).isEmpty())
            QSKIP("mutter is not installed (tools/install-deps installs it): no Wayland "
                  "desktop to run on");
        QVERIFY2(!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"),
                 "runs under dbus-run-session");
        FMutter = std::make_unique<Mutter>();
        QVERIFY2(FMutter->start(), qPrintable(FMutter->output()));
        if (!waylandPluginInstalled())
            qWarning("Qt's Wayland plugin is not installed (qt6-wayland): the choice of X11 is "
                     "tested, but not against a plugin that could have taken the session");
    }

    void cleanupTestCase() { FMutter.reset(); }

    void popupKeepsItsPlaceOnXwayland()
    {
        Corvane corvane;
        corvane.writeIni(PlacedIni);
        corvane.captureErrors();
        QVERIFY(corvane.start(sessionEnvironment(corvane)));
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY(corvane.line(QStringLiteral("ring --from 301234 --type 0x21 --to 85606 "
                                            "--end-after 8")));
        const QString popup = waitForWindow(QStringLiteral("^Corvane - 0301234$"), 20000);
        QVERIFY2(!popup.isEmpty(), "the popup shows on the X server");

        // The window manager has taken it on (WM_STATE) and then left it where it was put.
        QVERIFY(waitFor([&] {
            return windowProperty(popup, QStringLiteral("WM_STATE"))
                .contains(QLatin1String("Normal"));
        }));
        QVERIFY(waitFor([&] { return xPosition(popup) == QPoint(437, 291); }));
        // Nothing to wait for: the window manager must not move it a moment later.
        QTest::qWait(500);
        QCOMPARE(xPosition(popup), QPoint(437, 291));
        QVERIFY2(windowProperty(popup, QStringLiteral("_NET_WM_STATE"))
                     .contains(QLatin1String("_NET_WM_STATE_ABOVE")),
                 "the popup stays on top");

        QVERIFY(corvane.stop());
        const QString ini = corvane.readFile(QStringLiteral("corvane.ini"));
        QVERIFY2(ini.contains(QRegularExpression(
                     QStringLiteral("\\[MainPos\\]\r?\nLeft=437\r?\nTop=291\r?\n"))),
                 qPrintable(ini));
        const QString errors = corvane.errorOutput();
        QVERIFY2(qtLines(errors).isEmpty(), qPrintable(qtLines(errors).join(u'\n')));
        QVERIFY2(!errors.contains(WaylandNote), qPrintable(errors));
    }

    void withoutAnXServerItSaysWhatCannotWork()
    {
        if (!waylandPluginInstalled()) QSKIP("needs Qt's Wayland plugin (qt6-wayland)");
        Corvane corvane;
        corvane.writeIni(PlacedIni);
        corvane.captureErrors();
        QProcessEnvironment env = sessionEnvironment(corvane);
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4711"));
        QVERIFY(corvane.start(env));
        QVERIFY(corvane.line(QStringLiteral("wait-listening --timeout 20")));
        QVERIFY(corvane.line(QStringLiteral("ring --from 301234 --type 0x21 --to 85606 "
                                            "--end-after 1")));
        QVERIFY(waitFor([&] {
            return corvane.readFile(QStringLiteral("Calls")).contains(QStringLiteral(";0301234;"));
        }));
        // A second start says nothing of it; the running Corvane said it once.
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(CORVANE_PROGRAM), {QStringLiteral("/w")});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!second.readAllStandardError().contains(WaylandNote.toUtf8()));
        QVERIFY(corvane.stop());
        const QString errors = corvane.errorOutput();
        QCOMPARE(errors.count(WaylandNote), 1);
        QVERIFY(errors.contains(QLatin1String("\"Stay on top\" do not work")));
        // Without a tray service the icon waits for one instead of trying X11's tray.
        QVERIFY2(!errors.contains(QLatin1String("QObject::")), qPrintable(errors));
    }
};

QTEST_GUILESS_MAIN(TestE2eWayland)
#include "tst_e2e_wayland.moc"
