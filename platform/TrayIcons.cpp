#include "platform/TrayIcons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
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

// A red disc with a white bar, a quarter of the icon's area, in its lower right corner.
void paintNoEntryBadge(QPainter &painter, const QRectF &icon)
{
    const qreal side = icon.width() * 0.55;
    const QRectF disc(icon.right() - side, icon.bottom() - side, side, side);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, std::max<qreal>(1.0, side / 10)));
    painter.setBrush(QColor(0xd3, 0x2f, 0x2f));
    painter.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const qreal barHeight = std::max<qreal>(1.5, side / 5);
    painter.drawRect(QRectF(disc.left() + side * 0.22, disc.center().y() - barHeight / 2,
                            side * 0.56, barHeight));
    painter.restore();
}

// Draws the source icon's own rendering for each size in device pixels and the badge on
// it, so the result is as crisp as the source at every scale factor.
class LineDownEngine : public QIconEngine
{
public:
    explicit LineDownEngine(QIcon source) : FSource(std::move(source)) {}

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        QPixmap pixmap = FSource.pixmap(size, 1.0, mode, state);
        if (pixmap.isNull()) {
            pixmap = QPixmap(size);
            pixmap.fill(Qt::transparent);
        }
        QPainter painter(&pixmap);
        paintNoEntryBadge(painter, QRectF(QPointF(0, 0), pixmap.size()));
        return pixmap;
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device()->devicePixelRatioF();
        QPixmap image = pixmap((QSizeF(rect.size()) * ratio).toSize(), mode, state);
        image.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect.topLeft(), image);
    }

    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return FSource.actualSize(size, mode, state);
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return FSource.availableSizes(mode, state);
    }

    QIconEngine *clone() const override { return new LineDownEngine(FSource); }
    QString key() const override { return QStringLiteral("CorvaneLineDown"); }

private:
    QIcon FSource;
};

} // namespace

QList<int> IconSizes()
{
    return {16, 22, 24, 32, 33, 36, 44, 48, 64};
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

QIcon LineDownIcon(const QIcon &active)
{
    return QIcon(new LineDownEngine(active));
}

} // namespace platform
