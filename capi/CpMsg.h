// CAPI 2.0 messages: one class per message the program sends or decodes.
//
// Sending constructors build the complete encoded message; Serialize writes the header
// and returns the bytes for the driver. Decoding constructors copy a received message
// and read its parameters. Decoding never reads outside the received message: a fixed
// field past its Length reads as 0 and a struct whose length prefix runs past the
// Length reads as empty. Messages from a remote controller are untrusted input.
#pragma once

#include "capi/CpStruct.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TCapiMessageHeader
{
public:
    virtual ~TCapiMessageHeader() = default;
    // High byte: Command, low byte: Subcommand.
    virtual void SetCommand(uint16_t commandWord);
    virtual uint16_t GetCommand() const;
    static constexpr size_t HeaderSize() { return 8; }

    uint16_t Length = 0;
    uint16_t ApplID = 0;
    uint8_t Command = 0;
    uint8_t Subcommand = 0;
    uint16_t MessageNumber = 0;
};

class TCapiMessage
{
public:
    // Decoding: copies the header and Length bytes from raw (length must be checked by
    // the caller, see CreateCapiMessage) and leaves the cursor after the header.
    TCapiMessage(const uint8_t *raw, size_t length);
    virtual ~TCapiMessage() = default;

    TCapiMessage(const TCapiMessage &) = delete;
    TCapiMessage &operator=(const TCapiMessage &) = delete;

    // Writes the header fields into the buffer and returns the encoded message.
    const uint8_t *Serialize();
    size_t Length() const { return FBuffer.size(); }
    uint16_t GetCommand() const { return Header.GetCommand(); }

    TCapiMessageHeader Header;

protected:
    // Sending: a buffer of totalLength bytes, the command word set, cursor after the header.
    TCapiMessage(uint16_t commandWord, size_t totalLength);

    void PutWord(uint16_t value);
    void PutDword(uint32_t value);
    void PutStruct(std::unique_ptr<TStruct> s);

    uint16_t GetWord();
    uint32_t GetDword();
    // A view on the struct at the cursor; the cursor moves past it.
    template <typename S> std::unique_ptr<S> GetStruct()
    {
        const size_t available = FCursor < FBuffer.size() ? FBuffer.size() - FCursor : 0;
        auto s = std::make_unique<S>(available ? FBuffer.data() + FCursor : nullptr, available);
        FCursor += s->TotalSize();
        return s;
    }

private:
    std::vector<uint8_t> FBuffer;
    size_t FCursor = 0;
};

// The common layout of confirmations: address (controller, PLCI or NCCI), Info.
class TCapiConfirmation : public TCapiMessage
{
public:
    TCapiConfirmation(const uint8_t *raw, size_t length);
    uint32_t Address = 0;
    uint16_t Info = 0;

protected:
    struct NoFields
    {
    };
    TCapiConfirmation(const uint8_t *raw, size_t length, NoFields) : TCapiMessage(raw, length) {}
};

// ---- Messages the program sends -------------------------------------------------

class TListenReq : public TCapiMessage
{
public:
    TListenReq(uint32_t controller, uint32_t infoMask, uint32_t cipMask, uint32_t cipMask2,
               std::unique_ptr<TStruct> callingPartyNumber,
               std::unique_ptr<TStruct> callingPartySubaddress);
};

class TAlertReq : public TCapiMessage
{
public:
    TAlertReq(uint32_t plci, std::unique_ptr<TStruct> additionalInfo);
};

class TConnectResp : public TCapiMessage
{
public:
    TConnectResp(uint32_t plci, uint16_t reject, std::unique_ptr<TStruct> bProtocol,
                 std::unique_ptr<TStruct> connectedNumber,
                 std::unique_ptr<TStruct> connectedSubaddress, std::unique_ptr<TStruct> llc,
                 std::unique_ptr<TStruct> additionalInfo);
};

class TConnectActiveResp : public TCapiMessage
{
public:
    explicit TConnectActiveResp(uint32_t plci);
};

class TDisconnectReq : public TCapiMessage
{
public:
    TDisconnectReq(uint32_t plci, std::unique_ptr<TStruct> additionalInfo);
};

class TDisconnectResp : public TCapiMessage
{
public:
    explicit TDisconnectResp(uint32_t plci);
};

class TInfoResp : public TCapiMessage
{
public:
    explicit TInfoResp(uint32_t plci);
};

class TFacilityResp : public TCapiMessage
{
public:
    TFacilityResp(uint32_t address, uint16_t facilitySelector,
                  std::unique_ptr<TStruct> responseParameters);
};

class TConnectB3Resp : public TCapiMessage
{
public:
    TConnectB3Resp(uint32_t ncci, uint16_t reject, std::unique_ptr<TStruct> ncpi);
};

class TConnectB3ActiveResp : public TCapiMessage
{
public:
    explicit TConnectB3ActiveResp(uint32_t ncci);
};

class TConnectB3T90ActiveResp : public TCapiMessage
{
public:
    explicit TConnectB3T90ActiveResp(uint32_t ncci);
};

class TDataB3Resp : public TCapiMessage
{
public:
    TDataB3Resp(uint32_t ncci, uint16_t dataHandle);
};

class TDisconnectB3Req : public TCapiMessage
{
public:
    TDisconnectB3Req(uint32_t ncci, std::unique_ptr<TStruct> ncpi);
};

class TDisconnectB3Resp : public TCapiMessage
{
public:
    explicit TDisconnectB3Resp(uint32_t ncci);
};

