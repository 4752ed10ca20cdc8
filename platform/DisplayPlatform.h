// The display platform Qt is asked for, chosen before QApplication exists.
//
// On Wayland the compositor places every window itself and keeps none above the others, so
// the popup could neither open at its saved place nor stay on top. Nearly every Wayland
// desktop also runs an X server (Xwayland) for older programs; where one answers, Corvane
// asks Qt for X11 (xcb), unless the user chose a platform (QT_QPA_PLATFORM, -platform).
// X sessions and the user's own choice are left as they are.
//
// Made by the program's entry before QApplication and used right after it; main thread, where
// no call is handled yet.
#pragma once

#include <QByteArray>
#include <functional>

namespace platform {

// What the choice depends on: the environment and the command line as the program got them.
struct DisplayEnvironment
{
    QByteArray qpaPlatform;        // QT_QPA_PLATFORM
    QByteArray waylandDisplay;     // WAYLAND_DISPLAY
    QByteArray sessionType;        // XDG_SESSION_TYPE
    bool platformArgument = false; // Qt's "-platform NAME" (also "--platform NAME")

    static DisplayEnvironment Current(int argc, char **argv);
};

// Whether an X server at $DISPLAY (with $XAUTHORITY) accepts a connection within timeoutMs.
// A child process asks it: a display on a host that does not answer costs the start no more
// than the time-out.
bool XServerReachable(int timeoutMs);

class DisplayPlatformChoice
{
public:
    // Sets QT_QPA_PLATFORM=xcb for this process when the session is Wayland, the user chose
    // no platform and xServerReachable() says yes (it is asked only then).
    DisplayPlatformChoice(const DisplayEnvironment &environment,
                          const std::function<bool()> &xServerReachable);
    // Takes QT_QPA_PLATFORM back once QApplication has read it, so that the programs Corvane
    // starts (the PDF viewer, the tel: handler) choose their own platform.
    void Restore();

    bool X11Chosen() const { return FX11Chosen; }

private:
    bool FX11Chosen = false;
};

} // namespace platform
