#include "router/RouterMonitorParser.h"

#include <algorithm>
#include <climits>

namespace router {

namespace {

constexpr int MaxConnectionId = 999999;
constexpr int MaxExtension = 999999;
constexpr qsizetype MaxNumberDigits = 32;
constexpr qsizetype MaxLineName = 16;
constexpr qsizetype MaxExcerpt = 60;

bool IsPrintableAscii(char c)
{
    return uchar(c) >= 0x20 && uchar(c) < 0x7f;
}

// Fields are ended by ';'; the last one may lack it.
std::vector<QByteArrayView> Fields(QByteArrayView line)
{
    std::vector<QByteArrayView> fields;
    qsizetype at = 0;
    while (at < line.size()) {
        qsizetype end = line.indexOf(';', at);
        if (end < 0) end = line.size();
        fields.push_back(line.sliced(at, end - at));
        at = end + 1;
    }
    return fields;
}

// ASCII digits only, leading zeroes allowed, no sign, no blanks.
std::optional<int> Decimal(QByteArrayView field, int max)
{
    if (field.isEmpty()) return std::nullopt;
    qint64 value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > max) return std::nullopt;
    }
    return int(value);
}

QString Number(QByteArrayView field)
{
    return NormaliseNumber(QString::fromLatin1(field));
}

// The line a call came on ("SIP0", "POTS"); empty when it is no short printable name, since
// a call is not dropped for it.
QString LineName(QByteArrayView field)
{
    field = field.trimmed();
    if (field.size() > MaxLineName) return QString();
    for (const char c : field)
        if (!IsPrintableAscii(c)) return QString();
    return QString::fromLatin1(field);
}

struct TEventLayout
{
    QByteArrayView Name;
    EventKind Kind;
    // The fields after the connection id that must be there (they may be empty).
    std::vector<const char *> Required;
};

const std::vector<TEventLayout> &Layouts()
{
    static const std::vector<TEventLayout> layouts{
        {"RING", EventKind::Ring, {"caller", "called"}},
        {"CALL", EventKind::Call, {"extension", "own number", "called"}},
        {"CONNECT", EventKind::Connect, {"extension"}},
        {"DISCONNECT", EventKind::Disconnect, {}},
    };
    return layouts;
}

std::optional<TMonitorEvent> Parse(QByteArrayView line, QString &why)
{
    if (line.endsWith('\r')) line = line.chopped(1);
    if (line.isEmpty()) return std::nullopt;
    if (line.contains('\0')) {
        why = QStringLiteral("line holds a NUL byte");
        return std::nullopt;
    }
    const std::vector<QByteArrayView> f = Fields(line);
    if (f.size() < 2) {
        why = QStringLiteral("line without event field");
        return std::nullopt;
    }
    const TEventLayout *layout = nullptr;
    for (const TEventLayout &candidate : Layouts())
        if (f[1] == candidate.Name) layout = &candidate;
    if (!layout) {
        why = QStringLiteral("unknown event ") + Excerpt(f[1]);
        return std::nullopt;
    }
    const QString name = QString::fromLatin1(layout->Name);
    if (f.size() < 3) {
        why = name + QStringLiteral(" without connection id");
        return std::nullopt;
    }
    const std::optional<int> id = Decimal(f[2], MaxConnectionId);
    if (!id) {
        why = QStringLiteral("bad connection id ") + Excerpt(f[2]);
        return std::nullopt;
    }
    for (size_t i = 0; i < layout->Required.size(); ++i) {
        if (f.size() <= 3 + i) {
            why =
                QStringLiteral("%1 without %2 field").arg(name, QLatin1String(layout->Required[i]));
            return std::nullopt;
        }
    }
    const auto optional = [&f](size_t i) { return i < f.size() ? f[i] : QByteArrayView(); };

    TMonitorEvent event;
    event.Kind = layout->Kind;
    event.ConnectionId = *id;
    switch (event.Kind) {
    case EventKind::Ring:
        event.Caller = Number(f[3]);
        event.Called = Number(f[4]);
        event.Line = LineName(optional(5));
        break;
    case EventKind::Call:
        event.Extension = Decimal(f[3], MaxExtension).value_or(-1);
        event.OwnNumber = Number(f[4]);
        event.Called = Number(f[5]);
        event.Line = LineName(optional(6));
        break;
    case EventKind::Connect:
        event.Extension = Decimal(f[3], MaxExtension).value_or(-1);
        break;
    case EventKind::Disconnect:
        event.Duration = Decimal(optional(3), INT_MAX).value_or(-1);
        break;
    }
    return event;
}

} // namespace

