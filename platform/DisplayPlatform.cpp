#include "platform/DisplayPlatform.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <xcb/xcb.h>

namespace platform {

namespace {

const char *const PlatformVariable = "QT_QPA_PLATFORM";

bool isWaylandSession(const DisplayEnvironment &environment)
{
    return !environment.waylandDisplay.isEmpty() || environment.sessionType == "wayland";
}

} // namespace

DisplayEnvironment DisplayEnvironment::Current(int argc, char **argv)
{
    DisplayEnvironment environment;
    environment.qpaPlatform = qgetenv(PlatformVariable);
    environment.waylandDisplay = qgetenv("WAYLAND_DISPLAY");
    environment.sessionType = qgetenv("XDG_SESSION_TYPE");
    // As QGuiApplication reads it: one leading dash of two is dropped, and the name follows.
    for (int i = 1; i + 1 < argc; ++i) {
        const char *argument = argv[i];
        if (std::strncmp(argument, "--", 2) == 0) ++argument;
        if (std::strcmp(argument, "-platform") == 0) environment.platformArgument = true;
    }
    return environment;
}

bool XServerReachable(int timeoutMs)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) return false;
    // Asked by a child process: one that hangs on a silent server is ended, and nothing of
    // libxcb's or libXau's state (libXau's is not thread-safe) is shared with the Qt that
    // connects afterwards.
    int answer[2];
    if (::pipe2(answer, O_CLOEXEC) != 0) return false;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(answer[0]);
        const char reachable = xcb_connection_has_error(xcb_connect(nullptr, nullptr)) == 0;
        [[maybe_unused]] ssize_t n = ::write(answer[1], &reachable, 1);
        ::_exit(0);
    }
    ::close(answer[1]);
    char reachable = 0;
    if (child > 0) {
        pollfd ready{answer[0], POLLIN, 0};
        if (::poll(&ready, 1, timeoutMs) != 1 || ::read(answer[0], &reachable, 1) != 1)
            reachable = 0;
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    ::close(answer[0]);
    return reachable == 1;
}

DisplayPlatformChoice::DisplayPlatformChoice(const DisplayEnvironment &environment,
                                             const std::function<bool()> &xServerReachable)
{
    if (!environment.qpaPlatform.isEmpty() || environment.platformArgument) return;
    if (!isWaylandSession(environment) || !xServerReachable()) return;
    FX11Chosen = qputenv(PlatformVariable, "xcb");
}

void DisplayPlatformChoice::Restore()
{
    if (FX11Chosen) qunsetenv(PlatformVariable);
}

} // namespace platform
