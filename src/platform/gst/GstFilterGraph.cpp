#include "platform/gst/GstFilterGraph.h"

#include "platform/ComEnum.h"
#include "platform/MediaResults.h"
#include "platform/RunningObjectTable.h"
#include "platform/gst/GstFilter.h"

#include "common/Text.h"

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

using TGstEnumFilters = TComEnum<IEnumFilters, IBaseFilter>;

// A GStreamer error as a result code the caller can show. A file that may
// grow no further (a size limit) is a full disk to the user; the file sink
// tells it only by the system's text in the debug part.
HRESULT ResultOfError(const GError* error, const char* debug) {
    if (error->domain == GST_RESOURCE_ERROR) {
        switch (error->code) {
        case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
            return STG_E_MEDIUMFULL;
        case GST_RESOURCE_ERROR_WRITE:
            if (debug &&
                (std::strstr(debug, g_strerror(EFBIG)) || std::strstr(debug, g_strerror(ENOSPC))))
                return STG_E_MEDIUMFULL;
            return E_ACCESSDENIED;
        case GST_RESOURCE_ERROR_OPEN_WRITE:
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
            return E_ACCESSDENIED;
        case GST_RESOURCE_ERROR_NOT_FOUND:
        case GST_RESOURCE_ERROR_OPEN_READ:
        case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
        case GST_RESOURCE_ERROR_BUSY:
        case GST_RESOURCE_ERROR_READ:
            return VFW_E_NO_CAPTURE_HARDWARE;
        default:
            break;
        }
    }
    if ((error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_FORMAT) ||
        (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_NEGOTIATION))
        return VFW_E_NO_ACCEPTABLE_TYPES;
    return VFW_E_RUNTIME_ERROR;
}

bool IsDeviceLoss(const GError* error) {
    return error->domain == GST_RESOURCE_ERROR &&
           (error->code == GST_RESOURCE_ERROR_NOT_FOUND || error->code == GST_RESOURCE_ERROR_READ ||
            error->code == GST_RESOURCE_ERROR_OPEN_READ ||
            error->code == GST_RESOURCE_ERROR_OPEN_READ_WRITE);
}

} // namespace

TGstFilterGraph::TGstFilterGraph() {
    EnsureGstInitialised();
    pipeline_.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    TGstRef<GstBus> bus(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), &TGstFilterGraph::OnBusMessage, this, nullptr);
}

