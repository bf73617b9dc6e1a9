#pragma once
// TFilter: a component standing for one platform filter described by a
// device moniker. While attached to an active graph it holds a live filter
// bound fresh from the moniker at each activation.
#include "media/BaseFilter.h"
#include "media/Component.h"
#include "media/FilterGraph.h"

#include <memory>

class TFilter : public TComponent, public IFilterMember {
  public:
    explicit TFilter(std::string name = {});
    ~TFilter() override;

    TBaseFilter& BaseFilter() noexcept { return *baseFilter_; }
    TFilterGraph* FilterGraph() const noexcept { return filterGraph_; }
    // Nothing when unchanged; otherwise leaves the old graph, joins the new one.
    void SetFilterGraph(TFilterGraph* graph);

    // Why the last activation left no live filter (S_OK when it has one or no
    // device was chosen): the window shows its text rather than E_NOINTERFACE's.
    HRESULT BindResult() const noexcept { return bindResult_; }
    // The live filter's interfaces (E_NOINTERFACE while there is none).
    HRESULT QueryInterface(REFIID iid, void** out);
    template <class T> ComPtr<T> Query() {
        ComPtr<T> r;
        QueryInterface(T::Iid, r.PutVoid());
        return r;
    }

    // IFilterMember
    ComPtr<IBaseFilter> MemberFilter() override { return filter_; }
    std::string MemberName() override { return Name(); }
    void OnFilterOperation(TFilterOperation operation) override;
    void GraphDestroyed(TFilterGraph* graph) override;

  private:
    std::unique_ptr<TBaseFilter> baseFilter_;
    TFilterGraph* filterGraph_ = nullptr; // not owned
    ComPtr<IBaseFilter> filter_;
    HRESULT bindResult_ = S_OK;
};
