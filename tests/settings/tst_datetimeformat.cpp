#include "settings/DateTimeFormat.h"
#include "settings/SettingsStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestDateTimeFormat : public QObject
{
    Q_OBJECT

    // Friday, 7 March 2025, 14:05:09.045.
    const QDateTime FMoment{QDate(2025, 3, 7), QTime(14, 5, 9, 45)};

private slots:
    void iniLanguage_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        auto row = [](const char *name, const char *format, const char *locale,
                      const char *expected) {
            QTest::newRow(name) << QString::fromUtf8(format) << QString::fromLatin1(locale)
                                << QString::fromUtf8(expected);
        };
        row("German date", "dd.mm.yyyy", "de_DE", "07.03.2025");
        row("upper case", "DD.MM.YYYY HH:NN:SS", "de_DE", "07.03.2025 14:05:09");
        row("no leading zeroes", "d.m.yy h:n:s", "de_DE", "7.3.25 14:5:9");
        row("date separator of the locale", "dd/mm/yyyy", "de_DE", "07.03.2025");
        row("date separator, US", "m/d/yy", "en_US", "3/7/25");
        row("time separator of the locale", "hh:nn", "fi_FI", "14.05");
        row("m after h is minutes", "hh:mm:ss", "de_DE", "14:05:09");
        row("m after h and a blank", "h mm", "de_DE", "14 05");
        row("m after h and a letter", "hh'h'mm", "de_DE", "14h03");
        row("m after a day", "dd mm", "de_DE", "07 03");
        row("m after a date and time", "dd.mm.yyyy hh:mm", "de_DE", "07.03.2025 14:05");
        row("m of a date after a time", "hh:nn dd.mm.yyyy", "de_DE", "14:05 07.03.2025");
        row("month names", "mmm mmmm", "en_US", "Mar March");
        row("month name after h", "hh mmm", "en_US", "14 Mar");
        row("day names", "ddd dddd", "en_US", "Fri Friday");
        row("German day name", "dddd, d. mmmm", "de_DE", "Freitag, 7. März");
        row("years", "y yy yyy yyyy", "de_DE", "25 25 2025 2025");
        row("milliseconds", "s.z s.zzz", "de_DE", "9.45 9.045");
        row("am/pm as written", "h:nn am/pm", "en_US", "2:05 pm");
        row("AM/PM upper case", "hh:nn AM/PM", "de_DE", "02:05 PM");
        row("a/p", "h:nna/p", "en_US", "2:05p");
        row("quoted text", "'Heute' dd \"mm\" mm", "de_DE", "Heute 07 mm 03");
        row("open quote", "dd 'hh mm", "de_DE", "07 hh mm");
        row("other characters", "dd#mm-yyyy [x]", "de_DE", "07#03-2025 [x]");
    }

    void iniLanguage()
    {
        QFETCH(QString, format);
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QCOMPARE(DateTimeFormat::fromIni(format).format(FMoment, QLocale(locale)), expected);
    }

    void twelveHourClock()
    {
        const QLocale us(QStringLiteral("en_US"));
        const DateTimeFormat format = DateTimeFormat::fromIni("hh:nn am/pm a/p");
        QCOMPARE(format.format(QDateTime(QDate(2025, 3, 7), QTime(0, 30)), us),
                 QString("12:30 am a"));
        QCOMPARE(format.format(QDateTime(QDate(2025, 3, 7), QTime(12, 0)), us),
                 QString("12:00 pm p"));
        QCOMPARE(format.format(QDateTime(QDate(2025, 3, 7), QTime(23, 59)), us),
                 QString("11:59 pm p"));
    }

    void datesAndTimesAlone()
    {
        const QLocale de(QStringLiteral("de_DE"));
        const DateTimeFormat format = DateTimeFormat::fromIni("dd.mm.yyyy hh:nn");
        QCOMPARE(format.formatDate(QDate(2025, 3, 7), de), QString("07.03.2025 00:00"));
        QCOMPARE(format.formatTime(QTime(14, 5), de), QString("30.12.1899 14:05"));
        QVERIFY(DateTimeFormat::fromIni("hh:nn:ss.zzz").showsMilliseconds());
        QVERIFY(!DateTimeFormat::fromIni("'z' hh").showsMilliseconds());
    }

    void settingsReadTheFileLanguageAndKeepTheDefaults()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("corvane.ini");
        const QLocale de(QStringLiteral("de_DE"));
        {
            SettingsStore store(path);
            QVERIFY(store.readAll());
            // Absent: the system's pattern (Qt's language) as it is.
            QVERIFY(store.settings.dateFormat.qtPattern());
            QCOMPARE(store.settings.dateFormat.text(),
                     QLocale::system().dateFormat(QLocale::ShortFormat));
            QCOMPARE(store.settings.timeFormat.format(FMoment, de), QString("14:05:09"));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Settings]\nDateFormat=dd.mm.yyyy\nTimeFormat=hh:mm\n"
                   "DisplayTimeFormat=\"h:nn am/pm\"\n");
        file.close();
        SettingsStore store(path);
        QVERIFY(store.readAll());
        QCOMPARE(store.settings.dateFormat.format(FMoment, de), QString("07.03.2025"));
        QCOMPARE(store.settings.timeFormat.format(FMoment, de), QString("14:05"));
        QCOMPARE(store.settings.displayTimeFormat.format(FMoment, de), QString("2:05 pm"));
    }
};

QTEST_GUILESS_MAIN(TestDateTimeFormat)
#include "tst_datetimeformat.moc"
