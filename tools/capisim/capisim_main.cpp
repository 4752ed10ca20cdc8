// capisim: drives the line simulator through its control socket, or serves
// libcapi20's rcapi protocol and a home router's call monitor over TCP
// ("capisim serve --rcapi-port PORT --router-port PORT").

#include "tools/capisim/CapisimClient.h"
#include "tools/capisim/ControlLine.h"
#include "tools/capisim/ControlServer.h"
#include "tools/capisim/Exchange.h"
#include "tools/capisim/RcapiServer.h"
#include "tools/capisim/RouterServer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

using namespace capisim;

namespace {

constexpr int ReplyTimeoutMs = 5000;

const char *const Usage =
    "usage: capisim [--socket PATH] [--wait SECONDS] COMMAND [OPTIONS]\n"
    "       capisim serve [--rcapi-port PORT] [--router-port PORT] [--socket PATH]\n"
    "commands:\n"
    "  ring [--from DIGITS] [--type T] [--presentation P] [--to DIGITS] [--called-type T]\n"
    "       [--cip C] [--end-after SECONDS] [--reason R] [--reject-reason R]\n"
    "       [--answer-after SECONDS] [--extension N] [--blocked] [--router-caller TEXT]\n"
    "  burst --count N [ring options]\n"
    "  call --from OWN --to NUMBER [--end-after SECONDS] [--answer-after SECONDS]\n"
    "       [--extension N]\n"
    "  hangup [--plci P | --id N] [--reason R]\n"
    "  fault none | not-installed | lose-line | register-error CODE | listen-info CODE\n"
    "  router close | refuse SECONDS | send TEXT | garbage BYTES\n"
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

// Blocks until stopFd is readable.
void waitFor(int stopFd)
{
    pollfd fd{stopFd, POLLIN, 0};
    while (::poll(&fd, 1, -1) < 0 && errno == EINTR) {
    }
}

int serve(const std::vector<std::string> &words, const std::string &socketPath)
{
    const char *const usage =
        "usage: capisim serve [--rcapi-port PORT] [--router-port PORT] [--socket PATH]";
    OptionSet options;
    std::string error;
    if (!options.parse(words, 1, {"rcapi-port", "router-port"}, &error)) return fail(error);
    if (!options.positional().empty() ||
        (!options.has("rcapi-port") && !options.has("router-port")))
        return fail(usage);
    std::optional<uint64_t> rcapiPort;
    if (options.has("rcapi-port")) {
        rcapiPort = parseNumber(options.value("rcapi-port"), 32767);
        if (!rcapiPort || *rcapiPort == 0)
            return fail("the rcapi port must be from 1 to 32767 (libcapi20 keeps it in a short)");
    }
    std::optional<uint64_t> routerPort;
    if (options.has("router-port")) {
        routerPort = parseNumber(options.value("router-port"), 65535);
        if (!routerPort || *routerPort == 0) return fail("the router port must be from 1 to 65535");
    }

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
    std::unique_ptr<RcapiServer> rcapi;
    std::string served;
    if (rcapiPort) {
        rcapi = std::make_unique<RcapiServer>(exchange);
        if (!rcapi->listen(static_cast<uint16_t>(*rcapiPort), &error)) return fail(error);
        served += "rcapi on 127.0.0.1:" + std::to_string(*rcapiPort) + ", ";
    }
    // The program on the router monitor loads no CAPI library: rings need no listener.
    RouterServer router(exchange);
    if (routerPort) {
        if (!router.start(static_cast<uint16_t>(*routerPort), &error)) return fail(error);
        served += "router monitor on 127.0.0.1:" + std::to_string(*routerPort) + ", ";
    }
    std::printf("capisim: %scontrol socket %s\n", served.c_str(), socketPath.c_str());
    std::fflush(stdout);
    if (rcapi)
        rcapi->run(stopFd);
    else
        waitFor(stopFd);
    control.stop();
    router.stop();
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
