#include "capi/CpMsg.h"

#include "capi/CpConst.h"

#include <cstring>
#include <stdexcept>

using namespace capi;

void TCapiMessageHeader::SetCommand(uint16_t commandWord)
{
    Command = uint8_t(commandWord >> 8);
    Subcommand = uint8_t(commandWord & 0xFF);
}

uint16_t TCapiMessageHeader::GetCommand() const
{
    return uint16_t(Command << 8 | Subcommand);
}

namespace {

uint16_t readWord(const uint8_t *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

} // namespace

TCapiMessage::TCapiMessage(uint16_t commandWord, size_t totalLength)
    : FBuffer(totalLength, 0), FCursor(TCapiMessageHeader::HeaderSize())
{
    Header.Length = uint16_t(totalLength);
    Header.SetCommand(commandWord);
}

TCapiMessage::TCapiMessage(const uint8_t *raw, size_t length)
    : FBuffer(raw, raw + length), FCursor(TCapiMessageHeader::HeaderSize())
{
    Header.Length = readWord(raw);
    Header.ApplID = readWord(raw + 2);
    Header.Command = raw[4];
    Header.Subcommand = raw[5];
    Header.MessageNumber = readWord(raw + 6);
}

const uint8_t *TCapiMessage::Serialize()
{
    uint8_t *p = FBuffer.data();
    p[0] = uint8_t(Header.Length & 0xFF);
    p[1] = uint8_t(Header.Length >> 8);
    p[2] = uint8_t(Header.ApplID & 0xFF);
    p[3] = uint8_t(Header.ApplID >> 8);
    p[4] = Header.Command;
    p[5] = Header.Subcommand;
    p[6] = uint8_t(Header.MessageNumber & 0xFF);
    p[7] = uint8_t(Header.MessageNumber >> 8);
    return p;
}

void TCapiMessage::PutWord(uint16_t value)
{
    FBuffer.at(FCursor) = uint8_t(value & 0xFF);
    FBuffer.at(FCursor + 1) = uint8_t(value >> 8);
    FCursor += 2;
}

void TCapiMessage::PutDword(uint32_t value)
{
    PutWord(uint16_t(value & 0xFFFF));
    PutWord(uint16_t(value >> 16));
}

void TCapiMessage::PutStruct(std::unique_ptr<TStruct> s)
{
    const size_t n = s->TotalSize();
    if (FCursor + n > FBuffer.size()) throw std::length_error("CAPI message buffer too small");
    std::memcpy(FBuffer.data() + FCursor, s->Data(), n);
    FCursor += n;
}

uint16_t TCapiMessage::GetWord()
{
    uint16_t value = 0;
    if (FCursor + 2 <= FBuffer.size()) value = readWord(FBuffer.data() + FCursor);
    FCursor += 2;
    return value;
}

uint32_t TCapiMessage::GetDword()
{
    const uint32_t low = GetWord();
    return low | uint32_t(GetWord()) << 16;
}

TCapiConfirmation::TCapiConfirmation(const uint8_t *raw, size_t length) : TCapiMessage(raw, length)
{
    Address = GetDword();
    Info = GetWord();
}

// ---- Sending -------------------------------------------------------------------

namespace {

constexpr size_t kHeader = TCapiMessageHeader::HeaderSize();

size_t sizes(std::initializer_list<const TStruct *> structs)
{
    size_t n = 0;
    for (const TStruct *s : structs)
        n += s->TotalSize();
    return n;
}

} // namespace

TListenReq::TListenReq(uint32_t controller, uint32_t infoMask, uint32_t cipMask, uint32_t cipMask2,
                       std::unique_ptr<TStruct> callingPartyNumber,
                       std::unique_ptr<TStruct> callingPartySubaddress)
    : TCapiMessage(LISTEN_REQ,
                   kHeader + 16 + sizes({callingPartyNumber.get(), callingPartySubaddress.get()}))
{
    PutDword(controller);
    PutDword(infoMask);
    PutDword(cipMask);
    PutDword(cipMask2);
    PutStruct(std::move(callingPartyNumber));
    PutStruct(std::move(callingPartySubaddress));
}

TAlertReq::TAlertReq(uint32_t plci, std::unique_ptr<TStruct> additionalInfo)
    : TCapiMessage(ALERT_REQ, kHeader + 4 + additionalInfo->TotalSize())
{
    PutDword(plci);
    PutStruct(std::move(additionalInfo));
}

TConnectResp::TConnectResp(uint32_t plci, uint16_t reject, std::unique_ptr<TStruct> bProtocol,
                           std::unique_ptr<TStruct> connectedNumber,
                           std::unique_ptr<TStruct> connectedSubaddress,
                           std::unique_ptr<TStruct> llc, std::unique_ptr<TStruct> additionalInfo)
    : TCapiMessage(CONNECT_RESP,
                   kHeader + 6 +
                       sizes({bProtocol.get(), connectedNumber.get(), connectedSubaddress.get(),
                              llc.get(), additionalInfo.get()}))
{
    PutDword(plci);
    PutWord(reject);
    PutStruct(std::move(bProtocol));
    PutStruct(std::move(connectedNumber));
    PutStruct(std::move(connectedSubaddress));
    PutStruct(std::move(llc));
    PutStruct(std::move(additionalInfo));
}

TConnectActiveResp::TConnectActiveResp(uint32_t plci) : TCapiMessage(CONNECT_ACTIVE_RESP, 12)
{
    PutDword(plci);
}

TDisconnectReq::TDisconnectReq(uint32_t plci, std::unique_ptr<TStruct> additionalInfo)
    : TCapiMessage(DISCONNECT_REQ, kHeader + 4 + additionalInfo->TotalSize())
{
    PutDword(plci);
    PutStruct(std::move(additionalInfo));
}

TDisconnectResp::TDisconnectResp(uint32_t plci) : TCapiMessage(DISCONNECT_RESP, 12)
{
    PutDword(plci);
}

TInfoResp::TInfoResp(uint32_t plci) : TCapiMessage(INFO_RESP, 12)
{
    PutDword(plci);
}

TFacilityResp::TFacilityResp(uint32_t address, uint16_t facilitySelector,
                             std::unique_ptr<TStruct> responseParameters)
    : TCapiMessage(FACILITY_RESP, kHeader + 6 + responseParameters->TotalSize())
{
    PutDword(address);
    PutWord(facilitySelector);
    PutStruct(std::move(responseParameters));
}

TConnectB3Resp::TConnectB3Resp(uint32_t ncci, uint16_t reject, std::unique_ptr<TStruct> ncpi)
    : TCapiMessage(CONNECT_B3_RESP, kHeader + 6 + ncpi->TotalSize())
{
    PutDword(ncci);
    PutWord(reject);
    PutStruct(std::move(ncpi));
}

TConnectB3ActiveResp::TConnectB3ActiveResp(uint32_t ncci) : TCapiMessage(CONNECT_B3_ACTIVE_RESP, 12)
{
    PutDword(ncci);
}

TConnectB3T90ActiveResp::TConnectB3T90ActiveResp(uint32_t ncci)
    : TCapiMessage(CONNECT_B3_T90_ACTIVE_RESP, 12)
{
    PutDword(ncci);
}

TDataB3Resp::TDataB3Resp(uint32_t ncci, uint16_t dataHandle) : TCapiMessage(DATA_B3_RESP, 14)
{
    PutDword(ncci);
    PutWord(dataHandle);
}

TDisconnectB3Req::TDisconnectB3Req(uint32_t ncci, std::unique_ptr<TStruct> ncpi)
    : TCapiMessage(DISCONNECT_B3_REQ, kHeader + 4 + ncpi->TotalSize())
{
    PutDword(ncci);
    PutStruct(std::move(ncpi));
}

TDisconnectB3Resp::TDisconnectB3Resp(uint32_t ncci) : TCapiMessage(DISCONNECT_B3_RESP, 12)
{
    PutDword(ncci);
}

TResetB3Resp::TResetB3Resp(uint32_t ncci) : TCapiMessage(RESET_B3_RESP, 12)
{
    PutDword(ncci);
}

// ---- Decoding ------------------------------------------------------------------

TConnectInd::TConnectInd(const uint8_t *raw, size_t length) : TCapiMessage(raw, length)
{
    PLCI = GetDword();
    CIPValue = GetWord();
    CalledPartyNumber = GetStruct<TCallingPartySubAddress>();
    CallingPartyNumber = GetStruct<TCallingPartyNumber>();
    CalledPartySubaddress = GetStruct<TCallingPartySubAddress>();
    CallingPartySubaddress = GetStruct<TCallingPartySubAddress>();
    BC = GetStruct<TStruct>();
    LLC = GetStruct<TStruct>();
    HLC = GetStruct<TStruct>();
    AdditionalInfo = GetStruct<TStruct>();
}

TConnectActiveInd::TConnectActiveInd(const uint8_t *raw, size_t length) : TCapiMessage(raw, length)
{
    PLCI = GetDword();
    ConnectedNumber = GetStruct<TCallingPartyNumber>();
    ConnectedSubaddress = GetStruct<TCallingPartySubAddress>();
    LLC = GetStruct<TStruct>();
}

TDisconnectInd::TDisconnectInd(const uint8_t *raw, size_t length) : TCapiMessage(raw, length)
{
    PLCI = GetDword();
    Reason = GetWord();
}

TInfoInd::TInfoInd(const uint8_t *raw, size_t length) : TCapiMessage(raw, length)
{
    PLCI = GetDword();
    InfoNumber = GetWord();
    InfoElement = GetStruct<TStruct>();
}

TFacilityConf::TFacilityConf(const uint8_t *raw, size_t length) : TCapiConfirmation(raw, length)
{
    FacilitySelector = GetWord();
    FacilityConfirmationParameter = GetStruct<TStruct>();
}

TFacilityInd::TFacilityInd(const uint8_t *raw, size_t length) : TCapiMessage(raw, length)
{
    Address = GetDword();
    FacilitySelector = GetWord();
    FacilityIndicationParameter = GetStruct<TStruct>();
}

TConnectB3Ind::TConnectB3Ind(const uint8_t *raw, size_t length) : TCapiMessage(raw, length)
{
    NCCI = GetDword();
    NCPI = GetStruct<TStruct>();
}

TConnectB3ActiveInd::TConnectB3ActiveInd(const uint8_t *raw, size_t length)
    : TCapiMessage(raw, length)
{
    NCCI = GetDword();
    NCPI = GetStruct<TStruct>();
}

TDisconnectB3Ind::TDisconnectB3Ind(const uint8_t *raw, size_t length) : TCapiMessage(raw, length)
{
    NCCI = GetDword();
    ReasonB3 = GetWord();
    NCPI = GetStruct<TStruct>();
}

TDataB3Conf::TDataB3Conf(const uint8_t *raw, size_t length)
    : TCapiConfirmation(raw, length, NoFields{})
{
    Address = GetDword();
    DataHandle = GetWord();
    Info = GetWord();
}

TDataB3Ind::TDataB3Ind(const uint8_t *raw, size_t length) : TCapiMessage(raw, length)
{
    NCCI = GetDword();
    Data = GetDword();
    DataLength = GetWord();
    DataHandle = GetWord();
    Flags = GetWord();
}

TResetB3Ind::TResetB3Ind(const uint8_t *raw, size_t length) : TCapiMessage(raw, length)
{
    NCCI = GetDword();
    NCPI = GetStruct<TStruct>();
}

TConnectB3T90ActiveInd::TConnectB3T90ActiveInd(const uint8_t *raw, size_t length)
    : TCapiMessage(raw, length)
{
    NCCI = GetDword();
    NCPI = GetStruct<TStruct>();
}

namespace {

template <typename M> std::unique_ptr<TCapiMessage> make(const uint8_t *raw, size_t length)
{
    return std::make_unique<M>(raw, length);
}

} // namespace

std::unique_ptr<TCapiMessage> CreateCapiMessage(const uint8_t *raw, size_t available)
{
    if (!raw || available < kHeader) return nullptr;
    const size_t length = readWord(raw);
    if (length < kHeader || length > available) return nullptr;

    switch (uint16_t(raw[4] << 8 | raw[5])) {
    case ALERT_CONF:
        return make<TAlertConf>(raw, length);
    case CONNECT_CONF:
        return make<TConnectConf>(raw, length);
    case CONNECT_IND:
        return make<TConnectInd>(raw, length);
    case CONNECT_ACTIVE_IND:
        return make<TConnectActiveInd>(raw, length);
    case DISCONNECT_CONF:
        return make<TDisconnectConf>(raw, length);
    case DISCONNECT_IND:
        return make<TDisconnectInd>(raw, length);
    case LISTEN_CONF:
        return make<TListenConf>(raw, length);
    case INFO_CONF:
        return make<TInfoConf>(raw, length);
    case INFO_IND:
        return make<TInfoInd>(raw, length);
    case SELECT_B_PROTOCOL_CONF:
        return make<TSelectBProtocolConf>(raw, length);
    case FACILITY_CONF:
        return make<TFacilityConf>(raw, length);
    case FACILITY_IND:
        return make<TFacilityInd>(raw, length);
    case CONNECT_B3_CONF:
        return make<TConnectB3Conf>(raw, length);
    case CONNECT_B3_IND:
        return make<TConnectB3Ind>(raw, length);
    case CONNECT_B3_ACTIVE_IND:
        return make<TConnectB3ActiveInd>(raw, length);
    case DISCONNECT_B3_CONF:
        return make<TDisconnectB3Conf>(raw, length);
    case DISCONNECT_B3_IND:
        return make<TDisconnectB3Ind>(raw, length);
    case DATA_B3_CONF:
        return make<TDataB3Conf>(raw, length);
    case DATA_B3_IND:
        return make<TDataB3Ind>(raw, length);
    case RESET_B3_CONF:
        return make<TResetB3Conf>(raw, length);
    case RESET_B3_IND:
        return make<TResetB3Ind>(raw, length);
    case CONNECT_B3_T90_ACTIVE_IND:
        return make<TConnectB3T90ActiveInd>(raw, length);
    default:
        return make<TCapiMessage>(raw, length);
    }
}
