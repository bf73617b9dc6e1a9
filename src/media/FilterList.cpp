#include "media/FilterList.h"

#include "media/MediaErrors.h"

TFilterList::TFilterList(IFilterGraph* graph) : graph_(graph) { Update(); }

void TFilterList::Update() {
    filters_.clear();
    if (!graph_) return;
    ComPtr<IEnumFilters> filters;
    if (graph_->EnumFilters(filters.Put()) != S_OK || !filters) return;
    for (;;) {
        ComPtr<IBaseFilter> filter;
        ULONG fetched = 0;
        if (filters->Next(1, filter.Put(), &fetched) != S_OK || !filter) break;
        filters_.push_back(std::move(filter));
    }
}

ComPtr<IBaseFilter> TFilterList::FilterAt(int index) const {
    if (index < 0 || index >= Count()) throw EListError(index);
    return filters_[static_cast<size_t>(index)];
}
