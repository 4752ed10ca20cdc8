#pragma once

#include <string>

namespace capisim {

// One call on the line as a home router's call monitor reports it.
struct MonitoredCall
{
    unsigned id = 0; // connection id: unique among live calls only, reused afterwards
    bool outgoing = false;
    std::string caller;     // incoming: the caller as the router shows it; outgoing: own number
    std::string called;     // incoming: the own number called; outgoing: the number dialled
    unsigned extension = 1; // the extension that answers or dials
};

// A fault of the router's monitor port, played on command.
struct RouterFault
{
    enum class Kind
    {
        Close,  // close every client connection now
        Refuse, // close the port and every connection; listen again after seconds
        Send    // send bytes as they are to every client
    };
    Kind kind = Kind::Close;
    double seconds = 0;
    std::string bytes;
};

// Learns of every call of the exchange (see Exchange::setCallObserver). The
// exchange calls these with its lock held, from whichever thread drives it:
// they must not block and must not call back into the exchange.
class CallObserver
{
public:
    virtual ~CallObserver() = default;
    virtual void callStarted(const MonitoredCall &call) = 0;
    virtual void callAnswered(const MonitoredCall &call) = 0;
    // seconds: since the answer, 0 for a call that was never answered.
    virtual void callEnded(const MonitoredCall &call, unsigned seconds) = 0;

    // True while a client watches, which counts as listening for wait-listening.
    virtual bool hasClients() const = 0;
    // Words for the status reply, e.g. "router-port=31012 router-clients=1".
    virtual std::string status() const = 0;
    // Returns the reply text after "ok", or false with error set.
    virtual bool applyFault(const RouterFault &fault, std::string *reply, std::string *error) = 0;
};

} // namespace capisim
