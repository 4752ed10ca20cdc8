// The table of calls the driver has announced, in creation order.
//
// Owned by the engine (TCapi) and used only in the main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Single-bit connection states; exactly one is set at a time.
enum TConnectionState : uint16_t
{
    csGone = 0,
    csOffered = 1,
    csConnected = 2,
    csB3Offered = 4,
    csB3Active = 8,
    csB3Clearing = 16,
    csB3Cleared = 32,
};

enum TDisconnectBy : uint16_t
{
    dbNone = 0,
    dbThisProgram = 1,
    dbB3ClearedByPeer = 2,
};

struct TConnection
{
    uint32_t PLCI = 0;
    const void *Owner = nullptr; // the monitor that claimed the call
    uint16_t DisconnectBy = dbNone;
    uint16_t State = csGone;
    uint32_t NCCI = 0;
};

class TConnections
{
public:
    // A new connection with every field 0 and no owner, appended to the table.
    TConnection *Add();
    // Destroys the connection when it is in the table; the reference becomes null.
    void Remove(TConnection *&connection);
    // True when the connection is in the table; otherwise the reference becomes null.
    bool Contains(TConnection *&connection) const;
    TConnection *FindByPLCI(uint32_t plci) const;
    TConnection *FindByNCCI(uint32_t ncci) const;
    TConnection *FindByOwner(const void *owner) const;
    int Count() const { return int(FItems.size()); }
    TConnection *Items(int index) const { return FItems.at(size_t(index)).get(); }

private:
    template <typename Pred> TConnection *FindFirst(Pred pred) const;
    std::vector<std::unique_ptr<TConnection>> FItems;
};
