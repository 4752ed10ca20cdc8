// What a router's call monitor sends, taken whole and cut in two. The first two bytes give the
// place of the cut; the rest is what the router sent. Both ways give the same events and the
// same skipped lines; every number is empty or digits after an optional "++"; the line names
// are short printable text; no more than a line's worth is ever kept.

#include "router/RouterMonitorParser.h"

#include <cstdint>

using namespace router;

namespace {

void check(bool condition)
{
    if (!condition) __builtin_trap();
}

bool isNumber(const QString &number)
{
    const QStringView digits = number.startsWith(u"++") ? QStringView(number).sliced(2) : number;
    if (number.isEmpty()) return true;
    if (digits.isEmpty() || digits.size() > 32) return false;
    for (const QChar c : digits)
        if (c < u'0' || c > u'9') return false;
    return true;
}

void feed(TMonitorParser &parser, QByteArrayView bytes, TMonitorParser::TResult &all)
{
    TMonitorParser::TResult result = parser.Feed(bytes);
    check(parser.PendingLength() <= TMonitorParser::MaxLineLength);
    all.Events.insert(all.Events.end(), result.Events.begin(), result.Events.end());
    all.Skipped += result.Skipped;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    const QByteArrayView sent(data + 2, qsizetype(size - 2));
    const qsizetype cut = (qsizetype(data[0]) << 8 | data[1]) % (sent.size() + 1);

    TMonitorParser whole;
    TMonitorParser::TResult expected;
    feed(whole, sent, expected);
    TMonitorParser inTwo;
    TMonitorParser::TResult result;
    feed(inTwo, sent.first(cut), result);
    feed(inTwo, sent.sliced(cut), result);
    check(result.Events == expected.Events);
    check(result.Skipped == expected.Skipped);
    check(inTwo.PendingLength() == whole.PendingLength());

    for (const TMonitorEvent &event : expected.Events) {
        check(event.ConnectionId >= 0 && event.ConnectionId <= 999999);
        check(isNumber(event.Caller) && isNumber(event.Called) && isNumber(event.OwnNumber));
        check(event.Line.size() <= 16);
        for (const QChar c : event.Line)
            check(c >= u' ' && c <= u'~');
    }
    for (const QString &reason : expected.Skipped)
        for (const QChar c : reason)
            check(c >= u' ' && c <= u'~');

    whole.Reset();
    check(whole.PendingLength() == 0);
    return 0;
}
