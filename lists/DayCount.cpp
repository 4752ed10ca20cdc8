#include "lists/DayCount.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

constexpr qint64 MsPerDay = 86400000;
constexpr double PowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
const QDate Epoch(1899, 12, 30);

// Whole days and milliseconds of the day, as the Windows version split its date-time values:
// the day by truncation, the time from the fraction's absolute value.
void split(double key, qint64 *day, qint64 *ms)
{
    const double whole = std::trunc(key);
    *day = qint64(whole);
    // Rounds half away from zero like llround; the product is never negative.
    *ms = qint64(std::fabs(key - whole) * double(MsPerDay) + 0.5);
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

bool parseKey(QByteArrayView text, double *key)
{
    // The usual form, digits with one ".", converts exactly without the general parser: the
    // digits as an integer below 2^53 divided by a power of ten is one correctly rounded step.
    if (text.size() <= 16) {
        quint64 digits = 0;
        int decimals = -1;
        bool plain = !text.isEmpty();
        for (const char c : text) {
            if (c >= '0' && c <= '9') {
                digits = digits * 10 + quint64(c - '0');
                if (decimals >= 0) ++decimals;
            } else if (c == '.' && decimals < 0) {
                decimals = 0;
            } else {
                plain = false;
                break;
            }
        }
        if (plain && decimals != 0 && text.front() != '.') {
            const double value = double(digits) / PowersOfTen[qMax(decimals, 0)];
            if (value >= 2958466.0) return false;
            *key = value;
            return true;
        }
    }
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 64) return false;
    bool digits = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9')
            digits = true;
        else if (c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E')
            return false;
    }
    const char *begin = text.data();
    const char *end = begin + text.size();
    // from_chars takes a minus sign only.
    if (*begin == '+' && (begin + 1 == end || begin[1] != '-')) ++begin;
    double value = 0;
    const auto result = std::from_chars(begin, end, value, std::chars_format::general);
    if (!digits || result.ec != std::errc() || result.ptr != end || !std::isfinite(value))
        return false;
    // 0001-01-01 .. 9999-12-31 23:59:59.999
    if (value < -693593.0 || value >= 2958466.0) return false;
    *key = value;
    return true;
}

bool parseKey(QStringView text, double *key)
{
    // The usual form, as in the byte version, without copying first.
    if (text.size() <= 16 && !text.isEmpty() && text.front() != u'.') {
        quint64 digits = 0;
        int decimals = -1;
        bool plain = true;
        for (const QChar c : text) {
            const char16_t u = c.unicode();
            if (u >= u'0' && u <= u'9') {
                digits = digits * 10 + quint64(u - u'0');
                if (decimals >= 0) ++decimals;
            } else if (u == u'.' && decimals < 0) {
                decimals = 0;
            } else {
                plain = false;
                break;
            }
        }
        if (plain && decimals != 0) {
            const double value = double(digits) / PowersOfTen[qMax(decimals, 0)];
            if (value >= 2958466.0) return false;
            *key = value;
            return true;
        }
    }
    char buffer[65];
    if (text.size() > 64) return false;
    qsizetype length = 0;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) return false;
        buffer[length++] = char(c.unicode());
    }
    return parseKey(QByteArrayView(buffer, length), key);
}

} // namespace DayCount

DayCountFormatter::DayCountFormatter(const QLocale &locale, const DateTimeFormat &dateFormat,
                                     const DateTimeFormat &timeFormat)
    : FLocale(locale), FDateFormat(dateFormat), FTimeFormat(timeFormat),
      // Only a format without milliseconds gives one text per second.
      FCacheTimes(!timeFormat.showsMilliseconds()), FLastDay(std::numeric_limits<qint64>::min())
{
    FCompiled = FCacheTimes && compileTimeFormat();
}

