#pragma once

#include <string>

// Client side of the simulator's control socket, for the capisim tool and for
// tests that drive the line. Plain C++, no Qt; safe to call from any thread.
namespace capisim {

// $CAPISIM_SOCKET, else $XDG_RUNTIME_DIR/capisim.sock, else /tmp/capisim-<uid>.sock.
std::string controlSocketPath();

// Sends one request line (e.g. "ring --from 0441123 --end-after 0.2") and reads
// the reply. Returns true for an "ok" reply. reply (may be null) receives the
// text after "ok " or "error ", or why the simulator could not be reached.
// timeoutMs bounds the whole exchange. connectWaitMs lets the socket appear
// first: the in-process simulator only serves while the program uses the line.
bool runCommand(const std::string &socketPath, const std::string &command, std::string *reply,
                int timeoutMs, int connectWaitMs = 0);

} // namespace capisim
