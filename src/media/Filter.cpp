#include "media/Filter.h"

TFilter::TFilter(std::string name)
    : TComponent(std::move(name)), baseFilter_(std::make_unique<TBaseFilter>()) {}

TFilter::~TFilter() {
    try {
        SetFilterGraph(nullptr);
    } catch (...) {
        // a destructor must not raise; the graph has already dropped the member
    }
    baseFilter_.reset();
}

void TFilter::SetFilterGraph(TFilterGraph* graph) {
    if (graph == filterGraph_) return;
    TFilterGraph* old = filterGraph_;
    filterGraph_ = graph;
    if (old) old->RemoveMember(this);
    if (graph) graph->InsertMember(this);
}

HRESULT TFilter::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!filter_) return E_NOINTERFACE;
    return filter_->QueryInterface(iid, out);
}

void TFilter::OnFilterOperation(TFilterOperation operation) {
    switch (operation) {
    case opAdding:
        filter_ = baseFilter_->BindFilter(&bindResult_);
        break;
    case opAdded:
        break;
    case opRemoving:
        if (filter_) filter_->Stop();
        break;
    case opRemoved:
        filter_.Reset();
        break;
    }
}

void TFilter::GraphDestroyed(TFilterGraph* graph) {
    if (graph == filterGraph_) {
        filterGraph_ = nullptr;
        filter_.Reset();
    }
}