TGstFilterGraph::~TGstFilterGraph() {
    {
        // Whoever listened is gone with the last reference.
        std::lock_guard lock(eventsLock_);
        target_ = nullptr;
    }
    // A graph dropped while running still finishes its files.
    Stop();
    while (!filters_.empty())
        RemoveFilter(filters_.back().Filter.Get());
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    TGstRef<GstBus> bus(gst_element_get_bus(pipeline_.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    pipeline_.reset();
    for (const auto& e : events_)
        FreeEventParams(e.Code, e.Param1, e.Param2);
}

void TGstFilterGraph::Log(const std::string& line) {
    if (logFile_ == kNoLogFile) return;
    std::string text = line + "\n";
    ssize_t ignored = ::write(static_cast<int>(logFile_), text.data(), text.size());
    (void)ignored;
}

// ---------------------------------------------------------------- filters

HRESULT TGstFilterGraph::AddFilter(IBaseFilter* filter, const std::string& name) {
    if (!filter) return E_POINTER;
    for (const auto& f : filters_)
        if (f.Filter.Get() == filter) return E_INVALIDARG;
    std::string unique = name.empty() ? "Filter" : name;
    HRESULT result = S_OK;
    ComPtr<IBaseFilter> found;
    for (int n = 1; SUCCEEDED(FindFilterByName(unique, found.Put())); ++n) {
        unique = (name.empty() ? "Filter" : name) + " " + Format("%04d", n);
        result = VFW_S_DUPLICATE_NAME;
    }
    GstElement* element = nullptr;
    if (ComPtr<IGstFilter> gst = QueryAs<IGstFilter>(filter)) {
        element = gst->Element();
        if (!gst_bin_add(GST_BIN(pipeline_.get()), element)) return E_FAIL;
    }
    filters_.push_back({ComPtr<IBaseFilter>(filter), unique});
    filter->JoinFilterGraph(this, unique);
    if (element) {
        std::lock_guard lock(eventsLock_);
        bins_.emplace_back(element, filter);
    }
    if (element) gst_element_sync_state_with_parent(element);
    Log("AddFilter " + unique + Format(" (0x%08X)", unsigned(result)));
    return result;
}

HRESULT TGstFilterGraph::RemoveFilter(IBaseFilter* filter) {
    if (!filter) return E_POINTER;
    auto it = std::find_if(filters_.begin(), filters_.end(),
                           [&](const TFilterEntry& f) { return f.Filter.Get() == filter; });
    if (it == filters_.end()) return VFW_E_NOT_FOUND;
    ComPtr<IBaseFilter> keep = it->Filter;
    const std::string name = it->Name;
    ComPtr<IEnumPins> pins;
    if (SUCCEEDED(filter->EnumPins(pins.Put())) && pins) {
        ComPtr<IPin> pin;
        while (pins->Next(1, pin.Put(), nullptr) == S_OK)
            pin->Disconnect();
    }
    if (ComPtr<IGstFilter> gst = QueryAs<IGstFilter>(filter)) {
        {
            std::lock_guard lock(eventsLock_);
            std::erase_if(bins_, [&](const auto& b) { return b.second == filter; });
        }
        gst_element_set_state(gst->Element(), GST_STATE_NULL);
        gst_bin_remove(GST_BIN(pipeline_.get()), gst->Element());
    }
    filters_.erase(std::find_if(filters_.begin(), filters_.end(),
                                [&](const TFilterEntry& f) { return f.Filter.Get() == filter; }));
    filter->JoinFilterGraph(nullptr, std::string());
    Log("RemoveFilter " + name);
    return S_OK;
}

HRESULT TGstFilterGraph::EnumFilters(IEnumFilters** out) {
    if (!out) return E_POINTER;
    std::vector<ComPtr<IBaseFilter>> items;
    for (const auto& f : filters_)
        items.push_back(f.Filter);
    *out = MakeComObject<TGstEnumFilters>(std::move(items)).Detach();
    return S_OK;
}

HRESULT TGstFilterGraph::FindFilterByName(const std::string& name, IBaseFilter** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    for (const auto& f : filters_)
        if (f.Name == name) return f.Filter.CopyTo(out);
    return VFW_E_NOT_FOUND;
}

HRESULT TGstFilterGraph::ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) {
    if (!out || !in) return E_POINTER;
    HRESULT hr = out->Connect(in, type);
    Log(Format("ConnectDirect 0x%08X", unsigned(hr)));
    return hr;
}

HRESULT TGstFilterGraph::Connect(IPin* out, IPin* in) {
    return ConnectDirect(out, in, nullptr);
}

HRESULT TGstFilterGraph::Disconnect(IPin* pin) {
    if (!pin) return E_POINTER;
    return pin->Disconnect();
}

HRESULT TGstFilterGraph::SetLogFile(intptr_t file) {
    logFile_ = file;
    return S_OK;
}

// ---------------------------------------------------------------- control

bool TGstFilterGraph::HasWriters() {
    for (const auto& f : filters_)
        if (ComPtr<IGstFilter> gst = QueryAs<IGstFilter>(f.Filter.Get());
            gst && gst->NeedsEndOfStream())
            return true;
    return false;
}

void TGstFilterGraph::DumpStructure() {
    if (!std::getenv("GST_DEBUG_DUMP_DOT_DIR")) return;
    std::string name;
    if (!RunningObjectName(static_cast<IFilterGraph2*>(this), name))
        name = Format("FilterGraph %p", static_cast<void*>(this));
    if (!name.empty() && name.front() == '!') name.erase(0, 1); // the item moniker's delimiter
    for (char& c : name)
        if (c == ' ' || c == '/') c = '_';
    GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(pipeline_.get()), GST_DEBUG_GRAPH_SHOW_ALL, name.c_str());
}

HRESULT TGstFilterGraph::RunResult(GstStateChangeReturn ret) {
    if (ret == GST_STATE_CHANGE_ASYNC) {
        // Live sources start at once; a short wait shows failures that
        // appear with the first data (a format nobody accepts).
        ret = gst_element_get_state(pipeline_.get(), nullptr, nullptr, 2 * GST_SECOND);
    }
    if (ret != GST_STATE_CHANGE_FAILURE) return ret == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
    std::lock_guard lock(eventsLock_);
    return FAILED(lastError_) ? lastError_ : E_FAIL;
}

