#include "lists/DayCount.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 MsPerDay = 86400000;
const QDate Epoch(1899, 12, 30);

// Whole days and milliseconds of the day, as the Windows version split its date-time values:
// the day by truncation, the time from the fraction's absolute value.
void split(double key, qint64 *day, qint64 *ms)
{
    const double whole = std::trunc(key);
    *day = qint64(whole);
    *ms = std::llround(std::fabs(key - whole) * double(MsPerDay));
    if (*ms >= MsPerDay) {
        *ms -= MsPerDay;
        *day += 1;
    }
}

} // namespace

namespace DayCount {

double fromDateTime(const QDateTime &local)
{
    const qint64 day = Epoch.daysTo(local.date());
    const double fraction = double(local.time().msecsSinceStartOfDay()) / double(MsPerDay);
    return day < 0 ? double(day) - fraction : double(day) + fraction;
}

QDate date(double key)
{
    qint64 day, ms;
    split(key, &day, &ms);
    return Epoch.addDays(day);
}

QTime time(double key)
{
    qint64 day, ms;
    split(key, &day, &ms);
    return QTime::fromMSecsSinceStartOfDay(int(ms));
}

QDateTime toDateTime(double key)
{
    return QDateTime(date(key), time(key));
}

QString keyText(double key)
{
    return QString::number(key, 'g', 15);
}

bool parseKey(QStringView text, double *key)
{
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 64)
        return false;
    char buffer[65] = {};
    qsizetype length = 0;
    bool digits = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            digits = true;
        else if (u != u'.' && u != u'-' && u != u'+' && u != u'e' && u != u'E')
            return false;
        buffer[length++] = char(u);
    }
    const char *begin = buffer;
    const char *end = buffer + length;
    // from_chars takes a minus sign only.
    if (begin != end && *begin == '+' && (begin + 1 == end || begin[1] != '-'))
        ++begin;
    double value = 0;
    const auto result = std::from_chars(begin, end, value, std::chars_format::general);
    if (!digits || result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
        return false;
    // 0001-01-01 .. 9999-12-31 23:59:59.999
    if (value < -693593.0 || value >= 2958466.0)
        return false;
    *key = value;
    return true;
}

} // namespace DayCount

DayCountFormatter::DayCountFormatter(const QLocale &locale, const QString &dateFormat,
                                     const QString &timeFormat)
    : FLocale(locale), FDateFormat(dateFormat), FTimeFormat(timeFormat),
      // Only a format without milliseconds gives one text per second.
      FCacheTimes(!timeFormat.contains(u'z')), FLastDay(std::numeric_limits<qint64>::min())
{
}

QString DayCountFormatter::date(double key)
{
    qint64 day, ms;
    split(key, &day, &ms);
    if (day == FLastDay)
        return FLastDate;
    auto it = FDates.constFind(day);
    if (it == FDates.constEnd())
        it = FDates.insert(day, FLocale.toString(Epoch.addDays(day), FDateFormat));
    FLastDay = day;
    FLastDate = *it;
    return FLastDate;
}

QString DayCountFormatter::time(double key)
{
    qint64 day, ms;
    split(key, &day, &ms);
    const QTime time = QTime::fromMSecsSinceStartOfDay(int(ms));
    if (!FCacheTimes)
        return FLocale.toString(time, FTimeFormat);
    if (FTimes.empty())
        FTimes.resize(86400);
    QString &text = FTimes[size_t(ms / 1000)];
    if (text.isNull()) {
        text = FLocale.toString(QTime::fromMSecsSinceStartOfDay(int(ms / 1000 * 1000)),
                                FTimeFormat);
    }
    return text;
}
