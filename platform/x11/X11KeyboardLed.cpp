#include "platform/x11/X11KeyboardLed.h"

#include <QCoreApplication>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace platform {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("KeyboardLed", text);
}

void setError(QString *error, const QString &text)
{
    if (error) *error = text;
}

} // namespace

std::unique_ptr<X11KeyboardLed> X11KeyboardLed::Open(QString *error)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        setError(error, tr("The X display cannot be opened."));
        return nullptr;
    }
    int opcode = 0, event = 0, xkbError = 0;
    int major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &event, &xkbError, &major, &minor)) {
        XCloseDisplay(display);
        setError(error, tr("The X display has no keyboard extension (XKB)."));
        return nullptr;
    }
    // Indicators are found by name: their numbers differ between keymaps.
    const Atom indicator = XInternAtom(display, "Scroll Lock", False);
    int index = -1;
    Bool state = False;
    if (!XkbGetNamedIndicator(display, indicator, &index, &state, nullptr, nullptr)) {
        XCloseDisplay(display);
        setError(error, tr("The keyboard has no Scroll Lock indicator."));
        return nullptr;
    }
    int testEvent = 0, testError = 0, testMajor = 0, testMinor = 0;
    const bool hasXTest =
        XTestQueryExtension(display, &testEvent, &testError, &testMajor, &testMinor);
    return std::unique_ptr<X11KeyboardLed>(new X11KeyboardLed(display, indicator, hasXTest));
}

X11KeyboardLed::X11KeyboardLed(Display *display, unsigned long indicatorAtom, bool hasXTest)
    : m_display(display), m_indicator(indicatorAtom), m_hasXTest(hasXTest)
{
}

X11KeyboardLed::~X11KeyboardLed()
{
    XCloseDisplay(m_display);
}

bool X11KeyboardLed::ReadScrollLock(bool &on, QString *error)
{
    int index = -1;
    Bool state = False;
    if (!XkbGetNamedIndicator(m_display, m_indicator, &index, &state, nullptr, nullptr)) {
        setError(error, tr("The Scroll Lock indicator cannot be read."));
        return false;
    }
    on = state;
    return true;
}

bool X11KeyboardLed::SetScrollLockIndicator(bool on, QString *error)
{
    if (!XkbSetNamedIndicator(m_display, m_indicator, True, on, False, nullptr)) {
        setError(error, tr("The Scroll Lock indicator cannot be set."));
        return false;
    }
    XSync(m_display, False);
    bool now = !on;
    if (!ReadScrollLock(now, error)) return false;
    if (now != on) {
        setError(error, tr("The Scroll Lock indicator does not accept changes."));
        return false;
    }
    return true;
}

bool X11KeyboardLed::PressScrollLock(QString *error)
{
    bool before = false;
    if (!ReadScrollLock(before, error)) return false;

    // The key press also counts as user activity, which wakes the display.
    const KeyCode key = XKeysymToKeycode(m_display, XK_Scroll_Lock);
    if (m_hasXTest && key != 0) {
        XTestFakeKeyEvent(m_display, key, True, CurrentTime);
        XTestFakeKeyEvent(m_display, key, False, CurrentTime);
        XSync(m_display, False);
    }
    bool after = before;
    if (!ReadScrollLock(after, error)) return false;
    if (after != before) return true;

    // WORKAROUND: the usual XKB keymaps bind the Scroll Lock indicator to a virtual
    // modifier that no real one backs, so the key press leaves the LED as it was. The
    // indicator is then switched directly.
    return SetScrollLockIndicator(!before, error);
}

} // namespace platform
