#include "platform/InstanceCommand.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <array>
#include <utility>

namespace platform {

namespace {

struct Switch
{
    const char *shortName;
    const char *longName;
    InstanceCommand command;
};

constexpr std::array<Switch, 8> Switches{{
    {"/w", "/window", InstanceCommand::ShowPopup},
    {"/c", "/calls", InstanceCommand::Calls},
    {"/m", "/msn", InstanceCommand::Msn},
    {"/n", "/nicknames", InstanceCommand::Nicknames},
    {"/o", "/options", InstanceCommand::Options},
    {"/d", "/dial", InstanceCommand::Dial},
    {"/t", "/test", InstanceCommand::TestCall},
    {"/q", "/quit", InstanceCommand::Quit},
}};

QString numberFilePath(const QString &directory)
{
    const QDir dir(directory.isEmpty() ? QDir::currentPath() : directory);
    return dir.filePath(QLatin1String(TestCallNumberFileName));
}

} // namespace

bool IsKnownCommand(int code)
{
    for (const Switch &s : Switches) {
        if (int(s.command) == code) return true;
    }
    return false;
}

ParsedCommandLine ParseCommandLine(const QStringList &arguments)
{
    ParsedCommandLine parsed;
    if (arguments.size() < 2) return parsed;
    const QString &first = arguments.at(1);
    if (first == QLatin1String("--help")) {
        parsed.action = StartAction::Help;
        return parsed;
    }
    if (first == QLatin1String("--version")) {
        parsed.action = StartAction::Version;
        return parsed;
    }
    if (first.startsWith(QLatin1String("--")) && first != QLatin1String("--")) {
        parsed.action = StartAction::UnknownOption;
        return parsed;
    }
    for (const Switch &s : Switches) {
        if (first != QLatin1String(s.shortName) && first != QLatin1String(s.longName)) continue;
        if (s.command == InstanceCommand::TestCall) {
            if (arguments.size() < 3) return parsed;
            parsed.testNumber = arguments.at(2);
        }
        parsed.command = s.command;
        return parsed;
    }
    return parsed;
}

QString UsageText(const QString &programName, const QString &dataDirectory)
{
    return QStringLiteral(
               "Usage: %1 [SWITCH]\n"
               "Shows who is calling on an ISDN line. Without a switch, starts Corvane in the\n"
               "tray, or brings the running Corvane to the front (and opens its call list when\n"
               "the desktop has no tray).\n"
               "\n"
               "Switches, carried out by the running Corvane (a first start carries them out\n"
               "itself):\n"
               "  /w, /window        show the caller popup\n"
               "  /c, /calls         open the call list\n"
               "  /n, /nicknames     open the nicknames (the phone book)\n"
               "  /m, /msn           open the list of your own numbers (MSNs)\n"
               "  /o, /options       open the options\n"
               "  /d, /dial          dial the number in the clipboard (when dialling is on)\n"
               "  /t, /test NUMBER   show a test call from NUMBER\n"
               "  /q, /quit          end the running Corvane (starts nothing when none runs)\n"
               "  --help             show this help and exit\n"
               "  --version          show the version and exit\n"
               "\n"
               "Environment:\n"
               "  CORVANE_HOME          keep every file in this directory instead\n"
               "  CORVANE_CAPI_LIBRARY  the CAPI 2.0 library to load (default libcapi20.so.3)\n"
               "  XDG_DATA_HOME         the data directory is $XDG_DATA_HOME/corvane\n"
               "  XDG_CONFIG_HOME       \"Load at startup\" writes its entry to\n"
               "                        $XDG_CONFIG_HOME/autostart/corvane.desktop\n"
               "  XDG_RUNTIME_DIR       where the running Corvane listens for a second start\n"
               "\n"
               "Data directory: %2\n")
        .arg(programName, dataDirectory);
}

bool WriteTestCallNumber(const QString &number, QString *error, const QString &directory)
{
    // QSaveFile: the receiver never sees a half-written number.
    QSaveFile file(numberFilePath(directory));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error) *error = file.errorString();
        return false;
    }
    file.write(number.toUtf8());
    file.write("\n");
    if (!file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

std::optional<QString> ReadTestCallNumber(const QString &directory)
{
    QFile file(numberFilePath(directory));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    // A number is short; a huge file is not ours to swallow whole.
    const QByteArray line = file.readLine(4096);
    if (line.isEmpty() && file.error() != QFileDevice::NoError) return std::nullopt;
    return QString::fromUtf8(line).trimmed();
}

InstanceCommand PrepareCommand(const QStringList &arguments, QString *error)
{
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    if (parsed.command == InstanceCommand::TestCall &&
        !WriteTestCallNumber(parsed.testNumber, error))
        return InstanceCommand::None;
    return parsed.command;
}

} // namespace platform
