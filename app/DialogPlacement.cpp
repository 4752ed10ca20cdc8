#include "app/DialogPlacement.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QScreen>
#include <QStyle>

#include <algorithm>

QPoint PlaceClearOf(const QRect &frame, const QRect &obstacle, const QRect &available)
{
    if (!frame.intersects(obstacle)) return frame.topLeft();
    const QSize size = frame.size();
    const auto within = [](int at, int length, int first, int last) {
        return std::clamp(at, first, std::max(first, last + 1 - length));
    };
    const int x = within(frame.x(), size.width(), available.left(), available.right());
    const int y = within(frame.y(), size.height(), available.top(), available.bottom());
    const QPoint beside[] = {
        {x, obstacle.bottom() + 1},
        {obstacle.right() + 1, y},
        {obstacle.left() - size.width(), y},
        {x, obstacle.top() - size.height()},
    };
    for (const QPoint &at : beside)
        if (available.contains(QRect(at, size))) return at;
    return beside[0];
}

TDialogPlacement::TDialogPlacement(QWidget *popup) : QObject(popup), FPopup(popup)
{
    qApp->installEventFilter(this);
}

bool TDialogPlacement::eventFilter(QObject *watched, QEvent *event)
{
    // The show event comes before the window is mapped: moved now, it appears in its place.
    if (event->type() != QEvent::Show) return false;
    auto *dialog = qobject_cast<QDialog *>(watched);
    if (!dialog || !dialog->isWindow() || !FPopup->isVisible() ||
        !FPopup->windowFlags().testFlag(Qt::WindowStaysOnTopHint))
        return false;
    QRect frame = dialog->frameGeometry();
    // Before its first show the window manager's frame is not known: a title bar's height
    // stands in for it.
    if (frame.top() == dialog->geometry().top())
        frame.setTop(frame.top() - dialog->style()->pixelMetric(QStyle::PM_TitleBarHeight));
    const QPoint at =
        PlaceClearOf(frame, FPopup->frameGeometry(), FPopup->screen()->availableGeometry());
    if (at != frame.topLeft()) dialog->move(dialog->pos() + (at - frame.topLeft()));
    return false;
}
