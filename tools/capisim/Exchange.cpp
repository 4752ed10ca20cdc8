#include "tools/capisim/Exchange.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace capisim {

namespace {

std::string hexValue(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

const char *commandName(uint8_t command)
{
    switch (command) {
    case cmd::Alert:
        return "ALERT";
    case cmd::Connect:
        return "CONNECT";
    case cmd::ConnectActive:
        return "CONNECT_ACTIVE";
    case cmd::Disconnect:
        return "DISCONNECT";
    case cmd::Listen:
        return "LISTEN";
    case cmd::Info:
        return "INFO";
    case cmd::SelectBProtocol:
        return "SELECT_B_PROTOCOL";
    case cmd::Facility:
        return "FACILITY";
    case cmd::ConnectB3:
        return "CONNECT_B3";
    case cmd::ConnectB3Active:
        return "CONNECT_B3_ACTIVE";
    case cmd::DisconnectB3:
        return "DISCONNECT_B3";
    case cmd::DataB3:
        return "DATA_B3";
    case cmd::ResetB3:
        return "RESET_B3";
    case cmd::ConnectB3T90Active:
        return "CONNECT_B3_T90_ACTIVE";
    case cmd::Manufacturer:
        return "MANUFACTURER";
    default:
        return "?";
    }
}

// A router numbers its calls itself; this many live ones are plenty.
constexpr size_t MaxLineCalls = 255;
constexpr uint16_t AnsweredElsewhere = 0x3400;
constexpr uint16_t NormalClearing = 0x3490;

// The calling number as the router's call monitor shows it: with the prefix
// its type of number stands for, and nothing when presentation is restricted.
std::string shownCaller(const RingOptions &options)
{
    if (options.routerCaller) return *options.routerCaller;
    if ((options.presentation >> 5 & 3) == 1 || options.from.empty()) return {};
    switch (options.callingType >> 4 & 7) {
    case 1:
        return "00" + options.from; // international
    case 2:
        return "0" + options.from; // national
    default:
        return options.from;
    }
}

} // namespace

Exchange::Exchange() : timer_([this] { timerLoop(); }) {}

Exchange::~Exchange()
{
    stopTimer();
}

void Exchange::stopTimer()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    timerWake_.notify_all();
    if (timer_.joinable()) timer_.join();
}

bool Exchange::configureFromEnvironment(std::string *error)
{
    if (const char *path = std::getenv("CAPISIM_LOG")) {
        if (!log_.open(path, error)) return false;
    }
    if (const char *text = std::getenv("CAPISIM_FAULT")) {
        Faults faults;
        if (!parseFaultList(text, &faults, error)) {
            *error = "CAPISIM_FAULT: " + *error;
            return false;
        }
        std::lock_guard lock(mutex_);
        faults_ = faults;
    }
    return true;
}

bool Exchange::attach(unsigned applId, ExchangeClient *client)
{
    std::lock_guard lock(mutex_);
    if (applId == 0 || apps_.count(applId)) return false;
    App app;
    app.client = client;
    app.order = ++order_;
    apps_[applId] = app;
    return true;
}

void Exchange::detach(unsigned applId)
{
    std::lock_guard lock(mutex_);
    if (!apps_.erase(applId)) return;
    std::erase_if(calls_, [applId](const auto &entry) { return entry.second.applId == applId; });
    endAbandonedLineCalls(0);
    notifyObservers();
}

