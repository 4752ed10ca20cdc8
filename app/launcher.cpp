// The program as the user starts it ("corvane"). A second start only hands its switch to the
// Corvane that runs already; this small program does that with Qt Core alone, without the
// window system's libraries and without a display connection, so that "corvane /d" from a
// keyboard shortcut dials at once. Every other start, and any second start that is not plain
// (a channel that is not private, an instance that does not answer), becomes the full
// program, corvane-app beside this one, in the same process: it decides and reports as
// before.
#include "platform/ChannelDirectory.h"
#include "platform/DataDir.h"
#include "platform/InstanceCommand.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <libgen.h>
#include <unistd.h>
#include <vector>

namespace {

// True when a running Corvane of this data directory took the command.
bool HandedOver(int argc, char **argv)
{
    // Qt may take options out of what it is given; the full program gets them all.
    std::vector<char *> own(argv, argv + argc + 1);
    QCoreApplication app(argc, own.data());
    const QStringList arguments = QCoreApplication::arguments();
    const platform::ParsedCommandLine parsed = platform::ParseCommandLine(arguments);
    // Qt's own options and stray words are the full program's to take or name.
    if (!parsed.ignored.isEmpty()) return false;

    const QString dataDirectory = DataDir::location();
    const QString serverName = platform::SingleInstance::DefaultServerName(
        DataDir::isDefault() ? QString() : dataDirectory);
    if (serverName.isEmpty()) return false;
    const QString channel = QFileInfo(serverName).absolutePath();
    if (!ChannelDirectory::whyNotPrivate(channel, getuid()).isEmpty()) return false;
    // Nobody listens: this is the first start.
    QLocalSocket probe;
    probe.connectToServer(serverName);
    if (!probe.waitForConnected(200)) return false;
    probe.abort();

    if (platform::PrepareCommand(arguments, channel) != parsed.command) return false;
    if (!platform::SingleInstance::SendCommand(serverName, parsed.command, channel, 3000))
        return false;
    if (parsed.command == platform::InstanceCommand::None)
        std::fprintf(stderr, "Corvane is already running (data directory %s)\n",
                     qPrintable(dataDirectory));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const int exitCode = platform::AnswerStartOptions(argc, argv, CORVANE_VERSION);
        exitCode >= 0)
        return exitCode;
    if (HandedOver(argc, argv)) return 0;

    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        std::fprintf(stderr, "corvane: cannot find the program's folder: %s\n", std::strerror(errno));
        return 1;
    }
    self[length] = '\0';
    const std::string program = std::string(dirname(self)) + "/corvane-app";
    execv(program.c_str(), argv);
    std::fprintf(stderr, "corvane: cannot start %s: %s\n", program.c_str(), std::strerror(errno));
    return 1;
}
