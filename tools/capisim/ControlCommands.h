#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace capisim {

class Exchange;

struct ControlReply
{
    std::string line; // "ok ..." or "error ...", without the line break
    // Set for wait-listening: the server answers once the exchange listens or
    // after this many seconds, without blocking its other clients meanwhile.
    std::optional<double> waitListening;
};

// Runs one control request line against the exchange. Called by the control
// server's thread; the exchange does its own locking.
ControlReply runControlCommand(Exchange &exchange, std::string_view line);

// Adds one to the trailing run of digits: "0441199" -> "0441200", "99" -> "100".
std::string nextNumber(const std::string &number);

} // namespace capisim
