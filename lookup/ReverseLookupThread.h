#pragma once

#include "lookup/LookupWorker.h"
#include "lookup/ReverseLookupForm.h"

// The worker of the built-in reverse lookup: asks the server for each requested number with
// its own HTTP client and delivers the name (cleared when it contains "ERROR") and the
// information of every answer it receives; a server that gives no answer delivers the reason
// alone, so that "nobody known" and "nobody asked" stay apart. Aborting ends a transfer under
// way at once and delivers nothing.
class TReverseLookupThread : public LookupWorker
{
public:
    explicit TReverseLookupThread(const QString &baseUrl) : FClient(baseUrl) {}

protected:
    bool Run(const QString &number, LookupResult &result) override;
    void Interrupt() override { FClient.Abort(); }

private:
    TfrmLookup FClient;
};
