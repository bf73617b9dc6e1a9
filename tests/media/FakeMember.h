#pragma once
// A component that attaches to a graph as member and/or listener and logs
// every call it gets.
#include "FakeFilter.h"
#include "common/Exception.h"
#include "media/FilterGraph.h"

class FakeMember : public IFilterMember, public IGraphListener {
  public:
    explicit FakeMember(std::string name) : name_(std::move(name)) {}

    ComPtr<IBaseFilter> MemberFilter() override { return filter_; }
    std::string MemberName() override { return name_; }
    void OnFilterOperation(TFilterOperation op) override {
        static const char* names[] = {"opAdding", "opAdded", "opRemoving", "opRemoved"};
        FakeLog::Add(name_ + " " + names[op]);
        if (op == opAdding) filter_ = MakeComObject<FakeFilter>(name_);
        if (op == opRemoved) filter_.Reset();
        if (op == throwOn) throw Exception(name_ + " failed");
    }
    void HandleGraphEvent(LONG code, LONG_PTR p1, LONG_PTR) override {
        FakeLog::Add(name_ + " event " + std::to_string(code) + " " + std::to_string(p1));
    }
    void HandleControlEvent(TControlEvent e, LONG_PTR param) override {
        FakeLog::Add(name_ + " control " + std::to_string(e) + " " + std::to_string(param));
    }
    void GraphDestroyed(TFilterGraph*) override { ++destroyedCalls; }

    int throwOn = -1; // an operation that raises
    int destroyedCalls = 0;

  private:
    std::string name_;
    ComPtr<IBaseFilter> filter_;
};
