#include "platform/DisplayPlatform.h"

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

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
    // The thread is left to end by itself when the server does not answer in time.
    auto answer = std::make_shared<std::promise<bool>>();
    std::future<bool> reachable = answer->get_future();
    std::thread([answer] {
        xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
        const bool connected = xcb_connection_has_error(connection) == 0;
        xcb_disconnect(connection);
        answer->set_value(connected);
    }).detach();
    return reachable.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready &&
           reachable.get();
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
