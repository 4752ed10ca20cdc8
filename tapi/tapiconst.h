// Names and values of the telephony interface the dialer speaks: line messages, call states
// and their modes, and the error codes of the line operations. The values are those of the
// Windows telephony API, so that logs and error texts read as they always did.
#pragma once

#include <QString>

#include <cstdint>

namespace tapi {

using HLineApp = uint32_t;
using HLine = uint32_t;
using HCall = uint32_t;

// Line messages.
constexpr uint32_t LINE_CALLSTATE = 2; // param1 the new state, param2 its mode
constexpr uint32_t LINE_REPLY = 12;    // param1 the request id, param2 its result

// Call states: one bit each.
constexpr uint32_t LINECALLSTATE_IDLE = 0x0001;
constexpr uint32_t LINECALLSTATE_OFFERING = 0x0002;
constexpr uint32_t LINECALLSTATE_ACCEPTED = 0x0004;
constexpr uint32_t LINECALLSTATE_DIALTONE = 0x0008;
constexpr uint32_t LINECALLSTATE_DIALING = 0x0010;
constexpr uint32_t LINECALLSTATE_RINGBACK = 0x0020;
constexpr uint32_t LINECALLSTATE_BUSY = 0x0040;
constexpr uint32_t LINECALLSTATE_SPECIALINFO = 0x0080;
constexpr uint32_t LINECALLSTATE_CONNECTED = 0x0100;
constexpr uint32_t LINECALLSTATE_PROCEEDING = 0x0200;
constexpr uint32_t LINECALLSTATE_ONHOLD = 0x0400;
constexpr uint32_t LINECALLSTATE_CONFERENCED = 0x0800;
constexpr uint32_t LINECALLSTATE_ONHOLDPENDCONF = 0x1000;
constexpr uint32_t LINECALLSTATE_ONHOLDPENDTRANSFER = 0x2000;
constexpr uint32_t LINECALLSTATE_DISCONNECTED = 0x4000;
constexpr uint32_t LINECALLSTATE_UNKNOWN = 0x8000;

// Modes of the busy, connected and disconnected states.
constexpr uint32_t LINEBUSYMODE_STATION = 0x0001;
constexpr uint32_t LINECONNECTEDMODE_ACTIVE = 0x0001;
constexpr uint32_t LINEDISCONNECTMODE_NORMAL = 0x0001;
constexpr uint32_t LINEDISCONNECTMODE_NOANSWER = 0x0040;
constexpr uint32_t LINEDISCONNECTMODE_BADADDRESS = 0x0080;
constexpr uint32_t LINEDISCONNECTMODE_UNAVAIL = 0x0800;
constexpr uint32_t LINEDISCONNECTMODE_NODIALTONE = 0x1000;

constexpr uint32_t LINECALLPRIVILEGE_NONE = 0x0001;

// Error codes of the line operations (negative as 32-bit results).
constexpr int32_t LINEERR_ALLOCATED = int32_t(0x80000001);
constexpr int32_t LINEERR_BADDEVICEID = int32_t(0x80000002);
constexpr int32_t LINEERR_CALLUNAVAIL = int32_t(0x80000005);
constexpr int32_t LINEERR_INCOMPATIBLEAPIVERSION = int32_t(0x8000000C);
constexpr int32_t LINEERR_INVALADDRESS = int32_t(0x80000010);
constexpr int32_t LINEERR_INVALAPPHANDLE = int32_t(0x80000014);
constexpr int32_t LINEERR_INVALCALLHANDLE = int32_t(0x80000018);
constexpr int32_t LINEERR_INVALLINEHANDLE = int32_t(0x8000002B);
constexpr int32_t LINEERR_NODEVICE = int32_t(0x80000042);
constexpr int32_t LINEERR_NODRIVER = int32_t(0x80000043);
constexpr int32_t LINEERR_OPERATIONFAILED = int32_t(0x80000048);
constexpr int32_t LINEERR_RESOURCEUNAVAIL = int32_t(0x8000004B);

// API versions: the range this layer speaks, and the two the dialer asks for.
constexpr uint32_t LowestApiVersion = 0x00010004;
constexpr uint32_t HighestApiVersion = 0x00020002;

// The log name of a call state: "LINECALLSTATE_BUSY, 1" for the states that carry their mode
// (offering, dial tone, busy, special info, connected, disconnected), "LINECALLSTATE_DIALING"
// for the others, "unknown status" for a value that is no single known state.
QString CallStateLogName(uint32_t state, uint32_t mode);
// The bare constant name ("LINECALLSTATE_DIALING"), or empty for an unknown value.
QString CallStateName(uint32_t state);

} // namespace tapi
