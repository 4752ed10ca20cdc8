#include "tools/capisim/InProcessLine.h"

#include "tools/capisim/CapisimClient.h"
#include "tools/capisim/ControlServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

namespace capisim {

namespace {

constexpr unsigned MaxApplId = 1023;
constexpr unsigned TooManyAppls = 0x1001;

std::atomic<InProcessLine *> created{nullptr};

} // namespace

InProcessLine &InProcessLine::instance()
{
    static InProcessLine *line = [] {
        auto *newLine = new InProcessLine;
        created = newLine;
        return newLine;
    }();
    return *line;
}

void InProcessLine::shutdown()
{
    InProcessLine *line = created;
    if (!line) return;
    std::lock_guard lock(line->lifecycleMutex_);
    line->shutDown_ = true;
    line->control_.reset();
    line->exchange_.stopTimer();
}

InProcessLine::InProcessLine()
{
    std::string error;
    if (!exchange_.configureFromEnvironment(&error))
        std::fprintf(stderr, "capisim: %s\n", error.c_str());
}

void InProcessLine::ensureControl()
{
    if (control_ || shutDown_) return;
    auto control = std::make_unique<ControlServer>(exchange_, controlSocketPath());
    std::string error;
    if (control->start(&error)) {
        control_ = std::move(control);
        lastControlError_.clear();
    } else if (error != lastControlError_) {
        // The line works without control; say why once, not on every call.
        std::fprintf(stderr, "capisim: no control socket: %s\n", error.c_str());
        lastControlError_ = error;
    }
}

unsigned InProcessLine::isInstalled()
{
    std::lock_guard lock(lifecycleMutex_);
    ensureControl();
    return exchange_.faults().installed() ? 0 : code::RegNotInstalled;
}

unsigned InProcessLine::registerAppl(unsigned *applId)
{
    std::lock_guard lock(lifecycleMutex_);
    ensureControl();
    const Faults faults = exchange_.faults();
    if (!faults.installed() || shutDown_) return code::RegNotInstalled;
    if (faults.registerError) return faults.registerError;
    if (!applId) return code::RegOsResourceError;
    auto slot = std::make_shared<Slot>(*this);
    unsigned id = 1;
    {
        std::lock_guard slotsLock(mutex_);
        while (slots_.count(id))
            ++id;
        if (id > MaxApplId) return TooManyAppls;
        slots_[id] = slot;
    }
    // The lifecycle lock keeps a release of the same id from running in between.
    exchange_.attach(id, slot.get());
    *applId = id;
    return 0;
}

unsigned InProcessLine::release(unsigned applId)
{
    std::lock_guard lock(lifecycleMutex_);
    std::shared_ptr<Slot> slot;
    bool last = false;
    {
        std::lock_guard slotsLock(mutex_);
        const auto it = slots_.find(applId);
        if (it == slots_.end()) return code::IllegalApplId;
        slot = it->second;
        slot->released = true;
        slots_.erase(it);
        last = slots_.empty();
        messageReady_.notify_all(); // a thread waiting for this ApplID returns
    }
    // After detach the exchange holds no pointer to the slot any more.
    exchange_.detach(applId);
    if (last) control_.reset();
    return 0;
}

unsigned InProcessLine::putMessage(unsigned applId, const unsigned char *message)
{
    const auto slot = findSlot(applId);
    if (!slot) return code::IllegalApplId;
    {
        std::lock_guard slotsLock(mutex_);
        if (slot->lost) return code::MsgOsResourceError;
    }
    if (!message) return code::IllegalCommand;
    // Only the message's own Length bytes are read; the rest of the caller's buffer is not ours.
    const size_t length = readLe16(message);
    if (length < HeaderSize || length > MaxMessageSize) {
        exchange_.log().note("refused put of appl " + std::to_string(applId) +
                             " with length field " + std::to_string(length));
        return code::IllegalCommand;
    }
    const Bytes copy(message, message + length);
    return exchange_.receive(applId, copy.data(), copy.size());
}

unsigned InProcessLine::getMessage(unsigned applId, unsigned char **buffer)
{
    std::lock_guard slotsLock(mutex_);
    const auto it = slots_.find(applId);
    if (it == slots_.end()) return code::IllegalApplId;
    Slot &slot = *it->second;
    if (!buffer) return code::MsgOsResourceError;
    if (slot.lost || slot.queue.empty()) return code::ReceiveQueueEmpty;
    slot.current = std::move(slot.queue.front());
    slot.queue.pop_front();
    exchange_.log().sent(slot.current.data(), slot.current.size());
    // Raw messages may claim more than they hold; pad so a reader that trusts the
    // length field stays inside the buffer.
    const size_t declared = slot.current.size() >= 2 ? readLe16(slot.current.data()) : 0;
    slot.current.resize(std::max({slot.current.size(), declared, HeaderSize}), 0);
    *buffer = slot.current.data();
    return 0;
}

unsigned InProcessLine::waitForMessage(unsigned applId, const timeval *timeout)
{
    std::unique_lock slotsLock(mutex_);
    const auto it = slots_.find(applId);
    if (it == slots_.end()) return code::IllegalApplId;
    const std::shared_ptr<Slot> slot = it->second;
    const auto ready = [&slot] { return slot->released || slot->lost || !slot->queue.empty(); };
    if (!timeout) {
        messageReady_.wait(slotsLock, ready);
    } else {
        // Bounded, so that the deadline arithmetic cannot overflow.
        const auto wait = std::chrono::seconds(std::clamp<long>(timeout->tv_sec, 0, 10'000'000)) +
                          std::chrono::microseconds(std::clamp<long>(timeout->tv_usec, 0, 999'999));
        messageReady_.wait_for(slotsLock, wait, ready);
    }
    if (slot->released) return code::IllegalApplId;
    // A lost line reads as "message waiting", and the get then fails: as libcapi20 does.
    return ready() ? 0 : code::ReceiveQueueEmpty;
}

std::shared_ptr<InProcessLine::Slot> InProcessLine::findSlot(unsigned applId)
{
    std::lock_guard slotsLock(mutex_);
    const auto it = slots_.find(applId);
    return it == slots_.end() ? nullptr : it->second;
}

void InProcessLine::Slot::deliver(const Bytes &message)
{
    std::lock_guard slotsLock(line.mutex_);
    if (lost || released) return;
    queue.push_back(message);
    line.messageReady_.notify_all();
}

void InProcessLine::Slot::lineLost()
{
    std::lock_guard slotsLock(line.mutex_);
    lost = true;
    queue.clear();
    line.messageReady_.notify_all();
}

} // namespace capisim
