// Constants of the CAPI 2.0 message interface as this program uses them.
#pragma once

#include <cstdint>

namespace capi {

// Subcommands (CAPI 2.0, chapter 5).
constexpr uint8_t CAPI_REQ = 0x80;
constexpr uint8_t CAPI_CONF = 0x81;
constexpr uint8_t CAPI_IND = 0x82;
constexpr uint8_t CAPI_RESP = 0x83;

// Commands.
constexpr uint8_t CAPI_ALERT = 0x01;
constexpr uint8_t CAPI_CONNECT = 0x02;
constexpr uint8_t CAPI_CONNECT_ACTIVE = 0x03;
constexpr uint8_t CAPI_DISCONNECT = 0x04;
constexpr uint8_t CAPI_LISTEN = 0x05;
constexpr uint8_t CAPI_INFO = 0x08;
constexpr uint8_t CAPI_SELECT_B_PROTOCOL = 0x41;
constexpr uint8_t CAPI_FACILITY = 0x80;
constexpr uint8_t CAPI_CONNECT_B3 = 0x82;
constexpr uint8_t CAPI_CONNECT_B3_ACTIVE = 0x83;
constexpr uint8_t CAPI_DISCONNECT_B3 = 0x84;
constexpr uint8_t CAPI_DATA_B3 = 0x86;
constexpr uint8_t CAPI_RESET_B3 = 0x87;
constexpr uint8_t CAPI_CONNECT_B3_T90_ACTIVE = 0x88;

// Command words: command * 256 + subcommand.
constexpr uint16_t CommandWord(uint8_t command, uint8_t subcommand)
{
    return uint16_t(command << 8 | subcommand);
}

constexpr uint16_t ALERT_REQ = CommandWord(CAPI_ALERT, CAPI_REQ);
constexpr uint16_t ALERT_CONF = CommandWord(CAPI_ALERT, CAPI_CONF);
constexpr uint16_t CONNECT_CONF = CommandWord(CAPI_CONNECT, CAPI_CONF);
constexpr uint16_t CONNECT_IND = CommandWord(CAPI_CONNECT, CAPI_IND);
constexpr uint16_t CONNECT_RESP = CommandWord(CAPI_CONNECT, CAPI_RESP);
constexpr uint16_t CONNECT_ACTIVE_IND = CommandWord(CAPI_CONNECT_ACTIVE, CAPI_IND);
constexpr uint16_t CONNECT_ACTIVE_RESP = CommandWord(CAPI_CONNECT_ACTIVE, CAPI_RESP);
constexpr uint16_t DISCONNECT_REQ = CommandWord(CAPI_DISCONNECT, CAPI_REQ);
constexpr uint16_t DISCONNECT_CONF = CommandWord(CAPI_DISCONNECT, CAPI_CONF);
constexpr uint16_t DISCONNECT_IND = CommandWord(CAPI_DISCONNECT, CAPI_IND);
constexpr uint16_t DISCONNECT_RESP = CommandWord(CAPI_DISCONNECT, CAPI_RESP);
constexpr uint16_t LISTEN_REQ = CommandWord(CAPI_LISTEN, CAPI_REQ);
constexpr uint16_t LISTEN_CONF = CommandWord(CAPI_LISTEN, CAPI_CONF);
constexpr uint16_t INFO_CONF = CommandWord(CAPI_INFO, CAPI_CONF);
constexpr uint16_t INFO_IND = CommandWord(CAPI_INFO, CAPI_IND);
constexpr uint16_t INFO_RESP = CommandWord(CAPI_INFO, CAPI_RESP);
constexpr uint16_t SELECT_B_PROTOCOL_CONF = CommandWord(CAPI_SELECT_B_PROTOCOL, CAPI_CONF);
constexpr uint16_t FACILITY_CONF = CommandWord(CAPI_FACILITY, CAPI_CONF);
constexpr uint16_t FACILITY_IND = CommandWord(CAPI_FACILITY, CAPI_IND);
constexpr uint16_t FACILITY_RESP = CommandWord(CAPI_FACILITY, CAPI_RESP);
constexpr uint16_t CONNECT_B3_CONF = CommandWord(CAPI_CONNECT_B3, CAPI_CONF);
constexpr uint16_t CONNECT_B3_IND = CommandWord(CAPI_CONNECT_B3, CAPI_IND);
constexpr uint16_t CONNECT_B3_RESP = CommandWord(CAPI_CONNECT_B3, CAPI_RESP);
constexpr uint16_t CONNECT_B3_ACTIVE_IND = CommandWord(CAPI_CONNECT_B3_ACTIVE, CAPI_IND);
constexpr uint16_t CONNECT_B3_ACTIVE_RESP = CommandWord(CAPI_CONNECT_B3_ACTIVE, CAPI_RESP);
constexpr uint16_t DISCONNECT_B3_REQ = CommandWord(CAPI_DISCONNECT_B3, CAPI_REQ);
constexpr uint16_t DISCONNECT_B3_CONF = CommandWord(CAPI_DISCONNECT_B3, CAPI_CONF);
constexpr uint16_t DISCONNECT_B3_IND = CommandWord(CAPI_DISCONNECT_B3, CAPI_IND);
constexpr uint16_t DISCONNECT_B3_RESP = CommandWord(CAPI_DISCONNECT_B3, CAPI_RESP);
constexpr uint16_t DATA_B3_CONF = CommandWord(CAPI_DATA_B3, CAPI_CONF);
constexpr uint16_t DATA_B3_IND = CommandWord(CAPI_DATA_B3, CAPI_IND);
constexpr uint16_t DATA_B3_RESP = CommandWord(CAPI_DATA_B3, CAPI_RESP);
constexpr uint16_t RESET_B3_CONF = CommandWord(CAPI_RESET_B3, CAPI_CONF);
constexpr uint16_t RESET_B3_IND = CommandWord(CAPI_RESET_B3, CAPI_IND);
constexpr uint16_t RESET_B3_RESP = CommandWord(CAPI_RESET_B3, CAPI_RESP);
constexpr uint16_t CONNECT_B3_T90_ACTIVE_IND = CommandWord(CAPI_CONNECT_B3_T90_ACTIVE, CAPI_IND);
constexpr uint16_t CONNECT_B3_T90_ACTIVE_RESP = CommandWord(CAPI_CONNECT_B3_T90_ACTIVE, CAPI_RESP);

// LISTEN_REQ values.
constexpr uint32_t ListenInfoMask = 0x7F;
// Bits 1-9 and 16-28: every named service; bit 0 ("any service") stays clear.
constexpr uint32_t ListenCipMaskAll = 0x1FFF03FE;
// Listening to CIP 1 only is how the program stops listening before it releases.
constexpr uint32_t ListenCipMaskStop = 0x2;

// Reject values of CONNECT_RESP.
constexpr uint16_t RejectAccept = 0;
constexpr uint16_t RejectIgnore = 1;
constexpr uint16_t RejectNormalClearing = 2;
constexpr uint16_t RejectUserBusy = 3;
// Reject cause of the monitor's events that means "no decision yet".
constexpr uint16_t RejectUndecided = 0xFFFF;

// Info values up to this one are informational, not errors.
constexpr uint16_t InfoLastInformational = 0x00FF;

// Error codes of the library calls that the engine looks at.
constexpr unsigned InfoReceiveQueueEmpty = 0x1104;

// Error codes of the CAPI layer above the CAPI info range: 0x9000 + the load status,
// and the engine's own "line lost".
constexpr uint32_t ErrorLoadStatusBase = 0x9000;
constexpr uint32_t ErrorLineLost = 0x9004;

// CIP values.
constexpr uint16_t CipTelephony = 16;

} // namespace capi
