#pragma once

#include <QString>

// The router's call monitor listens on this port unless the setting names another.
constexpr quint16 RouterMonitorDefaultPort = 1012;

// What is wrong with a router address, so that each window can say it in its language.
enum class RouterAddressProblem
{
    None,
    Empty,   // nothing but blanks: no router, the ISDN line through CAPI
    BadHost, // neither a host name nor an IPv4 address
    BadIpv6, // no IPv6 address in the brackets, or more than ":port" after them
    BadPort, // not a number from 1 to 65535
};

struct RouterAddress
{
    QString host; // a host name, an IPv4 address, or an IPv6 address without brackets
    quint16 port = 0;
    RouterAddressProblem problem = RouterAddressProblem::None;

    bool isValid() const { return problem == RouterAddressProblem::None; }
};

// The setting "RouterMonitorHost": "host", "host:port", "[v6addr]", "[v6addr]:port" or a bare
// IPv6 address (which takes no port: its colons are its own). Blanks around the text are
// ignored. A host name is made of letters, digits, '-' and '.' (labels of at most 63
// characters, none beginning or ending with '-'); a name whose last label is all digits must
// be a full dotted IPv4 address, so that "192.168.178" is not taken for another host by the
// resolver's short forms. Without a port the port is RouterMonitorDefaultPort.
RouterAddress ParseRouterAddress(const QString &text);
