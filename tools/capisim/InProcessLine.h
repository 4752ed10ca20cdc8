#pragma once

#include "tools/capisim/Exchange.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/time.h>

namespace capisim {

class ControlServer;

// The in-process front end behind the capi20_* functions of libcapisim.so:
// one queue of messages per ApplID in front of the exchange, and the control
// socket, which runs while the library is in use.
// One instance per process, created on the first capi20_* call and never
// destroyed, since program threads may still call in while the process ends.
// Any thread may call it; typically one thread waits and fetches while another
// puts.
class InProcessLine
{
public:
    static InProcessLine &instance();
    // Stops the control and timer threads and removes the socket (library unload).
    static void shutdown();

    unsigned isInstalled();
    unsigned registerAppl(unsigned *applId);
    unsigned release(unsigned applId);
    unsigned putMessage(unsigned applId, const unsigned char *message);
    unsigned getMessage(unsigned applId, unsigned char **buffer);
    unsigned waitForMessage(unsigned applId, const timeval *timeout);

private:
    struct Slot final : ExchangeClient
    {
        explicit Slot(InProcessLine &line) : line(line) {}
        void deliver(const Bytes &message) override;
        void lineLost() override;

        InProcessLine &line;
        std::deque<Bytes> queue;
        Bytes current; // the last fetched message, valid until the next get
        bool lost = false;
        bool released = false;
    };

    InProcessLine();
    void ensureControl();
    std::shared_ptr<Slot> findSlot(unsigned applId);

    Exchange exchange_;
    // Serialises register, release and the control socket's start and stop.
    std::mutex lifecycleMutex_;
    std::unique_ptr<ControlServer> control_;
    std::string lastControlError_;
    bool shutDown_ = false;
    // Guards the slots; taken inside the exchange's lock when it delivers.
    std::mutex mutex_;
    std::condition_variable messageReady_;
    std::map<unsigned, std::shared_ptr<Slot>> slots_;
};

} // namespace capisim