bool DayCountFormatter::compileTimeFormat()
{
    if (!FTimeFormat.qtPattern()) return false;
    const QString &f = *FTimeFormat.qtPattern();
    const qsizetype n = f.size();
    bool twelveHour = false;
    for (qsizetype i = 0; i < n;) {
        const QChar c = f[i];
        qsizetype run = 1;
        while (i + run < n && f[i + run] == c)
            ++run;
        if (c == u'\'') {
            Token literal{Token::Literal, 1, {}};
            if (i + 1 < n && f[i + 1] == u'\'') { // '' is a quote
                literal.text = QStringLiteral("'");
                i += 2;
            } else {
                qsizetype j = i + 1;
                for (; j < n; ++j) {
                    if (f[j] == u'\'') {
                        if (j + 1 < n && f[j + 1] == u'\'') {
                            literal.text += u'\'';
                            ++j;
                            continue;
                        }
                        break;
                    }
                    literal.text += f[j];
                }
                i = j + 1;
            }
            FTokens.push_back(literal);
        } else if (c == u'h' || c == u'H' || c == u'm' || c == u's') {
            const int width = int(qMin<qsizetype>(run, 2));
            const Token::Kind kind = c == u'h'   ? Token::Hour12
                                     : c == u'H' ? Token::Hour24
                                     : c == u'm' ? Token::Minute
                                                 : Token::Second;
            FTokens.push_back({kind, width, {}});
            i += width;
        } else if (c == u'a' || c == u'A') {
            const bool withP = i + 1 < n && f[i + 1].toLower() == u'p';
            FTokens.push_back({Token::AmPm, c == u'A' ? 2 : 1, {}});
            twelveHour = true;
            i += withP ? 2 : 1;
        } else if (c.isLetter()) {
            return false; // time zones and the like: left to QLocale
        } else {
            FTokens.push_back({Token::Literal, 1, QString(c)});
            ++i;
        }
    }
    if (!twelveHour) {
        for (Token &token : FTokens) {
            if (token.kind == Token::Hour12) token.kind = Token::Hour24;
        }
    }
    FAm = FLocale.amText();
    FPm = FLocale.pmText();
    FAmCased[0] = FAm.toLower();
    FAmCased[1] = FAm.toUpper();
    FPmCased[0] = FPm.toLower();
    FPmCased[1] = FPm.toUpper();
    // Trust the compiled form only where it gives QLocale's own texts.
    for (int hour = 0; hour < 24; ++hour) {
        for (const int rest : {0, 61, 3599, 754}) {
            const int second = hour * 3600 + rest;
            if (formatCompiled(second) !=
                FTimeFormat.formatTime(QTime::fromMSecsSinceStartOfDay(second * 1000), FLocale))
                return false;
        }
    }
    return true;
}

qsizetype DayCountFormatter::formatCompiledInto(int secondOfDay, char16_t *buffer) const
{
    const int hour = secondOfDay / 3600;
    const int values[] = {0, hour % 12 == 0 ? 12 : hour % 12, hour, secondOfDay / 60 % 60,
                          secondOfDay % 60};
    qsizetype n = 0;
    for (const Token &token : FTokens) {
        if (token.kind == Token::Literal || token.kind == Token::AmPm) {
            const QString &word = token.kind == Token::Literal ? token.text
                                  : hour < 12                  ? FAmCased[token.width - 1]
                                                               : FPmCased[token.width - 1];
            if (n + word.size() > TimeBufferSize) return -1;
            std::copy_n(word.utf16(), word.size(), buffer + n);
            n += word.size();
            continue;
        }
        if (n + 2 > TimeBufferSize) return -1;
        const int value = values[token.kind];
        if (value >= 10 || token.width == 2) buffer[n++] = char16_t(u'0' + value / 10);
        buffer[n++] = char16_t(u'0' + value % 10);
    }
    return n;
}

QString DayCountFormatter::formatCompiled(int secondOfDay) const
{
    char16_t buffer[TimeBufferSize];
    const qsizetype n = formatCompiledInto(secondOfDay, buffer);
    if (n >= 0) return QString(reinterpret_cast<const QChar *>(buffer), n);
    return FTimeFormat.formatTime(QTime::fromMSecsSinceStartOfDay(secondOfDay * 1000), FLocale);
}

qsizetype DayCountFormatter::writeTime(double key, char16_t *buffer) const
{
    if (!FCompiled) return -1;
    qint64 day, ms;
    split(key, &day, &ms);
    return formatCompiledInto(int(ms / 1000), buffer);
}

QString DayCountFormatter::date(double key)
{
    qint64 day, ms;
    split(key, &day, &ms);
    return dateOfDay(day);
}

QString DayCountFormatter::time(double key)
{
    qint64 day, ms;
    split(key, &day, &ms);
    return timeOfDay(ms);
}

void DayCountFormatter::dateAndTime(double key, QString *date, QString *time)
{
    qint64 day, ms;
    split(key, &day, &ms);
    *date = dateOfDay(day);
    *time = timeOfDay(ms);
}

QString DayCountFormatter::dateOfDay(qint64 day)
{
    if (day == FLastDay) return FLastDate;
    auto it = FDates.constFind(day);
    if (it == FDates.constEnd())
        it = FDates.insert(day, FDateFormat.formatDate(Epoch.addDays(day), FLocale));
    FLastDay = day;
    FLastDate = *it;
    return FLastDate;
}

QString DayCountFormatter::timeOfDay(qint64 ms)
{
    if (!FCacheTimes)
        return FTimeFormat.formatTime(QTime::fromMSecsSinceStartOfDay(int(ms)), FLocale);
    const int second = int(ms / 1000);
    // Formatting afresh is cheaper than fetching a shared text from a random place in memory
    // (and letting it go again when the formatter ends).
    if (FCompiled) return formatCompiled(second);
    // A small index per second keeps the look-up in the cache; the texts are stored densely.
    if (FTimeOfSecond.empty()) FTimeOfSecond.assign(86400, -1);
    qint32 &index = FTimeOfSecond[size_t(second)];
    if (index < 0) {
        index = qint32(FTimes.size());
        FTimes.push_back(
            FTimeFormat.formatTime(QTime::fromMSecsSinceStartOfDay(second * 1000), FLocale));
    }
    return FTimes[size_t(index)];
}
