#pragma once

// Helpers for tests that drive the exchange core directly: an application that
// records what it is sent, and the exchange's two entry points for tests.

#include "tools/capisim/ControlCommands.h"
#include "tools/capisim/Exchange.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace capitest {

// Records what the exchange delivers; the timer thread delivers too.
class RecordingClient : public capisim::ExchangeClient
{
public:
    void deliver(const capisim::Bytes &message) override
    {
        std::lock_guard lock(mutex_);
        messages_.emplace_back(reinterpret_cast<const char *>(message.data()),
                               qsizetype(message.size()));
        arrived_.notify_all();
    }
    void lineLost() override
    {
        std::lock_guard lock(mutex_);
        lost_ = true;
    }
    QByteArray take(int timeoutMs = 2000)
    {
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return !messages_.empty(); }))
            return {};
        QByteArray message = messages_.front();
        messages_.pop_front();
        return message;
    }
    int pending()
    {
        std::lock_guard lock(mutex_);
        return int(messages_.size());
    }
    bool lost()
    {
        std::lock_guard lock(mutex_);
        return lost_;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<QByteArray> messages_;
    bool lost_ = false;
};

// Hands the exchange exactly the message's bytes, so a read past them trips ASan.
inline unsigned put(capisim::Exchange &exchange, unsigned appl, const QByteArray &msg)
{
    const std::vector<uint8_t> exact(msg.begin(), msg.end());
    return exchange.receive(appl, exact.data(), exact.size());
}

inline QString command(capisim::Exchange &exchange, const QString &line)
{
    return QString::fromStdString(capisim::runControlCommand(exchange, line.toStdString()).line);
}

} // namespace capitest
