#pragma once
// Enumerators over a snapshot list: the position bookkeeping every IEnum*
// interface shares, so that each enumerator only says how one item is handed
// out; and the reading side, taking all an enumerator yields.
#include "platform/Unknown.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

// Skip and Reset over a fixed list; the derived class supplies Next.
template <class IEnum, class Item> class TComEnumBase : public TComObject<IEnum> {
  public:
    explicit TComEnumBase(std::vector<Item> items, size_t pos = 0)
        : items_(std::move(items)), pos_(pos) {}

    HRESULT Skip(ULONG count) override {
        const size_t left = items_.size() - pos_;
        pos_ += std::min<size_t>(left, count);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        pos_ = 0;
        return S_OK;
    }

  protected:
    std::vector<Item> items_;
    size_t pos_ = 0;
};

// An enumerator of interface pointers: each fetched one is an added reference.
template <class IEnum, class Elem> class TComEnum : public TComEnumBase<IEnum, ComPtr<Elem>> {
  public:
    using TComEnumBase<IEnum, ComPtr<Elem>>::TComEnumBase;

    HRESULT Next(ULONG count, Elem** out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && this->pos_ < this->items_.size())
            this->items_[this->pos_++].CopyTo(&out[n++]);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
};

// Appends what the enumerator still yields, in order; the first failure or
// empty answer ends the list.
template <class IEnum, class Elem> void AppendAll(IEnum& items, std::vector<ComPtr<Elem>>& out) {
    for (;;) {
        ComPtr<Elem> item;
        ULONG fetched = 0;
        if (items.Next(1, item.Put(), &fetched) != S_OK || !item) break;
        out.push_back(std::move(item));
    }
}
