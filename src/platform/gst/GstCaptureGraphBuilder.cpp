#include "platform/gst/GstCaptureGraphBuilder.h"

#include "platform/ClassRegistry.h"
#include "platform/MediaResults.h"
#include "platform/gst/GstFilter.h"
#include "platform/gst/GstMediaType.h"

#include "common/Text.h"

#include <cstring>
#include <vector>

namespace {

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> e;
    if (!filter || FAILED(filter->EnumPins(e.Put())) || !e) return pins;
    ComPtr<IPin> pin;
    while (e->Next(1, pin.Put(), nullptr) == S_OK)
        pins.push_back(pin);
    return pins;
}

bool IsConnected(IPin* pin) {
    ComPtr<IPin> peer;
    return pin->ConnectedTo(peer.Put()) == S_OK;
}

PIN_DIRECTION DirectionOf(IPin* pin) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    pin->QueryDirection(&dir);
    return dir;
}

// Category of our pins; other pins have none.
GUID CategoryOf(IPin* pin) {
    ComPtr<IGstPin> gst = QueryAs<IGstPin>(pin);
    return gst ? gst->Category() : GUID_NULL;
}

// Whether the pin carries the major type: what it produces now, or else any
// of the formats it lists.
bool CarriesType(IPin* pin, const GUID& major) {
    if (ComPtr<IGstPin> gst = QueryAs<IGstPin>(pin)) {
        TGstCapsRef caps = gst->Caps();
        const char* kind = CapsMediaClass(caps.get());
        if (*kind)
            return (major == MEDIATYPE_Video && std::strcmp(kind, "video") == 0) ||
                   (major == MEDIATYPE_Audio && std::strcmp(kind, "audio") == 0);
    }
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(types.Put())) || !types) return false;
    AM_MEDIA_TYPE* mt = nullptr;
    bool found = false;
    while (!found && types->Next(1, &mt, nullptr) == S_OK) {
        found = mt->majortype == major;
        DeleteMediaType(mt);
    }
    return found;
}

bool Matches(IPin* pin, PIN_DIRECTION dir, const GUID* category, const GUID* type,
             bool unconnected) {
    return DirectionOf(pin) == dir && (!category || CategoryOf(pin) == *category) &&
           (!type || CarriesType(pin, *type)) && (!unconnected || !IsConnected(pin));
}

// The candidate pins of a source: the pin itself, or the filter's matching pins.
std::vector<ComPtr<IPin>> Candidates(IUnknown* source, PIN_DIRECTION dir, const GUID* category,
                                     const GUID* type, bool unconnected) {
    std::vector<ComPtr<IPin>> out;
    if (ComPtr<IPin> pin = QueryAs<IPin>(source)) {
        if (Matches(pin.Get(), dir, category, type, unconnected)) out.push_back(pin);
        return out;
    }
    ComPtr<IBaseFilter> filter = QueryAs<IBaseFilter>(source);
    for (auto& pin : PinsOf(filter.Get()))
        if (Matches(pin.Get(), dir, category, type, unconnected)) out.push_back(pin);
    return out;
}

} // namespace

HRESULT TGstCaptureGraphBuilder::SetFiltergraph(IGraphBuilder* graph) {
    if (!graph) return E_POINTER;
    if (graph_) return E_UNEXPECTED;
    graph_ = graph;
    return S_OK;
}

HRESULT TGstCaptureGraphBuilder::EnsureGraph() {
    if (graph_) return S_OK;
    return CreateInstance(CLSID_FilterGraph, graph_);
}

HRESULT TGstCaptureGraphBuilder::GetFiltergraph(IGraphBuilder** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = EnsureGraph();
    return FAILED(hr) ? hr : graph_.CopyTo(out);
}

void TGstCaptureGraphBuilder::Log(const std::string& line) {
    if (graph_) graph_->LogLine(line);
}