unsigned Exchange::receive(unsigned applId, const uint8_t *data, size_t size)
{
    std::lock_guard lock(mutex_);
    const size_t length = size >= 2 ? readLe16(data) : 0;
    if (length < HeaderSize || length > size) {
        log_.note("refused message of appl " + std::to_string(applId) + ": length field " +
                  std::to_string(length) + ", " + std::to_string(size) +
                  " bytes: " + toHex(data, std::min<size_t>(size, 16)));
        return code::IllegalCommand;
    }
    log_.received(data, length);
    if (!apps_.count(applId)) {
        log_.note("message for appl " + std::to_string(applId) + ", which is not registered");
        return code::IllegalApplId;
    }
    const MessageReader msg(data, length);
    const uint8_t command = data[4];
    const uint8_t subcommand = data[5];
    if (!isKnownCommand(command) || (subcommand != sub::Req && subcommand != sub::Resp)) {
        log_.note("refused unknown command " + hexValue(command) + " " + hexValue(subcommand));
        return code::IllegalCommand;
    }
    if (subcommand == sub::Req) {
        switch (command) {
        case cmd::Listen:
            onListenReq(applId, msg);
            break;
        case cmd::Alert:
            onAlertReq(applId, msg);
            break;
        case cmd::Disconnect:
            onDisconnectReq(applId, msg);
            break;
        default:
            // Every request gets its confirmation, so a program waiting for one never hangs.
            log_.note(std::string(commandName(command)) + "_REQ is not supported");
            sendConf(applId, msg, code::WrongState);
            break;
        }
        return 0;
    }
    switch (command) {
    case cmd::Connect:
        onConnectResp(applId, msg);
        break;
    case cmd::ConnectB3:
        onConnectB3Resp(applId, msg);
        break;
    case cmd::Disconnect:
        onDisconnectResp(applId, msg);
        break;
    default:
        break; // other responses only acknowledge an indication
    }
    return 0;
}

Faults Exchange::faults() const
{
    std::lock_guard lock(mutex_);
    return faults_;
}

void Exchange::requireFaultAcknowledgement()
{
    std::lock_guard lock(mutex_);
    acknowledgementRequired_ = true;
}

Faults Exchange::faults(uint64_t *generation) const
{
    std::lock_guard lock(mutex_);
    *generation = faultGeneration_;
    return faults_;
}

void Exchange::acknowledgeFaults(uint64_t generation)
{
    std::lock_guard lock(mutex_);
    acknowledgedGeneration_ = std::max(acknowledgedGeneration_, generation);
    faultsAcknowledged_.notify_all();
}

bool Exchange::waitFaultsAcknowledged(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return !acknowledgementRequired_ || faultsAcknowledged_.wait_for(lock, timeout, [this] {
        return acknowledgedGeneration_ >= faultGeneration_;
    });
}

bool Exchange::setFault(const std::string &name, const std::string &code, std::string *error)
{
    std::lock_guard lock(mutex_);
    Faults faults = faults_;
    if (!applyFault(faults, name, code, error)) return false;
    const bool wasLost = faults_.lineLost;
    faults_ = faults;
    ++faultGeneration_;
    log_.note("faults: " + faults_.describe());
    if (faults_.lineLost && !wasLost) loseLine();
    notifyObservers();
    return true;
}

bool Exchange::listening() const
{
    std::lock_guard lock(mutex_);
    return listeningLocked() || (callObserver_ && callObserver_->hasClients());
}

void Exchange::setCallObserver(CallObserver *observer)
{
    std::lock_guard lock(mutex_);
    callObserver_ = observer;
}

void Exchange::callObserverChanged()
{
    std::lock_guard lock(mutex_);
    notifyObservers();
}

bool Exchange::routerFault(const RouterFault &fault, std::string *reply, std::string *error)
{
    std::lock_guard lock(mutex_);
    if (!callObserver_) {
        *error = "no router monitor is served (capisim serve --router-port PORT)";
        return false;
    }
    return callObserver_->applyFault(fault, reply, error);
}

bool Exchange::listeningLocked() const
{
    return std::any_of(apps_.begin(), apps_.end(),
                       [](const auto &entry) { return entry.second.listening; });
}

