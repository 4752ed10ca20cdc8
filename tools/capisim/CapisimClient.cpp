#include "tools/capisim/CapisimClient.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace capisim {

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t MaxReply = 1 << 16;

int msLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

class Fd
{
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd)
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Connects to path; while the socket is missing or refuses and waitUntil is not
// reached, waits for its directory to change and tries again.
bool connectSocket(const std::string &path, Clock::time_point waitUntil, Fd *out,
                   std::string *error)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        *error = "control socket path is empty or too long: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    // The directory watch is set up only once a first try failed: closing an inotify
    // descriptor costs milliseconds, which every command would pay otherwise.
    Fd watch(-1);
    for (;;) {
        Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (fd.get() < 0) {
            *error = std::string("socket: ") + std::strerror(errno);
            return false;
        }
        if (::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) ==
            0) {
            out->reset(fd.release());
            return true;
        }
        const int reason = errno;
        if ((reason != ENOENT && reason != ECONNREFUSED) || Clock::now() >= waitUntil) {
            *error = "cannot reach the simulator at " + path + ": " + std::strerror(reason);
            return false;
        }
        if (watch.get() < 0) {
            watch.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
            if (watch.get() >= 0) {
                const size_t slash = path.rfind('/');
                const std::string dir =
                    slash == std::string::npos ? "." : path.substr(0, slash + 1);
                ::inotify_add_watch(watch.get(), dir.c_str(), IN_CREATE | IN_ATTRIB | IN_MOVED_TO);
            }
            continue; // the socket may have appeared meanwhile
        }
        // Directory events say when to try again; the cap covers a listen() that
        // comes after the last event.
        pollfd event{watch.get(), POLLIN, 0};
        ::poll(&event, watch.get() >= 0 ? 1 : 0, std::min(msLeft(waitUntil), 200));
        char drain[4096];
        while (watch.get() >= 0 && ::read(watch.get(), drain, sizeof drain) > 0) {
        }
    }
}

} // namespace

std::string controlSocketPath()
{
    if (const char *path = std::getenv("CAPISIM_SOCKET"); path && *path) return path;
    if (const char *dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir)
        return std::string(dir) + "/capisim.sock";
    return "/tmp/capisim-" + std::to_string(::geteuid()) + ".sock";
}

bool runCommand(const std::string &socketPath, const std::string &command, std::string *reply,
                int timeoutMs, int connectWaitMs)
{
    std::string ignored;
    std::string &text = reply ? *reply : ignored;
    text.clear();
    if (command.find('\n') != std::string::npos) {
        text = "a request is one line";
        return false;
    }
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(std::max(0, timeoutMs));
    Fd fd;
    if (!connectSocket(socketPath, start + std::chrono::milliseconds(std::max(0, connectWaitMs)),
                       &fd, &text))
        return false;
    // In a shared directory such as /tmp, someone else might own the socket.
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
        peer.uid != ::geteuid()) {
        text = socketPath + " belongs to another user";
        return false;
    }
    const std::string request = command + '\n';
    if (::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
        text = std::string("cannot send the request: ") + std::strerror(errno);
        return false;
    }
    std::string received;
    for (;;) {
        const size_t end = received.find('\n');
        if (end != std::string::npos) {
            received.resize(end);
            break;
        }
        pollfd ready{fd.get(), POLLIN, 0};
        const int n = ::poll(&ready, 1, msLeft(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
            text = "no reply from the simulator in time";
            return false;
        }
        char buffer[4096];
        const ssize_t got = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || received.size() > MaxReply) {
            text = "the simulator closed the connection without a reply";
            return false;
        }
        received.append(buffer, static_cast<size_t>(got));
    }
    if (received == "ok" || received.rfind("ok ", 0) == 0) {
        text = received.size() > 3 ? received.substr(3) : "";
        return true;
    }
    text = received.rfind("error ", 0) == 0 ? received.substr(6) : received;
    return false;
}

} // namespace capisim
