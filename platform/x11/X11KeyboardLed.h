// The Scroll Lock LED through XKB, with XTest for the key press.
//
// Uses its own connection to the X display, so it works beside Qt's and needs no Qt
// platform internals. Owned by the main window (through KeyboardLed); main thread only.
#pragma once

#include "platform/KeyboardLed.h"

#include <memory>

typedef struct _XDisplay Display;

namespace platform {

class X11KeyboardLed final : public KeyboardLed
{
public:
    // Opens the display named by $DISPLAY; null (with the reason) when it or the XKB
    // extension or the "Scroll Lock" indicator is missing.
    static std::unique_ptr<X11KeyboardLed> Open(QString *error = nullptr);
    ~X11KeyboardLed() override;

    bool ReadScrollLock(bool &on, QString *error = nullptr) override;
    bool PressScrollLock(QString *error = nullptr) override;

    // Sets the indicator without a key press (tests put the LED in a known state).
    bool SetScrollLockIndicator(bool on, QString *error = nullptr);

private:
    X11KeyboardLed(Display *display, unsigned long indicatorAtom, bool hasXTest);

    Display *m_display;
    unsigned long m_indicator; // the Atom "Scroll Lock"
    bool m_hasXTest;
};

} // namespace platform
