// The Scroll Lock LED, which blinks for calls not yet seen.
//
// KeyboardLed is the seam: the main window holds one through the interface, tests of the
// main window pass a fake. CreateKeyboardLed() picks the X11 implementation on the xcb
// platform and otherwise one whose every operation fails with a reason, so the caller
// reacts as to an unreadable keyboard state.
//
// Owned by the main window; main thread only.
#pragma once

#include <QString>
#include <memory>

namespace platform {

class KeyboardLed
{
public:
    virtual ~KeyboardLed() = default;

    // The Scroll Lock indicator as the display server reports it. False (with a reason
    // in *error) when it cannot be read.
    virtual bool ReadScrollLock(bool &on, QString *error = nullptr) = 0;
    // One simulated press and release of Scroll Lock; the indicator changes to the
    // other state. False (with a reason) when that did not happen.
    virtual bool PressScrollLock(QString *error = nullptr) = 0;
};

// Fails every operation with the reason given; the choice where no LED can be reached.
class UnavailableKeyboardLed final : public KeyboardLed
{
public:
    explicit UnavailableKeyboardLed(QString reason) : m_reason(std::move(reason)) {}
    bool ReadScrollLock(bool &on, QString *error = nullptr) override;
    bool PressScrollLock(QString *error = nullptr) override;

private:
    QString m_reason;
};

// X11 when QGuiApplication::platformName() is "xcb" and the display has the needed
// extensions; the failing implementation otherwise (Wayland, offscreen, no display,
// or a build without the desktop layers).
std::unique_ptr<KeyboardLed> CreateKeyboardLed();

} // namespace platform
