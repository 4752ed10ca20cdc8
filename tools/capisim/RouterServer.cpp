#include "tools/capisim/RouterServer.h"

#include "tools/capisim/Exchange.h"
#include "tools/capisim/Sockets.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace capisim {

namespace {

// A router keeps a few clients; more are turned away.
constexpr size_t MaxClients = 32;
// About 4000 lines, or several rounds of the largest garbage.
constexpr size_t MaxQueuedOutput = 256 * 1024;
// Bytes drained from one client per wake-up, so a flooding client cannot starve the rest.
constexpr size_t MaxDrain = 64 * 1024;

// "08.12.26 14:03:11;RING;0;0441123456;85606;SIP0;" and CR LF, in local time.
std::string routerLine(std::initializer_list<std::string> fields)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%d.%m.%y %H:%M:%S", &local);
    std::string line = stamp;
    for (const std::string &field : fields)
        line += ";" + field;
    return line + ";\r\n";
}

} // namespace

RouterServer::RouterServer(Exchange &exchange) : exchange_(exchange) {}

RouterServer::~RouterServer()
{
    stop();
}

bool RouterServer::start(uint16_t port, std::string *error)
{
    if (thread_.joinable()) return true;
    if (port == 0) {
        *error = "the router port must be from 1 to 65535";
        return false;
    }
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        *error = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    port_ = port;
    if (!openListener(error)) {
        ::close(wakeFd_);
        wakeFd_ = -1;
        return false;
    }
    stopping_ = false;
    exchange_.setCallObserver(this);
    thread_ = std::thread([this] { run(); });
    return true;
}

void RouterServer::stop()
{
    if (!thread_.joinable()) return;
    exchange_.setCallObserver(nullptr);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake();
    thread_.join();
    ::close(wakeFd_);
    wakeFd_ = -1;
}

void RouterServer::callStarted(const MonitoredCall &call)
{
    const std::string id = std::to_string(call.id);
    if (call.outgoing)
        broadcast(routerLine(
            {"CALL", id, std::to_string(call.extension), call.caller, call.called, "SIP0"}));
    else
        broadcast(routerLine({"RING", id, call.caller, call.called, "SIP0"}));
}

void RouterServer::callAnswered(const MonitoredCall &call)
{
    broadcast(routerLine({"CONNECT", std::to_string(call.id), std::to_string(call.extension),
                          call.outgoing ? call.called : call.caller}));
}

void RouterServer::callEnded(const MonitoredCall &call, unsigned seconds)
{
    broadcast(routerLine({"DISCONNECT", std::to_string(call.id), std::to_string(seconds)}));
}

bool RouterServer::hasClients() const
{
    std::lock_guard lock(mutex_);
    return liveClients() > 0;
}

std::string RouterServer::status() const
{
    std::lock_guard lock(mutex_);
    return "router-port=" + std::to_string(port_) +
           " router-clients=" + std::to_string(liveClients());
}

bool RouterServer::applyFault(const RouterFault &fault, std::string *reply, std::string *)
{
    if (fault.kind == RouterFault::Kind::Send) {
        *reply = "sent=" + std::to_string(broadcast(fault.bytes));
        return true;
    }
    {
        std::lock_guard lock(mutex_);
        *reply = "closed=" + std::to_string(liveClients());
        for (Client &client : clients_)
            shutDown(client);
        if (fault.kind == RouterFault::Kind::Refuse) {
            // A shut-down listener refuses connections at once; the serving
            // thread may be polling it, so that thread closes the descriptor.
            if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
            refuseUntil_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(fault.seconds));
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", fault.seconds);
            *reply += std::string(" refusing=") + seconds;
        }
    }
    wake();
    return true;
}

void RouterServer::run()
{
    std::unique_lock lock(mutex_);
    size_t reportedClients = 0;
    while (!stopping_) {
        updateListener();
        for (size_t i = clients_.size(); i-- > 0;) {
            if (clients_[i].closing || !sendQueued(clients_[i].fd, clients_[i].output))
                closeClient(i);
        }
        if (clients_.size() != reportedClients) {
            // Wakes whoever waits for the line to be watched.
            reportedClients = clients_.size();
            lock.unlock();
            exchange_.callObserverChanged();
            lock.lock();
            continue;
        }
        std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (const Client &client : clients_) {
            const short events = client.output.empty() ? POLLIN : POLLIN | POLLOUT;
            fds.push_back({client.fd, events, 0});
        }
        int timeout = -1;
        if (refuseUntil_) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*refuseUntil_ - Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, left.count()));
        } else if (listenFd_ < 0) {
            timeout = 1000; // a port that could not be taken again is retried every second
        }
        // Only this thread adds or removes clients, so fds[2 + i] stays clients_[i].
        lock.unlock();
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        lock.lock();
        if (ready < 0 && errno != EINTR) {
            std::fprintf(stderr, "capisim: router monitor: poll: %s\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents) clearEvent(wakeFd_);
        for (size_t i = clients_.size(); i-- > 0;) {
            const short revents = fds[2 + i].revents;
            bool keep = true;
            if (revents & (POLLIN | POLLHUP | POLLERR)) keep = drain(clients_[i]);
            if (keep && (revents & POLLOUT)) keep = sendQueued(clients_[i].fd, clients_[i].output);
            if (!keep) closeClient(i);
        }
        if (fds[1].revents && !refuseUntil_) acceptClients();
    }
    while (!clients_.empty())
        closeClient(clients_.size() - 1);
    closeListener();
}

void RouterServer::updateListener()
{
    if (refuseUntil_) {
        closeListener();
        if (Clock::now() < *refuseUntil_) return;
        refuseUntil_.reset();
    }
    if (listenFd_ >= 0) return;
    std::string error;
    if (!openListener(&error) && error != lastListenError_)
        std::fprintf(stderr, "capisim: %s\n", error.c_str());
    lastListenError_ = error;
}

bool RouterServer::openListener(std::string *error)
{
    listenFd_ = listenOnLoopback(port_, error);
    if (listenFd_ < 0) *error = "router monitor: " + *error;
    return listenFd_ >= 0;
}

void RouterServer::closeListener()
{
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
}

void RouterServer::acceptClients()
{
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (clients_.size() >= MaxClients) {
            ::close(fd);
            continue;
        }
        Client client;
        client.fd = fd;
        clients_.push_back(std::move(client));
    }
}

bool RouterServer::drain(Client &client)
{
    char buffer[4096];
    for (size_t drained = 0; drained < MaxDrain;) {
        const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            drained += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

void RouterServer::closeClient(size_t index)
{
    ::close(clients_[index].fd);
    clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
}

void RouterServer::shutDown(Client &client)
{
    if (client.closing) return;
    ::shutdown(client.fd, SHUT_RDWR);
    client.closing = true;
    client.output.clear();
}

size_t RouterServer::broadcast(const std::string &bytes)
{
    size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        for (Client &client : clients_) {
            if (client.closing) continue;
            if (client.output.size() + bytes.size() > MaxQueuedOutput) {
                exchange_.log().note("router monitor: a client that does not read was dropped");
                shutDown(client);
                continue;
            }
            client.output += bytes;
            ++count;
        }
    }
    wake();
    return count;
}

size_t RouterServer::liveClients() const
{
    size_t count = 0;
    for (const Client &client : clients_)
        count += client.closing ? 0 : 1;
    return count;
}

void RouterServer::wake()
{
    signalEvent(wakeFd_);
}

} // namespace capisim