std::optional<RingResult> Exchange::ring(const std::vector<RingOptions> &calls, std::string *error)
{
    std::lock_guard lock(mutex_);
    auto listenersOf = [this](uint16_t cip) {
        std::vector<std::pair<uint64_t, unsigned>> listeners;
        for (const auto &[applId, app] : apps_) {
            // Bit 0 of the CIP mask takes every call, bit n the calls with CIP value n.
            const bool match = (app.cipMask & 1) || (cip < 32 && (app.cipMask >> cip) & 1);
            if (app.listening && match) listeners.emplace_back(app.order, applId);
        }
        std::sort(listeners.begin(), listeners.end());
        return listeners;
    };
    size_t needed = 0;
    for (const RingOptions &options : calls) {
        const size_t count = listenersOf(options.cip).size();
        if (count == 0 && !callObserver_) {
            *error = "no application is listening for CIP " + std::to_string(options.cip);
            return std::nullopt;
        }
        needed += count;
    }
    if (calls_.size() + needed > 255) {
        *error = "no free PLCI: too many calls on the line";
        return std::nullopt;
    }
    if (lineCalls_.size() + calls.size() > MaxLineCalls) {
        *error = "too many calls on the line";
        return std::nullopt;
    }
    RingResult result;
    const auto now = Clock::now();
    for (const RingOptions &options : calls) {
        const auto listeners = listenersOf(options.cip);
        LineCall line;
        line.monitored.caller = shownCaller(options);
        line.monitored.called = options.to;
        line.monitored.extension = options.extension;
        line.offered = !listeners.empty();
        line.answerAt = after(now, options.answerAfter);
        line.endAt = after(now, options.endAfter);
        line.reason = options.reason;
        const unsigned id = startLineCall(line);
        if (callObserver_) result.lines.push_back(id);
        std::vector<uint32_t> offered;
        for (const auto &listener : listeners) {
            const unsigned applId = listener.second;
            const uint32_t plci = allocatePlci();
            Call call;
            call.applId = applId;
            call.line = id;
            call.reason = options.reason;
            call.rejectReason = options.rejectReason;
            call.order = ++order_;
            call.endAt = after(now, options.endAfter);
            calls_[plci] = call;
            send(applId, connectInd(applId, plci, options));
            offered.push_back(plci);
        }
        if (options.blocked) {
            for (uint32_t plci : offered)
                disconnect(plci, calls_.at(plci), NormalClearing);
            endLineCall(id, NormalClearing); // a call without PLCIs; else already ended
        }
        result.plcis.insert(result.plcis.end(), offered.begin(), offered.end());
    }
    timerWake_.notify_all();
    return result;
}

std::optional<unsigned> Exchange::call(const OutgoingOptions &options, std::string *error)
{
    std::lock_guard lock(mutex_);
    if (!callObserver_) {
        *error = "an outgoing call shows on the router monitor only (capisim serve --router-port "
                 "PORT)";
        return std::nullopt;
    }
    if (lineCalls_.size() >= MaxLineCalls) {
        *error = "too many calls on the line";
        return std::nullopt;
    }
    const auto now = Clock::now();
    LineCall line;
    line.monitored.outgoing = true;
    line.monitored.caller = options.from;
    line.monitored.called = options.to;
    line.monitored.extension = options.extension;
    line.answerAt = after(now, options.answerAfter);
    line.endAt = after(now, options.endAfter);
    const unsigned id = startLineCall(line);
    timerWake_.notify_all();
    return id;
}

std::optional<HangupResult> Exchange::hangup(std::optional<uint32_t> plci,
                                             std::optional<unsigned> line, uint16_t reason,
                                             std::string *error)
{
    std::lock_guard lock(mutex_);
    if (plci) {
        const auto it = calls_.find(*plci);
        if (it == calls_.end()) {
            *error = "no call with PLCI " + hexValue(*plci);
            return std::nullopt;
        }
        if (it->second.state == CallState::Disconnecting) {
            *error = "call " + hexValue(it->first) + " is already being cleared";
            return std::nullopt;
        }
        disconnect(it->first, it->second, reason);
        return HangupResult{plci, std::nullopt};
    }
    if (!line) {
        auto newest = lineCalls_.end();
        for (auto it = lineCalls_.begin(); it != lineCalls_.end(); ++it) {
            if (newest == lineCalls_.end() || it->second.order > newest->second.order) newest = it;
        }
        if (newest == lineCalls_.end()) {
            *error = "no call to hang up";
            return std::nullopt;
        }
        // A call offered to applications: its newest PLCI, as the PLCI is what they see.
        auto target = calls_.end();
        for (auto it = calls_.begin(); it != calls_.end(); ++it) {
            if (it->second.line == newest->first && it->second.state != CallState::Disconnecting &&
                (target == calls_.end() || it->second.order > target->second.order))
                target = it;
        }
        if (target != calls_.end()) {
            disconnect(target->first, target->second, reason);
            return HangupResult{target->first, std::nullopt};
        }
        line = newest->first;
    }
    if (!lineCalls_.count(*line)) {
        *error = "no call with connection id " + std::to_string(*line);
        return std::nullopt;
    }
    for (auto &[number, call] : calls_) {
        if (call.line == *line && call.state != CallState::Disconnecting)
            disconnect(number, call, reason);
    }
    endLineCall(*line, reason); // the last PLCI may have ended it already
    return HangupResult{std::nullopt, line};
}