HRESULT TGstCaptureGraphBuilder::SetOutputFileName(const GUID* type, const std::string& fileName,
                                                   IBaseFilter** mux, IFileSinkFilter** sink) {
    if (mux) *mux = nullptr;
    if (sink) *sink = nullptr;
    if (!type) return E_POINTER;
    if (*type != MEDIASUBTYPE_Avi) return VFW_E_INVALIDSUBTYPE;
    if (fileName.empty()) return E_INVALIDARG;
    HRESULT hr = EnsureGraph();
    ComPtr<IBaseFilter> muxFilter, writer;
    if (SUCCEEDED(hr)) hr = CreateInstance(CLSID_AviDest, muxFilter);
    if (SUCCEEDED(hr)) hr = CreateInstance(CLSID_FileWriter, writer);
    ComPtr<IFileSinkFilter> fileSink = writer.Query<IFileSinkFilter>();
    if (SUCCEEDED(hr) && !fileSink) hr = E_NOINTERFACE;
    if (SUCCEEDED(hr)) hr = fileSink->SetFileName(fileName, nullptr);
    if (FAILED(hr)) return hr;
    hr = graph_->AddFilter(muxFilter.Get(), "Mux");
    if (SUCCEEDED(hr)) hr = graph_->AddFilter(writer.Get(), "File Writer");
    if (SUCCEEDED(hr)) {
        auto outs = Candidates(muxFilter.Get(), PINDIR_OUTPUT, nullptr, nullptr, true);
        hr = outs.empty() ? VFW_E_NOT_FOUND : LinkToFilter(outs.front().Get(), writer.Get());
    }
    if (FAILED(hr)) {
        graph_->RemoveFilter(writer.Get());
        graph_->RemoveFilter(muxFilter.Get());
        return hr;
    }
    Log("SetOutputFileName " + fileName);
    if (mux) muxFilter.CopyTo(mux);
    if (sink) fileSink.CopyTo(sink);
    return S_OK;
}

HRESULT TGstCaptureGraphBuilder::LinkToFilter(IPin* out, IBaseFilter* sink) {
    if (!out || !sink) return E_POINTER;
    HRESULT last = VFW_E_CANNOT_CONNECT;
    for (auto& in : Candidates(sink, PINDIR_INPUT, nullptr, nullptr, true)) {
        last = graph_->Connect(out, in.Get());
        if (SUCCEEDED(last)) return last;
    }
    return last == VFW_E_NOT_IN_GRAPH ? last : VFW_E_CANNOT_CONNECT;
}

HRESULT TGstCaptureGraphBuilder::RenderStream(const GUID* category, const GUID* type,
                                              IUnknown* source, IBaseFilter* intermediate,
                                              IBaseFilter* sink) {
    if (!source) return E_POINTER;
    if (!sink) return VFW_E_CANNOT_RENDER; // no default renderers on this platform
    if (!graph_) return E_UNEXPECTED;
    auto pins = Candidates(source, PINDIR_OUTPUT, category, type, true);
    if (pins.empty()) {
        Log("RenderStream: no matching source pin");
        return VFW_E_NOT_FOUND;
    }
    HRESULT hr = VFW_E_CANNOT_CONNECT;
    for (auto& pin : pins) {
        if (!intermediate) {
            hr = LinkToFilter(pin.Get(), sink);
        } else {
            hr = LinkToFilter(pin.Get(), intermediate);
            if (SUCCEEDED(hr)) {
                auto next = Candidates(intermediate, PINDIR_OUTPUT, nullptr, nullptr, true);
                hr = next.empty() ? VFW_E_CANNOT_CONNECT : LinkToFilter(next.front().Get(), sink);
                if (FAILED(hr)) pin->Disconnect(); // leave the graph as it was
            }
        }
        if (SUCCEEDED(hr)) break;
    }
    Log(Format("RenderStream 0x%08X", unsigned(hr)));
    return FAILED(hr) ? hr : S_OK;
}

HRESULT TGstCaptureGraphBuilder::FindPin(IUnknown* source, PIN_DIRECTION dir, const GUID* category,
                                         const GUID* type, BOOL unconnected, int index,
                                         IPin** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!source) return E_POINTER;
    auto pins = Candidates(source, dir, category, type, unconnected != 0);
    if (index < 0 || size_t(index) >= pins.size()) return E_FAIL;
    return pins[size_t(index)].CopyTo(out);
}

HRESULT TGstCaptureGraphBuilder::FindInterface(const GUID* category, const GUID* type,
                                               IBaseFilter* filter, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!filter) return E_POINTER;
    if (!category && !type && SUCCEEDED(filter->QueryInterface(iid, out))) return S_OK;
    for (auto& pin : Candidates(filter, PINDIR_OUTPUT, category, type, false))
        if (SUCCEEDED(pin->QueryInterface(iid, out))) return S_OK;
    if (!category && !type)
        for (auto& pin : PinsOf(filter))
            if (SUCCEEDED(pin->QueryInterface(iid, out))) return S_OK;
    return E_NOINTERFACE;
}
