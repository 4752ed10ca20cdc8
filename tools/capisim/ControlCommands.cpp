#include "tools/capisim/ControlCommands.h"

#include "tools/capisim/ControlLine.h"
#include "tools/capisim/Exchange.h"

#include <cstdio>

namespace capisim {

namespace {

constexpr size_t MaxDigits = 200;
constexpr unsigned MaxBurst = 100;
constexpr double MaxEndAfter = 86400;
constexpr double MaxWait = 3600;
constexpr double DefaultWait = 10;

const char *const HelpText =
    "commands: ring [--from DIGITS] [--type T] [--presentation P] [--to DIGITS] "
    "[--called-type T] [--cip C] [--end-after S] [--reason R] [--reject-reason R] | "
    "burst --count N [ring options] | hangup [--plci P] [--reason R] | "
    "fault none|not-installed|lose-line|register-error CODE|listen-info CODE | "
    "send-hex [--appl N] HEX... | status | wait-listening [--timeout S]";

const std::vector<std::string> RingOptionNames = {"from",      "type",        "presentation",
                                                  "to",        "called-type", "cip",
                                                  "end-after", "reason",      "reject-reason"};

ControlReply ok(const std::string &text = {})
{
    return {text.empty() ? "ok" : "ok " + text, std::nullopt};
}

ControlReply fail(const std::string &text)
{
    return {"error " + text, std::nullopt};
}

std::string hexValue(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

bool validDigits(const std::string &digits, const char *option, std::string *error)
{
    if (digits.size() > MaxDigits) {
        *error = std::string(option) + " is longer than " + std::to_string(MaxDigits);
        return false;
    }
    for (unsigned char c : digits) {
        if (c < 0x20 || c > 0x7e) {
            *error = std::string(option) + " holds a character that is not printable ASCII";
            return false;
        }
    }
    return true;
}

bool readRingOptions(const OptionSet &options, RingOptions *ring, std::string *error)
{
    ring->from = options.value("from");
    ring->to = options.value("to");
    if (!validDigits(ring->from, "--from", error) || !validDigits(ring->to, "--to", error))
        return false;
    if (!options.number("type", &ring->callingType, error) ||
        !options.number("presentation", &ring->presentation, error) ||
        !options.number("called-type", &ring->calledType, error) ||
        !options.number("cip", &ring->cip, error) ||
        !options.number("reason", &ring->reason, error))
        return false;
    ring->rejectReason = ring->reason;
    if (!options.number("reject-reason", &ring->rejectReason, error)) return false;
    if (options.has("end-after")) {
        ring->endAfter = parseSeconds(options.value("end-after"), MaxEndAfter);
        if (!ring->endAfter) {
            *error = "--end-after needs seconds from 0 to 86400, not '" +
                     options.value("end-after") + "'";
            return false;
        }
    }
    return true;
}

std::string plciList(const std::vector<uint32_t> &plcis)
{
    std::string text;
    for (uint32_t plci : plcis)
        text += (text.empty() ? "" : " ") + hexValue(plci);
    return text;
}

ControlReply ring(Exchange &exchange, const std::vector<std::string> &words, bool burst)
{
    std::vector<std::string> names = RingOptionNames;
    if (burst) names.push_back("count");
    OptionSet options;
    std::string error;
    if (!options.parse(words, 1, names, &error)) return fail(error);
    if (!options.positional().empty())
        return fail("unexpected argument '" + options.positional().front() + "'");
    RingOptions first;
    if (!readRingOptions(options, &first, &error)) return fail(error);
    unsigned count = 1;
    if (burst) {
        const auto value = parseNumber(options.value("count"), MaxBurst);
        if (!value || *value == 0)
            return fail("burst needs --count from 1 to " + std::to_string(MaxBurst));
        count = static_cast<unsigned>(*value);
    }
    std::vector<RingOptions> calls{first};
    while (calls.size() < count) {
        RingOptions next = calls.back();
        next.from = nextNumber(next.from);
        if (!validDigits(next.from, "--from", &error)) return fail(error);
        calls.push_back(next);
    }
    const auto plcis = exchange.ring(calls, &error);
    if (!plcis) return fail(error);
    return ok(plciList(*plcis));
}

ControlReply hangup(Exchange &exchange, const std::vector<std::string> &words)
{
    OptionSet options;
    std::string error;
    if (!options.parse(words, 1, {"plci", "reason"}, &error)) return fail(error);
    if (!options.positional().empty())
        return fail("unexpected argument '" + options.positional().front() + "'");
    uint16_t reason = 0x3490;
    if (!options.number("reason", &reason, &error)) return fail(error);
    std::optional<uint32_t> plci;
    if (options.has("plci")) {
        uint32_t value = 0;
        if (!options.number("plci", &value, &error)) return fail(error);
        plci = value;
    }
    const auto ended = exchange.hangup(plci, reason, &error);
    if (!ended) return fail(error);
    return ok(hexValue(*ended));
}

ControlReply fault(Exchange &exchange, const std::vector<std::string> &words)
{
    if (words.size() < 2 || words.size() > 3)
        return fail("usage: fault none|not-installed|lose-line|register-error CODE|listen-info "
                    "CODE");
    std::string error;
    if (!exchange.setFault(words[1], words.size() == 3 ? words[2] : "", &error)) return fail(error);
    if (!exchange.waitFaultsAcknowledged(std::chrono::seconds(5)))
        return fail("the front end did not apply the faults in time");
    return ok("faults=" + exchange.faults().describe());
}

ControlReply sendHex(Exchange &exchange, const std::vector<std::string> &words)
{
    OptionSet options;
    std::string error;
    if (!options.parse(words, 1, {"appl"}, &error)) return fail(error);
    std::optional<unsigned> applId;
    if (options.has("appl")) {
        uint16_t value = 0;
        if (!options.number("appl", &value, &error)) return fail(error);
        applId = value;
    }
    Bytes bytes;
    for (const std::string &word : options.positional()) {
        const auto part = parseHex(word);
        if (!part) return fail("'" + word + "' is not hex bytes");
        bytes.insert(bytes.end(), part->begin(), part->end());
    }
    if (bytes.empty()) return fail("send-hex needs the message bytes");
    if (bytes.size() > MaxMessageSize)
        return fail("send-hex takes at most " + std::to_string(MaxMessageSize) + " bytes");
    if (!exchange.sendRaw(applId, bytes, &error)) return fail(error);
    return ok();
}

ControlReply waitListening(const std::vector<std::string> &words)
{
    OptionSet options;
    std::string error;
    if (!options.parse(words, 1, {"timeout"}, &error)) return fail(error);
    if (!options.positional().empty())
        return fail("unexpected argument '" + options.positional().front() + "'");
    double seconds = DefaultWait;
    if (options.has("timeout")) {
        const auto value = parseSeconds(options.value("timeout"), MaxWait);
        if (!value) return fail("--timeout needs seconds from 0 to 3600");
        seconds = *value;
    }
    return {{}, seconds};
}

} // namespace

std::string nextNumber(const std::string &number)
{
    std::string next = number;
    size_t i = next.size();
    while (i > 0 && next[i - 1] >= '0' && next[i - 1] <= '9') {
        if (next[i - 1] != '9') {
            ++next[i - 1];
            return next;
        }
        next[--i] = '0';
    }
    if (i == next.size()) return next; // no trailing digits: every call gets the same number
    next.insert(i, 1, '1');
    return next;
}

ControlReply runControlCommand(Exchange &exchange, std::string_view line)
{
    std::string error;
    const auto words = splitWords(line, &error);
    if (!words) return fail(error);
    if (words->empty()) return fail("empty request");
    const std::string &command = words->front();
    if (command == "ring") return ring(exchange, *words, false);
    if (command == "burst") return ring(exchange, *words, true);
    if (command == "hangup") return hangup(exchange, *words);
    if (command == "fault") return fault(exchange, *words);
    if (command == "send-hex") return sendHex(exchange, *words);
    if (command == "wait-listening") return waitListening(*words);
    if (command == "status") {
        if (words->size() > 1) return fail("status takes no arguments");
        return ok(exchange.status());
    }
    if (command == "help") return ok(HelpText);
    return fail("unknown command '" + command + "' (try help)");
}

} // namespace capisim
