// The ISDN line as a line source: the call monitor on controller 1, its calls known by their
// own identity instead of the PLCI the exchange may hand out again.
//
// Owned by the call handling; main thread only (the monitor's events come from the engine's
// dispatch there).
#pragma once

#include "capi/CpMoni.h"
#include "line/LineSource.h"

#include <functional>
#include <map>

class TCapiLineSource : public line::TLineSource
{
public:
    // rejectTimeOut gives the seconds the user may reject a call, read at each start.
    explicit TCapiLineSource(std::function<int()> rejectTimeOut);
    ~TCapiLineSource() override;

    line::TLineKind Kind() const override { return line::TLineKind::Capi; }
    QString Address() const override { return QString(); }
    bool Start() override;
    void Stop() override;
    bool CanRejectCalls() const override { return true; }
    bool CanReject(line::TCallId id) const override;
    bool RejectCall(line::TCallId id) override;
    QString LineError() const override;

    // The monitor (null after Stop until the next Start).
    TCapiMonitor *Monitor() const { return FMonitor.get(); }
    // The connection of a call on the line, or 0.
    uint32_t PlciOf(line::TCallId id) const;

private:
    void CreateMonitor();
    void RejectCallQuestion(const QString &calling, const QString &called, uint16_t cip,
                            uint16_t &aRejectCause, uint32_t aPLCI);
    void DisconnectInfo(uint16_t aDisconnectReason, uint32_t aPLCI);

    std::function<int()> FRejectTimeOut;
    std::unique_ptr<TCapiMonitor> FMonitor;
    std::map<uint32_t, line::TCallId> FCalls; // the calls on the line, by PLCI
};
