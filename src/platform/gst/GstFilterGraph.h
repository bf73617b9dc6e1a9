#pragma once
// The filter graph on a GstPipeline: filters (GstBins) join the pipeline,
// IMediaControl drives its state, bus messages become graph events that are
// queued and announced to the notification target, and IMediaSeeking reads
// the running time.
//
// Bus messages are handled by a bus sync handler on whichever thread posts
// them; it only queues and posts, never calls the UI.
// Locks: eventsLock_ guards events_, target_/message_/param_/flags_, bins_
// and the stop handshake (stopping_, eosSeen_, errorSeen_, errors_,
// lastError_, sourceFailed_); the rest is used only by the thread that
// drives the graph.
#include "platform/GraphInterfaces.h"
#include "platform/gst/GstUtil.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

class TGstFilterGraph
    : public TComObject<IFilterGraph2, IMediaControl, IMediaEventEx, IMediaSeeking> {
  public:
    TGstFilterGraph();

    // IFilterGraph / IGraphBuilder
    HRESULT AddFilter(IBaseFilter* filter, const std::string& name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT EnumFilters(IEnumFilters** out) override;
    HRESULT FindFilterByName(const std::string& name, IBaseFilter** out) override;
    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override;
    HRESULT Disconnect(IPin* pin) override;
    HRESULT Connect(IPin* out, IPin* in) override;
    HRESULT SetLogFile(intptr_t file) override;

    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG timeoutMs, OAFilterState* state) override;

    // IMediaEvent / IMediaEventEx
    HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) override;
    HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override;
    HRESULT SetNotifyWindow(INotifyTarget* target, LONG message, LONG_PTR param) override;
    HRESULT SetNotifyFlags(LONG flags) override;
    HRESULT GetNotifyFlags(LONG* flags) override;

    // IMediaSeeking
    HRESULT GetCurrentPosition(LONGLONG* position) override;

    // Writes one line to the graph's log file, when one is set.
    void Log(const std::string& line);
    void LogLine(const std::string& line) override { Log(line); }
    GstElement* Pipeline() const { return pipeline_.get(); }

    // How long Stop waits for writers to finish their files.
    static constexpr int kFinishTimeoutMs = 5000;

  protected:
    ~TGstFilterGraph() override;

  private:
    struct TFilterEntry {
        ComPtr<IBaseFilter> Filter;
        std::string Name;
    };
    struct TEvent {
        LONG Code;
        LONG_PTR Param1, Param2;
    };

    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    void HandleMessage(GstMessage* message);
    void QueueEvent(LONG code, LONG_PTR param1, LONG_PTR param2);
    // The filter whose bin holds element (a counted reference), or null;
    // bin gets the filter's bin. Called with eventsLock_ held.
    IBaseFilter* FilterOf(GstObject* element, GstElement** bin = nullptr);
    bool HasWriters();
    HRESULT RunResult(GstStateChangeReturn ret);
    void DumpStructure();

    TGstRef<GstElement> pipeline_;
    std::vector<TFilterEntry> filters_;
    intptr_t logFile_ = kNoLogFile;
    LONGLONG lastPosition_ = 0;

    std::mutex eventsLock_;
    std::condition_variable eventsChanged_;
    std::deque<TEvent> events_;
    INotifyTarget* target_ = nullptr;
    LONG message_ = 0;
    LONG_PTR param_ = 0;
    LONG flags_ = 0;
    bool stopping_ = false;
    bool eosSeen_ = false;
    bool errorSeen_ = false;
    HRESULT lastError_ = S_OK;
    // Whether the first failure came from a capture source (a lost device):
    // the rest of the graph still works and its files can be finished.
    bool sourceFailed_ = false;
    int errors_ = 0; // every failure, also those not reported
    // Snapshot of the filters' bins for the bus handler (streaming threads).
    std::vector<std::pair<GstElement*, IBaseFilter*>> bins_;
};
