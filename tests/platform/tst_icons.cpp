// The built-in tray images: present in every size, drawn, and told apart.
#include "platform/TrayIcons.h"

#include <QImage>
#include <QPixmap>
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
