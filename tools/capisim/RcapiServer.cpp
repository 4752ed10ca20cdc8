#include "tools/capisim/RcapiServer.h"

#include "tools/capisim/Sockets.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace capisim {

namespace {

// libcapi20 copies a received frame into a 4096-byte stack buffer.
constexpr size_t MaxFrame = 4096;
// Remote command replies land in a 100-byte buffer and must be longer than 8 bytes.
constexpr size_t MaxReplyBody = 100;
// A client that stops reading is dropped rather than growing its queue for ever.
constexpr size_t MaxQueuedOutput = 1 << 20;

constexpr uint8_t Register = 0xF2;
constexpr uint8_t GetProfile = 0xE0;
constexpr uint8_t GetManufacturer = 0xFA;
constexpr uint8_t GetVersion = 0xFC;
constexpr uint8_t GetSerialNumber = 0xFE;

void appendLe16(Bytes &bytes, uint16_t value)
{
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void appendLe32(Bytes &bytes, uint32_t value)
{
    appendLe16(bytes, static_cast<uint16_t>(value));
    appendLe16(bytes, static_cast<uint16_t>(value >> 16));
}

Bytes frame(const uint8_t *body, size_t size)
{
    Bytes bytes;
    bytes.reserve(size + 2);
    bytes.push_back(static_cast<uint8_t>((size + 2) >> 8));
    bytes.push_back(static_cast<uint8_t>(size + 2));
    bytes.insert(bytes.end(), body, body + size);
    return bytes;
}

// The 64-byte profile of controller 1: one controller, two B channels,
// HDLC and transparent on B1 and B2, transparent on B3.
Bytes profile()
{
    Bytes bytes;
    appendLe16(bytes, 1);
    appendLe16(bytes, 2);
    appendLe32(bytes, 0x1);
    appendLe32(bytes, 0x3);
    appendLe32(bytes, 0x3);
    appendLe32(bytes, 0x1);
    bytes.resize(64, 0);
    return bytes;
}

} // namespace

struct RcapiServer::Connection final : ExchangeClient
{
    enum class Role
    {
        New,
        Control,
        Application,
        Refused
    };

    Connection(RcapiServer &server, int fd, unsigned id) : server(server), fd(fd), id(id) {}

    void deliver(const Bytes &message) override
    {
        std::lock_guard lock(mutex);
        if (closing) return;
        server.exchange_.log().sent(message.data(), message.size());
        const Bytes bytes = frame(message.data(), message.size());
        output.insert(output.end(), bytes.begin(), bytes.end());
        if (output.size() > MaxQueuedOutput) closing = true;
        server.wake();
    }

    void lineLost() override
    {
        std::lock_guard lock(mutex);
        closing = true;
        server.wake();
    }

    void queue(const Bytes &bytes)
    {
        std::lock_guard lock(mutex);
        output.insert(output.end(), bytes.begin(), bytes.end());
    }

