#include "media/FilterList.h"

#include "media/MediaErrors.h"
#include "platform/ComEnum.h"

TFilterList::TFilterList(IFilterGraph* graph) : graph_(graph) {
    Update();
}

void TFilterList::Update() {
    filters_.clear();
    if (!graph_) return;
    ComPtr<IEnumFilters> filters;
    if (graph_->EnumFilters(filters.Put()) != S_OK || !filters) return;
    AppendAll(*filters, filters_);
}

ComPtr<IBaseFilter> TFilterList::FilterAt(int index) const {
    if (index < 0 || index >= Count()) throw EListError(index);
    return filters_[static_cast<size_t>(index)];
}
