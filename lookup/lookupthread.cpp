#include "lookup/lookupthread.h"

bool TLookupThread::Run(const QString &number, LookupResult &result)
{
    if (FPlugin->Call(FFunction, number, result.name) != TUserPlugin::CallResult::Found)
        return false;
    result.name = CapLookupName(result.name);
    return !result.name.isEmpty();
}
