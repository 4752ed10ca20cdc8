#include "platform/TextCodec.h"

#include <QStringDecoder>

namespace TextCodec {

namespace {

// 0x80..0x9F of Windows-1252; the five unassigned bytes map to the C1 control of the same
// value, as Windows itself converts them.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool tryUtf8(QByteArrayView bytes, QString *out)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return false;
    if (out)
        *out = std::move(text);
    return true;
}

} // namespace

bool isUtf8(QByteArrayView bytes)
{
    return tryUtf8(bytes, nullptr);
}

QString fromCp1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = (b >= 0x80 && b < 0xA0) ? QChar(Cp1252High[b - 0x80]) : QChar(b);
    }
    return text;
}

QString decode(QByteArrayView bytes)
{
    QString text;
    if (tryUtf8(bytes, &text))
        return text;
    return fromCp1252(bytes);
}

} // namespace TextCodec
