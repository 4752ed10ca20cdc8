// Whether a window's opacity shows on this display: on X11 only while a compositing manager
// runs (it owns the selection _NET_WM_CM_S<screen>); Qt's Wayland windows have no opacity,
// and other platforms (offscreen, none) show none either.
//
// GUI thread; asks the X server each time, because a compositor may start or stop while the
// program runs.
#pragma once

namespace platform {

bool WindowOpacityAvailable();

} // namespace platform
