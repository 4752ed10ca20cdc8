#include "platform/TrayIcons.h"

#include <mutex>

// Resources of a static library need an explicit start; outside any namespace.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace platform {

namespace {

QIcon iconNamed(const QString &name)
{
    QIcon icon;
    for (int size : IconSizes())
        icon.addFile(IconResourcePath(name, size), QSize(size, size));
    return icon;
}

} // namespace

QList<int> IconSizes()
{
    return {16, 22, 32, 48};
}

QString IconResourcePath(const QString &name, int size)
{
    static std::once_flag once;
    std::call_once(once, initIconResources);
    return QStringLiteral(":/icons/%1/%2.png").arg(size).arg(name);
}

QIcon TrayIcon(TrayIconState state, int slot)
{
    if (slot < 1 || slot > TrayIconSlots) slot = 1;
    const QString prefix = state == TrayIconState::Active ? QStringLiteral("tray-active-")
                                                          : QStringLiteral("tray-inactive-");
    return iconNamed(prefix + QString::number(slot));
}

QIcon CallIcon()
{
    return iconNamed(QStringLiteral("tray-call"));
}

QIcon ProgramIcon()
{
    return iconNamed(QStringLiteral("corvane"));
}

} // namespace platform
