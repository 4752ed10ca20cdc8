#pragma once

#include "lookup/LookupWorker.h"
#include "lookup/UserPlugin.h"

// The worker of a user's lookup plug-in: calls its lookup function for each requested number
// and delivers a name that is not empty. It holds the plug-in, so the library is unloaded
// only after the worker has left the function, however long the function takes.
class TLookupThread : public LookupWorker
{
public:
    TLookupThread(std::shared_ptr<TUserPlugin> plugin, UserPluginFunction function)
        : FPlugin(std::move(plugin)), FFunction(function)
    {
    }

    TUserPlugin &plugin() const { return *FPlugin; }

protected:
    bool Run(const QString &number, LookupResult &result) override;

private:
    std::shared_ptr<TUserPlugin> FPlugin;
    UserPluginFunction FFunction;
};
