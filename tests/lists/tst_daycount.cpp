#include "lists/DayCount.h"

#include <QRandomGenerator>
#include <QTest>

#include <charconv>

class TestDayCount : public QObject
{
    Q_OBJECT

private slots:
    void keysConvertBothWays();
    void fastKeyParsingIsExact();
    void badKeysAreRefused_data();
    void badKeysAreRefused();
    void compiledTimeFormatsMatchQLocale_data();
    void compiledTimeFormatsMatchQLocale();
};

void TestDayCount::keysConvertBothWays()
{
    const QDateTime moment(QDate(2025, 12, 9), QTime(18, 0));
    QCOMPARE(DayCount::fromDateTime(moment), 46000.75);
    QCOMPARE(DayCount::keyText(46000.75), QString("46000.75"));
    QCOMPARE(DayCount::toDateTime(46000.75), moment);
    // Before 1899-12-30 the fraction still counts forward from midnight.
    QCOMPARE(DayCount::toDateTime(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
    QCOMPARE(DayCount::fromDateTime(QDateTime(QDate(1899, 12, 29), QTime(6, 0))), -1.25);
    // A fraction that rounds to midnight belongs to the next day.
    QCOMPARE(DayCount::toDateTime(46000.9999999999), QDateTime(QDate(2025, 12, 10), QTime(0, 0)));
    // Fifteen significant digits keep the millisecond.
    const QDateTime precise(QDate(2025, 12, 9), QTime(18, 0, 1, 999));
    double key = 0;
    QVERIFY(DayCount::parseKey(DayCount::keyText(DayCount::fromDateTime(precise)), &key));
    QCOMPARE(DayCount::toDateTime(key), precise);
}

void TestDayCount::fastKeyParsingIsExact()
{
    QRandomGenerator random(3);
    for (int i = 0; i < 20000; ++i) {
        const double value = random.bounded(60000.0);
        for (const QString &text : {DayCount::keyText(value), QString::number(value, 'f', 3),
                                    QString::number(int(value))}) {
            const QByteArray bytes = text.toLatin1();
            double expected = 0;
            std::from_chars(bytes.data(), bytes.data() + bytes.size(), expected);
            double fromText = -1, fromBytes = -1;
            QVERIFY(DayCount::parseKey(text, &fromText));
            QVERIFY(DayCount::parseKey(QByteArrayView(bytes), &fromBytes));
            QCOMPARE(fromText, expected);
            QCOMPARE(fromBytes, expected);
        }
    }
}

void TestDayCount::badKeysAreRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "46000.75" << true;
    QTest::newRow("blanks and sign") << " +46000.5 " << true;
    QTest::newRow("exponent") << "4.6e4" << true;
    QTest::newRow("negative") << "-1.25" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("comma") << "46000,75" << false;
    QTest::newRow("letters") << "46000.7x" << false;
    QTest::newRow("two points") << "46.000.75" << false;
    QTest::newRow("only a point") << "." << false;
    QTest::newRow("infinity") << "inf" << false;
    QTest::newRow("not a number") << "nan" << false;
    QTest::newRow("beyond year 9999") << "2958466" << false;
    QTest::newRow("before year 1") << "-693594" << false;
    QTest::newRow("huge") << "1e300" << false;
    QTest::newRow("long") << QString(100, '1') << false;
}

void TestDayCount::badKeysAreRefused()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    double key = 0;
    QCOMPARE(DayCount::parseKey(text, &key), valid);
    QCOMPARE(DayCount::parseKey(QByteArrayView(text.toLatin1()), &key), valid);
}

void TestDayCount::compiledTimeFormatsMatchQLocale_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QLocale>("locale");
    const QLocale german(QLocale::German, QLocale::Germany);
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    for (const QString format : {"hh:mm:ss", "HH:mm", "h:mm AP", "hh:mm ap", "h.m.s", "hh 'Uhr' mm",
                                 "H''mm", "hhh:mm", "HH:mm:ss.zzz", "HH:mm t"}) {
        QTest::newRow(qPrintable("de " + format)) << format << german;
        QTest::newRow(qPrintable("en " + format)) << format << english;
    }
}

void TestDayCount::compiledTimeFormatsMatchQLocale()
{
    QFETCH(QString, format);
    QFETCH(QLocale, locale);
    DayCountFormatter formatter(locale, "dd.MM.yyyy", format);
    char16_t buffer[DayCountFormatter::TimeBufferSize];
    for (int second = 0; second < 86400; second += 7) {
        const double key = 46000 + (second + 0.25) / 86400.0;
        const QString expected =
            locale.toString(QTime::fromMSecsSinceStartOfDay(second * 1000 + 250), format);
        QCOMPARE(formatter.time(key), expected);
        const qsizetype n = formatter.writeTime(key, buffer);
        if (n >= 0) QCOMPARE(QStringView(buffer, n), QStringView(expected));
    }
    QCOMPARE(formatter.date(46000.75), locale.toString(QDate(2025, 12, 9), "dd.MM.yyyy"));
}

QTEST_GUILESS_MAIN(TestDayCount)
#include "tst_daycount.moc"
