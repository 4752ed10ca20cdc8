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
    Help,          // "--help": print the usage, exit 0
    Version,       // "--version": print the version, exit 0
    UnknownOption, // any other first parameter beginning with "--": usage on stderr, exit 2
};

struct ParsedCommandLine
{
    InstanceCommand command = InstanceCommand::None;
    QString testNumber; // only with TestCall
    StartAction action = StartAction::Run;
};

// arguments as QCoreApplication::arguments() gives them: the program first. The first
// parameter is compared case-sensitively with the switches; "/t" and "/test" count only
// with a second parameter. "--help", "--version" and other options written the Linux way
// set the action; "--" alone is no option. Anything else gives None.
ParsedCommandLine ParseCommandLine(const QStringList &arguments);

// The text of "--help": the switches, the environment variables and the data directory.
QString UsageText(const QString &programName, const QString &dataDirectory);

// The test number travels in the file "testcallnum": one line, created or overwritten.
inline constexpr char TestCallNumberFileName[] = "testcallnum";

// directory empty: the current directory.
bool WriteTestCallNumber(const QString &number, QString *error = nullptr,
                         const QString &directory = QString());
// The first line of the file, trimmed; nullopt when the file is missing or unreadable.
std::optional<QString> ReadTestCallNumber(const QString &directory = QString());

// What a start sends: parses the command line and, for a test call, writes the number
// file first. A test call whose file cannot be written becomes None, so the receiver
// never acts on an old number.
InstanceCommand PrepareCommand(const QStringList &arguments, QString *error = nullptr);

} // namespace platform
