#pragma once
// TEnumMediaType: the formats a pin offers, in the pin's order, each owned
// as a TMediaType and described as one line of text.
#include "media/MediaType.h"
#include "platform/FilterInterfaces.h"

#include <memory>
#include <string>
#include <vector>

class TEnumMediaType {
  public:
    TEnumMediaType() = default;
    TEnumMediaType(const TEnumMediaType&) = delete;
    TEnumMediaType& operator=(const TEnumMediaType&) = delete;

    // Refills the list with pin's formats (entries taken before are freed
    // now). A null pin raises EAssertionFailed "IPin not assigned"; a pin
    // that cannot enumerate leaves the list empty.
    void AssignPin(IPin* pin);
    void Clear() noexcept { list_.clear(); }

    int Count() const noexcept { return static_cast<int>(list_.size()); }
    // The entry, still owned by the list; EListError out of range.
    TMediaType& MediaTypeAt(int index);
    const TMediaType& MediaTypeAt(int index) const;
    // DescribeMediaType of the entry; empty out of range.
    std::string FormatText(int index) const;

  private:
    std::vector<std::unique_ptr<TMediaType>> list_;
};
