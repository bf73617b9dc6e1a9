#pragma once
// TFilterList: the filters of one platform graph.
#include "platform/GraphInterfaces.h"

#include <vector>

class TFilterList {
  public:
    // Lists graph's filters at once (none for a null graph).
    explicit TFilterList(IFilterGraph* graph);
    TFilterList(const TFilterList&) = delete;
    TFilterList& operator=(const TFilterList&) = delete;

    void Update();
    int Count() const noexcept { return static_cast<int>(filters_.size()); }
    // EListError out of range.
    ComPtr<IBaseFilter> FilterAt(int index) const;
    ComPtr<IBaseFilter> operator[](int index) const { return FilterAt(index); }

  private:
    ComPtr<IFilterGraph> graph_;
    std::vector<ComPtr<IBaseFilter>> filters_;
};
