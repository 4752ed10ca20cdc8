// The built-in tray images: present in every size, drawn, told apart, crisp at every scale
// factor; the image of a line that cannot be used.
#include "platform/TrayIcons.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <QtTest>

using namespace platform;

namespace {

// Share of pixels that are not (almost) transparent.
double coverage(const QImage &image)
{
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    int drawn = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            drawn += qAlpha(img.pixel(x, y)) > 64;
    return double(drawn) / (img.width() * img.height());
}

// Mean saturation of the drawn pixels.
double saturation(const QImage &image)
{
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = QColor::fromRgba(img.pixel(x, y));
            if (c.alpha() > 64) {
                sum += c.hsvSaturationF();
                ++n;
            }
        }
    return n ? sum / n : 0;
}

QImage render(const QIcon &icon, int size)
{
    return icon.pixmap(QSize(size, size)).toImage();
}

QImage argb(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

bool isBadgeRed(QRgb pixel)
{
    return qAlpha(pixel) > 200 && qRed(pixel) > 180 && qGreen(pixel) < 90 && qBlue(pixel) < 90;
}

int badgeRedPixels(const QImage &image, const QRect &area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += isBadgeRed(image.pixel(x, y));
    return n;
}

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT

private slots:
    void everyIconInEverySize_data()
    {
        QTest::addColumn<QString>("name");
        for (int slot = 1; slot <= TrayIconSlots; ++slot) {
            QTest::newRow(qPrintable(QString("active %1").arg(slot)))
                << QString("tray-active-%1").arg(slot);
            QTest::newRow(qPrintable(QString("deactivated %1").arg(slot)))
                << QString("tray-inactive-%1").arg(slot);
        }
        QTest::newRow("call") << QString("tray-call");
        QTest::newRow("program") << QString("corvane");
    }
    void everyIconInEverySize()
    {
        QFETCH(QString, name);
        for (int size : IconSizes()) {
            const QImage image(IconResourcePath(name, size));
            QVERIFY2(!image.isNull(), qPrintable(IconResourcePath(name, size)));
            QCOMPARE(image.size(), QSize(size, size));
            QVERIFY2(image.hasAlphaChannel(), "tray images need a transparent background");
            const double c = coverage(image);
            QVERIFY2(c > 0.2 && c < 0.99, qPrintable(QString("%1 px: %2").arg(size).arg(c)));
        }
    }

    void iconsRenderAtTraySizes()
    {
        QList<QIcon> icons{CallIcon(), ProgramIcon()};
        for (int slot = 1; slot <= TrayIconSlots; ++slot)
            icons << TrayIcon(TrayIconState::Active, slot)
                  << TrayIcon(TrayIconState::Deactivated, slot);
        for (const QIcon &icon : icons) {
            QVERIFY(!icon.isNull());
            for (int size : {22, 32}) {
                const QImage image = render(icon, size);
                QCOMPARE(image.size(), QSize(size, size));
                QVERIFY(coverage(image) > 0.2);
            }
        }
    }

    // A tray slot of 16, 22, 24 or 32 pixels at scale factor 1, 1.5 or 2 gets an image
    // drawn for exactly its size in device pixels: filled, never scaled.
    void crispAtEveryScaleFactor()
    {
        const QList<std::pair<QString, QIcon>> icons = {
            {"tray-active-2", TrayIcon(TrayIconState::Active, 2)},
            {"tray-inactive-3", TrayIcon(TrayIconState::Deactivated, 3)},
            {"tray-call", CallIcon()},
        };
        for (const auto &[name, icon] : icons)
            for (qreal scale : {1.0, 1.5, 2.0})
                for (int slot : {16, 22, 24, 32}) {
                    const int device = qRound(slot * scale);
                    const QPixmap pixmap = icon.pixmap(QSize(slot, slot), scale);
                    const QString where = QString("%1 %2 px at %3").arg(name).arg(slot).arg(scale);
                    QVERIFY2(pixmap.size() == QSize(device, device), qPrintable(where));
                    QVERIFY2(argb(pixmap.toImage()) == argb(QImage(IconResourcePath(name, device))),
                             qPrintable(where));
                }
    }

    void lineDownShowsOnTheActiveImage()
    {
        for (int slot = 1; slot <= TrayIconSlots; ++slot) {
            const QIcon active = TrayIcon(TrayIconState::Active, slot);
            const QIcon down = LineDownIcon(active);
            for (int size : {16, 22, 33, 48}) {
                const QImage image = argb(render(down, size));
                const QImage original = argb(render(active, size));
                QCOMPARE(image.size(), QSize(size, size));
                QVERIFY(image != original);
                QVERIFY(image != argb(render(TrayIcon(TrayIconState::Deactivated, slot), size)));
                // The badge sits in the lower right corner; the rest is the active image.
                const int half = size / 2;
                QVERIFY2(badgeRedPixels(image, QRect(half, half, size - half, size - half)) >
                             size * size / 40,
                         qPrintable(QString("slot %1, %2 px").arg(slot).arg(size)));
                QCOMPARE(image.copy(0, 0, size / 3, size / 3),
                         original.copy(0, 0, size / 3, size / 3));
            }
            // Device pixels at a scale factor.
            QCOMPARE(down.pixmap(QSize(22, 22), 2.0).size(), QSize(44, 44));
        }
    }

    void lineDownShowsOnTheUsersOwnImage()
    {
        QTemporaryDir dir;
        QImage own(32, 32, QImage::Format_ARGB32);
        own.fill(QColor(0, 200, 0));
        const QString file = dir.filePath("own.png");
        QVERIFY(own.save(file));
        const QImage image = argb(render(LineDownIcon(QIcon(file)), 32));
        QCOMPARE(image.pixel(2, 2), qRgb(0, 200, 0));
        QVERIFY(badgeRedPixels(image, QRect(16, 16, 16, 16)) > 32);
        // Painted the way an XEmbed tray paints its icon, at scale factor 1.5.
        QImage slot(33, 33, QImage::Format_ARGB32_Premultiplied);
        slot.setDevicePixelRatio(1.5);
        slot.fill(Qt::transparent);
        QPainter painter(&slot);
        LineDownIcon(QIcon(file)).paint(&painter, QRect(0, 0, 22, 22));
        painter.end();
        QCOMPARE(slot.pixel(1, 1), qRgb(0, 200, 0));
        QVERIFY(badgeRedPixels(slot, QRect(17, 17, 16, 16)) > 20);
    }

    void imagesAreDistinct()
    {
        QList<QImage> images{render(CallIcon(), 22)};
        for (int slot = 1; slot <= TrayIconSlots; ++slot)
            images << render(TrayIcon(TrayIconState::Active, slot), 22)
                   << render(TrayIcon(TrayIconState::Deactivated, slot), 22);
        for (int i = 0; i < images.size(); ++i)
            for (int j = i + 1; j < images.size(); ++j)
                QVERIFY2(images[i] != images[j], qPrintable(QString("%1 == %2").arg(i).arg(j)));
    }

    // Deactivated is greyed: only the small badge keeps a colour.
    void deactivatedIsGreyed()
    {
        for (int slot = 1; slot <= TrayIconSlots; ++slot) {
            const double active = saturation(render(TrayIcon(TrayIconState::Active, slot), 32));
            const double off = saturation(render(TrayIcon(TrayIconState::Deactivated, slot), 32));
            QVERIFY2(off < 0.35 && (active < 0.35 || off < active),
                     qPrintable(QString("slot %1: %2 vs %3").arg(slot).arg(off).arg(active)));
        }
    }

    void slotOutOfRangeGivesFirst()
    {
        const QImage first = render(TrayIcon(TrayIconState::Active, 1), 22);
        for (int slot : {0, 5, -1, 100})
            QCOMPARE(render(TrayIcon(TrayIconState::Active, slot), 22), first);
        QCOMPARE(render(TrayIcon(TrayIconState::Deactivated, 9), 22),
                 render(TrayIcon(TrayIconState::Deactivated, 1), 22));
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
