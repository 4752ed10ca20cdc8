// CAPI 2.0 struct parameters: a length-prefixed byte string.
//
// A struct built for sending owns its encoded bytes. A struct decoded from a received
// message is a view into that message's copy and owns nothing; it lives no longer
// than the message.
#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TStruct
{
public:
    // Owning, no buffer yet: for subclasses that call Allocate.
    TStruct() = default;
    // The empty struct, encoded as the single byte 0x00.
    static std::unique_ptr<TStruct> Empty();
    // A view on the encoded struct at data. available is the number of bytes of the
    // message from data on: a struct whose length prefix runs past it reads as
    // empty, so decoding never leaves the received message.
    TStruct(const uint8_t *data, size_t available);
    virtual ~TStruct() = default;

    TStruct(const TStruct &) = delete;
    TStruct &operator=(const TStruct &) = delete;

    // The content length written in the prefix.
    size_t ContentLength() const;
    // The encoded size: prefix plus content.
    size_t TotalSize() const;
    // Creates an owned buffer for n content bytes, writes the prefix and puts the
    // cursor on the first content byte.
    void Allocate(size_t n);
    void WriteBytes(const void *source, size_t n);
    // Copies n content bytes at the cursor; when fewer than n are left, fills dest with
    // zeroes and does not advance.
    void ReadBytes(void *dest, size_t n);
    uint8_t ReadByte();
    // The content bytes from the cursor to the end, without advancing.
    QByteArray Rest() const;
    void Rewind();
    const uint8_t *Data() const { return FData; }
    bool OwnsBuffer() const { return FOwnsBuffer; }

protected:
    size_t PrefixSize() const;

private:
    const uint8_t *FData = nullptr; // encoded bytes: prefix then content
    std::vector<uint8_t> FBuffer;   // the bytes of an owning struct
    size_t FCursor = 0;             // offset of the next content byte in FData
    size_t FReadCount = 0;
    bool FOwnsBuffer = true;
};

// Type of number and numbering plan, presentation and screening, then the digits.
// Also used for the connected number.
class TCallingPartyNumber : public TStruct
{
public:
    TCallingPartyNumber(uint8_t typeOfNumber, uint8_t presentation, const QByteArray &digits);
    TCallingPartyNumber(const uint8_t *data, size_t available);

    uint8_t TypeOfNumber = 0;
    uint8_t Presentation = 0;
    QByteArray Digits;
};

// One header octet, then text. Also used for the called party number and the
// connected subaddress.
class TCallingPartySubAddress : public TStruct
{
public:
    TCallingPartySubAddress(uint8_t type, const QByteArray &text);
    TCallingPartySubAddress(const uint8_t *data, size_t available);

    uint8_t Type = 0;
    QByteArray Text;
};

// B1, B2 and B3 protocol words, then their three configuration structs.
class TBProtocol : public TStruct
{
public:
    TBProtocol(uint16_t b1, uint16_t b2, uint16_t b3, std::unique_ptr<TStruct> b1Config,
               std::unique_ptr<TStruct> b2Config, std::unique_ptr<TStruct> b3Config);
};
