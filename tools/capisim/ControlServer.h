#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace capisim {

class Exchange;

// Serves control requests (see ControlCommands) on a Unix stream socket that
// only the owning user may use. One thread polls the socket and its clients,
// so wait-listening never holds up other requests. Owned by a front end, which
// calls start() and stop() from one thread; the serving thread only touches
// the exchange through its thread-safe methods.
class ControlServer
{
public:
    ControlServer(Exchange &exchange, std::string path);
    ~ControlServer();
    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;

    // Binds the socket (replacing one left by a dead simulator) and starts serving.
    bool start(std::string *error);
    // Stops serving and removes the socket file if it is still ours.
    void stop();
    const std::string &path() const { return path_; }

private:
    using Clock = std::chrono::steady_clock;
    struct Client
    {
        int fd = -1;
        std::string input;
        bool eof = false;
        std::optional<Clock::time_point> waitUntil; // answering wait-listening
    };

    bool bindSocket(std::string *error);
    void run();
    void wake();
    void acceptClients();
    bool readClient(Client &client);
    bool serveClient(Client &client);
    bool sendReply(Client &client, const std::string &line);

    Exchange &exchange_;
    std::string path_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    dev_t socketDev_ = 0;
    ino_t socketIno_ = 0;
    int observerId_ = 0;
    std::atomic<bool> stopping_{false};
    std::vector<Client> clients_;
    std::thread thread_;
};

} // namespace capisim
