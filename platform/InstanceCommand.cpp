#include "platform/InstanceCommand.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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
    return QDir(directory).filePath(QLatin1String(TestCallNumberFileName));
}

// Fills `error` with the path and the reason; returns false for the caller's return.
bool failWith(QString *error, const QString &path, const QString &why)
{
    if (error) *error = path + QStringLiteral(": ") + why;
    return false;
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
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
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
    qsizetype used = 1; // the program
    for (const Switch &s : Switches) {
        if (first != QLatin1String(s.shortName) && first != QLatin1String(s.longName)) continue;
        used = 2;
        if (s.command == InstanceCommand::TestCall) {
            if (arguments.size() < 3) break;
            parsed.testNumber = arguments.at(2);
            used = 3;
        }
        parsed.command = s.command;
        break;
    }
    parsed.ignored = arguments.mid(used);
    return parsed;
}

QString UsageText(const QString &programName, const QString &dataDirectory)
{
    return QStringLiteral(
               "Usage: %1 [SWITCH]\n"
               "Shows who is calling on an ISDN line. Without a switch, starts Corvane in the\n"
               "tray; when a Corvane of the same data directory runs already, brings that one\n"
               "to the front instead (its open window, else its popup; its call list when the\n"
               "desktop has no tray). Each data directory has a Corvane of its own.\n"
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
               "  -h, --help         show this help and exit\n"
               "  --version          show the version and exit\n"
               "\n"
               "Environment:\n"
               "  CORVANE_HOME          keep every file in this directory instead\n"
               "  CORVANE_CAPI_LIBRARY  the CAPI 2.0 library to load (default libcapi20.so.3)\n"
               "  CORVANE_CONTACTS_MODULE\n"
               "                        the address-book module to load (default\n"
               "                        libcorvane-contacts.so beside the program, else the\n"
               "                        installed one)\n"
               "  XDG_DATA_HOME         the data directory is $XDG_DATA_HOME/corvane\n"
               "  XDG_CONFIG_HOME       \"Load at startup\" writes its entry to\n"
               "                        $XDG_CONFIG_HOME/autostart/corvane.desktop\n"
               "  XDG_RUNTIME_DIR       the running Corvane listens for a second start in\n"
               "                        $XDG_RUNTIME_DIR/corvane (else $XDG_CACHE_HOME/corvane)\n"
               "\n"
               "Data directory: %2\n")
        .arg(programName, dataDirectory);
}

bool WriteTestCallNumber(const QString &number, const QString &directory, QString *error)
{
    const QString target = numberFilePath(directory);
    // A fresh name each time, created with O_EXCL: nothing found at the name is written
    // through, and the reader never sees a half-written number.
    QString temporary;
    int fd = -1;
    while (fd < 0) {
        temporary = QStringLiteral("%1/.%2.%3.tmp")
                        .arg(directory, QLatin1String(TestCallNumberFileName))
                        .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        fd = ::open(QFile::encodeName(temporary).constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return failWith(error, target, qt_error_string(errno));
    }
    QFile file;
    bool written = file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle);
    written = written && file.write(number.toUtf8() + '\n') >= 0 && file.flush();
    file.close();
    const QByteArray temporaryName = QFile::encodeName(temporary);
    // rename() replaces whatever is at the name (a link, a FIFO) without following it.
    if (!written ||
        ::rename(temporaryName.constData(), QFile::encodeName(target).constData()) != 0) {
        const QString why = written ? qt_error_string(errno) : file.errorString();
        ::unlink(temporaryName.constData());
        return failWith(error, target, why);
    }
    return true;
}

std::optional<QString> ReadTestCallNumber(const QString &directory, QString *error)
{
    const QString path = numberFilePath(directory);
    // O_NONBLOCK: opening a FIFO returns at once instead of waiting for a writer.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        failWith(error, path,
                 errno == ELOOP ? QStringLiteral("a symbolic link is not read")
                                : qt_error_string(errno));
        return std::nullopt;
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        failWith(error, path, QStringLiteral("not a regular file"));
        return std::nullopt;
    }
    const QByteArray bytes = file.read(MaxTestCallNumberBytes);
    if (bytes.size() == MaxTestCallNumberBytes && !bytes.contains('\n')) {
        failWith(error, path,
                 QStringLiteral("no line end within %1 bytes").arg(MaxTestCallNumberBytes));
        return std::nullopt;
    }
    return TestCallNumberFromText(QString::fromUtf8(bytes));
}

QString TestCallNumberFromText(const QString &text)
{
    return text.section(QLatin1Char('\n'), 0, 0).trimmed();
}

InstanceCommand PrepareCommand(const QStringList &arguments, const QString &directory,
                               QString *error)
{
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    if (parsed.command == InstanceCommand::TestCall &&
        !WriteTestCallNumber(parsed.testNumber, directory, error))
        return InstanceCommand::None;
    return parsed.command;
}

} // namespace platform