    RcapiServer &server;
    const int fd;
    const unsigned id;
    // Used by the polling thread only.
    Role role = Role::New;
    unsigned applId = 0;
    bool attached = false;
    Bytes input;
    // Shared with the exchange's threads.
    std::mutex mutex;
    Bytes output;
    bool closing = false;
};

RcapiServer::RcapiServer(Exchange &exchange) : exchange_(exchange)
{
    exchange_.requireFaultAcknowledgement();
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    observerId_ = exchange_.addObserver([this] { wake(); });
}

RcapiServer::~RcapiServer()
{
    exchange_.removeObserver(observerId_);
    closeAll();
    closeListener();
    ::close(wakeFd_);
}

bool RcapiServer::listen(uint16_t port, std::string *error)
{
    if (port == 0 || port > 32767) {
        *error = "the rcapi port must be from 1 to 32767 (libcapi20 keeps it in a short)";
        return false;
    }
    port_ = port;
    if (!openListener(error)) return false;
    applyFaults(); // a line that starts "not installed" refuses from the first connect on
    return true;
}

void RcapiServer::run(int stopFd)
{
    for (;;) {
        applyFaults();
        for (size_t i = connections_.size(); i-- > 0;) {
            bool closing;
            {
                std::lock_guard lock(connections_[i]->mutex);
                closing = connections_[i]->closing;
            }
            if (closing || !flush(*connections_[i])) closeConnection(i);
        }
        std::vector<pollfd> fds{{stopFd, POLLIN, 0}, {wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
        for (const auto &connection : connections_) {
            std::lock_guard lock(connection->mutex);
            const short events = connection->output.empty() ? POLLIN : POLLIN | POLLOUT;
            fds.push_back({connection->fd, events, 0});
        }
        // A listener that could not be reopened is retried every second.
        const bool retryListen = listenFd_ < 0 && exchange_.faults().installed();
        if (::poll(fds.data(), fds.size(), retryListen ? 1000 : -1) < 0 && errno != EINTR) break;
        if (fds[0].revents) break;
        if (fds[1].revents) clearEvent(wakeFd_);
        for (size_t i = connections_.size(); i-- > 0;) {
            const short revents = fds[3 + i].revents;
            bool keep = true;
            if (revents & (POLLIN | POLLHUP | POLLERR)) keep = readFrames(*connections_[i]);
            if (keep && (revents & POLLOUT)) keep = flush(*connections_[i]);
            if (!keep) closeConnection(i);
        }
        if (fds[2].revents && listenFd_ >= 0) acceptConnections();
    }
    closeAll();
    closeListener();
}

void RcapiServer::applyFaults()
{
    uint64_t generation = 0;
    const Faults faults = exchange_.faults(&generation);
    if (faults.lineLost) closeAll();
    if (!faults.installed()) {
        closeListener(); // connect() fails, so libcapi20 reports "not installed"
    } else if (listenFd_ < 0) {
        std::string error;
        if (!openListener(&error) && error != lastListenError_)
            std::fprintf(stderr, "capisim: %s\n", error.c_str());
        lastListenError_ = error;
    }
    exchange_.acknowledgeFaults(generation);
}

bool RcapiServer::openListener(std::string *error)
{
    listenFd_ = listenOnLoopback(port_, error);
    return listenFd_ >= 0;
}

void RcapiServer::closeListener()
{
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
}

void RcapiServer::acceptConnections()
{
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        connections_.push_back(std::make_unique<Connection>(*this, fd, nextConnectionId_++));
    }
}

bool RcapiServer::readFrames(Connection &connection)
{
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) {
            if (!connection.input.empty())
                exchange_.log().note("connection " + std::to_string(connection.id) +
                                     " closed in the middle of a frame");
            return false;
        }
        connection.input.insert(connection.input.end(), buffer, buffer + n);
        size_t used = 0;
        while (connection.input.size() - used >= 2) {
            const uint8_t *start = connection.input.data() + used;
            const size_t length = static_cast<size_t>(start[0] << 8 | start[1]);
            if (length < 2 || length > MaxFrame) {
                exchange_.log().note("connection " + std::to_string(connection.id) +
                                     ": frame length " + std::to_string(length) +
                                     " out of range, closing");
                return false;
            }
            if (connection.input.size() - used < length) break;
            if (!handleFrame(connection, start + 2, length - 2)) return false;
            used += length;
        }
        connection.input.erase(connection.input.begin(),
                               connection.input.begin() + static_cast<std::ptrdiff_t>(used));
    }
}

bool RcapiServer::handleFrame(Connection &connection, const uint8_t *body, size_t size)
{
    if (size < HeaderSize) {
        exchange_.log().note("connection " + std::to_string(connection.id) + ": ignored frame of " +
                             std::to_string(size) + " bytes: " + toHex(body, size));
        return true;
    }
    // CAPI subcommands are 0x80 to 0x83; remote commands carry 0xFF there.
    if (body[5] == 0xFF) return handleRemoteCommand(connection, body, size);
    return handleMessage(connection, body, size);
}

