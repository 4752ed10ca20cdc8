#include "capi/CpHand.h"

#include "capi/CpConst.h"
#include "capi/CpDLL.h"
#include "capi/CpInfo.h"

#include <QDebug>
#include <QSocketNotifier>
#include <chrono>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

using namespace capi;

// ---- Signal thread ----------------------------------------------------------------

struct TCapiCallBack::Shared
{
    uint32_t applId = 0;
    Callbacks callbacks;
    int wakeFd = -1;

    std::mutex lock;
    std::condition_variable changed;
    bool stop = false;
    bool ended = false;
    const uint8_t *message = nullptr; // fetched, waiting for the main thread
    bool handOverDone = true;
    bool resetRequested = false;
    bool resetPosted = false;
    bool lineLostPosted = false;

    ~Shared()
    {
        if (wakeFd >= 0) ::close(wakeFd);
    }

    // Called with the lock held.
    void wake() const
    {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd, &one, sizeof one);
    }
};

TCapiCallBack::TCapiCallBack(uint32_t applId, Callbacks callbacks)
    : FShared(std::make_shared<Shared>())
{
    FShared->applId = applId;
    FShared->callbacks = std::move(callbacks);
}

TCapiCallBack::~TCapiCallBack()
{
    RequestStop();
    // WaitForEnd gave up on it; it ends on its own, and the library stays loaded until then.
    if (FThread.joinable()) FThread.detach();
    if (FWakeUp) {
        FWakeUp->setEnabled(false);
        FWakeUp->deleteLater();
    }
}

bool TCapiCallBack::Start()
{
    FShared->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FShared->wakeFd < 0) return false;
    FWakeUp = new QSocketNotifier(FShared->wakeFd, QSocketNotifier::Read);
    // The lambda holds the shared state, so the eventfd stays open while it can fire.
    QObject::connect(FWakeUp, &QSocketNotifier::activated, FWakeUp,
                     [shared = FShared] { Deliver(shared); });
    // Taken here, before the thread runs: the library cannot go away between its start and
    // its first call.
    FThread = std::thread([shared = FShared, use = std::make_unique<CapiLibraryUse>()]() mutable {
        Run(shared);
        use.reset(); // after the last call into the library
    });
    return true;
}

void TCapiCallBack::RequestStop()
{
    std::lock_guard guard(FShared->lock);
    FShared->stop = true;
    FShared->changed.notify_all();
}

void TCapiCallBack::RequestReset()
{
    std::lock_guard guard(FShared->lock);
    FShared->resetRequested = true;
}

bool TCapiCallBack::WaitForEnd(int timeoutMs)
{
    if (!FThread.joinable()) return true;
    std::unique_lock guard(FShared->lock);
    const bool ended = FShared->changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                                 [this] { return FShared->ended; });
    guard.unlock();
    if (ended)
        FThread.join();
    else
        qWarning("CAPI signal thread did not end; it is left to finish on its own");
    return ended;
}

// Main thread: runs what the signal thread handed over, in the order it happened.
void TCapiCallBack::Deliver(const std::shared_ptr<Shared> &s)
{
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(s->wakeFd, &count, sizeof count);

    std::unique_lock guard(s->lock);
    if (s->stop) return;
    if (const uint8_t *message = std::exchange(s->message, nullptr)) {
        guard.unlock();
        s->callbacks.dispatch(message);
        guard.lock();
        s->handOverDone = true;
        s->changed.notify_all();
    }
    const bool reset = std::exchange(s->resetPosted, false);
    const bool lineLost = std::exchange(s->lineLostPosted, false);
    guard.unlock();
    if (reset) s->callbacks.reset(); // may end the engine: the stop flag then holds back the rest
    guard.lock();
    if (lineLost && !s->stop) {
        guard.unlock();
        s->callbacks.lineLost();
    }
}

void TCapiCallBack::Run(std::shared_ptr<Shared> s)
{
    using Clock = std::chrono::steady_clock;
    int failedFetches = 0;
    auto pause = [&s](int ms) {
        std::unique_lock guard(s->lock);
        s->changed.wait_for(guard, std::chrono::milliseconds(ms), [&s] { return s->stop; });
    };
    auto stopped = [&s] {
        std::lock_guard guard(s->lock);
        return s->stop;
    };

    while (!stopped()) {
        const auto waitStart = Clock::now();
        unsigned r = CapiWaitForSignal(s->applId, WaitSliceMs);
        if (stopped()) break; // a message that may be waiting is not fetched
        if (r != 0) {
            // A wait that fails at once would spin: give the driver a moment.
            if (Clock::now() - waitStart < std::chrono::milliseconds(WaitSliceMs / 2)) pause(100);
            continue;
        }
        const uint8_t *message = nullptr;
        r = CapiGetMessage(s->applId, message);
        if (r != 0) {
            // libcapi20 with a remote controller that went away: the wait reports data
            // (the end of the stream) and the fetch fails, again and again.
            if (++failedFetches >= LostLineFailures) {
                std::lock_guard guard(s->lock);
                s->lineLostPosted = true;
                s->wake();
                break;
            }
            pause(20 * failedFetches);
            continue;
        }
        failedFetches = 0;

        std::unique_lock guard(s->lock);
        if (s->stop) break;
        s->message = message;
        s->handOverDone = false;
        s->wake();
        s->changed.wait(guard, [&s] { return s->stop || s->handOverDone; });
        if (s->stop) break;
        if (std::exchange(s->resetRequested, false)) {
            s->resetPosted = true;
            s->wake();
        }
    }

    std::lock_guard guard(s->lock);
    s->ended = true;
    s->changed.notify_all();
}