HRESULT TGstFilterGraph::Run() {
    {
        std::lock_guard lock(eventsLock_);
        errorSeen_ = false;
        sourceFailed_ = false;
        lastError_ = S_OK;
    }
    DumpStructure();
    HRESULT hr = RunResult(gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING));
    if (FAILED(hr)) {
        // Nothing half-started is left behind: sources and files are closed.
        gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    }
    Log(Format("Run 0x%08X", unsigned(hr)));
    return hr;
}

HRESULT TGstFilterGraph::Pause() {
    GstStateChangeReturn ret = gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED);
    return ret == GST_STATE_CHANGE_FAILURE ? E_FAIL : S_OK;
}

HRESULT TGstFilterGraph::Stop() {
    GstState state = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    gst_element_get_state(pipeline_.get(), &state, &pending, 0);
    if (state == GST_STATE_NULL && pending == GST_STATE_VOID_PENDING) return S_OK;
    GetCurrentPosition(&lastPosition_);
    HRESULT hr = S_OK;
    if (state == GST_STATE_PLAYING && HasWriters()) {
        std::unique_lock lock(eventsLock_);
        // After a lost device the others still deliver: ending their streams
        // finishes the files (the failed source has ended its own stream).
        if (!errorSeen_ || sourceFailed_) {
            const int errorsBefore = errors_;
            stopping_ = true;
            eosSeen_ = false;
            lock.unlock();
            // End of stream from every source: the multiplexers write their
            // indexes and headers, and the bus says when all sinks have it.
            gst_element_send_event(pipeline_.get(), gst_event_new_eos());
            lock.lock();
            if (!eventsChanged_.wait_for(lock, std::chrono::milliseconds(kFinishTimeoutMs),
                                         [&] { return eosSeen_ || errors_ != errorsBefore; }))
                hr = S_FALSE;
            stopping_ = false;
        }
    }
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    Log(Format("Stop 0x%08X", unsigned(hr)));
    return hr; // S_FALSE: stopped, but a writer did not confirm its end in time
}

HRESULT TGstFilterGraph::GetState(LONG timeoutMs, OAFilterState* state) {
    if (!state) return E_POINTER;
    GstState current = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    GstStateChangeReturn ret = gst_element_get_state(
        pipeline_.get(), &current, &pending,
        timeoutMs < 0 ? GST_CLOCK_TIME_NONE : GstClockTime(timeoutMs) * GST_MSECOND);
    *state = current == GST_STATE_PLAYING  ? State_Running
             : current == GST_STATE_PAUSED ? State_Paused
                                           : State_Stopped;
    return ret == GST_STATE_CHANGE_ASYNC ? VFW_S_STATE_INTERMEDIATE : S_OK;
}

HRESULT TGstFilterGraph::GetCurrentPosition(LONGLONG* position) {
    if (!position) return E_POINTER;
    GstState state = GST_STATE_NULL;
    gst_element_get_state(pipeline_.get(), &state, nullptr, 0);
    TGstRef<GstClock> clock(state >= GST_STATE_PAUSED ? gst_element_get_clock(pipeline_.get())
                                                      : nullptr);
    if (!clock) {
        *position = lastPosition_;
        return S_OK;
    }
    const GstClockTime base = gst_element_get_base_time(pipeline_.get());
    const GstClockTime now = state == GST_STATE_PLAYING
                                 ? gst_clock_get_time(clock.get())
                                 : base + gst_element_get_start_time(pipeline_.get());
    *position = now > base ? LONGLONG((now - base) / 100) : 0;
    return S_OK;
}

// ---------------------------------------------------------------- events

HRESULT TGstFilterGraph::GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) {
    if (!code || !param1 || !param2) return E_POINTER;
    std::unique_lock lock(eventsLock_);
    auto ready = [&] { return !events_.empty(); };
    if (timeoutMs < 0)
        eventsChanged_.wait(lock, ready);
    else if (!eventsChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
        return E_ABORT;
    const TEvent e = events_.front();
    events_.pop_front();
    *code = e.Code;
    *param1 = e.Param1;
    *param2 = e.Param2;
    return S_OK;
}

HRESULT TGstFilterGraph::FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR) {
    if (code == EC_DEVICE_LOST && param1) reinterpret_cast<IUnknown*>(param1)->Release();
    return S_OK;
}

HRESULT TGstFilterGraph::SetNotifyWindow(INotifyTarget* target, LONG message, LONG_PTR param) {
    std::lock_guard lock(eventsLock_);
    target_ = target;
    message_ = message;
    param_ = param;
    return S_OK;
}

