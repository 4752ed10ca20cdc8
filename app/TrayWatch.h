// Corvane lives in the tray; on a desktop without one (GNOME without an extension, for
// example) the user must still learn how to reach it. This looks whether a tray is there,
// a few seconds after the start and every few seconds after that (Qt reports no change of
// it), and reports each time the tray is found missing, once, and when it is back.
//
// Owned by the main window; main thread only.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

class TTrayWatch : public QObject
{
    Q_OBJECT

public:
    explicit TTrayWatch(QObject *parent = nullptr);

    // Whether a tray is there now (QSystemTrayIcon::isSystemTrayAvailable; tests set their
    // own).
    std::function<bool()> TrayAvailable;
    // The tray was found missing: at the first look, or after it had been there.
    std::function<void()> OnTrayMissing;
    std::function<void()> OnTrayBack;
    // A tray is there: at the first look, or back after it was missing.
    std::function<void()> OnTrayFound;

    // Looks for the first time after intervalMs (a panel started with the session may come
    // a little later than the program), then every intervalMs.
    void Start(int intervalMs = 3000);
    // The tray as last seen; true before the first look.
    bool Available() const { return FAvailable.value_or(true); }

private:
    void Look();

    QTimer FTimer;
    std::optional<bool> FAvailable;
};