bool Exchange::sendRaw(std::optional<unsigned> applId, const Bytes &bytes, std::string *error)
{
    std::lock_guard lock(mutex_);
    auto target = apps_.end();
    if (applId) {
        target = apps_.find(*applId);
        if (target == apps_.end()) {
            *error = "appl " + std::to_string(*applId) + " is not registered";
            return false;
        }
    } else {
        for (auto it = apps_.begin(); it != apps_.end(); ++it) {
            if (target == apps_.end() || it->second.order > target->second.order) target = it;
        }
        if (target == apps_.end()) {
            *error = "no application is registered";
            return false;
        }
    }
    target->second.client->deliver(bytes);
    return true;
}

std::string Exchange::status() const
{
    std::lock_guard lock(mutex_);
    std::string appls;
    for (const auto &entry : apps_)
        appls += (appls.empty() ? "" : ",") + std::to_string(entry.first);
    std::vector<std::pair<uint64_t, uint32_t>> order;
    for (const auto &[plci, call] : calls_)
        order.emplace_back(call.order, plci);
    std::sort(order.begin(), order.end());
    std::string calls;
    for (const auto &entry : order) {
        calls += (calls.empty() ? "" : ",") + hexValue(entry.second) + ":" +
                 stateName(calls_.at(entry.second).state);
    }
    std::string text = "appls=" + (appls.empty() ? "-" : appls) +
                       " listening=" + (listeningLocked() ? "yes" : "no") +
                       " faults=" + faults_.describe() + " calls=" + (calls.empty() ? "-" : calls);
    if (callObserver_) {
        std::string lines;
        for (const auto &[id, line] : lineCalls_) {
            const char *state = line.answeredAt           ? "connected"
                                : line.monitored.outgoing ? "calling"
                                                          : "ringing";
            lines += (lines.empty() ? "" : ",") + std::to_string(id) + ":" + state;
        }
        text += " " + callObserver_->status() + " router-calls=" + (lines.empty() ? "-" : lines);
    }
    return text;
}

int Exchange::addObserver(std::function<void()> observer)
{
    std::lock_guard lock(mutex_);
    observers_.emplace_back(nextObserverId_, std::move(observer));
    return nextObserverId_++;
}

void Exchange::removeObserver(int id)
{
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [id](const auto &entry) { return entry.first == id; });
}

const char *Exchange::stateName(CallState state)
{
    switch (state) {
    case CallState::Offered:
        return "offered";
    case CallState::Alerting:
        return "alerting";
    case CallState::Ignored:
        return "ignored";
    case CallState::Connected:
        return "connected";
    case CallState::B3Active:
        return "b3-active";
    case CallState::Disconnecting:
        return "disconnecting";
    }
    return "?";
}

void Exchange::notifyObservers()
{
    for (const auto &entry : observers_)
        entry.second();
}

void Exchange::send(unsigned applId, const Bytes &message)
{
    const auto it = apps_.find(applId);
    if (it != apps_.end()) it->second.client->deliver(message);
}

