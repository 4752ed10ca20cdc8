#include "capi/CapiLineSource.h"

#include "capi/CpConst.h"

TCapiLineSource::TCapiLineSource(std::function<int()> rejectTimeOut)
    : FRejectTimeOut(std::move(rejectTimeOut))
{
    CreateMonitor();
}

TCapiLineSource::~TCapiLineSource() = default;

void TCapiLineSource::CreateMonitor()
{
    FMonitor = std::make_unique<TCapiMonitor>();
    FMonitor->NoDisturbMode = false;
    FMonitor->OnRejectCallQuestion = [this](const QString &calling, const QString &called,
                                            uint16_t cip, uint16_t &cause, uint32_t plci) {
        RejectCallQuestion(calling, called, cip, cause, plci);
    };
    FMonitor->OnStateChange = [this](bool, bool) {
        if (OnRejectPossible) OnRejectPossible();
    };
    FMonitor->OnDisconnectInfo = [this](uint16_t, uint16_t reason, uint32_t plci) {
        DisconnectInfo(reason, plci);
    };
    FMonitor->OnLineState = [this](TCapiMonitor *) {
        if (OnLineState) OnLineState();
    };
}

bool TCapiLineSource::Start()
{
    FCalls.clear();
    if (!FMonitor) CreateMonitor();
    const bool started = FMonitor->Start(1, FRejectTimeOut ? FRejectTimeOut() : 0);
    if (OnLineState) OnLineState();
    return started;
}

void TCapiLineSource::Stop()
{
    // Releases the CAPI application; the calls on the line end without an event.
    FMonitor.reset();
    FCalls.clear();
}

uint32_t TCapiLineSource::PlciOf(line::TCallId id) const
{
    for (const auto &[plci, call] : FCalls)
        if (call == id) return plci;
    return 0;
}

bool TCapiLineSource::CanReject(line::TCallId id) const
{
    const uint32_t plci = PlciOf(id);
    return plci && FMonitor && FMonitor->CanReject(plci);
}

bool TCapiLineSource::RejectCall(line::TCallId id)
{
    const uint32_t plci = PlciOf(id);
    return plci && FMonitor && FMonitor->AnswerCall(capi::RejectAccept, plci);
}

QString TCapiLineSource::LineError() const
{
    if (!FMonitor) return QString();
    return FMonitor->Error() != 0 ? FMonitor->ErrorString() : QString();
}

void TCapiLineSource::RejectCallQuestion(const QString &calling, const QString &called,
                                         uint16_t cip, uint16_t &aRejectCause, uint32_t aPLCI)
{
    line::TOfferedCall call;
    call.Id = line::NewCallId();
    call.CallingPartyNumber = calling;
    call.CalledPartyNumber = called;
    call.CipValue = cip;
    FCalls[aPLCI] = call.Id;
    bool reject = false;
    if (OnCallOffered) OnCallOffered(call, reject);
    // Taken and cleared at once.
    if (reject) aRejectCause = capi::RejectAccept;
}

void TCapiLineSource::DisconnectInfo(uint16_t aDisconnectReason, uint32_t aPLCI)
{
    const auto found = FCalls.find(aPLCI);
    if (found == FCalls.end()) return;
    const line::TCallId id = found->second;
    FCalls.erase(found);
    if (OnCallEnded) OnCallEnded(id, aDisconnectReason);
}
