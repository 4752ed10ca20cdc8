#include "platform/InstanceCommand.h"

#include "platform/DataDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <array>
#include <cerrno>
#include <cstdio>
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

namespace {

// One line of the help: a switch, a variable or a file, and what it does. A line break in
// the text is where --help breaks it; the manual page runs it on.
struct UsageItem
{
    const char *term;
    const char *text;
};

constexpr char UsageIntro[] =
    "Shows who is calling on an ISDN line. Without a switch, starts Corvane in the\n"
    "tray; when a Corvane of the same data directory runs already, brings that one\n"
    "to the front instead (its open window, else its popup; its call list when the\n"
    "desktop has no tray). Each data directory has a Corvane of its own.";

constexpr char SwitchesIntro[] =
    "Switches, carried out by the running Corvane (a first start carries them out\n"
    "itself):";

constexpr UsageItem SwitchItems[] = {
    {"/w, /window", "show the caller popup"},
    {"/c, /calls", "open the call list"},
    {"/n, /nicknames", "open the nicknames (the phone book)"},
    {"/m, /msn", "open the list of your own numbers (MSNs)"},
    {"/o, /options", "open the options"},
    {"/d, /dial", "dial the number in the clipboard (when dialling is on)"},
    {"/t, /test NUMBER", "show a test call from NUMBER"},
    {"/q, /quit", "end the running Corvane (starts nothing when none runs)"},
    {"-h, --help", "show this help and exit"},
    {"--version", "show the version and exit"},
};

constexpr UsageItem EnvironmentItems[] = {
    {"CORVANE_HOME", "keep every file in this directory instead"},
    {"CORVANE_CAPI_LIBRARY", "the CAPI 2.0 library to load (default libcapi20.so.3)"},
    {"CORVANE_CONTACTS_MODULE", "the address-book module to load (default\n"
                                "libcorvane-contacts.so beside the program, else the\n"
                                "installed one)"},
    {"QT_QPA_PLATFORM", "the window system to use (xcb or wayland); unset on a\n"
                        "Wayland desktop, Corvane uses the desktop's X server\n"
                        "(Xwayland) when one answers: the popup keeps its place"},
    {"XDG_DATA_HOME", "the data directory is $XDG_DATA_HOME/corvane"},
    {"XDG_CONFIG_HOME", "\"Load at startup\" writes its entry to\n"
                        "$XDG_CONFIG_HOME/autostart/corvane.desktop"},
    {"XDG_RUNTIME_DIR", "the running Corvane listens for a second start in\n"
                        "$XDG_RUNTIME_DIR/corvane (else $XDG_CACHE_HOME/corvane)"},
};

constexpr char FilesIntro[] =
    "The data directory is $CORVANE_HOME when it is set; else the program's own\n"
    "directory when a corvane.ini is there; else $XDG_DATA_HOME/corvane\n"
    "(~/.local/share/corvane). Files in it:";

constexpr UsageItem FileItems[] = {
    {"corvane.ini", "every setting"},
    {"Calls, Nicks, MSN", "the call list, the nicknames and your own numbers"},
    {"orte.asc", "your own area-code table (else the installed one)"},
    {"corvane.log", "the debug log, written with Debug=1 in [Settings]"},
};

// The help's columns: the term from the third character, its text from the `indent`th.
template <std::size_t N>
QString usageItems(const UsageItem (&items)[N], int indent)
{
    QString text;
    for (const UsageItem &item : items) {
        const QString term = QStringLiteral("  ") + QLatin1String(item.term);
        const QString pad = QString(indent, QLatin1Char(' '));
        // A term too long for its column stands on a line of its own.
        const QString head = term.size() < indent - 1 ? term.leftJustified(indent - 1) +
                                                            QLatin1Char(' ')
                                                      : term + QLatin1Char('\n') + pad;
        text += head +
                QString::fromUtf8(item.text).replace(QLatin1Char('\n'), QStringLiteral("\n") + pad) +
                QLatin1Char('\n');
    }
    return text;
}

// Text for roff: a backslash is written as \e, and a line that begins with a control
// character gets a zero-width escape in front, so no text turns into a request.
QString roffText(const char *text)
{
    QString result = QString::fromUtf8(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
    result.replace(QLatin1Char('\\'), QStringLiteral("\\e"));
    if (result.startsWith(QLatin1Char('.')) || result.startsWith(QLatin1Char('\'')))
        result.prepend(QStringLiteral("\\&"));
    return result;
}

// "/t, /test NUMBER" as bold names and an italic argument; "-" as a minus sign, which man
// pages need for options that are typed.
QString roffTerm(const char *term)
{
    QStringList parts;
    for (const QString &part : QString::fromUtf8(term).split(QStringLiteral(", "))) {
        QStringList words = part.split(QLatin1Char(' '));
        for (QString &word : words) word.replace(QLatin1Char('-'), QStringLiteral("\\-"));
        QString rendered = QStringLiteral("\\fB") + words.takeFirst() + QStringLiteral("\\fR");
        for (const QString &word : words)
            rendered += QStringLiteral(" \\fI") + word + QStringLiteral("\\fR");
        parts << rendered;
    }
    return parts.join(QStringLiteral(", "));
}

template <std::size_t N>
QString roffItems(const UsageItem (&items)[N])
{
    QString text;
    for (const UsageItem &item : items)
        text += QStringLiteral(".TP\n") + roffTerm(item.term) + QLatin1Char('\n') +
                roffText(item.text) + QLatin1Char('\n');
    return text;
}

} // namespace

int AnswerStartOptions(int argc, char **argv, const char *version)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedCommandLine parsed = ParseCommandLine(arguments);
    const QString program = QFileInfo(arguments.value(0, QStringLiteral("corvane"))).fileName();
    switch (parsed.action) {
    case StartAction::Run:
        return -1;
    case StartAction::Help:
        std::fputs(qPrintable(UsageText(program, DataDir::location())), stdout);
        return 0;
    case StartAction::Version:
        std::printf("Corvane %s\n", version);
        return 0;
    case StartAction::UnknownOption:
        std::fprintf(stderr, "%s: unknown option %s\n\n", qPrintable(program),
                     qPrintable(arguments.at(1)));
        std::fputs(qPrintable(UsageText(program, DataDir::location())), stderr);
        return 2;
    }
    return -1;
}

