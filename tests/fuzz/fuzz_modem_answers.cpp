// What a modem sends, taken in pieces as reads bring it. The first byte sets the size of the
// pieces (1 to 256 bytes); the rest is what the modem sent. The lines are the same however the
// text is cut: without line ends and the blanks around them, none empty, together no longer
// than the text. A line is the same answer in any letter case.

#include "tapi/ModemAnswer.h"

#include <QList>

#include <cstdint>

using namespace tapi;

namespace {

QList<QByteArray> takeLines(QByteArray &received)
{
    QList<QByteArray> lines;
    while (const std::optional<QByteArray> line = TakeModemLine(received))
        lines.append(*line);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) return 0;
    const qsizetype piece = qsizetype(data[0]) + 1;
    const QByteArray sent(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    // Beyond this a rest without line end is dropped, which depends on where reads end.
    if (sent.size() > MaxPendingModemAnswer) return 0;

    QByteArray rest = sent;
    const QList<QByteArray> lines = takeLines(rest);
    QByteArray pending;
    QList<QByteArray> inPieces;
    for (qsizetype at = 0; at < sent.size(); at += piece) {
        pending += sent.mid(at, piece);
        inPieces += takeLines(pending);
    }
    if (inPieces != lines || pending != rest) __builtin_trap();
    if (rest.contains('\r') || rest.contains('\n')) __builtin_trap();

    qsizetype length = 0;
    for (const QByteArray &line : lines) {
        if (line.isEmpty() || line.trimmed() != line || line.contains('\r') || line.contains('\n'))
            __builtin_trap();
        length += line.size();
        if (ClassifyModemAnswer(line.toLower()) != ClassifyModemAnswer(line.toUpper()))
            __builtin_trap();
    }
    if (length > sent.size()) __builtin_trap();
    return 0;
}
