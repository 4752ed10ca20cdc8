// The commands a second start hands to the running instance, and the command line that
// chooses them.
//
// The numbers are the window-message numbers the program has always used, so logs and
// scripts keep their meaning. Plain functions; any thread.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

enum class InstanceCommand : int
{
    None = 0,         // no switch: only bring the running instance to the front
    ShowPopup = 3024, // "/w", "/window"
    Calls = 3025,     // "/c", "/calls"
    Msn = 3026,       // "/m", "/msn"
    Nicknames = 3027, // "/n", "/nicknames"
    Options = 3028,   // "/o", "/options"
    Dial = 3029,      // "/d", "/dial"
    Quit = 3030,      // "/q", "/quit": ends the running instance as the menu's Exit does
    TestCall = 3124,  // "/t", "/test" followed by a number
};

// True for the commands above (None excluded).
bool IsKnownCommand(int code);

// What a start does besides handing a command over.
enum class StartAction
{
    Run,
    Help,          // "--help" or "-h": print the usage, exit 0
    Version,       // "--version": print the version, exit 0
    UnknownOption, // any other first parameter beginning with "--": usage on stderr, exit 2
};

struct ParsedCommandLine
{
    InstanceCommand command = InstanceCommand::None;
    QString testNumber; // only with TestCall
    StartAction action = StartAction::Run;
    // With Run: the parameters that are neither the switch nor its number, which nothing
    // acts on (a misspelt switch, a word such as "help").
    QStringList ignored;
};

// arguments as QCoreApplication::arguments() gives them: the program first. The first
// parameter is compared case-sensitively with the switches; "/t" and "/test" count only
// with a second parameter. "--help" (or "-h"), "--version" and other options written the
// Linux way set the action; "--" alone is no option. Anything else gives None.
ParsedCommandLine ParseCommandLine(const QStringList &arguments);

// "--help", "--version" and unknown "--options", answered before anything else, so that they
// work without a display and never reach a running instance: prints the answer and gives the
// exit code, or -1 when the start goes on.
int AnswerStartOptions(int argc, char **argv, const char *version);

// The text of "--help": the switches, the environment variables, the files and the data
// directory.
QString UsageText(const QString &programName, const QString &dataDirectory);
// The manual page corvane(1) in roff, from the same switches, variables and files; the
// installed files are named under `installedDataDirectory` (for example /usr/share/corvane).
QString ManPageText(const QString &version, const QString &installedDataDirectory);

// The test number travels in the file "testcallnum" in the channel directory (see
// ChannelDirectory.h): one line, written by the second start with mode 0600, read by the
// running instance.
inline constexpr char TestCallNumberFileName[] = "testcallnum";
// The reader takes no more than this: a number is short, the file is not ours to swallow.
inline constexpr int MaxTestCallNumberBytes = 256;

// Replaces the file in `directory` by a new one (a random temporary name made with O_EXCL,
// then renamed over it), so that a symbolic link or FIFO at the name is replaced, never
// followed.
bool WriteTestCallNumber(const QString &number, const QString &directory, QString *error = nullptr);
// The first line of the file, trimmed. nullopt, with `error`, when it is missing, not a
// regular file (a symbolic link, FIFO or device is never opened for reading: O_NOFOLLOW,
// O_NONBLOCK, fstat), or has no line end within MaxTestCallNumberBytes.
std::optional<QString> ReadTestCallNumber(const QString &directory, QString *error = nullptr);
// The number as the reader takes it from text: the first line, trimmed.
QString TestCallNumberFromText(const QString &text);

// What a second start sends: parses the command line and, for a test call, writes the
// number file into `directory` first. A test call whose file cannot be written becomes
// None, so the receiver never acts on an old number.
InstanceCommand PrepareCommand(const QStringList &arguments, const QString &directory,
                               QString *error = nullptr);

} // namespace platform
