#pragma once
// Fake platform graph and capture graph builder: they log their calls and let
// a test queue graph events from any thread.
#include "FakeFilter.h"

#include <deque>
#include <mutex>
#include <tuple>

struct FakeGraphConfig {
    HRESULT runResult = S_OK;
    HRESULT stopResult = S_OK;
    HRESULT setLogFileResult = S_OK;
    static FakeGraphConfig& Get() {
        static FakeGraphConfig c;
        return c;
    }
};

class FakeFilterGraph final
    : public TComObject<IFilterGraph2, IMediaControl, IMediaEventEx, IMediaSeeking> {
  public:
    FakeFilterGraph() { Last() = this; }
    ~FakeFilterGraph() override {
        if (Last() == this) Last() = nullptr;
    }
    // The most recently created graph still alive (null when none).
    static FakeFilterGraph*& Last() {
        static FakeFilterGraph* last = nullptr;
        return last;
    }

    std::vector<std::string> filterNames; // in the graph now
    intptr_t logFile = kNoLogFile;
    int freedEvents = 0;
    int postsWhileOff = 0;

    // Queues an event and announces it as the platform does.
    void Fire(LONG code, LONG_PTR p1 = 0, LONG_PTR p2 = 0) {
        std::lock_guard g(lock_);
        queue_.emplace_back(code, p1, p2);
        if (target_ && flags_ == 0)
            target_->PostGraphEvent(message_, param_);
        else
            ++postsWhileOff;
    }

    // IFilterGraph / IGraphBuilder / IFilterGraph2
    HRESULT AddFilter(IBaseFilter* filter, const std::string& name) override {
        FakeLog::Add("AddFilter " + name + (filter ? "" : " (none)"));
        if (!filter) return E_POINTER;
        filters_.push_back(filter);
        filterNames.push_back(name);
        return S_OK;
    }
    HRESULT RemoveFilter(IBaseFilter* filter) override {
        for (size_t i = 0; i < filters_.size(); ++i) {
            if (filters_[i].Get() == filter) {
                FakeLog::Add("RemoveFilter " + filterNames[i]);
                filters_.erase(filters_.begin() + static_cast<long>(i));
                filterNames.erase(filterNames.begin() + static_cast<long>(i));
                return S_OK;
            }
        }
        FakeLog::Add("RemoveFilter (unknown)");
        return E_INVALIDARG;
    }
    HRESULT EnumFilters(IEnumFilters** out) override {
        *out = MakeComObject<FakeEnum<IBaseFilter, IEnumFilters>>(filters_).Detach();
        return S_OK;
    }
    HRESULT FindFilterByName(const std::string&, IBaseFilter** out) override {
        *out = nullptr;
        return VFW_E_NOT_FOUND;
    }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Connect(IPin*, IPin*) override { return E_NOTIMPL; }
    HRESULT SetLogFile(intptr_t file) override {
        if (file != kNoLogFile && FAILED(FakeGraphConfig::Get().setLogFileResult))
            return FakeGraphConfig::Get().setLogFileResult;
        logFile = file;
        return S_OK;
    }

    // IMediaControl
    HRESULT Run() override {
        FakeLog::Add("Run");
        return FakeGraphConfig::Get().runResult;
    }
    HRESULT Pause() override { return S_OK; }
    HRESULT Stop() override {
        FakeLog::Add("GraphStop");
        return FakeGraphConfig::Get().stopResult;
    }
    HRESULT GetState(LONG, OAFilterState* s) override {
        *s = State_Stopped;
        return S_OK;
    }

    // IMediaEventEx
    HRESULT GetEvent(LONG* code, LONG_PTR* p1, LONG_PTR* p2, LONG) override {
        std::lock_guard g(lock_);
        if (queue_.empty()) return E_ABORT;
        std::tie(*code, *p1, *p2) = queue_.front();
        queue_.pop_front();
        return S_OK;
    }
    HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override {
        ++freedEvents;
        return S_OK;
    }
    HRESULT SetNotifyWindow(INotifyTarget* target, LONG message, LONG_PTR param) override {
        std::lock_guard g(lock_);
        target_ = target;
        message_ = message;
        param_ = param;
        return S_OK;
    }
    HRESULT SetNotifyFlags(LONG flags) override {
        FakeLog::Add("SetNotifyFlags " + std::to_string(flags));
        std::lock_guard g(lock_);
        flags_ = flags;
        return S_OK;
    }
    HRESULT GetNotifyFlags(LONG* flags) override {
        std::lock_guard g(lock_);
        *flags = flags_;
        return S_OK;
    }

    // IMediaSeeking
    HRESULT GetCurrentPosition(LONGLONG* pos) override {
        *pos = 0;
        return S_OK;
    }

  private:
    std::vector<ComPtr<IBaseFilter>> filters_;
    std::mutex lock_; // guards the event queue and the notification target
    std::deque<std::tuple<LONG, LONG_PTR, LONG_PTR>> queue_;
    INotifyTarget* target_ = nullptr;
    LONG message_ = 0;
    LONG_PTR param_ = 0;
    LONG flags_ = AM_MEDIAEVENT_NONOTIFY;
};

class FakeCaptureBuilder final : public TComObject<ICaptureGraphBuilder2> {
  public:
    HRESULT SetFiltergraph(IGraphBuilder* graph) override {
        FakeLog::Add("SetFiltergraph");
        graph_ = graph;
        return S_OK;
    }
    HRESULT GetFiltergraph(IGraphBuilder** out) override { return graph_.CopyTo(out); }
    HRESULT SetOutputFileName(const GUID*, const std::string&, IBaseFilter**,
                              IFileSinkFilter**) override {
        return E_NOTIMPL;
    }
    HRESULT FindInterface(const GUID*, const GUID*, IBaseFilter*, REFIID, void** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT RenderStream(const GUID*, const GUID*, IUnknown*, IBaseFilter*, IBaseFilter*) override {
        return E_NOTIMPL;
    }
    HRESULT FindPin(IUnknown*, PIN_DIRECTION, const GUID*, const GUID*, BOOL, int,
                    IPin** out) override {
        *out = nullptr;
        return E_NOTIMPL;
    }

  private:
    ComPtr<IGraphBuilder> graph_;
};

// Registers the fake graph classes for a test's lifetime.
struct FakeGraphPlatform {
    TClassRegistration graph{CLSID_FilterGraph, MakeClassFactory<FakeFilterGraph>()};
    TClassRegistration builder{CLSID_CaptureGraphBuilder2, MakeClassFactory<FakeCaptureBuilder>()};
    FakeGraphPlatform() {
        FakeGraphConfig::Get() = FakeGraphConfig{};
        FakeLog::Clear();
    }
    ~FakeGraphPlatform() { FakeGraphConfig::Get() = FakeGraphConfig{}; }
};
