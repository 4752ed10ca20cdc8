// The real program on a real X server (Xvfb with a tray host), driven as a user drives
// it: calls rung on the line simulator, clicks and keys through xdotool, screenshots
// through ImageMagick. Each test gets its own data directory and simulator socket.
#pragma once

#include "tools/capisim/CapisimClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRect>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <cstdio>

namespace e2e {

// Runs a command and returns its standard output (trimmed); empty on failure.
inline QString run(const QString &program, const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Polls until the condition holds or the time is up.
template <typename Condition> bool waitFor(Condition condition, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (condition()) return true;
        QThread::msleep(50);
    }
    return condition();
}

// A visible window whose title matches the pattern (a regular expression), or empty.
inline QString findWindow(const QString &titlePattern)
{
    return run(QStringLiteral("xdotool"),
               {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                titlePattern})
        .section(QLatin1Char('\n'), 0, 0);
}

// Waits for a visible window whose title matches; empty when none came.
inline QString waitForWindow(const QString &titlePattern, int timeoutMs = 10000)
{
    QString window;
    waitFor(
        [&] {
            window = findWindow(titlePattern);
            return !window.isEmpty();
        },
        timeoutMs);
    return window;
}

inline QString windowName(const QString &window)
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), window});
}

inline QRect windowGeometry(const QString &window)
{
    const QString text = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                         QStringLiteral("--shell"), window});
    QRect rect;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const int value = line.section(QLatin1Char('='), 1).toInt();
        if (line.startsWith(QLatin1String("X=")))
            rect.moveLeft(value);
        else if (line.startsWith(QLatin1String("Y=")))
            rect.moveTop(value);
        else if (line.startsWith(QLatin1String("WIDTH=")))
            rect.setWidth(value);
        else if (line.startsWith(QLatin1String("HEIGHT=")))
            rect.setHeight(value);
    }
    return rect;
}

// A real pointer click at screen coordinates.
inline void click(const QPoint &at, int button = 1)
{
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
         QStringLiteral("click"), QString::number(button)});
}

