// Wakes the display when a call comes in, so the popup is seen.
//
// Tries the desktop's org.freedesktop.ScreenSaver service (SimulateUserActivity) on the
// session bus when one is registered, and the X server's screen saver reset on the xcb
// platform. Plain function; main thread (it makes a short blocking D-Bus call).
#pragma once

#include <QString>

namespace platform {

// True when at least one of the two ways reached its target; otherwise false with the
// reasons in *error. Never shows anything.
bool WakeUpDisplay(QString *error = nullptr);

} // namespace platform
