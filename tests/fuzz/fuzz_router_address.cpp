// The router monitor's address on any text. An address that is taken has a host without blanks
// or separators and a port from 1 to 65535, and written back as "host:port" (in brackets for
// IPv6) it reads as the same host and port.

#include "settings/RouterAddress.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const RouterAddress address = ParseRouterAddress(text);
    if (!address.isValid()) {
        if (!address.host.isEmpty()) __builtin_trap();
        return 0;
    }
    if (address.host.isEmpty() || address.port == 0) __builtin_trap();
    for (QChar c : address.host) {
        if (c.isSpace() || c == u';' || c == u'/' || c == u'[' || c == u']') __builtin_trap();
    }
    const QString host = address.host.contains(u':') ? u'[' + address.host + u']' : address.host;
    const RouterAddress again = ParseRouterAddress(host + u':' + QString::number(address.port));
    if (!again.isValid() || again.host != address.host || again.port != address.port)
        __builtin_trap();
    return 0;
}
