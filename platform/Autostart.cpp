#include "platform/Autostart.h"

#include "platform/DataDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace platform {

namespace {

constexpr char EntryFileName[] = "corvane.desktop";

QString tr(const char *text)
{
    return QCoreApplication::translate("Autostart", text);
}

// Reads the [Desktop Entry] group for the two keys that switch an entry off.
bool entryDisabled(const QByteArray &content)
{
    bool inMainGroup = false;
    for (const QByteArray &rawLine : content.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup || line.startsWith('#')) continue;
        const int eq = line.indexOf('=');
        if (eq <= 0) continue;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if (key == "Hidden" && value == "true") return true;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return true;
    }
    return false;
}

} // namespace

Autostart::Autostart(QString programPath, QString userDirectory, QString machineDirectory,
                     QStringList environment)
    : m_programPath(std::move(programPath)), m_environment(std::move(environment)),
      m_userDirectory(std::move(userDirectory)), m_machineDirectory(std::move(machineDirectory))
{
}

namespace {

// The program as the user starts it: "corvane", which becomes corvane-app beside it.
QString StartedProgram()
{
    const QFileInfo running(QCoreApplication::applicationFilePath());
    const QFileInfo launcher(running.dir(), QStringLiteral("corvane"));
    return running.fileName() == QLatin1String("corvane-app") && launcher.isExecutable()
               ? launcher.filePath()
               : running.filePath();
}

} // namespace

Autostart::Autostart()
    : Autostart(StartedProgram(), DefaultUserDirectory(), DefaultMachineDirectory(),
                RunningEnvironment())
{
}

QStringList Autostart::RunningEnvironment()
{
    // The login starts the entry in the home directory: relative paths would point elsewhere.
    QStringList environment;
    if (!qEnvironmentVariableIsEmpty("CORVANE_HOME"))
        environment << QStringLiteral("CORVANE_HOME=") + DataDir::location();
    const QString library = qEnvironmentVariable("CORVANE_CAPI_LIBRARY");
    // A bare file name is looked for by the loader, not in the current directory.
    if (!library.isEmpty())
        environment << QStringLiteral("CORVANE_CAPI_LIBRARY=") +
                           (library.contains(QLatin1Char('/'))
                                ? QFileInfo(library).absoluteFilePath()
                                : library);
    return environment;
}

QString Autostart::DefaultUserDirectory()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The base directory rules ignore relative paths.
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

QString Autostart::DefaultMachineDirectory()
{
    const QStringList dirs =
        qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &dir : dirs) {
        if (QDir::isAbsolutePath(dir)) return dir + QStringLiteral("/autostart");
    }
    return QStringLiteral("/etc/xdg/autostart");
}

QString Autostart::EntryPath(Scope scope) const
{
    const QString &dir = scope == Scope::User ? m_userDirectory : m_machineDirectory;
    return QDir(dir).filePath(QLatin1String(EntryFileName));
}

bool Autostart::RunKeyIsSet(Scope scope) const
{
    QFile file(EntryPath(scope));
    if (!file.open(QIODevice::ReadOnly)) return false;
    // Entries are a few hundred bytes; the cap keeps a stray huge file from being read.
    const QByteArray content = file.read(64 * 1024);
    if (file.error() != QFileDevice::NoError) return false;
    return !entryDisabled(content);
}

bool Autostart::SetRunKey(Scope scope, bool on, QString *error) const
{
    if (RunKeyIsSet(scope) == on) return true;
    const QString path = EntryPath(scope);
    if (!on) {
        QFile file(path);
        if (!file.remove()) {
            if (error) *error = tr("Cannot remove %1: %2").arg(path, file.errorString());
            return false;
        }
        return true;
    }
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        if (error) *error = tr("Cannot create the directory %1").arg(dir);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = tr("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(DesktopEntry(m_programPath, m_environment));
    if (!file.commit()) {
        if (error) *error = tr("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool Autostart::MoveMachineWideToUser(QString *error) const
{
    const bool wasSet = RunKeyIsSet(Scope::Machine);
    SetRunKey(Scope::Machine, false);
    if (!wasSet) return true;
    return SetRunKey(Scope::User, true, error);
}

QString Autostart::ExecValue(const QStringList &arguments)
{
    // Quoting rules of Exec: inside double quotes, " ` $ and \ take a backslash; a
    // literal % is %% anywhere.
    QStringList quotedArguments;
    for (const QString &argument : arguments) {
        QString quoted = QStringLiteral("\"");
        for (const QChar ch : argument) {
            if (ch == QLatin1Char('"') || ch == QLatin1Char('`') || ch == QLatin1Char('$') ||
                ch == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            else if (ch == QLatin1Char('%'))
                quoted += QLatin1Char('%');
            quoted += ch;
        }
        quotedArguments << quoted + QLatin1Char('"');
    }
    // Then the escapes of every string value of a desktop file.
    QString value;
    for (const QChar ch : quotedArguments.join(QLatin1Char(' '))) {
        switch (ch.unicode()) {
        case '\\':
            value += QLatin1String("\\\\");
            break;
        case '\n':
            value += QLatin1String("\\n");
            break;
        case '\t':
            value += QLatin1String("\\t");
            break;
        case '\r':
            value += QLatin1String("\\r");
            break;
        default:
            value += ch;
        }
    }
    return value;
}

QByteArray Autostart::DesktopEntry(const QString &programPath, const QStringList &environment)
{
    QByteArray text = "[Desktop Entry]\n"
                      "Type=Application\n"
                      "Name=Corvane\n"
                      "Comment=Shows who is calling on the ISDN line\n"
                      "Icon=corvane\n";
    // env sets the variables for the program; it needs no quotes of its own.
    const QString exec =
        environment.isEmpty()
            ? ExecValue({programPath})
            : QStringLiteral("env ") + ExecValue(environment + QStringList{programPath});
    text += "Exec=" + exec.toUtf8() + "\n";
    text += "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n";
    return text;
}

} // namespace platform
