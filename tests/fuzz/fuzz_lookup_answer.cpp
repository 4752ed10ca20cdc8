// The reverse-lookup answer on any bytes, in UTF-8 and in Windows-1252, against the same rules
// worked on the bytes themselves. The encoding is chosen once for the whole body, and every
// sequence the decoding replaces is ASCII, which neither encoding uses inside another
// character; so trimming, splitting and replacing the bytes (the letters put in, in the
// body's encoding) and decoding each line afterwards must give the same name and information.
// Nothing the decoding does lengthens the text: the answer has no more characters than the
// body has bytes.

#include "lookup/ReverseLookupForm.h"
#include "platform/TextCodec.h"

#include <QList>

#include <cstdint>

namespace {

struct Replacement
{
    const char *from;
    const char *to; // UTF-8
};

// The replacements in the order they are made.
constexpr Replacement Replacements[] = {
    {": ", "="},     {"\"", ""},      {",", ""},       {"%20", " "},    {"%26", "&"},
    {"%3B", ";"},    {"&auml;", "ä"}, {"&ouml;", "ö"}, {"&uuml;", "ü"}, {"&Auml;", "Ä"},
    {"&Ouml;", "Ö"}, {"&Uuml;", "Ü"}, {"&szlig", "ß"}, {"%DF", "ß"},    {"%C3%A4", "ä"},
    {"%C3%B6", "ö"}, {"%C3%BC", "ü"}, {"%C3%84", "Ä"}, {"%C3%96", "Ö"}, {"%C3%9C", "Ü"},
    {"%C3%9F", "ß"},
};

bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

QString decodeLine(QByteArray line, bool utf8)
{
    for (const Replacement &r : Replacements) {
        const QString to = QString::fromUtf8(r.to);
        // The letters are Latin-1, which Windows-1252 agrees with.
        line.replace(r.from, utf8 ? to.toUtf8() : to.toLatin1());
    }
    // Behind a leading character, so that a byte-order mark at the start of a line stays a
    // character (only the body's own mark is dropped).
    return TextCodec::decodeAs("_" + line, utf8).mid(1);
}

ReverseLookupAnswer answerFromBytes(QByteArray body)
{
    const bool utf8 = TextCodec::isUtf8(body);
    if (utf8 && body.startsWith("\xEF\xBB\xBF")) body.remove(0, 3);
    qsizetype begin = 0;
    qsizetype end = body.size();
    while (begin < end && isBlank(body.at(begin)))
        ++begin;
    while (end > begin && isBlank(body.at(end - 1)))
        --end;
    ReverseLookupAnswer answer;
    if (begin == end) return answer;
    QByteArray text = body.mid(begin, end - begin);
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    const QList<QByteArray> lines = text.split('\n');
    answer.name = decodeLine(lines.first(), utf8);
    for (qsizetype i = 1; i < lines.size(); ++i)
        answer.info += decodeLine(lines.at(i), utf8) + u'\r';
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const ReverseLookupAnswer answer = ParseReverseLookupBody(body);
    const ReverseLookupAnswer expected = answerFromBytes(body);
    if (answer.name != expected.name || answer.info != expected.info) __builtin_trap();
    if (answer.name.size() + answer.info.size() > body.size()) __builtin_trap();
    return 0;
}
