#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace capisim {

// Appends one line per CAPI message to the file named by CAPISIM_LOG:
// "> " program to exchange, "< " exchange to program, "# " notes about input
// the exchange refused. Each line is one write() on an O_APPEND descriptor, so
// readers see whole lines while the program runs and threads never mix lines. With
// CAPISIM_LOG_TIMES=1 each message line ends in " @" and the microseconds of the monotonic
// clock when it passed (for latency figures).
// Owned by the Exchange; any thread may call it.
class MessageLog
{
public:
    MessageLog() = default;
    ~MessageLog();
    MessageLog(const MessageLog &) = delete;
    MessageLog &operator=(const MessageLog &) = delete;

    // An empty path turns logging off.
    bool open(const std::string &path, std::string *error);

    void received(const uint8_t *message, size_t size) { writeMessage("> ", message, size); }
    void sent(const uint8_t *message, size_t size) { writeMessage("< ", message, size); }
    void note(const std::string &text);

private:
    void writeMessage(const char *prefix, const uint8_t *message, size_t size);
    void writeLine(std::string line);

    int fd_ = -1;
    bool times_ = false;
};

} // namespace capisim