bool RcapiServer::handleRemoteCommand(Connection &connection, const uint8_t *body, size_t size)
{
    const uint8_t command = body[4];
    const MessageReader request(body, size);
    const uint32_t controller = request.u32(8).value_or(0);
    Bytes payload;
    switch (command) {
    case Register: {
        if (connection.role != Connection::Role::New) {
            exchange_.log().note("connection " + std::to_string(connection.id) +
                                 ": REGISTER on a connection in use, closing");
            return false;
        }
        const Faults faults = exchange_.faults();
        // libcapi20 turns any Info other than 0 into 0x1008.
        const uint16_t info = !faults.installed() ? code::RegNotInstalled : faults.registerError;
        connection.role = info ? Connection::Role::Refused : Connection::Role::Application;
        appendLe16(payload, info);
        break;
    }
    case GetProfile:
        if (controller == 0) {
            appendLe16(payload, 0);
            appendLe16(payload, 1); // number of controllers
        } else {
            appendLe16(payload, (controller & 0x7F) == 1 ? 0 : code::IllegalIdentifier);
            const Bytes bytes = profile();
            payload.insert(payload.end(), bytes.begin(), bytes.end());
        }
        break;
    case GetManufacturer: {
        payload.push_back(0);
        const std::string name = "capisim line simulator";
        payload.insert(payload.end(), name.begin(), name.end());
        payload.resize(1 + 64, 0);
        break;
    }
    case GetVersion:
        payload.push_back(0);
        appendLe32(payload, 2); // CAPI 2.0
        appendLe32(payload, 0);
        appendLe32(payload, 1); // simulator 1.0
        appendLe32(payload, 0);
        break;
    case GetSerialNumber: {
        payload.push_back(0);
        const std::string serial = "0000001";
        payload.insert(payload.end(), serial.begin(), serial.end());
        payload.resize(1 + 8, 0);
        break;
    }
    default:
        exchange_.log().note("connection " + std::to_string(connection.id) +
                             ": unknown remote command " + toHex(body, 6));
        appendLe16(payload, code::IllegalCommand); // an answer, so the caller does not block
        break;
    }
    if (connection.role == Connection::Role::New) connection.role = Connection::Role::Control;
    Bytes reply;
    appendLe16(reply, static_cast<uint16_t>(HeaderSize + payload.size()));
    appendLe16(reply, 0);
    reply.push_back(static_cast<uint8_t>(command + 1));
    reply.push_back(0xFF);
    appendLe16(reply, 0);
    reply.insert(reply.end(), payload.begin(), payload.end());
    static_assert(HeaderSize + 2 + 64 <= MaxReplyBody);
    // Sent at once so that each reply leaves in one send().
    connection.queue(frame(reply.data(), reply.size()));
    return flush(connection);
}

bool RcapiServer::handleMessage(Connection &connection, const uint8_t *body, size_t size)
{
    if (connection.role != Connection::Role::Application) {
        exchange_.log().note("connection " + std::to_string(connection.id) +
                             ": CAPI message without a successful REGISTER, closing");
        return false;
    }
    if (!connection.attached) {
        // libcapi20 chooses the ApplID; the server learns it from the first message.
        const unsigned applId = readLe16(body + 2);
        if (!exchange_.attach(applId, &connection)) {
            exchange_.log().note("connection " + std::to_string(connection.id) + ": appl " +
                                 std::to_string(applId) + " is invalid or taken, closing");
            return false;
        }
        connection.applId = applId;
        connection.attached = true;
    }
    exchange_.receive(connection.applId, body, size);
    return true;
}

bool RcapiServer::flush(Connection &connection)
{
    std::lock_guard lock(connection.mutex);
    return sendQueued(connection.fd, connection.output);
}

void RcapiServer::closeConnection(size_t index)
{
    Connection &connection = *connections_[index];
    // After detach the exchange no longer delivers to this connection.
    if (connection.attached) exchange_.detach(connection.applId);
    ::close(connection.fd);
    connections_.erase(connections_.begin() + static_cast<std::ptrdiff_t>(index));
}

void RcapiServer::closeAll()
{
    // Application connections first, then the control connections.
    for (size_t i = connections_.size(); i-- > 0;) {
        if (connections_[i]->role == Connection::Role::Application) closeConnection(i);
    }
    while (!connections_.empty())
        closeConnection(connections_.size() - 1);
}

void RcapiServer::wake()
{
    signalEvent(wakeFd_);
}

} // namespace capisim