uint16_t Exchange::nextNumber(unsigned applId)
{
    return apps_.at(applId).nextNumber++;
}

void Exchange::sendConf(unsigned applId, const MessageReader &request, uint16_t info)
{
    const uint8_t command = request.u8(4).value_or(0);
    const uint32_t address = request.u32(8).value_or(0);
    MessageWriter conf(static_cast<uint16_t>(applId), command, sub::Conf,
                       request.u16(6).value_or(0));
    conf.u32(address);
    if (command == cmd::DataB3) {
        conf.u16(request.u16(18).value_or(0)); // DataHandle
        conf.u16(info);
    } else if (command == cmd::Facility) {
        conf.u16(info);
        conf.u16(request.u16(12).value_or(0)); // FacilitySelector
        conf.emptyStruct();
    } else {
        conf.u16(info);
    }
    send(applId, conf.finish());
}

uint32_t Exchange::allocatePlci()
{
    // The caller made sure a number is free.
    for (;;) {
        lastPlciNumber_ = static_cast<uint8_t>(lastPlciNumber_ % 255 + 1);
        const uint32_t plci = 1u | static_cast<uint32_t>(lastPlciNumber_) << 8;
        if (!calls_.count(plci)) return plci;
    }
}

Bytes Exchange::connectInd(unsigned applId, uint32_t plci, const RingOptions &options)
{
    Bytes called{options.calledType};
    called.insert(called.end(), options.to.begin(), options.to.end());
    Bytes calling{options.callingType, options.presentation};
    calling.insert(calling.end(), options.from.begin(), options.from.end());
    MessageWriter ind(static_cast<uint16_t>(applId), cmd::Connect, sub::Ind, nextNumber(applId));
    ind.u32(plci).u16(options.cip).cstruct(called).cstruct(calling);
    ind.emptyStruct().emptyStruct(); // called and calling subaddress
    ind.cstruct({0x80, 0x90, 0xa3}); // BC: speech, 64 kbit/s, A-law
    ind.emptyStruct();               // LLC
    ind.cstruct({0x91, 0x81});       // HLC: telephony
    ind.emptyStruct();               // AdditionalInfo
    return ind.finish();
}

void Exchange::disconnect(uint32_t plci, Call &call, uint16_t reason)
{
    const auto applId = static_cast<uint16_t>(call.applId);
    if (call.state == CallState::B3Active) {
        MessageWriter b3(applId, cmd::DisconnectB3, sub::Ind, nextNumber(applId));
        b3.u32(ncciOf(plci)).u16(0).emptyStruct();
        send(applId, b3.finish());
    }
    MessageWriter ind(applId, cmd::Disconnect, sub::Ind, nextNumber(applId));
    ind.u32(plci).u16(reason);
    send(applId, ind.finish());
    call.state = CallState::Disconnecting;
    call.b3Offered = false;
    call.endAt.reset();
    endAbandonedLineCalls(reason);
}

void Exchange::loseLine()
{
    for (auto &entry : apps_)
        entry.second.client->lineLost();
    apps_.clear();
    calls_.clear();
    endAbandonedLineCalls(0);
}

std::optional<Exchange::Clock::time_point> Exchange::after(Clock::time_point now,
                                                           std::optional<double> seconds)
{
    if (!seconds) return std::nullopt;
    return now +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*seconds));
}

unsigned Exchange::startLineCall(LineCall call)
{
    // The lowest id no live call has, as the router reuses them.
    unsigned id = 0;
    for (const auto &entry : lineCalls_) {
        if (entry.first != id) break;
        ++id;
    }
    // Nobody answers a call that ends before.
    if (call.answerAt && call.endAt && *call.answerAt >= *call.endAt) call.answerAt.reset();
    call.monitored.id = id;
    call.order = ++order_;
    const LineCall &stored = lineCalls_.emplace(id, std::move(call)).first->second;
    if (callObserver_) callObserver_->callStarted(stored.monitored);
    return id;
}