// Keys as xdotool names them ("Return", "Tab", "ctrl+a"), or text typed as it stands.
inline void key(const QString &keys)
{
    run(QStringLiteral("xdotool"),
        {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50"), keys});
}

inline void type(const QString &text)
{
    run(QStringLiteral("xdotool"),
        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
}

// The visible windows whose title matches, with their geometry.
inline QList<std::pair<QString, QRect>> visibleWindows(const QString &titlePattern)
{
    QList<std::pair<QString, QRect>> windows;
    const QString ids =
        run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--name"), titlePattern});
    for (const QString &id : ids.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        windows.append({id, windowGeometry(id)});
    return windows;
}

inline QImage screenshot(const QString &file)
{
    run(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"), file});
    return QImage(file);
}

// One window as the screen shows it.
inline bool windowShot(const QString &window, const QString &file)
{
    QFile::remove(file);
    run(QStringLiteral("import"), {QStringLiteral("-window"), window, file});
    return !QImage(file).isNull();
}

// Pixels of exactly this colour inside the rectangle.
inline int countPixels(const QImage &image, const QRect &rect, QRgb color)
{
    int count = 0;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (color & 0xFFFFFF)) ++count;
    return count;
}

// A tray host, so that the program's tray icon has somewhere to live.
class TrayHost
{
public:
    bool start()
    {
        FProcess.start(QStringLiteral("trayer"),
                       {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                        QStringLiteral("right"), QStringLiteral("--widthtype"),
                        QStringLiteral("pixel"), QStringLiteral("--width"), QStringLiteral("120"),
                        QStringLiteral("--height"), QStringLiteral("24")});
        return FProcess.waitForStarted(5000);
    }
    ~TrayHost()
    {
        FProcess.terminate();
        if (!FProcess.waitForFinished(3000)) FProcess.kill();
    }

private:
    QProcess FProcess;
};

// One run of the program with its own data directory and line.
class Corvane
{
public:
    // homeName: the data directory's name in the test's own directory.
    explicit Corvane(const QString &homeName = QStringLiteral("home"))
        : FHome(FRoot.filePath(homeName))
    {
        // As the program makes its own: whatever the umask, others cannot write to it.
        QDir().mkpath(FHome);
        QFile::setPermissions(FHome, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString home() const { return FHome; }
    QString file(const QString &name) const { return FHome + QLatin1Char('/') + name; }
    QString socket() const { return FRoot.filePath(QStringLiteral("line.sock")); }
    QString lineLog() const { return FRoot.filePath(QStringLiteral("line.log")); }

    void writeIni(const QByteArray &content)
    {
        QFile ini(file(QStringLiteral("corvane.ini")));
        ini.open(QIODevice::WriteOnly);
        ini.write(content);
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CORVANE_HOME"), FHome);
        // The second-start channel in a private directory of the test's own (mode 0700).
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), FRoot.path());
        env.insert(QStringLiteral("CAPISIM_SOCKET"), socket());
        env.insert(QStringLiteral("CAPISIM_LOG"), lineLog());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("CORVANE_CAPI_LIBRARY"), QStringLiteral(CAPISIM_LIBRARY));
        return env;
    }

    bool start(const QProcessEnvironment &env, const QStringList &arguments = {})
    {
        FProcess.setProcessEnvironment(env);
        FProcess.setWorkingDirectory(FRoot.path());
        // With captureErrors(), standard error is kept for errorOutput() and passed on there.
        FProcess.setProcessChannelMode(FCaptureErrors ? QProcess::ForwardedOutputChannel
                                                      : QProcess::ForwardedChannels);
        FProcess.setReadChannel(QProcess::StandardError);
        FProcess.start(QStringLiteral(CORVANE_PROGRAM), arguments);
        return FProcess.waitForStarted(5000);
    }
    bool start() { return start(environment()); }

    // The next start keeps standard error for errorOutput() (call it now and then: a full pipe
    // would stop the program).
    void captureErrors() { FCaptureErrors = true; }
    // What the program wrote to standard error so far.
    QString errorOutput()
    {
        while (FProcess.waitForReadyRead(50)) {
        }
        const QByteArray bytes = FProcess.readAllStandardError();
        std::fputs(bytes.constData(), stderr);
        FErrors += QString::fromUtf8(bytes);
        return FErrors;
    }
    int exitCode() const { return FProcess.exitCode(); }
    // Waits for the program to end by itself; true when it ended normally.
    bool ended(int timeoutMs)
    {
        return FProcess.waitForFinished(timeoutMs) && FProcess.exitStatus() == QProcess::NormalExit;
    }

    // A second start of the program with a switch; it hands the command over and ends.
    int secondStart(const QStringList &arguments)
    {
        QProcess second;
        second.setProcessEnvironment(FProcess.processEnvironment());
        second.setWorkingDirectory(FRoot.path());
        second.start(QStringLiteral(CORVANE_PROGRAM), arguments);
        if (!second.waitForFinished(15000)) return -1;
        return second.exitCode();
    }

    bool line(const QString &command, QString *reply = nullptr)
    {
        std::string text;
        const bool ok =
            capisim::runCommand(socket().toStdString(), command.toStdString(), &text, 10000, 10000);
        if (reply) *reply = QString::fromStdString(text);
        if (!ok) qWarning("capisim %s: %s", qPrintable(command), text.c_str());
        return ok;
    }

    QStringList linePut() const
    {
        QFile log(lineLog());
        if (!log.open(QIODevice::ReadOnly)) return {};
        QStringList lines;
        for (const QString &line : QString::fromLatin1(log.readAll()).split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("> "))) lines << line.mid(2);
        return lines;
    }

    QString readFile(const QString &name) const
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    qint64 pid() const { return FProcess.processId(); }
    bool running() const { return FProcess.state() == QProcess::Running; }

    // Ends the program as the session does; true when it ended by itself.
    bool stop()
    {
        if (FProcess.state() == QProcess::NotRunning) return true;
        FProcess.terminate();
        if (FProcess.waitForFinished(15000)) return FProcess.exitStatus() == QProcess::NormalExit;
        FProcess.kill();
        FProcess.waitForFinished();
        return false;
    }

    ~Corvane() { stop(); }

private:
    QTemporaryDir FRoot;
    QString FHome;
    QProcess FProcess;
    QString FErrors;
    bool FCaptureErrors = false;
};

// The simulator with only a router port (and its control socket).
class RouterSim
{
public:
    bool start(const Corvane &corvane)
    {
        for (int attempt = 0; attempt < 20 && !FPort; ++attempt) {
            const int port = 20000 + int(QRandomGenerator::global()->bounded(12000));
            FProcess.start(QStringLiteral(CAPISIM_TOOL),
                           {QStringLiteral("serve"), QStringLiteral("--router-port"),
                            QString::number(port), QStringLiteral("--socket"), corvane.socket()});
            if (FProcess.waitForStarted(5000) && FProcess.waitForReadyRead(5000) &&
                FProcess.readLine().contains("router"))
                FPort = port;
            else
                FProcess.waitForFinished(1000);
        }
        return FPort != 0;
    }
    int port() const { return FPort; }
    ~RouterSim()
    {
        FProcess.terminate();
        if (!FProcess.waitForFinished(5000)) FProcess.kill();
    }

private:
    QProcess FProcess;
    int FPort = 0;
};

} // namespace e2e
