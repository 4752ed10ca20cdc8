// Keeps the windows the user opens clear of the popup. The popup stays on top of every other
// window, so a dialog that opens under it (the lists from a click on the popup or the tray
// menu, the options, the about window, a message) would have its title bar, and below a
// large popup its tabs, out of reach. Installed on the application, this moves each dialog
// that is about to appear while the popup shows on top to a place beside it.
//
// Owned by the main window; main thread only.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>

class QWidget;

// Where a window's frame goes so that the obstacle does not cover it: where it is when they
// do not overlap; else below, right of, left of or above the obstacle, the first place where
// the whole frame fits in the available area; else below the obstacle, where at least its
// title bar is clear.
QPoint PlaceClearOf(const QRect &frame, const QRect &obstacle, const QRect &available);

class TDialogPlacement : public QObject
{
public:
    explicit TDialogPlacement(QWidget *popup);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *FPopup;
};
