#pragma once
// Small steps the capture parts share: a component's platform filter, a
// teardown whose every step runs, and discarding a graph.
#include "media/FilterGraph.h"
#include "media/MediaErrors.h"

#include <exception>

// The component's platform filter; a component without one raises (E_NOINTERFACE).
template <class C> ComPtr<IBaseFilter> FilterOf(C& component) {
    ComPtr<IBaseFilter> filter;
    CheckMediaResult(component.QueryInterface(IID_IBaseFilter, filter.PutVoid()));
    return filter;
}

// Runs every step of a teardown even when one fails, keeping the first
// failure to raise at the end.
class TFirstError {
  public:
    template <class F> void Step(F&& step) {
        try {
            step();
        } catch (...) {
            if (!first_) first_ = std::current_exception();
        }
    }
    void Rethrow() const {
        if (first_) std::rethrow_exception(first_);
    }

  private:
    std::exception_ptr first_;
};

// A start or a device choice begins from an inactive graph, also after an
// earlier start failed half-way and left the graph active. The graph is being
// discarded: a failing stop must not keep it alive.
inline void DiscardGraph(TFilterGraph& graph) {
    if (!graph.Active()) return;
    TFirstError ignored;
    ignored.Step([&graph] { graph.Stop(); });
    graph.SetActive(false);
}