// ---- Engine -----------------------------------------------------------------------

TCapi::TCapi(uint32_t maxLogicalConnections, uint32_t maxBDataBlocks, uint32_t maxBDataLen)
    : FMaxLogicalConnections(maxLogicalConnections), FMaxBDataBlocks(maxBDataBlocks),
      FMaxBDataLen(maxBDataLen)
{
    Register();
}

TCapi::~TCapi()
{
    Release();
}

void TCapi::Register()
{
    if (CapiDllStatus() == CapiDllNotLoaded) LoadCapiDll();
    if (CapiDllStatus() != CapiDllInstalled) {
        LastError = ErrorLoadStatusBase + uint32_t(CapiDllStatus());
        return;
    }
    const unsigned r = CapiRegister(MessageBufferSize(FMaxLogicalConnections),
                                    FMaxLogicalConnections, FMaxBDataBlocks, FMaxBDataLen, ApplID);
    if (r != 0) {
        LastError = r;
        return;
    }
    TCapiCallBack::Callbacks callbacks;
    callbacks.dispatch = [this](const uint8_t *raw) { Dispatch(raw); };
    callbacks.reset = [this] {
        if (OnReset) OnReset();
    };
    callbacks.lineLost = [this] { LineLost(); };
    FCallBack = std::make_unique<TCapiCallBack>(ApplID, std::move(callbacks));
    FRegistered = true;
    if (!FCallBack->Start()) {
        LastError = 0x1108; // an OS resource is missing
        Release();
    }
}

void TCapi::Release()
{
    if (!FRegistered) return;
    FRegistered = false;
    FCallBack->RequestStop();
    // The LISTEN_CONF to this wakes a driver that blocks in its wait.
    PutMessage(std::make_unique<TListenReq>(1, ListenInfoMask, ListenCipMaskStop, 0,
                                            TStruct::Empty(), TStruct::Empty()));
    FCallBack->WaitForEnd(4000);
    FCallBack.reset();
    const unsigned r = CapiRelease(ApplID);
    if (r != 0) LastError = r;
}

void TCapi::LineLost()
{
    LastError = ErrorLineLost;
    if (OnLineLost) OnLineLost();
}

bool TCapi::PutMessage(std::unique_ptr<TCapiMessage> message)
{
    LastError = 0;
    message->Header.ApplID = uint16_t(ApplID & 0xFFFF);
    const unsigned r = CapiPutMessage(ApplID, message->Serialize());
    if (r != 0) LastError = r;
    return r == 0;
}

bool TCapi::Disconnect(TConnection *&connection)
{
    LastError = 0;
    if (!FConnections.Contains(connection)) return false;
    switch (connection->State) {
    case csGone:
        break;
    case csB3Active:
        connection->DisconnectBy = dbThisProgram;
        PutMessage(std::make_unique<TDisconnectB3Req>(connection->NCCI, TStruct::Empty()));
        break;
    default:
        connection->DisconnectBy = dbThisProgram;
        PutMessage(std::make_unique<TDisconnectReq>(connection->PLCI, TStruct::Empty()));
        break;
    }
    return LastError == 0;
}

QString TCapi::GetErrorText() const
{
    if (LastError == 0) return {};
    if (LastError > 0x8FFF) return CapiDllStatusText(int(LastError - ErrorLoadStatusBase));
    return CapiInfoText(LastError);
}

void TCapi::Dispatch(const uint8_t *raw)
{
    std::unique_ptr<TCapiMessage> message = CreateCapiMessage(raw, CapiReceiveBufferSize);
    if (!message) return;
    // A failure while one message is handled ends that handling only.
    try {
        switch (message->Header.Subcommand) {
        case CAPI_CONF:
            HandleConfirmation(*message);
            break;
        case CAPI_IND:
            HandleIndication(*message);
            break;
        default:
            break;
        }
    } catch (const std::exception &e) {
        qDebug() << "CAPI message handling failed:" << e.what();
    } catch (...) {
        qDebug() << "CAPI message handling failed";
    }
}

