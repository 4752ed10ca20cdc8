#include "lookup/ReverseLookupThread.h"

bool TReverseLookupThread::Run(const QString &number, LookupResult &result)
{
    ReverseLookupAnswer answer;
    if (!FClient.Lookup(number, answer, &result.failure)) return !result.failure.isEmpty();
    result.name =
        answer.name.contains(QLatin1String("ERROR")) ? QString() : CapLookupName(answer.name);
    result.info = answer.info;
    result.hasInfo = true;
    return true;
}
