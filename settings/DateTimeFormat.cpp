#include "settings/DateTimeFormat.h"

namespace {

const QDate TimeOnlyDate(1899, 12, 30);

// The first mark between the fields of the locale's own pattern, or the fallback.
QChar separatorOf(const QString &pattern, QChar fallback)
{
    bool quoted = false;
    for (const QChar c : pattern) {
        if (c == u'\'') quoted = !quoted;
        if (!quoted && c != u'\'' && !c.isLetter() && !c.isSpace()) return c;
    }
    return fallback;
}

QString number(int value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
}

} // namespace

DateTimeFormat::DateTimeFormat(const QString &qtPattern) : FText(qtPattern) {}

DateTimeFormat DateTimeFormat::fromIni(const QString &text)
{
    DateTimeFormat result;
    result.FText = text;
    result.FFromIni = true;
    std::vector<Token> &tokens = result.FTokens;
    const qsizetype n = text.size();
    // An m right after an hour (only non-letters between) means minutes.
    bool afterHour = false;
    auto literal = [&](const QString &value) {
        if (!tokens.empty() && tokens.back().kind == Token::Literal)
            tokens.back().text += value;
        else
            tokens.push_back({Token::Literal, 1, value, {}});
        for (const QChar c : value) {
            if (c.isLetter()) afterHour = false;
        }
    };
    auto field = [&](Token::Kind kind, int width) {
        tokens.push_back({kind, width, {}, {}});
        afterHour = kind == Token::Hour;
    };
    auto startsWith = [&](qsizetype at, QLatin1StringView word) {
        return QStringView(text).mid(at, word.size()).compare(word, Qt::CaseInsensitive) == 0;
    };

    for (qsizetype i = 0; i < n;) {
        const QChar c = text[i];
        const char16_t lower = c.toLower().unicode();
        // A field letter takes its whole run; any other character stands alone.
        const bool fieldLetter = QStringView(u"dmyhnsz").contains(QChar(lower));
        qsizetype run = 1;
        while (fieldLetter && i + run < n && text[i + run].toLower() == c.toLower())
            ++run;
        if (c == u'\'' || c == u'"') {
            qsizetype end = text.indexOf(c, i + 1);
            if (end < 0) end = n; // an open quote runs to the end
            literal(text.mid(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (lower == u'a' && startsWith(i, QLatin1StringView("am/pm"))) {
            tokens.push_back({Token::AmPm, 1, text.mid(i, 2), text.mid(i + 3, 2)});
            result.FTwelveHour = true;
            afterHour = false;
            i += 5;
            continue;
        }
        if (lower == u'a' && startsWith(i, QLatin1StringView("a/p"))) {
            tokens.push_back({Token::AmPm, 1, text.mid(i, 1), text.mid(i + 2, 1)});
            result.FTwelveHour = true;
            afterHour = false;
            i += 3;
            continue;
        }
        const int width = int(qMin<qsizetype>(run, 4));
        switch (lower) {
        case u'd':
            field(width >= 3 ? Token::DayName : Token::Day, width);
            break;
        case u'm':
            if (width >= 3)
                field(Token::MonthName, width);
            else
                field(afterHour ? Token::Minute : Token::Month, width);
            break;
        case u'y':
            field(Token::Year, width <= 2 ? 2 : 4);
            break;
        case u'h':
            field(Token::Hour, qMin(width, 2));
            break;
        case u'n':
            field(Token::Minute, qMin(width, 2));
            break;
        case u's':
            field(Token::Second, qMin(width, 2));
            break;
        case u'z':
            field(Token::Millisecond, width >= 3 ? 3 : 1);
            break;
        case u'/':
            tokens.push_back({Token::DateSeparator, 1, {}, {}});
            break;
        case u':':
            tokens.push_back({Token::TimeSeparator, 1, {}, {}});
            break;
        default:
            literal(QString(c));
            break;
        }
        i += run;
    }
    return result;
}

bool DateTimeFormat::showsMilliseconds() const
{
    if (!FFromIni) return FText.contains(u'z');
    for (const Token &token : FTokens) {
        if (token.kind == Token::Millisecond) return true;
    }
    return false;
}

QString DateTimeFormat::format(const QDateTime &moment, const QLocale &locale) const
{
    return FFromIni ? formatTokens(moment, locale) : locale.toString(moment, FText);
}

QString DateTimeFormat::formatDate(QDate date, const QLocale &locale) const
{
    return FFromIni ? formatTokens(QDateTime(date, QTime(0, 0)), locale)
                    : locale.toString(date, FText);
}

QString DateTimeFormat::formatTime(QTime time, const QLocale &locale) const
{
    return FFromIni ? formatTokens(QDateTime(TimeOnlyDate, time), locale)
                    : locale.toString(time, FText);
}

QString DateTimeFormat::formatTokens(const QDateTime &moment, const QLocale &locale) const
{
    const QDate date = moment.date();
    const QTime time = moment.time();
    QString out;
    for (const Token &token : FTokens) {
        switch (token.kind) {
        case Token::Literal:
            out += token.text;
            break;
        case Token::DateSeparator:
            out += separatorOf(locale.dateFormat(QLocale::ShortFormat), u'/');
            break;
        case Token::TimeSeparator:
            out += separatorOf(locale.timeFormat(QLocale::ShortFormat), u':');
            break;
        case Token::Day:
            out += number(date.day(), token.width);
            break;
        case Token::DayName:
            out += locale.dayName(date.dayOfWeek(),
                                  token.width == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case Token::Month:
            out += number(date.month(), token.width);
            break;
        case Token::MonthName:
            out += locale.monthName(date.month(),
                                    token.width == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case Token::Year:
            out += token.width == 2 ? number(date.year() % 100, 2) : number(date.year(), 4);
            break;
        case Token::Hour: {
            int hour = time.hour();
            if (FTwelveHour) hour = hour % 12 == 0 ? 12 : hour % 12;
            out += number(hour, token.width);
            break;
        }
        case Token::Minute:
            out += number(time.minute(), token.width);
            break;
        case Token::Second:
            out += number(time.second(), token.width);
            break;
        case Token::Millisecond:
            out += number(time.msec(), token.width);
            break;
        case Token::AmPm:
            out += time.hour() < 12 ? token.text : token.pm;
            break;
        }
    }
    return out;
}
