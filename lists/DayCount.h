#pragma once

#include "settings/DateTimeFormat.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QTime>

#include <vector>

// Moments as the lists store them: days since 30 December 1899, the fraction being the time
// of day (46000.75 is 9 December 2025, 18:00), written with "." and up to 15 significant
// digits. Pure functions.
namespace DayCount {

double fromDateTime(const QDateTime &local);
QDate date(double key);
QTime time(double key);
QDateTime toDateTime(double key);

QString keyText(double key);

// A key text: optional blanks and sign, digits with "." as decimal mark, optional exponent.
// False for anything else and for moments outside the years 1 to 9999.
bool parseKey(QStringView text, double *key);
bool parseKey(QByteArrayView text, double *key);

} // namespace DayCount

// Formats the date and the time of day counts with the given formats. Each distinct
// day and second is formatted once; a time format made of hours, minutes, seconds, AM/PM and
// literal text is compiled, and checked against QLocale on sample times before it is used.
//
// Owned by whoever formats a batch of rows (the list loader and saver); one thread.
class DayCountFormatter
{
public:
    DayCountFormatter(const QLocale &locale, const DateTimeFormat &dateFormat,
                      const DateTimeFormat &timeFormat);

    QString date(double key);
    QString time(double key);
    void dateAndTime(double key, QString *date, QString *time);
    // The time into a buffer, without a string: its length, or -1 when the format needs
    // QLocale (then use time()).
    static constexpr int TimeBufferSize = 64;
    qsizetype writeTime(double key, char16_t *buffer) const;

private:
    QString dateOfDay(qint64 day);
    QString timeOfDay(qint64 ms);
    struct Token
    {
        enum Kind
        {
            Literal,
            Hour12,
            Hour24,
            Minute,
            Second,
            AmPm
        } kind;
        int width = 1; // 2: with a leading zero; for AmPm 2 means upper case
        QString text;
    };
    bool compileTimeFormat();
    QString formatCompiled(int secondOfDay) const;
    // -1 when the text does not fit.
    qsizetype formatCompiledInto(int secondOfDay, char16_t *buffer) const;

    QLocale FLocale;
    DateTimeFormat FDateFormat;
    DateTimeFormat FTimeFormat;
    bool FCacheTimes;
    bool FCompiled = false;
    std::vector<Token> FTokens;
    QString FAm, FPm;
    QString FAmCased[2], FPmCased[2]; // lower, upper
    qint64 FLastDay;
    QString FLastDate;
    QHash<qint64, QString> FDates;
    std::vector<qint32> FTimeOfSecond; // index into FTimes per second of the day, or -1
    std::vector<QString> FTimes;
};
