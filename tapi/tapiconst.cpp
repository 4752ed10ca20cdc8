#include "tapi/tapiconst.h"

namespace tapi {

namespace {

struct Named
{
    uint32_t value;
    const char *name;
};

constexpr Named CallStates[] = {
    {LINECALLSTATE_IDLE, "LINECALLSTATE_IDLE"},
    {LINECALLSTATE_OFFERING, "LINECALLSTATE_OFFERING"},
    {LINECALLSTATE_ACCEPTED, "LINECALLSTATE_ACCEPTED"},
    {LINECALLSTATE_DIALTONE, "LINECALLSTATE_DIALTONE"},
    {LINECALLSTATE_DIALING, "LINECALLSTATE_DIALING"},
    {LINECALLSTATE_RINGBACK, "LINECALLSTATE_RINGBACK"},
    {LINECALLSTATE_BUSY, "LINECALLSTATE_BUSY"},
    {LINECALLSTATE_SPECIALINFO, "LINECALLSTATE_SPECIALINFO"},
    {LINECALLSTATE_CONNECTED, "LINECALLSTATE_CONNECTED"},
    {LINECALLSTATE_PROCEEDING, "LINECALLSTATE_PROCEEDING"},
    {LINECALLSTATE_ONHOLD, "LINECALLSTATE_ONHOLD"},
    {LINECALLSTATE_CONFERENCED, "LINECALLSTATE_CONFERENCED"},
    {LINECALLSTATE_ONHOLDPENDCONF, "LINECALLSTATE_ONHOLDPENDCONF"},
    {LINECALLSTATE_ONHOLDPENDTRANSFER, "LINECALLSTATE_ONHOLDPENDTRANSFER"},
    {LINECALLSTATE_DISCONNECTED, "LINECALLSTATE_DISCONNECTED"},
    {LINECALLSTATE_UNKNOWN, "LINECALLSTATE_UNKNOWN"},
};

constexpr Named LineErrors[] = {
    {uint32_t(LINEERR_ALLOCATED), "LINEERR_ALLOCATED"},
    {uint32_t(LINEERR_BADDEVICEID), "LINEERR_BADDEVICEID"},
    {uint32_t(LINEERR_CALLUNAVAIL), "LINEERR_CALLUNAVAIL"},
    {uint32_t(LINEERR_INCOMPATIBLEAPIVERSION), "LINEERR_INCOMPATIBLEAPIVERSION"},
    {uint32_t(LINEERR_INVALADDRESS), "LINEERR_INVALADDRESS"},
    {uint32_t(LINEERR_INVALAPPHANDLE), "LINEERR_INVALAPPHANDLE"},
    {uint32_t(LINEERR_INVALCALLHANDLE), "LINEERR_INVALCALLHANDLE"},
    {uint32_t(LINEERR_INVALLINEHANDLE), "LINEERR_INVALLINEHANDLE"},
    {uint32_t(LINEERR_NODEVICE), "LINEERR_NODEVICE"},
    {uint32_t(LINEERR_NODRIVER), "LINEERR_NODRIVER"},
    {uint32_t(LINEERR_OPERATIONFAILED), "LINEERR_OPERATIONFAILED"},
    {uint32_t(LINEERR_RESOURCEUNAVAIL), "LINEERR_RESOURCEUNAVAIL"},
};

template <size_t N> QString nameOf(const Named (&table)[N], uint32_t value)
{
    for (const Named &entry : table) {
        if (entry.value == value) return QString::fromLatin1(entry.name);
    }
    return QString();
}

} // namespace

QString CallStateName(uint32_t state)
{
    return nameOf(CallStates, state);
}

QString CallStateLogName(uint32_t state, uint32_t mode)
{
    const QString name = CallStateName(state);
    if (name.isEmpty()) return QStringLiteral("unknown status");
    constexpr uint32_t WithMode = LINECALLSTATE_OFFERING | LINECALLSTATE_DIALTONE |
                                  LINECALLSTATE_BUSY | LINECALLSTATE_SPECIALINFO |
                                  LINECALLSTATE_CONNECTED | LINECALLSTATE_DISCONNECTED;
    if (state & WithMode) return name + QStringLiteral(", ") + QString::number(mode);
    return name;
}

QString LineErrorName(int32_t code)
{
    return nameOf(LineErrors, uint32_t(code));
}

} // namespace tapi
