#include "app/TrayWatch.h"

#include <QSystemTrayIcon>

TTrayWatch::TTrayWatch(QObject *parent) : QObject(parent)
{
    TrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    connect(&FTimer, &QTimer::timeout, this, &TTrayWatch::Look);
}

void TTrayWatch::Start(int intervalMs)
{
    FTimer.start(intervalMs);
}

void TTrayWatch::Look()
{
    const bool available = TrayAvailable();
    if (FAvailable == available) return;
    const bool wasMissing = FAvailable == false;
    FAvailable = available;
    if (!available) {
        if (OnTrayMissing) OnTrayMissing();
        return;
    }
    if (OnTrayFound) OnTrayFound();
    if (wasMissing && OnTrayBack) OnTrayBack();
}
