#include "tools/capisim/CapiMessage.h"

namespace capisim {

bool isKnownCommand(uint8_t command)
{
    switch (command) {
    case cmd::Alert:
    case cmd::Connect:
    case cmd::ConnectActive:
    case cmd::Disconnect:
    case cmd::Listen:
    case cmd::Info:
    case cmd::SelectBProtocol:
    case cmd::Facility:
    case cmd::ConnectB3:
    case cmd::ConnectB3Active:
    case cmd::DisconnectB3:
    case cmd::DataB3:
    case cmd::ResetB3:
    case cmd::ConnectB3T90Active:
    case cmd::Manufacturer:
        return true;
    default:
        return false;
    }
}

MessageWriter::MessageWriter(uint16_t applId, uint8_t command, uint8_t subcommand, uint16_t number)
{
    u16(0);
    u16(applId);
    u8(command);
    u8(subcommand);
    u16(number);
}

MessageWriter &MessageWriter::u8(uint8_t value)
{
    bytes_.push_back(value);
    return *this;
}

MessageWriter &MessageWriter::u16(uint16_t value)
{
    bytes_.push_back(static_cast<uint8_t>(value));
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
    return *this;
}

MessageWriter &MessageWriter::u32(uint32_t value)
{
    u16(static_cast<uint16_t>(value));
    return u16(static_cast<uint16_t>(value >> 16));
}

MessageWriter &MessageWriter::cstruct(const Bytes &content)
{
    if (content.size() < 255) {
        u8(static_cast<uint8_t>(content.size()));
    } else {
        u8(0xFF);
        u16(static_cast<uint16_t>(content.size()));
    }
    bytes_.insert(bytes_.end(), content.begin(), content.end());
    return *this;
}

Bytes MessageWriter::finish()
{
    bytes_[0] = static_cast<uint8_t>(bytes_.size());
    bytes_[1] = static_cast<uint8_t>(bytes_.size() >> 8);
    return bytes_;
}

std::optional<uint8_t> MessageReader::u8(size_t offset) const
{
    if (offset >= size_) return std::nullopt;
    return data_[offset];
}

std::optional<uint16_t> MessageReader::u16(size_t offset) const
{
    if (offset > size_ || size_ - offset < 2) return std::nullopt;
    return readLe16(data_ + offset);
}

std::optional<uint32_t> MessageReader::u32(size_t offset) const
{
    if (offset > size_ || size_ - offset < 4) return std::nullopt;
    return readLe16(data_ + offset) | (static_cast<uint32_t>(readLe16(data_ + offset + 2)) << 16);
}

std::string toHex(const uint8_t *data, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 3);
    for (size_t i = 0; i < size; ++i) {
        if (i > 0) text += ' ';
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0xF];
    }
    return text;
}

static int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<Bytes> parseHex(std::string_view text)
{
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    Bytes bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

} // namespace capisim
