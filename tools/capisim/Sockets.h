#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <sys/socket.h>

// Socket helpers of the simulator's servers.
namespace capisim {

// A non-blocking socket listening on 127.0.0.1:port, which a restarted server
// takes back at once; -1 with error set.
int listenOnLoopback(uint16_t port, std::string *error);

// Sends what the socket takes now and drops it from output (a std::string or
// Bytes). False once the connection failed.
template <typename Buffer> bool sendQueued(int fd, Buffer &output)
{
    while (!output.empty()) {
        const ssize_t n = ::send(fd, output.data(), output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        output.erase(output.begin(), output.begin() + n);
    }
    return true;
}

// An eventfd that wakes a poll loop: any thread signals it, the loop clears it.
void signalEvent(int fd);
void clearEvent(int fd);

} // namespace capisim