void Exchange::answerLineCall(unsigned line)
{
    const auto it = lineCalls_.find(line);
    if (it == lineCalls_.end() || it->second.answeredAt) return;
    it->second.answeredAt = Clock::now();
    it->second.answerAt.reset();
    if (callObserver_) callObserver_->callAnswered(it->second.monitored);
}

void Exchange::endLineCall(unsigned line, uint16_t reason)
{
    const auto it = lineCalls_.find(line);
    if (it == lineCalls_.end()) return;
    // Another phone took the call: the router saw it answered.
    if (reason == AnsweredElsewhere) answerLineCall(line);
    const auto talked =
        it->second.answeredAt ? Clock::now() - *it->second.answeredAt : Clock::duration::zero();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(talked).count();
    if (callObserver_)
        callObserver_->callEnded(it->second.monitored, static_cast<unsigned>(seconds));
    lineCalls_.erase(it);
}

bool Exchange::hasLivePlci(unsigned line) const
{
    return std::any_of(calls_.begin(), calls_.end(), [line](const auto &entry) {
        return entry.second.line == line && entry.second.state != CallState::Disconnecting;
    });
}

void Exchange::endAbandonedLineCalls(uint16_t reason)
{
    std::vector<unsigned> ended;
    for (const auto &[id, line] : lineCalls_) {
        if (line.offered && !hasLivePlci(id)) ended.push_back(id);
    }
    for (unsigned id : ended)
        endLineCall(id, reason);
}

void Exchange::onListenReq(unsigned applId, const MessageReader &msg)
{
    const auto controller = msg.u32(8);
    const auto cipMask = msg.u32(16);
    if (!controller || !cipMask) {
        log_.note("LISTEN_REQ too short");
        sendConf(applId, msg, code::IllegalParameterCoding);
        return;
    }
    uint16_t info = 0;
    if ((*controller & 0x7F) != 1)
        info = code::IllegalIdentifier;
    else if (faults_.listenInfo)
        info = faults_.listenInfo;
    if (info == 0) {
        App &app = apps_.at(applId);
        app.cipMask = *cipMask;
        // The program sends CIP mask 0x2 when it stops listening.
        app.listening = *cipMask != 0 && *cipMask != 2;
        notifyObservers();
    }
    sendConf(applId, msg, info);
}

void Exchange::onAlertReq(unsigned applId, const MessageReader &msg)
{
    const auto plci = msg.u32(8);
    if (!plci) {
        log_.note("ALERT_REQ too short");
        sendConf(applId, msg, code::IllegalParameterCoding);
        return;
    }
    Call *call = findCall(applId, *plci, "ALERT_REQ");
    uint16_t info = code::IllegalIdentifier;
    if (call && call->state == CallState::Offered) {
        call->state = CallState::Alerting;
        info = 0;
    } else if (call) {
        info = call->state == CallState::Alerting ? code::AlertAlreadySent : code::WrongState;
    }
    sendConf(applId, msg, info);
}

void Exchange::onDisconnectReq(unsigned applId, const MessageReader &msg)
{
    const auto plci = msg.u32(8);
    if (!plci) {
        log_.note("DISCONNECT_REQ too short");
        sendConf(applId, msg, code::IllegalParameterCoding);
        return;
    }
    Call *call = findCall(applId, *plci, "DISCONNECT_REQ");
    if (!call || call->state == CallState::Disconnecting) {
        sendConf(applId, msg, call ? code::WrongState : code::IllegalIdentifier);
        return;
    }
    sendConf(applId, msg, 0);
    disconnect(*plci, *call, 0); // reason 0: cleared by the program itself
}