QString UsageText(const QString &programName, const QString &dataDirectory)
{
    return QStringLiteral("Usage: %1 [SWITCH]\n").arg(programName) + QLatin1String(UsageIntro) +
           QStringLiteral("\n\n") + QLatin1String(SwitchesIntro) + QLatin1Char('\n') +
           usageItems(SwitchItems, 21) + QStringLiteral("\nEnvironment:\n") +
           usageItems(EnvironmentItems, 24) + QStringLiteral("\nFiles in the data directory:\n") +
           usageItems(FileItems, 24) + QStringLiteral("\nData directory: %1\n").arg(dataDirectory);
}

QString ManPageText(const QString &version, const QString &installedDataDirectory)
{
    // Left-adjusted and without hyphenation: paths and variables stay whole.
    return QStringLiteral(".TH CORVANE 1 \"\" \"Corvane %1\" \"User Commands\"\n").arg(version) +
           QStringLiteral(".nh\n.ad l\n.SH NAME\ncorvane \\- shows who is calling on an ISDN line\n"
                          ".SH SYNOPSIS\n.B corvane\n.RI [ SWITCH ]\n"
                          ".SH DESCRIPTION\n") +
           roffText(UsageIntro) + QStringLiteral("\n.SH OPTIONS\n") + roffText(SwitchesIntro) +
           QLatin1Char('\n') + roffItems(SwitchItems) + QStringLiteral(".SH ENVIRONMENT\n") +
           roffItems(EnvironmentItems) + QStringLiteral(".SH FILES\n") + roffText(FilesIntro) +
           QLatin1Char('\n') + roffItems(FileItems) +
           QStringLiteral(".TP\n.I %1/orte.asc\nthe area-code table installed with Corvane\n"
                          ".TP\n\\fI%1/Corvane_e.pdf\\fR, \\fI%1/Corvane_g.pdf\\fR\n"
                          "the manual in English and German, opened by the menu's Help\n")
               .arg(installedDataDirectory);
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