HRESULT TGstFilterGraph::SetNotifyFlags(LONG flags) {
    if (flags != 0 && flags != AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    std::lock_guard lock(eventsLock_);
    flags_ = flags;
    return S_OK;
}

HRESULT TGstFilterGraph::GetNotifyFlags(LONG* flags) {
    if (!flags) return E_POINTER;
    std::lock_guard lock(eventsLock_);
    *flags = flags_;
    return S_OK;
}

// Called with eventsLock_ held. The target only posts, so holding the lock
// keeps a target that is being switched off from being called afterwards.
void TGstFilterGraph::QueueEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    events_.push_back({code, param1, param2});
    eventsChanged_.notify_all();
    if (target_ && !(flags_ & AM_MEDIAEVENT_NONOTIFY)) target_->PostGraphEvent(message_, param_);
}

IBaseFilter* TGstFilterGraph::FilterOf(GstObject* element, GstElement** filterBin) {
    for (GstObject* o = element ? GST_OBJECT(gst_object_ref(element)) : nullptr; o;) {
        for (const auto& [bin, filter] : bins_)
            if (GST_OBJECT(bin) == o) {
                gst_object_unref(o);
                if (filterBin) *filterBin = bin;
                filter->AddRef();
                return filter;
            }
        GstObject* parent = gst_object_get_parent(o);
        gst_object_unref(o);
        o = parent;
    }
    return nullptr;
}

GstBusSyncReply TGstFilterGraph::OnBusMessage(GstBus*, GstMessage* message, gpointer self) {
    static_cast<TGstFilterGraph*>(self)->HandleMessage(message);
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void TGstFilterGraph::HandleMessage(GstMessage* message) {
    const bool fromPipeline = GST_MESSAGE_SRC(message) == GST_OBJECT(pipeline_.get());
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS: {
        std::lock_guard lock(eventsLock_);
        if (stopping_) {
            eosSeen_ = true;
            eventsChanged_.notify_all();
        } else {
            QueueEvent(EC_COMPLETE, S_OK, 0);
        }
        break;
    }
    case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        const HRESULT hr = ResultOfError(error, debug);
        bool deviceLoss = IsDeviceLoss(error);
        const bool failedResource =
            error->domain == GST_RESOURCE_ERROR && error->code == GST_RESOURCE_ERROR_FAILED;
        g_error_free(error);
        g_free(debug);
        std::lock_guard lock(eventsLock_);
        ++errors_;
        eventsChanged_.notify_all();
        // One failure is one event: the elements that fail along with the
        // first add nothing the listeners could use.
        if (errorSeen_) break;
        errorSeen_ = true;
        lastError_ = hr;
        GstElement* bin = nullptr;
        IBaseFilter* filter = FilterOf(GST_MESSAGE_SRC(message), &bin);
        sourceFailed_ = bin && GST_OBJECT_FLAG_IS_SET(bin, GST_ELEMENT_FLAG_SOURCE);
        // Sound servers and PipeWire say only "failed" when their device goes.
        deviceLoss = deviceLoss || (sourceFailed_ && failedResource);
        if (filter && deviceLoss)
            QueueEvent(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(filter)),
                       1);
        else if (filter)
            filter->Release();
        QueueEvent(EC_ERRORABORT, hr, 0);
        break;
    }
    case GST_MESSAGE_NEW_CLOCK: {
        std::lock_guard lock(eventsLock_);
        QueueEvent(EC_CLOCK_CHANGED, 0, 0);
        break;
    }
    case GST_MESSAGE_STATE_CHANGED: {
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(message, &oldState, &newState, &pending);
        if (fromPipeline && newState == GST_STATE_PAUSED && pending == GST_STATE_VOID_PENDING) {
            std::lock_guard lock(eventsLock_);
            QueueEvent(EC_PAUSED, S_OK, 0);
        }
        break;
    }
    case GST_MESSAGE_ELEMENT: {
        // Filters announce a new picture size with a "kx-video-size" message.
        const GstStructure* s = gst_message_get_structure(message);
        int width = 0, height = 0;
        if (s && gst_structure_has_name(s, "kx-video-size") &&
            gst_structure_get_int(s, "width", &width) &&
            gst_structure_get_int(s, "height", &height)) {
            std::lock_guard lock(eventsLock_);
            QueueEvent(EC_VIDEO_SIZE_CHANGED,
                       LONG_PTR((width & 0xFFFF) | ((height & 0xFFFF) << 16)), 0);
        }
        break;
    }
    default:
        break;
    }
}
