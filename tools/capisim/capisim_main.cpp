// capisim: drives the line simulator through its control socket, or serves
// libcapi20's rcapi protocol over TCP ("capisim serve --rcapi-port PORT").

#include "tools/capisim/CapisimClient.h"
#include "tools/capisim/ControlLine.h"
#include "tools/capisim/ControlServer.h"
#include "tools/capisim/Exchange.h"
#include "tools/capisim/RcapiServer.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

using namespace capisim;

namespace {

constexpr int ReplyTimeoutMs = 5000;

const char *const Usage =
    "usage: capisim [--socket PATH] [--wait SECONDS] COMMAND [OPTIONS]\n"
    "       capisim serve --rcapi-port PORT [--socket PATH]\n"
    "commands:\n"
    "  ring [--from DIGITS] [--type T] [--presentation P] [--to DIGITS] [--called-type T]\n"
    "       [--cip C] [--end-after SECONDS] [--reason R] [--reject-reason R]\n"
    "  burst --count N [ring options]\n"
    "  hangup [--plci P] [--reason R]\n"
    "  fault none | not-installed | lose-line | register-error CODE | listen-info CODE\n"
    "  send-hex [--appl N] HEX...\n"
    "  status\n"
    "  wait-listening [--timeout SECONDS]\n"
    "--wait waits that long for the simulator's control socket to appear.\n"
    "The socket is $CAPISIM_SOCKET, else $XDG_RUNTIME_DIR/capisim.sock,\n"
    "else /tmp/capisim-<uid>.sock.\n";

int fail(const std::string &message)
{
    std::fprintf(stderr, "capisim: %s\n", message.c_str());
    return 1;
}

int serve(const std::vector<std::string> &words, const std::string &socketPath)
{
    OptionSet options;
    std::string error;
    if (!options.parse(words, 1, {"rcapi-port"}, &error)) return fail(error);
    if (!options.positional().empty() || !options.has("rcapi-port"))
        return fail("usage: capisim serve --rcapi-port PORT [--socket PATH]");
    const auto port = parseNumber(options.value("rcapi-port"), 32767);
    if (!port || *port == 0)
        return fail("the rcapi port must be from 1 to 32767 (libcapi20 keeps it in a short)");

    // Signals arrive through a descriptor, and every thread started below inherits the mask.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int stopFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (stopFd < 0) return fail("signalfd failed");

    Exchange exchange;
    if (!exchange.configureFromEnvironment(&error)) return fail(error);
    ControlServer control(exchange, socketPath);
    if (!control.start(&error)) return fail(error);
    RcapiServer server(exchange);
    if (!server.listen(static_cast<uint16_t>(*port), &error)) return fail(error);
    std::printf("capisim: rcapi on 127.0.0.1:%u, control socket %s\n", static_cast<unsigned>(*port),
                socketPath.c_str());
    std::fflush(stdout);
    server.run(stopFd);
    control.stop();
    ::close(stopFd);
    return 0;
}

// The server answers wait-listening within its own --timeout; allow for that.
int replyTimeoutMs(const std::vector<std::string> &words)
{
    if (words.front() != "wait-listening") return ReplyTimeoutMs;
    double seconds = 10;
    for (size_t i = 1; i + 1 < words.size(); ++i) {
        if (words[i] == "--timeout") seconds = parseSeconds(words[i + 1], 3600).value_or(seconds);
    }
    return static_cast<int>(seconds * 1000) + ReplyTimeoutMs;
}

} // namespace

int main(int argc, char **argv)
{
    std::string socketPath = controlSocketPath();
    int connectWaitMs = 0;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // No command has options of these names, so they may stand anywhere.
        if (arg == "--socket" || arg == "--wait") {
            if (i + 1 >= argc) return fail(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--socket") {
                socketPath = value;
            } else {
                const auto seconds = parseSeconds(value, 3600);
                if (!seconds) return fail("--wait needs seconds from 0 to 3600");
                connectWaitMs = static_cast<int>(*seconds * 1000);
            }
            continue;
        }
        words.push_back(arg);
    }
    if (words.empty() || words.front() == "help" || words.front() == "--help" ||
        words.front() == "-h") {
        std::fputs(Usage, words.empty() ? stderr : stdout);
        return words.empty() ? 1 : 0;
    }
    if (words.front() == "serve") return serve(words, socketPath);
    std::string line;
    for (const std::string &word : words) {
        const auto quoted = quoteWord(word);
        if (!quoted) return fail("an argument holds a quote or a line break: " + word);
        line += (line.empty() ? "" : " ") + *quoted;
    }
    std::string reply;
    if (!runCommand(socketPath, line, &reply, replyTimeoutMs(words) + connectWaitMs, connectWaitMs))
        return fail(reply);
    if (!reply.empty()) std::printf("%s\n", reply.c_str());
    return 0;
}
