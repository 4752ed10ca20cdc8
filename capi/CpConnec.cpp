#include "capi/CpConnec.h"

#include <algorithm>

TConnection *TConnections::Add()
{
    FItems.push_back(std::make_unique<TConnection>());
    return FItems.back().get();
}

void TConnections::Remove(TConnection *&connection)
{
    const auto it = std::find_if(FItems.begin(), FItems.end(),
                                 [connection](const auto &c) { return c.get() == connection; });
    if (it != FItems.end()) {
        FItems.erase(it);
        connection = nullptr;
    }
}

bool TConnections::Contains(TConnection *&connection) const
{
    const bool found =
        connection && FindFirst([connection](const TConnection &c) { return &c == connection; });
    if (!found) connection = nullptr;
    return found;
}

template <typename Pred> TConnection *TConnections::FindFirst(Pred pred) const
{
    for (const auto &c : FItems)
        if (pred(*c)) return c.get();
    return nullptr;
}

TConnection *TConnections::FindByPLCI(uint32_t plci) const
{
    return FindFirst([plci](const TConnection &c) { return c.PLCI == plci; });
}

TConnection *TConnections::FindByNCCI(uint32_t ncci) const
{
    return FindFirst([ncci](const TConnection &c) { return c.NCCI == ncci; });
}

TConnection *TConnections::FindByOwner(const void *owner) const
{
    return FindFirst([owner](const TConnection &c) { return c.Owner == owner; });
}
