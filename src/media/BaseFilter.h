#pragma once
// TBaseFilter: the persistent holder of one device moniker, kept as the
// moniker's saved bytes.
#include "media/PersistentMemory.h"
#include "platform/FilterInterfaces.h"

class TBaseFilter : public TPersistentMemory {
  public:
    // Saves moniker into the block; none (or a moniker that cannot be saved)
    // empties it.
    void AssignMoniker(IMoniker* moniker);
    // The moniker the block holds; none for an empty or damaged block.
    ComPtr<IMoniker> LoadMoniker() const;
    // A new platform filter bound from the moniker; none when there is no
    // moniker or binding fails (result, when given, gets the binding's code:
    // E_DEVICE_GONE for a device no longer connected).
    ComPtr<IBaseFilter> BindFilter(HRESULT* result = nullptr) const;
};
