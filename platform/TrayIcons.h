// The built-in images of the tray: four styles ("slots") of the handset for the active
// state, the same four greyed for the deactivated state, the call image the tray blinks
// with, and the program icon.
//
// Each QIcon holds renderings at 16, 22, 32 and 48 pixels compiled into the program.
// Plain functions; GUI thread (QIcon needs a QGuiApplication).
#pragma once

#include <QIcon>

namespace platform {

enum class TrayIconState
{
    Active,
    Deactivated,
};

inline constexpr int TrayIconSlots = 4;

// slot 1-4; any other value (a hand-edited ini file) gives slot 1.
QIcon TrayIcon(TrayIconState state, int slot);
QIcon CallIcon();
QIcon ProgramIcon();

// The resource path of one rendering (":/icons/22/tray-call.png"), for tests and
// for uses that need a single pixmap.
QString IconResourcePath(const QString &name, int size);
// The sizes every icon is shipped in.
QList<int> IconSizes();

} // namespace platform
