#include "tools/capisim/ControlServer.h"

#include "tools/capisim/ControlCommands.h"
#include "tools/capisim/ControlLine.h"
#include "tools/capisim/Exchange.h"
#include "tools/capisim/Sockets.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace capisim {

namespace {

constexpr size_t MaxClients = 16;

bool makeAddress(const std::string &path, sockaddr_un *address, std::string *error)
{
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path) {
        *error = "control socket path is empty or too long: " + path;
        return false;
    }
    std::memcpy(address->sun_path, path.data(), path.size());
    return true;
}

// True when a live process accepts connections on path.
bool socketIsServed(const sockaddr_un &address)
{
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    const bool served =
        ::connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(probe);
    return served;
}

} // namespace

ControlServer::ControlServer(Exchange &exchange, std::string path)
    : exchange_(exchange), path_(std::move(path))
{
}

ControlServer::~ControlServer()
{
    stop();
}

bool ControlServer::start(std::string *error)
{
    if (thread_.joinable()) return true;
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        *error = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    if (!bindSocket(error)) {
        ::close(wakeFd_);
        wakeFd_ = -1;
        return false;
    }
    stopping_ = false;
    observerId_ = exchange_.addObserver([this] { wake(); });
    thread_ = std::thread([this] { run(); });
    return true;
}

void ControlServer::stop()
{
    if (!thread_.joinable()) return;
    exchange_.removeObserver(observerId_);
    stopping_ = true;
    wake();
    thread_.join();
    for (const Client &client : clients_)
        ::close(client.fd);
    clients_.clear();
    ::close(listenFd_);
    listenFd_ = -1;
    ::close(wakeFd_);
    wakeFd_ = -1;
    // Another simulator may have replaced the file since; leave its socket alone.
    struct stat info;
    if (::lstat(path_.c_str(), &info) == 0 && info.st_dev == socketDev_ &&
        info.st_ino == socketIno_)
        ::unlink(path_.c_str());
}

bool ControlServer::bindSocket(std::string *error)
{
    sockaddr_un address;
    if (!makeAddress(path_, &address, error)) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    auto bindOnce = [&] {
        return ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    };
    std::string reason;
    bool bound = bindOnce();
    if (!bound && errno == EADDRINUSE) {
        struct stat info;
        if (::lstat(path_.c_str(), &info) == 0 && !S_ISSOCK(info.st_mode)) {
            reason = path_ + " exists and is not a socket";
        } else if (socketIsServed(address)) {
            reason = path_ + " is served by another running simulator";
        } else {
            ::unlink(path_.c_str()); // left behind by a simulator that died
            bound = bindOnce();
        }
    }
    if (!bound) {
        if (reason.empty()) reason = "cannot bind " + path_ + ": " + std::strerror(errno);
        *error = reason;
        ::close(fd);
        return false;
    }
    struct stat info;
    // chmod after listen: a client waiting for the file's attribute change finds it served.
    if (::listen(fd, 16) != 0 || ::chmod(path_.c_str(), 0600) != 0 ||
        ::lstat(path_.c_str(), &info) != 0) {
        *error = "cannot set up " + path_ + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(path_.c_str());
        return false;
    }
    socketDev_ = info.st_dev;
    socketIno_ = info.st_ino;
    listenFd_ = fd;
    return true;
}

void ControlServer::wake()
{
    signalEvent(wakeFd_);
}

void ControlServer::run()
{
    while (!stopping_) {
        std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
        int timeout = -1;
        const auto now = Clock::now();
        for (const Client &client : clients_) {
            fds.push_back({client.fd, static_cast<short>(client.eof ? 0 : POLLIN), 0});
            if (client.waitUntil) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(*client.waitUntil - now).count();
                const int ms = static_cast<int>(std::max<long long>(0, left));
                timeout = timeout < 0 ? ms : std::min(timeout, ms);
            }
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
        if (fds[0].revents) clearEvent(wakeFd_);
        // Clients first: fds[2 + i] belongs to clients_[i] until acceptClients() appends.
        for (size_t i = clients_.size(); i-- > 0;) {
            bool keep = true;
            // After the client's end of input, an event means it is gone altogether.
            if (fds[2 + i].revents) keep = !clients_[i].eof && readClient(clients_[i]);
            if (keep) keep = serveClient(clients_[i]);
            if (keep && clients_[i].eof && !clients_[i].waitUntil) keep = false;
            if (!keep) {
                ::close(clients_[i].fd);
                clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (fds[1].revents) acceptClients();
    }
}

void ControlServer::acceptClients()
{
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        // The file mode keeps other users out; the peer check also covers the moment
        // between bind and chmod.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (clients_.size() >= MaxClients ||
            ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
            peer.uid != ::geteuid()) {
            ::close(fd);
            continue;
        }
        Client client;
        client.fd = fd;
        clients_.push_back(std::move(client));
    }
}

bool ControlServer::readClient(Client &client)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            client.input.append(buffer, static_cast<size_t>(n));
            if (client.input.size() > 2 * MaxControlLine)
                break; // serveClient refuses the over-long line
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
            client.eof = true; // a client may shut down its side before it reads the reply
            return true;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

bool ControlServer::serveClient(Client &client)
{
    for (;;) {
        if (client.waitUntil) {
            std::string reply;
            if (exchange_.listening())
                reply = "ok listening";
            else if (Clock::now() >= *client.waitUntil)
                reply = "error the exchange is not listening";
            else
                return true;
            client.waitUntil.reset();
            if (!sendReply(client, reply)) return false;
        }
        const size_t end = client.input.find('\n');
        if (end == std::string::npos && client.input.size() <= MaxControlLine) return true;
        if (end == std::string::npos || end > MaxControlLine) {
            sendReply(client, "error request line longer than " + std::to_string(MaxControlLine) +
                                  " bytes");
            return false;
        }
        const std::string line = client.input.substr(0, end);
        client.input.erase(0, end + 1);
        const ControlReply reply = runControlCommand(exchange_, line);
        if (reply.waitListening) {
            client.waitUntil =
                Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(*reply.waitListening));
        } else if (!sendReply(client, reply.line)) {
            return false;
        }
    }
}

bool ControlServer::sendReply(Client &client, const std::string &line)
{
    const std::string data = line + '\n';
    // Replies are short; a client that does not read them is dropped.
    const ssize_t n = ::send(client.fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n == static_cast<ssize_t>(data.size());
}

} // namespace capisim
