#include "tapi/ModemAnswer.h"

#include <algorithm>

namespace tapi {

ModemAnswer ClassifyModemAnswer(QByteArrayView line)
{
    const QByteArray word = line.toByteArray().toUpper();
    if (word.startsWith("AT")) return ModemAnswer::Echo;
    if (word == "OK") return ModemAnswer::Ok;
    if (word.startsWith("CONNECT")) return ModemAnswer::Connect;
    if (word == "BUSY") return ModemAnswer::Busy;
    if (word == "NO CARRIER") return ModemAnswer::NoCarrier;
    if (word == "NO ANSWER") return ModemAnswer::NoAnswer;
    if (word == "NO DIALTONE" || word == "NO DIAL TONE") return ModemAnswer::NoDialtone;
    if (word == "ERROR") return ModemAnswer::Error;
    return ModemAnswer::Other;
}

std::optional<QByteArray> TakeModemLine(QByteArray &received)
{
    for (;;) {
        const auto found = std::find_if(received.cbegin(), received.cend(),
                                        [](char c) { return c == '\r' || c == '\n'; });
        if (found == received.cend()) return std::nullopt;
        const qsizetype end = found - received.cbegin();
        QByteArray line = received.left(end).trimmed();
        received.remove(0, end + 1);
        if (!line.isEmpty()) return line;
    }
}

} // namespace tapi
