#include "tools/capisim/ControlCommands.h"

#include "tools/capisim/ControlLine.h"
#include "tools/capisim/Exchange.h"

#include <cstdio>
#include <random>

namespace capisim {

namespace {

constexpr size_t MaxDigits = 200;
constexpr unsigned MaxBurst = 100;
constexpr double MaxEndAfter = 86400;
constexpr double MaxWait = 3600;
constexpr double DefaultWait = 10;
constexpr double MaxRefuse = 3600;
constexpr size_t MaxGarbage = 65536;

const char *const HelpText =
    "commands: ring [--from DIGITS] [--type T] [--presentation P] [--to DIGITS] "
    "[--called-type T] [--cip C] [--end-after S] [--reason R] [--reject-reason R] "
    "[--answer-after S] [--extension N] [--blocked] [--router-caller TEXT] | "
    "burst --count N [ring options] | "
    "call --from OWN --to NUMBER [--end-after S] [--answer-after S] [--extension N] | "
    "hangup [--plci P | --id N] [--reason R] | "
    "fault none|not-installed|lose-line|register-error CODE|listen-info CODE | "
    "router close|refuse SECONDS|send TEXT|garbage BYTES | "
    "send-hex [--appl N] HEX... | status | wait-listening [--timeout S]";

const std::vector<std::string> RingOptionNames = {
    "from",      "type",   "presentation",  "to",           "called-type", "cip",
    "end-after", "reason", "reject-reason", "answer-after", "extension",   "router-caller"};
const std::vector<std::string> RingFlags = {"blocked"};

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

// A time option of a call ("--end-after 8"), left alone when absent.
bool callSeconds(const OptionSet &options, const std::string &name, std::optional<double> *out,
                 std::string *error)
{
    if (!options.has(name)) return true;
    *out = parseSeconds(options.value(name), MaxEndAfter);
    if (!*out) {
        *error = "--" + name + " needs seconds from 0 to 86400, not '" + options.value(name) + "'";
        return false;
    }
    return true;
}

bool readExtension(const OptionSet &options, unsigned *extension, std::string *error)
{
    uint8_t value = static_cast<uint8_t>(*extension);
    if (!options.number("extension", &value, error)) return false;
    *extension = value;
    return true;
}

bool readRingOptions(const OptionSet &options, RingOptions *ring, std::string *error)
{
    ring->from = options.value("from");
    ring->to = options.value("to");
    if (!validDigits(ring->from, "--from", error) || !validDigits(ring->to, "--to", error))
        return false;
    if (options.has("router-caller")) {
        ring->routerCaller = options.value("router-caller");
        if (!validDigits(*ring->routerCaller, "--router-caller", error)) return false;
    }
    if (!options.number("type", &ring->callingType, error) ||
        !options.number("presentation", &ring->presentation, error) ||
        !options.number("called-type", &ring->calledType, error) ||
        !options.number("cip", &ring->cip, error) ||
        !options.number("reason", &ring->reason, error) ||
        !readExtension(options, &ring->extension, error))
        return false;
    ring->rejectReason = ring->reason;
    ring->blocked = options.has("blocked");
    return options.number("reject-reason", &ring->rejectReason, error) &&
           callSeconds(options, "end-after", &ring->endAfter, error) &&
           callSeconds(options, "answer-after", &ring->answerAfter, error);
}

// "ok 0x101 0x201 router=0,1": the PLCIs, then the router's connection ids.
ControlReply callsReply(const std::vector<uint32_t> &plcis, const std::vector<unsigned> &lines)
{
    std::string text;
    for (uint32_t plci : plcis)
        text += (text.empty() ? "" : " ") + hexValue(plci);
    std::string ids;
    for (unsigned id : lines)
        ids += (ids.empty() ? "" : ",") + std::to_string(id);
    if (!ids.empty()) text += (text.empty() ? "router=" : " router=") + ids;
    return ok(text);
}

bool noPositional(const OptionSet &options, std::string *error)
{
    if (options.positional().empty()) return true;
    *error = "unexpected argument '" + options.positional().front() + "'";
    return false;
}

ControlReply ring(Exchange &exchange, const std::vector<std::string> &words, bool burst)
{
    std::vector<std::string> names = RingOptionNames;
    if (burst) names.push_back("count");
    OptionSet options;
    std::string error;
    if (!options.parse(words, 1, names, &error, RingFlags) || !noPositional(options, &error))
        return fail(error);
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
    const auto rung = exchange.ring(calls, &error);
    if (!rung) return fail(error);
    return callsReply(rung->plcis, rung->lines);
}

ControlReply call(Exchange &exchange, const std::vector<std::string> &words)
{
    OptionSet options;
    std::string error;
    if (!options.parse(words, 1, {"from", "to", "end-after", "answer-after", "extension"},
                       &error) ||
        !noPositional(options, &error))
        return fail(error);
    if (!options.has("from") || !options.has("to"))
        return fail("call needs --from OWN and --to NUMBER");
    OutgoingOptions outgoing;
    outgoing.from = options.value("from");
    outgoing.to = options.value("to");
    if (!validDigits(outgoing.from, "--from", &error) ||
        !validDigits(outgoing.to, "--to", &error) ||
        !readExtension(options, &outgoing.extension, &error) ||
        !callSeconds(options, "end-after", &outgoing.endAfter, &error) ||
        !callSeconds(options, "answer-after", &outgoing.answerAfter, &error))
        return fail(error);
    const auto id = exchange.call(outgoing, &error);
    if (!id) return fail(error);
    return callsReply({}, {*id});
}

ControlReply hangup(Exchange &exchange, const std::vector<std::string> &words)
{
    OptionSet options;
    std::string error;
    if (!options.parse(words, 1, {"plci", "id", "reason"}, &error) ||
        !noPositional(options, &error))
        return fail(error);
    if (options.has("plci") && options.has("id")) return fail("hangup takes --plci or --id");
    uint16_t reason = 0x3490;
    if (!options.number("reason", &reason, &error)) return fail(error);
    std::optional<uint32_t> plci;
    if (options.has("plci")) {
        uint32_t value = 0;
        if (!options.number("plci", &value, &error)) return fail(error);
        plci = value;
    }
    std::optional<unsigned> line;
    if (options.has("id")) {
        unsigned value = 0;
        if (!options.number("id", &value, &error)) return fail(error);
        line = value;
    }
    const auto ended = exchange.hangup(plci, line, reason, &error);
    if (!ended) return fail(error);
    if (ended->plci) return ok(hexValue(*ended->plci));
    return callsReply({}, {*ended->line});
}

// Router text with C escapes, so that a line can carry CR LF or any byte:
// \r \n \t \0 \\ and \xHH.
std::optional<std::string> unescape(const std::string &text, std::string *error)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        const char next = i + 1 < text.size() ? text[++i] : '\0';
        switch (next) {
        case 'r':
            bytes += '\r';
            break;
        case 'n':
            bytes += '\n';
            break;
        case 't':
            bytes += '\t';
            break;
        case '0':
            bytes += '\0';
            break;
        case '\\':
            bytes += '\\';
            break;
        case 'x': {
            const auto value = i + 2 < text.size() ? parseHex(text.substr(i + 1, 2)) : std::nullopt;
            if (!value) {
                *error = "\\x needs two hex digits";
                return std::nullopt;
            }
            bytes += static_cast<char>(value->front());
            i += 2;
            break;
        }
        default:
            *error = "unknown escape in router text (\\r \\n \\t \\0 \\\\ \\xHH)";
            return std::nullopt;
        }
    }
    return bytes;
}

