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

constexpr std::array<Switch, 7> Switches{{
    {"/w", "/window", InstanceCommand::ShowPopup},
    {"/c", "/calls", InstanceCommand::Calls},
    {"/m", "/msn", InstanceCommand::Msn},
    {"/n", "/nicknames", InstanceCommand::Nicknames},
    {"/o", "/options", InstanceCommand::Options},
    {"/d", "/dial", InstanceCommand::Dial},
    {"/t", "/test", InstanceCommand::TestCall},
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
