#pragma once

#include "tools/capisim/CallObserver.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace capisim {

class Exchange;

// A home router's call monitor on 127.0.0.1: every call of the exchange goes
// to every connected client as lines ("08.12.26 14:03:11;RING;0;0441123;85606;SIP0;"
// and CR LF, local time). Like the router it only talks: what a client sends
// is read and dropped.
// Owned by the serving program, which calls start() and stop() from one
// thread. A thread of its own polls the port and the clients. The exchange
// reports calls from its threads; they only queue the line and wake that
// thread, and a client whose queue outgrows its bound (it does not read) is
// dropped, so no client ever holds up the exchange.
class RouterServer final : public CallObserver
{
public:
    explicit RouterServer(Exchange &exchange);
    ~RouterServer() override;
    RouterServer(const RouterServer &) = delete;
    RouterServer &operator=(const RouterServer &) = delete;

    // Listens on port and watches the exchange's calls.
    bool start(uint16_t port, std::string *error);
    void stop();

    void callStarted(const MonitoredCall &call) override;
    void callAnswered(const MonitoredCall &call) override;
    void callEnded(const MonitoredCall &call, unsigned seconds) override;
    bool hasClients() const override;
    std::string status() const override;
    bool applyFault(const RouterFault &fault, std::string *reply, std::string *error) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Client
    {
        int fd = -1;
        std::string output;
        bool closing = false;
    };

    void run();
    void updateListener();
    bool openListener(std::string *error);
    void closeListener();
    void acceptClients();
    bool drain(Client &client);
    void closeClient(size_t index);
    // Shuts the client down at once; the serving thread closes it.
    void shutDown(Client &client);
    // Queues bytes for every client; returns how many got them.
    size_t broadcast(const std::string &bytes);
    size_t liveClients() const;
    void wake();

    Exchange &exchange_;
    uint16_t port_ = 0;
    int wakeFd_ = -1;
    std::thread thread_;
    // Guards what follows. The exchange calls in with its own lock held, so
    // this one is never held while calling the exchange.
    mutable std::mutex mutex_;
    bool stopping_ = false;
    int listenFd_ = -1;
    std::optional<Clock::time_point> refuseUntil_;
    std::string lastListenError_;
    std::vector<Client> clients_;
};

} // namespace capisim
