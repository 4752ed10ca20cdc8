#include "tools/capisim/MessageLog.h"

#include "tools/capisim/CapiMessage.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace capisim {

MessageLog::~MessageLog()
{
    if (fd_ >= 0) ::close(fd_);
}

bool MessageLog::open(const std::string &path, std::string *error)
{
    if (path.empty()) return true;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = "cannot open log " + path + ": " + std::strerror(errno);
        return false;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    const char *times = std::getenv("CAPISIM_LOG_TIMES");
    times_ = times && *times && std::strcmp(times, "0") != 0;
    return true;
}

void MessageLog::note(const std::string &text)
{
    writeLine("# " + text);
}

void MessageLog::writeMessage(const char *prefix, const uint8_t *message, size_t size)
{
    if (fd_ < 0) return;
    std::string line = prefix + toHex(message, size);
    if (times_) {
        // Microseconds of the monotonic clock, which every process of the machine shares.
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        line += " @" +
                std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
    }
    writeLine(std::move(line));
}

void MessageLog::writeLine(std::string line)
{
    if (fd_ < 0) return;
    line += '\n';
    const char *p = line.data();
    size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return; // a full disk must not take the exchange down
        p += n;
        left -= static_cast<size_t>(n);
    }
}

} // namespace capisim
