// A reverse-lookup server for the tests, on 127.0.0.1 and a free port: it serves /rs.php?n=
// with a prepared answer per number, or misbehaves on purpose (never answers, sends 10 MB,
// redirects, closes in the middle of the body), and records every request it receives.
#pragma once

#include <httplib.h>

#include <QElapsedTimer>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing {

// A port on 127.0.0.1 where nothing listens, so a connection there is refused.
inline int ClosedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    // Bound, never listening: refused while it is held, and free for nobody else meanwhile.
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

class LookupServer
{
public:
    enum class Behaviour
    {
        Answer,         // the prepared body with status 200, after the prepared delay
        AnswerChunked,  // the prepared body in chunks, without a length
        Hang,           // never answers (until the server ends)
        HugeChunked,    // 10 MB in chunks, without a length
        HugeWithLength, // 10 MB announced by Content-Length
        Redirect,       // 302 to /elsewhere, which would answer
        CloseMidBody,   // announces 1000 bytes, sends 500 and closes
        NotFound,       // 404 with a body
    };

    struct Request
    {
        std::string target; // as sent, before any decoding
        std::string number; // the decoded parameter "n"
        std::string version;
        httplib::Headers headers;
        qint64 receivedMs = 0; // on the server's clock()
    };

    explicit LookupServer(httplib::Server *server = nullptr)
        : FOwned(server ? nullptr : new httplib::Server), FServer(server ? server : FOwned.get())
    {
        FClock.start();
        FServer->Get("/rs.php", [this](const httplib::Request &req, httplib::Response &res) {
            serve(req, res);
        });
        FServer->Get("/elsewhere", [this](const httplib::Request &, httplib::Response &res) {
            std::lock_guard lock(FMutex);
            ++FRedirectsFollowed;
            res.set_content("Followed\nthe redirect", "text/plain");
        });
        FPort = FServer->bind_to_any_port("127.0.0.1");
        FThread = std::thread([this] { FServer->listen_after_bind(); });
        // stop() does nothing before the server runs.
        for (int i = 0; i < 1000 && !FServer->is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    ~LookupServer()
    {
        {
            std::lock_guard lock(FMutex);
            FEnding = true;
        }
        FRelease.notify_all();
        FServer->stop();
        FThread.join();
    }

    int port() const { return FPort; }
    QString baseUrl(const char *scheme = "http") const
    {
        return QStringLiteral("%1://127.0.0.1:%2/").arg(QLatin1String(scheme)).arg(FPort);
    }
    qint64 clock() const { return FClock.elapsed(); }
    const QElapsedTimer &clockTimer() const { return FClock; }

    void answer(const std::string &number, const std::string &body, int delayMs = 0)
    {
        std::lock_guard lock(FMutex);
        FAnswers[number] = {Behaviour::Answer, body, delayMs};
    }
    void answerChunked(const std::string &number, const std::string &body)
    {
        std::lock_guard lock(FMutex);
        FAnswers[number] = {Behaviour::AnswerChunked, body, 0};
    }
    void behave(const std::string &number, Behaviour behaviour)
    {
        std::lock_guard lock(FMutex);
        FAnswers[number] = {behaviour, {}, 0};
    }
    // The answer for every number without one of its own ("%n" stands for the number).
    void answerAll(const std::string &body, int delayMs = 0)
    {
        std::lock_guard lock(FMutex);
        FDefault = {Behaviour::Answer, body, delayMs};
    }

    std::vector<Request> requests() const
    {
        std::lock_guard lock(FMutex);
        return FRequests;
    }
    // Each answer given: the number and the moment its body was handed over for sending.
    std::vector<std::pair<std::string, qint64>> answered() const
    {
        std::lock_guard lock(FMutex);
        return FAnswered;
    }
    int redirectsFollowed() const
    {
        std::lock_guard lock(FMutex);
        return FRedirectsFollowed;
    }
    // Requests still being answered (a hang, a delay, a body being sent).
    int busy() const
    {
        std::lock_guard lock(FMutex);
        return FBusy;
    }
    // Answers that ended because the client went away while they were sent.
    int clientsGone() const
    {
        std::lock_guard lock(FMutex);
        return FClientsGone;
    }

private:
    struct Answer
    {
        Behaviour behaviour = Behaviour::NotFound;
        std::string body;
        int delayMs = 0;
    };

    void serve(const httplib::Request &req, httplib::Response &res)
    {
        Answer answer;
        const std::string number = req.get_param_value("n");
        {
            std::lock_guard lock(FMutex);
            FRequests.push_back({req.target, number, req.version, req.headers, FClock.elapsed()});
            auto it = FAnswers.find(number);
            if (it != FAnswers.end()) {
                answer = it->second;
            } else {
                answer = FDefault;
                for (size_t at; (at = answer.body.find("%n")) != std::string::npos;)
                    answer.body.replace(at, 2, number);
            }
            ++FBusy;
        }
        struct Done
        {
            LookupServer *server;
            ~Done()
            {
                std::lock_guard lock(server->FMutex);
                --server->FBusy;
            }
        } done{this};

        switch (answer.behaviour) {
        case Behaviour::Answer:
            if (answer.delayMs > 0) waitUntilEnding(std::chrono::milliseconds(answer.delayMs));
            res.set_content(answer.body, "text/plain");
            {
                std::lock_guard lock(FMutex);
                FAnswered.push_back({number, FClock.elapsed()});
            }
            return;
        case Behaviour::AnswerChunked:
            res.set_chunked_content_provider(
                "text/plain", [body = answer.body](size_t offset, httplib::DataSink &sink) {
                    const size_t chunk = std::min<size_t>(body.size() - offset, 4096);
                    if (chunk) sink.write(body.data() + offset, chunk);
                    if (offset + chunk == body.size()) sink.done();
                    return true;
                });
            return;
        case Behaviour::Hang:
            waitUntilEnding(std::chrono::seconds(60));
            res.status = 503;
            return;
        case Behaviour::HugeChunked:
            res.set_chunked_content_provider("text/plain",
                                             [this](size_t offset, httplib::DataSink &sink) {
                                                 return sendHugeChunk(offset, sink, true);
                                             });
            return;
        case Behaviour::HugeWithLength:
            res.set_content_provider(HugeBytes, "text/plain",
                                     [this](size_t offset, size_t, httplib::DataSink &sink) {
                                         return sendHugeChunk(offset, sink, false);
                                     });
            return;
        case Behaviour::Redirect:
            res.set_redirect("/elsewhere");
            return;
        case Behaviour::CloseMidBody:
            res.set_content_provider(1000, "text/plain",
                                     [](size_t offset, size_t, httplib::DataSink &sink) {
                                         if (offset > 0) return false; // closes the connection
                                         const std::string half(500, 'x');
                                         sink.write(half.data(), half.size());
                                         return true;
                                     });
            return;
        case Behaviour::NotFound:
            res.status = 404;
            res.set_content("ERROR: no such page", "text/plain");
            return;
        }
    }

    bool sendHugeChunk(size_t offset, httplib::DataSink &sink, bool chunked)
    {
        if (offset >= HugeBytes) {
            if (chunked) sink.done();
            return true;
        }
        const std::string chunk(64 * 1024, 'A');
        if (!sink.write(chunk.data(), chunk.size())) {
            std::lock_guard lock(FMutex);
            ++FClientsGone;
            return false;
        }
        return true;
    }

    template <typename Duration> void waitUntilEnding(Duration duration)
    {
        std::unique_lock lock(FMutex);
        FRelease.wait_for(lock, duration, [this] { return FEnding; });
    }

    static constexpr size_t HugeBytes = 10 * 1024 * 1024;

    std::unique_ptr<httplib::Server> FOwned;
    httplib::Server *FServer;
    int FPort = -1;
    std::thread FThread;
    QElapsedTimer FClock;
    mutable std::mutex FMutex;
    std::condition_variable FRelease;
    bool FEnding = false;
    std::map<std::string, Answer> FAnswers;
    Answer FDefault;
    std::vector<std::pair<std::string, qint64>> FAnswered;
    std::vector<Request> FRequests;
    int FRedirectsFollowed = 0;
    int FBusy = 0;
    int FClientsGone = 0;
};

} // namespace testing
