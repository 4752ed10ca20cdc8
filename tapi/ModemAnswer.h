// What a modem sends back: lines ended by CR or LF (most modems send CR LF), each a result
// word of the AT command set, an echo of a command, or an unsolicited line such as RING.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace tapi {

// Received text without a line end is dropped beyond this (noise, or a device that is no
// modem).
constexpr qsizetype MaxPendingModemAnswer = 4096;

enum class ModemAnswer
{
    Other, // RING and anything else a modem may say unasked
    Echo,  // a command the modem repeats ("AT...")
    Ok,
    Connect, // CONNECT, with or without a speed
    Busy,
    NoCarrier,
    NoAnswer,
    NoDialtone, // NO DIALTONE or NO DIAL TONE
    Error
};

// The answer a line stands for; letter case does not count.
ModemAnswer ClassifyModemAnswer(QByteArrayView line);

// Takes the next complete line off the front of received, without its line end and the
// blanks around it; empty lines are skipped. Nothing while no line end has come: the rest
// stays for the next read. Stateless; any thread.
std::optional<QByteArray> TakeModemLine(QByteArray &received);

} // namespace tapi
