#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

#include <vector>

// A date or time format of the settings. The defaults are Qt patterns (QLocale::toString).
// A value found in the ini file is written in the format language of the files users
// already have, read by these rules (letters in any case):
//   d dd          day of the month, without and with a leading zero
//   ddd dddd      short and long day name
//   m mm          month; minutes when they follow an h or hh field with only non-letters
//                 between them
//   mmm mmmm      short and long month name
//   yy yyyy       year with two and four digits (y and yyy count as yy and yyyy)
//   h hh n nn s ss  hour, minutes, seconds, without and with a leading zero
//   z zzz         milliseconds, without and with leading zeroes
//   am/pm a/p     12-hour clock; the marker as written ("AM"/"PM", "a"/"p", ...)
//   /             the locale's date separator
//   :             the locale's time separator
//   '...' "..."   literal text
// Any other character is itself.
//
// A value type; any thread.
class DateTimeFormat
{
public:
    DateTimeFormat() = default;
    // A Qt pattern: "dd.MM.yyyy", "hh:mm:ss". Implicit, so that a pattern can be assigned.
    DateTimeFormat(const QString &qtPattern);
    DateTimeFormat(const char *qtPattern) : DateTimeFormat(QString::fromUtf8(qtPattern)) {}
    // A value of the ini file.
    static DateTimeFormat fromIni(const QString &text);

    QString format(const QDateTime &moment, const QLocale &locale) const;
    // A date alone has the time 00:00, a time alone the date 30 December 1899.
    QString formatDate(QDate date, const QLocale &locale) const;
    QString formatTime(QTime time, const QLocale &locale) const;

    // The text as given.
    const QString &text() const { return FText; }
    // Nothing for a format read from the ini file.
    const QString *qtPattern() const { return FFromIni ? nullptr : &FText; }
    bool showsMilliseconds() const;

    bool operator==(const DateTimeFormat &other) const
    {
        return FFromIni == other.FFromIni && FText == other.FText;
    }

private:
    struct Token
    {
        enum Kind
        {
            Literal,
            DateSeparator,
            TimeSeparator,
            Day,
            DayName,
            Month,
            MonthName,
            Year,
            Hour,
            Minute,
            Second,
            Millisecond,
            AmPm
        } kind;
        int width = 1; // digits, or 3 (short) and 4 (long) for names
        QString text;  // a literal; the morning marker of AmPm
        QString pm;    // the afternoon marker of AmPm
    };
    QString formatTokens(const QDateTime &moment, const QLocale &locale) const;

    QString FText;
    bool FFromIni = false;
    bool FTwelveHour = false;
    std::vector<Token> FTokens;
};
