#include "lookup/lookupthread.h"

bool TLookupThread::Run(const QString &number, LookupResult &result)
{
    return TUserPlugin::Call(FFunction, number, result.name) && !result.name.isEmpty();
}