// Random bytes with NULs among them and no line end, which a client must survive.
std::string garbage(size_t count)
{
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes;
    while (bytes.size() < count) {
        const char c = static_cast<char>(byte(random));
        if (c != '\r' && c != '\n') bytes += c;
    }
    if (count > 0) bytes[std::uniform_int_distribution<size_t>(0, count - 1)(random)] = '\0';
    return bytes;
}

ControlReply router(Exchange &exchange, const std::vector<std::string> &words)
{
    const std::string usage = "usage: router close | refuse SECONDS | send TEXT | garbage BYTES";
    if (words.size() < 2) return fail(usage);
    const std::string &what = words[1];
    RouterFault fault;
    std::string error;
    if (what == "close" && words.size() == 2) {
        fault.kind = RouterFault::Kind::Close;
    } else if (what == "refuse" && words.size() == 3) {
        const auto seconds = parseSeconds(words[2], MaxRefuse);
        if (!seconds) return fail("router refuse needs seconds from 0 to 3600");
        fault.kind = RouterFault::Kind::Refuse;
        fault.seconds = *seconds;
    } else if (what == "send" && words.size() == 3) {
        const auto bytes = unescape(words[2], &error);
        if (!bytes) return fail(error);
        if (bytes->empty()) return fail("router send needs text");
        fault.kind = RouterFault::Kind::Send;
        fault.bytes = *bytes;
    } else if (what == "garbage" && words.size() == 3) {
        const auto count = parseNumber(words[2], MaxGarbage);
        if (!count || *count == 0)
            return fail("router garbage needs bytes from 1 to " + std::to_string(MaxGarbage));
        fault.kind = RouterFault::Kind::Send;
        fault.bytes = garbage(*count);
    } else {
        return fail(usage);
    }
    std::string reply;
    if (!exchange.routerFault(fault, &reply, &error)) return fail(error);
    return ok(reply);
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
    if (command == "call") return call(exchange, *words);
    if (command == "hangup") return hangup(exchange, *words);
    if (command == "router") return router(exchange, *words);
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