void Exchange::onConnectResp(unsigned applId, const MessageReader &msg)
{
    const auto plci = msg.u32(8);
    const auto reject = msg.u16(12);
    if (!plci || !reject) {
        log_.note("CONNECT_RESP too short");
        return;
    }
    Call *call = findCall(applId, *plci, "CONNECT_RESP");
    if (!call) return;
    if (call->state != CallState::Offered && call->state != CallState::Alerting) {
        log_.note("CONNECT_RESP for call " + hexValue(*plci) + " in state " +
                  stateName(call->state));
        return;
    }
    const auto appl = static_cast<uint16_t>(applId);
    if (*reject == 0) {
        call->state = CallState::Connected;
        call->endAt.reset();
        answerLineCall(call->line);
        MessageWriter active(appl, cmd::ConnectActive, sub::Ind, nextNumber(applId));
        active.u32(*plci).emptyStruct().emptyStruct().emptyStruct();
        send(applId, active.finish());
        MessageWriter b3(appl, cmd::ConnectB3, sub::Ind, nextNumber(applId));
        b3.u32(ncciOf(*plci)).emptyStruct();
        send(applId, b3.finish());
        call->b3Offered = true;
    } else if (*reject == 1) {
        call->state = CallState::Ignored; // rings on at the other phones until end-after
    } else {
        disconnect(*plci, *call, call->rejectReason);
    }
}

void Exchange::onConnectB3Resp(unsigned applId, const MessageReader &msg)
{
    const auto ncci = msg.u32(8);
    const auto reject = msg.u16(12);
    if (!ncci || !reject) {
        log_.note("CONNECT_B3_RESP too short");
        return;
    }
    const uint32_t plci = *ncci & 0xFFFF;
    Call *call = findCall(applId, plci, "CONNECT_B3_RESP");
    if (!call) return;
    if (*ncci != ncciOf(plci) || call->state != CallState::Connected || !call->b3Offered) {
        log_.note("CONNECT_B3_RESP for NCCI " + hexValue(*ncci) + " not offered");
        return;
    }
    call->b3Offered = false;
    if (*reject != 0) return; // the program will clear the call with DISCONNECT_REQ
    call->state = CallState::B3Active;
    MessageWriter active(static_cast<uint16_t>(applId), cmd::ConnectB3Active, sub::Ind,
                         nextNumber(applId));
    active.u32(*ncci).emptyStruct();
    send(applId, active.finish());
}

void Exchange::onDisconnectResp(unsigned applId, const MessageReader &msg)
{
    const auto plci = msg.u32(8);
    if (!plci) {
        log_.note("DISCONNECT_RESP too short");
        return;
    }
    Call *call = findCall(applId, *plci, "DISCONNECT_RESP");
    if (!call) return;
    if (call->state != CallState::Disconnecting) {
        log_.note("DISCONNECT_RESP for call " + hexValue(*plci) + " in state " +
                  stateName(call->state));
        return;
    }
    calls_.erase(*plci);
}

Exchange::Call *Exchange::findCall(unsigned applId, uint32_t plci, const char *what)
{
    const auto it = calls_.find(plci);
    if (it == calls_.end() || it->second.applId != applId) {
        log_.note(std::string(what) + " for unknown PLCI " + hexValue(plci));
        return nullptr;
    }
    return &it->second;
}

void Exchange::timerLoop()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const auto now = Clock::now();
        std::optional<Clock::time_point> next;
        for (auto &[plci, call] : calls_) {
            if (!call.endAt) continue;
            if (*call.endAt <= now)
                disconnect(plci, call, call.reason); // the caller gave up
            else if (!next || *call.endAt < *next)
                next = call.endAt;
        }
        auto due = [&now, &next](const std::optional<Clock::time_point> &at) {
            if (!at) return false;
            if (*at <= now) return true;
            if (!next || *at < *next) next = at;
            return false;
        };
        std::vector<unsigned> answering;
        std::vector<unsigned> ending;
        for (const auto &[id, line] : lineCalls_) {
            if (due(line.answerAt)) answering.push_back(id);
            // A call with PLCIs ends with them, above.
            if (!line.offered && due(line.endAt)) ending.push_back(id);
        }
        for (unsigned id : answering)
            answerLineCall(id);
        for (unsigned id : ending) {
            const auto it = lineCalls_.find(id);
            if (it != lineCalls_.end()) endLineCall(id, it->second.reason);
        }
        if (next)
            timerWake_.wait_until(lock, *next);
        else
            timerWake_.wait(lock);
    }
}

} // namespace capisim