class TResetB3Resp : public TCapiMessage
{
public:
    explicit TResetB3Resp(uint32_t ncci);
};

// ---- Messages the program decodes -----------------------------------------------

class TAlertConf : public TCapiConfirmation
{
public:
    using TCapiConfirmation::TCapiConfirmation;
};

class TConnectConf : public TCapiConfirmation
{
public:
    using TCapiConfirmation::TCapiConfirmation;
};

class TConnectInd : public TCapiMessage
{
public:
    TConnectInd(const uint8_t *raw, size_t length);
    uint32_t PLCI = 0;
    uint16_t CIPValue = 0;
    std::unique_ptr<TCallingPartySubAddress> CalledPartyNumber;
    std::unique_ptr<TCallingPartyNumber> CallingPartyNumber;
    std::unique_ptr<TCallingPartySubAddress> CalledPartySubaddress;
    std::unique_ptr<TCallingPartySubAddress> CallingPartySubaddress;
    std::unique_ptr<TStruct> BC;
    std::unique_ptr<TStruct> LLC;
    std::unique_ptr<TStruct> HLC;
    std::unique_ptr<TStruct> AdditionalInfo;
};

class TConnectActiveInd : public TCapiMessage
{
public:
    TConnectActiveInd(const uint8_t *raw, size_t length);
    uint32_t PLCI = 0;
    std::unique_ptr<TCallingPartyNumber> ConnectedNumber;
    std::unique_ptr<TCallingPartySubAddress> ConnectedSubaddress;
    std::unique_ptr<TStruct> LLC;
};

class TDisconnectConf : public TCapiConfirmation
{
public:
    using TCapiConfirmation::TCapiConfirmation;
};

class TDisconnectInd : public TCapiMessage
{
public:
    TDisconnectInd(const uint8_t *raw, size_t length);
    uint32_t PLCI = 0;
    uint16_t Reason = 0;
};

class TListenConf : public TCapiConfirmation
{
public:
    using TCapiConfirmation::TCapiConfirmation;
};

class TInfoConf : public TCapiConfirmation
{
public:
    using TCapiConfirmation::TCapiConfirmation;
};

class TInfoInd : public TCapiMessage
{
public:
    TInfoInd(const uint8_t *raw, size_t length);
    uint32_t PLCI = 0;
    uint16_t InfoNumber = 0;
    std::unique_ptr<TStruct> InfoElement;
};

class TSelectBProtocolConf : public TCapiConfirmation
{
public:
    using TCapiConfirmation::TCapiConfirmation;
};

class TFacilityConf : public TCapiConfirmation
{
public:
    TFacilityConf(const uint8_t *raw, size_t length);
    uint16_t FacilitySelector = 0;
    std::unique_ptr<TStruct> FacilityConfirmationParameter;
};

class TFacilityInd : public TCapiMessage
{
public:
    TFacilityInd(const uint8_t *raw, size_t length);
    uint32_t Address = 0;
    uint16_t FacilitySelector = 0;
    std::unique_ptr<TStruct> FacilityIndicationParameter;
};

class TConnectB3Conf : public TCapiConfirmation
{
public:
    using TCapiConfirmation::TCapiConfirmation;
};

class TConnectB3Ind : public TCapiMessage
{
public:
    TConnectB3Ind(const uint8_t *raw, size_t length);
    uint32_t NCCI = 0;
    std::unique_ptr<TStruct> NCPI;
};

class TConnectB3ActiveInd : public TCapiMessage
{
public:
    TConnectB3ActiveInd(const uint8_t *raw, size_t length);
    uint32_t NCCI = 0;
    std::unique_ptr<TStruct> NCPI;
};

class TDisconnectB3Conf : public TCapiConfirmation
{
public:
    using TCapiConfirmation::TCapiConfirmation;
};

class TDisconnectB3Ind : public TCapiMessage
{
public:
    TDisconnectB3Ind(const uint8_t *raw, size_t length);
    uint32_t NCCI = 0;
    uint16_t ReasonB3 = 0;
    std::unique_ptr<TStruct> NCPI;
};

// Unlike the other confirmations, Info follows the data handle.
class TDataB3Conf : public TCapiConfirmation
{
public:
    TDataB3Conf(const uint8_t *raw, size_t length);
    uint16_t DataHandle = 0;
};

class TDataB3Ind : public TCapiMessage
{
public:
    TDataB3Ind(const uint8_t *raw, size_t length);
    uint32_t NCCI = 0;
    uint32_t Data = 0; // a pointer in the driver's memory; never followed
    uint16_t DataLength = 0;
    uint16_t DataHandle = 0;
    uint16_t Flags = 0;
};

class TResetB3Conf : public TCapiConfirmation
{
public:
    using TCapiConfirmation::TCapiConfirmation;
};

class TResetB3Ind : public TCapiMessage
{
public:
    TResetB3Ind(const uint8_t *raw, size_t length);
    uint32_t NCCI = 0;
    std::unique_ptr<TStruct> NCPI;
};

class TConnectB3T90ActiveInd : public TCapiMessage
{
public:
    TConnectB3T90ActiveInd(const uint8_t *raw, size_t length);
    uint32_t NCCI = 0;
    std::unique_ptr<TStruct> NCPI;
};

// Turns a received message into the object of its class; an unknown command word
// gives a plain TCapiMessage. available is how many bytes may be read at raw. A
// message whose Length is below the 8-byte header or beyond available is discarded:
// the result is null.
std::unique_ptr<TCapiMessage> CreateCapiMessage(const uint8_t *raw, size_t available);
