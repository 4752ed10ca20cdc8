#include "platform/WindowOpacity.h"

#include <QByteArray>
#include <QGuiApplication>

#include <X11/Xlib.h>

namespace platform {

bool WindowOpacityAvailable()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return false;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display *display = x11 ? x11->display() : nullptr;
    if (!display) return false;
    const QByteArray selection = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    const Atom atom = XInternAtom(display, selection.constData(), False);
    return XGetSelectionOwner(display, atom) != None;
}

} // namespace platform
