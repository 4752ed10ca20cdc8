// The built-in images of the tray: four styles ("slots") of the handset for the active
// state, the same four greyed for the deactivated state, the call image the tray blinks
// with, and the program icon.
//
// Each QIcon holds renderings compiled into the program at the sizes of IconSizes(): the
// usual tray slots at scale factors 1, 1.5 and 2, so that a tray never shows a scaled image.
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

// The tray image while the ISDN line cannot be used: `active` (a built-in image or one the
// user loaded) with a red "no entry" badge in its lower right corner, drawn at every size
// the icon is asked for.
QIcon LineDownIcon(const QIcon &active);

// The resource path of one rendering (":/icons/22/tray-call.png"), for tests and
// for uses that need a single pixmap.
QString IconResourcePath(const QString &name, int size);
// The sizes every icon is shipped in.
QList<int> IconSizes();

} // namespace platform
