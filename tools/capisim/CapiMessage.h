#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace capisim {

using Bytes = std::vector<uint8_t>;

// CAPI 2.0 command and subcommand bytes the exchange knows.
namespace cmd {
constexpr uint8_t Alert = 0x01;
constexpr uint8_t Connect = 0x02;
constexpr uint8_t ConnectActive = 0x03;
constexpr uint8_t Disconnect = 0x04;
constexpr uint8_t Listen = 0x05;
constexpr uint8_t Info = 0x08;
constexpr uint8_t SelectBProtocol = 0x41;
constexpr uint8_t Facility = 0x80;
constexpr uint8_t ConnectB3 = 0x82;
constexpr uint8_t ConnectB3Active = 0x83;
constexpr uint8_t DisconnectB3 = 0x84;
constexpr uint8_t DataB3 = 0x86;
constexpr uint8_t ResetB3 = 0x87;
constexpr uint8_t ConnectB3T90Active = 0x88;
constexpr uint8_t Manufacturer = 0xFF;
} // namespace cmd

namespace sub {
constexpr uint8_t Req = 0x80;
constexpr uint8_t Conf = 0x81;
constexpr uint8_t Ind = 0x82;
constexpr uint8_t Resp = 0x83;
} // namespace sub

// Result codes of the message exchange functions and Info values of confirmations.
namespace code {
constexpr unsigned RegOsResourceError = 0x1008;
constexpr unsigned RegNotInstalled = 0x1009;
constexpr unsigned IllegalApplId = 0x1101;
constexpr unsigned IllegalCommand = 0x1102;
constexpr unsigned ReceiveQueueEmpty = 0x1104;
constexpr unsigned MsgOsResourceError = 0x1108;
constexpr uint16_t AlertAlreadySent = 0x0003;
constexpr uint16_t WrongState = 0x2001;
constexpr uint16_t IllegalIdentifier = 0x2002;
constexpr uint16_t IllegalParameterCoding = 0x2007;
} // namespace code

constexpr size_t HeaderSize = 8;
// SEND_BUFSIZ of capi20.h: the largest message a program can put.
constexpr size_t MaxMessageSize = 128 + 2048;

bool isKnownCommand(uint8_t command);

inline uint16_t readLe16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Builds one CAPI message; finish() writes the total length into the header.
class MessageWriter
{
public:
    MessageWriter(uint16_t applId, uint8_t command, uint8_t subcommand, uint16_t number);

    MessageWriter &u8(uint8_t value);
    MessageWriter &u16(uint16_t value);
    MessageWriter &u32(uint32_t value);
    // A CAPI struct: length byte (0xFF + u16 from 255 on), then the content.
    MessageWriter &cstruct(const Bytes &content);
    MessageWriter &emptyStruct() { return u8(0); }
    Bytes finish();

private:
    Bytes bytes_;
};

// Bounds-checked reads inside one message; never looks past size.
class MessageReader
{
public:
    MessageReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    size_t size() const { return size_; }
    std::optional<uint8_t> u8(size_t offset) const;
    std::optional<uint16_t> u16(size_t offset) const;
    std::optional<uint32_t> u32(size_t offset) const;

private:
    const uint8_t *data_;
    size_t size_;
};

// "1d 00 01": lower-case hex pairs separated by single spaces.
std::string toHex(const uint8_t *data, size_t size);
inline std::string toHex(const Bytes &bytes)
{
    return toHex(bytes.data(), bytes.size());
}
// Accepts runs of hex pairs ("1d00", "1d", "1D"); nullopt on anything else.
std::optional<Bytes> parseHex(std::string_view text);

} // namespace capisim
