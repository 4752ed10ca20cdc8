#include "capi/CpStruct.h"

#include <cstring>

namespace {
const uint8_t kEmptyStruct[1] = {0};
}

std::unique_ptr<TStruct> TStruct::Empty()
{
    auto s = std::make_unique<TStruct>();
    s->Allocate(0);
    return s;
}

TStruct::TStruct(const uint8_t *data, size_t available) : FData(data), FOwnsBuffer(false)
{
    // The word length after 0xFF must itself lie inside the message.
    if (!FData || available == 0 || (FData[0] == 0xFF && available < 3) || TotalSize() > available)
        FData = kEmptyStruct;
    Rewind();
}

size_t TStruct::ContentLength() const
{
    if (!FData) return 0;
    if (FData[0] != 0xFF) return FData[0];
    return size_t(FData[1]) | size_t(FData[2]) << 8;
}

size_t TStruct::PrefixSize() const
{
    return FData && FData[0] == 0xFF ? 3 : 1;
}

size_t TStruct::TotalSize() const
{
    return FData ? ContentLength() + PrefixSize() : 1;
}

void TStruct::Allocate(size_t n)
{
    FOwnsBuffer = true;
    if (n > 254) {
        FBuffer.assign(n + 3, 0);
        FBuffer[0] = 0xFF;
        FBuffer[1] = uint8_t(n & 0xFF);
        FBuffer[2] = uint8_t(n >> 8);
    } else {
        FBuffer.assign(n + 1, 0);
        FBuffer[0] = uint8_t(n);
    }
    FData = FBuffer.data();
    Rewind();
}

void TStruct::WriteBytes(const void *source, size_t n)
{
    if (n == 0 || !FOwnsBuffer || FCursor + n > FBuffer.size()) return;
    std::memcpy(FBuffer.data() + FCursor, source, n);
    FCursor += n;
}

void TStruct::ReadBytes(void *dest, size_t n)
{
    if (ContentLength() < FReadCount + n) {
        std::memset(dest, 0, n);
        return;
    }
    std::memcpy(dest, FData + FCursor, n);
    FCursor += n;
    FReadCount += n;
}

uint8_t TStruct::ReadByte()
{
    uint8_t b = 0;
    ReadBytes(&b, 1);
    return b;
}

QByteArray TStruct::Rest() const
{
    const size_t left = ContentLength() - FReadCount;
    return left ? QByteArray(reinterpret_cast<const char *>(FData + FCursor), qsizetype(left))
                : QByteArray();
}

void TStruct::Rewind()
{
    FReadCount = 0;
    FCursor = ContentLength() == 0 ? 0 : PrefixSize();
}

TCallingPartyNumber::TCallingPartyNumber(uint8_t typeOfNumber, uint8_t presentation,
                                         const QByteArray &digits)
    : TypeOfNumber(typeOfNumber), Presentation(presentation), Digits(digits)
{
    Allocate(size_t(digits.size()) + 2);
    WriteBytes(&typeOfNumber, 1);
    WriteBytes(&presentation, 1);
    WriteBytes(digits.constData(), size_t(digits.size()));
}

TCallingPartyNumber::TCallingPartyNumber(const uint8_t *data, size_t available)
    : TStruct(data, available)
{
    TypeOfNumber = ReadByte();
    Presentation = ReadByte();
    if (ContentLength() >= 3) Digits = Rest();
}

TCallingPartySubAddress::TCallingPartySubAddress(uint8_t type, const QByteArray &text)
    : Type(type), Text(text)
{
    Allocate(size_t(text.size()) + 1);
    WriteBytes(&type, 1);
    WriteBytes(text.constData(), size_t(text.size()));
}

TCallingPartySubAddress::TCallingPartySubAddress(const uint8_t *data, size_t available)
    : TStruct(data, available)
{
    Type = ReadByte();
    if (ContentLength() >= 2) Text = Rest();
}

TBProtocol::TBProtocol(uint16_t b1, uint16_t b2, uint16_t b3, std::unique_ptr<TStruct> b1Config,
                       std::unique_ptr<TStruct> b2Config, std::unique_ptr<TStruct> b3Config)
{
    Allocate(6 + b1Config->TotalSize() + b2Config->TotalSize() + b3Config->TotalSize());
    for (uint16_t word : {b1, b2, b3}) {
        const uint8_t le[2] = {uint8_t(word & 0xFF), uint8_t(word >> 8)};
        WriteBytes(le, 2);
    }
    for (const auto *config : {b1Config.get(), b2Config.get(), b3Config.get()})
        WriteBytes(config->Data(), config->TotalSize());
}
