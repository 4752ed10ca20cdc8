#pragma once

#include "tools/capisim/Exchange.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace capisim {

// The remote side of libcapi20's rcapi module on 127.0.0.1: big-endian length
// framing, the remote commands (REGISTER, GET_PROFILE, GET_MANUFACTURER,
// GET_VERSION, GET_SERIAL_NUMBER) and CAPI messages on the connection of each
// registered application, whose ApplID comes with its first message.
// Owned by the serving program; run() polls every connection in the calling
// thread. The exchange may deliver from its other threads: a connection only
// queues the frame and wakes run().
class RcapiServer
{
public:
    explicit RcapiServer(Exchange &exchange);
    ~RcapiServer();
    RcapiServer(const RcapiServer &) = delete;
    RcapiServer &operator=(const RcapiServer &) = delete;

    // Takes the port (1 to 32767, the range libcapi20 can use).
    bool listen(uint16_t port, std::string *error);
    // Serves until stopFd is readable, then closes every connection.
    void run(int stopFd);

private:
    struct Connection;

    void applyFaults();
    bool openListener(std::string *error);
    void closeListener();
    void acceptConnections();
    bool readFrames(Connection &connection);
    bool handleFrame(Connection &connection, const uint8_t *body, size_t size);
    bool handleRemoteCommand(Connection &connection, const uint8_t *body, size_t size);
    bool handleMessage(Connection &connection, const uint8_t *body, size_t size);
    bool flush(Connection &connection);
    void closeConnection(size_t index);
    void closeAll();
    void wake();

    Exchange &exchange_;
    uint16_t port_ = 0;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    int observerId_ = 0;
    unsigned nextConnectionId_ = 1;
    std::string lastListenError_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

} // namespace capisim
