#include "platform/KeyboardLed.h"

#include "platform/x11/X11KeyboardLed.h"

#include <QCoreApplication>
#include <QGuiApplication>

namespace platform {

bool UnavailableKeyboardLed::ReadScrollLock(bool &on, QString *error)
{
    on = false;
    if (error) *error = m_reason;
    return false;
}

bool UnavailableKeyboardLed::PressScrollLock(QString *error)
{
    if (error) *error = m_reason;
    return false;
}

std::unique_ptr<KeyboardLed> CreateKeyboardLed()
{
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb")) {
        return std::make_unique<UnavailableKeyboardLed>(
            QCoreApplication::translate("KeyboardLed",
                                        "The keyboard LEDs cannot be reached on the \"%1\" "
                                        "display platform (X11 only).")
                .arg(platform.isEmpty() ? QStringLiteral("none") : platform));
    }
    QString reason;
    if (auto led = X11KeyboardLed::Open(&reason)) return led;
    return std::make_unique<UnavailableKeyboardLed>(reason);
}

} // namespace platform