void TCapi::HandleIndication(TCapiMessage &message)
{
    LastError = 0;
    bool doDefault = true;
    TConnection *connection = nullptr;
    auto hook = [&] {
        if (OnMessage) OnMessage(connection, message, doDefault);
    };

    switch (message.GetCommand()) {
    case CONNECT_IND: {
        auto &m = static_cast<TConnectInd &>(message);
        connection = FConnections.Add();
        connection->State = csOffered;
        connection->DisconnectBy = dbNone;
        connection->PLCI = m.PLCI;
        hook();
        break;
    }
    case CONNECT_ACTIVE_IND: {
        auto &m = static_cast<TConnectActiveInd &>(message);
        connection = FConnections.FindByPLCI(m.PLCI);
        if (!connection) return;
        connection->State = csConnected;
        PutMessage(std::make_unique<TConnectActiveResp>(connection->PLCI));
        hook();
        break;
    }
    case DISCONNECT_IND: {
        auto &m = static_cast<TDisconnectInd &>(message);
        connection = FConnections.FindByPLCI(m.PLCI);
        PutMessage(std::make_unique<TDisconnectResp>(m.PLCI));
        if (!connection) return;
        connection->State = csGone;
        // The connection leaves the table even when the hook fails.
        struct RemoveAfterHook
        {
            TConnections &table;
            TConnection *&connection;
            ~RemoveAfterHook() { table.Remove(connection); }
        };
        {
            RemoveAfterHook remove{FConnections, connection};
            hook();
        }
        if (OnReset && FConnections.Count() == 0 && FCallBack) FCallBack->RequestReset();
        break;
    }
    case INFO_IND: {
        auto &m = static_cast<TInfoInd &>(message);
        connection = FConnections.FindByPLCI(m.PLCI);
        PutMessage(std::make_unique<TInfoResp>(m.PLCI));
        hook();
        break;
    }
    case FACILITY_IND: {
        auto &m = static_cast<TFacilityInd &>(message);
        PutMessage(
            std::make_unique<TFacilityResp>(m.Address, m.FacilitySelector, TStruct::Empty()));
        hook();
        break;
    }
    case CONNECT_B3_IND: {
        auto &m = static_cast<TConnectB3Ind &>(message);
        connection = FConnections.FindByPLCI(m.NCCI & 0xFFFF);
        if (!connection) return;
        connection->State = csB3Offered;
        connection->NCCI = m.NCCI;
        hook();
        if (doDefault)
            PutMessage(std::make_unique<TConnectB3Resp>(m.NCCI, RejectAccept, TStruct::Empty()));
        break;
    }
    case CONNECT_B3_ACTIVE_IND: {
        auto &m = static_cast<TConnectB3ActiveInd &>(message);
        connection = FConnections.FindByNCCI(m.NCCI);
        if (!connection) return;
        connection->State = csB3Active;
        PutMessage(std::make_unique<TConnectB3ActiveResp>(m.NCCI));
        hook();
        break;
    }
    case CONNECT_B3_T90_ACTIVE_IND: {
        auto &m = static_cast<TConnectB3T90ActiveInd &>(message);
        connection = FConnections.FindByNCCI(m.NCCI);
        PutMessage(std::make_unique<TConnectB3T90ActiveResp>(m.NCCI));
        hook();
        break;
    }
    case DISCONNECT_B3_IND: {
        auto &m = static_cast<TDisconnectB3Ind &>(message);
        connection = FConnections.FindByNCCI(m.NCCI);
        if (!connection) return;
        connection->State = csB3Cleared;
        if (connection->DisconnectBy == dbNone) connection->DisconnectBy = dbB3ClearedByPeer;
        PutMessage(std::make_unique<TDisconnectB3Resp>(connection->NCCI));
        hook();
        if (doDefault && FConnections.Contains(connection) &&
            connection->DisconnectBy == dbThisProgram)
            PutMessage(std::make_unique<TDisconnectReq>(connection->PLCI, TStruct::Empty()));
        break;
    }
    case DATA_B3_IND: {
        auto &m = static_cast<TDataB3Ind &>(message);
        connection = FConnections.FindByNCCI(m.NCCI);
        hook();
        if (doDefault && connection)
            PutMessage(std::make_unique<TDataB3Resp>(connection->NCCI, m.DataHandle));
        break;
    }
    case RESET_B3_IND: {
        auto &m = static_cast<TResetB3Ind &>(message);
        connection = FConnections.FindByNCCI(m.NCCI);
        PutMessage(std::make_unique<TResetB3Resp>(m.NCCI));
        hook();
        break;
    }
    default:
        break;
    }
}

void TCapi::HandleConfirmation(TCapiMessage &message)
{
    LastError = 0;
    bool doDefault = true;
    auto *conf = dynamic_cast<TCapiConfirmation *>(&message);
    if (!conf) return; // an unknown confirmation: no hook
    if (conf->Info > InfoLastInformational) LastError = conf->Info;

    TConnection *connection = nullptr;
    switch (message.GetCommand()) {
    case LISTEN_CONF:
    case FACILITY_CONF:
        break;
    case ALERT_CONF:
    case DISCONNECT_CONF:
    case INFO_CONF:
    case SELECT_B_PROTOCOL_CONF:
        connection = FConnections.FindByPLCI(conf->Address);
        break;
    case DISCONNECT_B3_CONF:
        connection = FConnections.FindByNCCI(conf->Address);
        if (connection) connection->State = csB3Clearing;
        break;
    case RESET_B3_CONF:
        connection = FConnections.FindByNCCI(conf->Address);
        break;
    default:
        return;
    }
    if (OnMessage) OnMessage(connection, message, doDefault);
}