QString NormaliseNumber(QStringView raw)
{
    QStringView number = raw.trimmed();
    while (number.endsWith(u'#'))
        number.chop(1);
    number = number.trimmed();

    bool international = true;
    if (number.startsWith(u"++") || number.startsWith(u"00"))
        number = number.sliced(2);
    else if (number.startsWith(u'+'))
        number = number.sliced(1);
    else
        international = false;

    if (number.isEmpty() || number.size() > MaxNumberDigits) return QString();
    for (const QChar c : number)
        if (c < u'0' || c > u'9') return QString();
    return international ? QStringLiteral("++") + number.toString() : number.toString();
}

std::optional<TMonitorEvent> ParseLine(QByteArrayView line, QString *why)
{
    QString reason;
    std::optional<TMonitorEvent> event = Parse(line, reason);
    if (why) *why = reason;
    return event;
}

QString Excerpt(QByteArrayView bytes)
{
    const bool cut = bytes.size() > MaxExcerpt;
    QString text;
    text.reserve(MaxExcerpt);
    for (const char c : cut ? bytes.first(MaxExcerpt - 3) : bytes)
        text += QLatin1Char(IsPrintableAscii(c) ? c : '?');
    if (cut) text += QStringLiteral("...");
    return text;
}

TMonitorParser::TResult TMonitorParser::Feed(QByteArrayView bytes)
{
    TResult result;
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', at);
        Take(bytes.sliced(at, (lf < 0 ? bytes.size() : lf) - at));
        if (lf < 0) break;
        EndLine(result);
        at = lf + 1;
    }
    return result;
}

void TMonitorParser::Reset()
{
    FLine.clear();
    FCr = false;
    FOverlong = -1;
    FOverlongStart.clear();
}

// A piece of a line (no LF in it). A CR at its end is held back: followed by LF it ends the
// line, followed by anything else it belongs to the line.
void TMonitorParser::Take(QByteArrayView part)
{
    if (part.isEmpty()) return;
    if (FCr) Append("\r");
    FCr = part.endsWith('\r');
    Append(FCr ? part.chopped(1) : part);
}

void TMonitorParser::Append(QByteArrayView part)
{
    if (FOverlong >= 0) {
        FOverlong += part.size();
        return;
    }
    if (FLine.size() + part.size() <= MaxLineLength) {
        // Room for the longest line at once, kept from line to line: no growth beyond it.
        if (FLine.capacity() < MaxLineLength) FLine.reserve(MaxLineLength);
        FLine.append(part);
        return;
    }
    // Too long: only its length and beginning are kept until its end comes.
    FOverlong = FLine.size() + part.size();
    // One byte more than an excerpt shows, so that it is cut however the reads came.
    QByteArray start = FLine.first(std::min(FLine.size(), MaxExcerpt + 1));
    start.append(part.first(std::min(part.size(), MaxExcerpt + 1 - start.size())));
    FOverlongStart = Excerpt(start);
    FLine.resize(0);
}

void TMonitorParser::EndLine(TResult &result)
{
    FCr = false;
    if (FOverlong >= 0) {
        result.Skipped.append(QStringLiteral("line longer than %1 bytes (%2 bytes): %3")
                                  .arg(MaxLineLength)
                                  .arg(FOverlong)
                                  .arg(FOverlongStart));
        Reset();
        return;
    }
    QString why;
    if (std::optional<TMonitorEvent> event = ParseLine(FLine, &why))
        result.Events.push_back(*event);
    else if (!why.isEmpty())
        result.Skipped.append(why + QStringLiteral(": ") + Excerpt(FLine));
    FLine.resize(0);
}

} // namespace router
