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

} // namespace

QString CallStateName(uint32_t state)
{
    for (const Named &entry : CallStates) {
        if (entry.value == state) return QString::fromLatin1(entry.name);
    }
    return QString();
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

} // namespace tapi
