#include "platform/gst/GstDeviceEnum.h"

#include "platform/ComEnum.h"
#include "platform/MediaResults.h"
#include "platform/gst/GstCaptureFilter.h"
#include "platform/gst/GstMediaType.h"

#include <cstring>

namespace {

constexpr const char* kBuiltin = "builtin";
constexpr const char* kTestPatternName = "Test Pattern";
constexpr const char* kTestToneName = "Test Tone";

// Formats of the built-in sources: what a small webcam and a sound card offer.
constexpr const char* kTestPatternCaps =
    "video/x-raw,format=YUY2,width=160,height=120,framerate=30/1;"
    "video/x-raw,format=YUY2,width=176,height=144,framerate=30/1;"
    "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1;"
    "video/x-raw,format=YUY2,width=352,height=288,framerate=30/1;"
    "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1;"
    "video/x-raw,format=BGR,width=320,height=240,framerate=30/1;"
    "video/x-raw,format=BGRx,width=320,height=240,framerate=30/1;"
    "video/x-raw,format=I420,width=320,height=240,framerate=30/1";
constexpr const char* kTestPatternDefault =
    "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1";
constexpr const char* kTestToneCaps =
    "audio/"
    "x-raw,format={S16LE,U8},layout=interleaved,rate={11025,22050,44100,48000},channels={1,2}";
constexpr const char* kTestToneDefault =
    "audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=2";

std::string StringProperty(GObject* obj, const char* name) {
    GParamSpec* pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(obj), name);
    if (!pspec || pspec->value_type != G_TYPE_STRING) return {};
    gchar* value = nullptr;
    g_object_get(obj, name, &value, nullptr);
    return TakeGstString(value);
}

std::string StructureText(const GstStructure* s, const char* field) {
    if (!s || !gst_structure_has_field(s, field)) return {};
    if (const char* text = gst_structure_get_string(s, field)) return text;
    int n = 0;
    if (gst_structure_get_int(s, field, &n)) return std::to_string(n);
    return {};
}

struct TStructureRef {
    GstStructure* s;
    ~TStructureRef() {
        if (s) gst_structure_free(s);
    }
};

// A name that stays the same for the same device across listings and runs.
std::string DeviceIdentity(GstDevice* d) {
    for (const char* prop : {"device-path", "internal-name", "device"}) {
        std::string v = StringProperty(G_OBJECT(d), prop);
        if (!v.empty()) return v;
    }
    TStructureRef props{gst_device_get_properties(d)};
    for (const char* field :
         {"device.path", "api.v4l2.path", "node.name", "object.path", "alsa.device"}) {
        std::string v = StructureText(props.s, field);
        if (!v.empty()) return v;
    }
    return TakeGstString(gst_device_get_display_name(d));
}

// The ALSA card behind a device ("hw:0"), empty when it has none.
std::string DeviceAlsaCard(GstDevice* d) {
    TStructureRef props{gst_device_get_properties(d)};
    std::string card = StructureText(props.s, "alsa.card");
    return card.empty() ? card : "hw:" + card;
}

struct TMonitorDevices {
    GList* list = nullptr;
    ~TMonitorDevices() { g_list_free_full(list, gst_object_unref); }
};

// The monitor probes without being started: a listing costs no threads.
TMonitorDevices ProbeDevices(bool video) {
    EnsureGstInitialised();
    TGstRef<GstDeviceMonitor> monitor(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), video ? "Video/Source" : "Audio/Source", nullptr);
    return TMonitorDevices{gst_device_monitor_get_devices(monitor.get())};
}

TGstDeviceId IdOf(GstDevice* d, bool video) {
    return TGstDeviceId{video, G_OBJECT_TYPE_NAME(d), DeviceIdentity(d),
                        TakeGstString(gst_device_get_display_name(d))};
}

HRESULT BuildFilter(TGstCaptureSetup setup, ComPtr<IBaseFilter>& out) {
    try {
        auto filter = MakeComObject<TGstCaptureFilter>(std::move(setup));
        out = ComPtr<IBaseFilter>(filter.Get());
        return S_OK;
    } catch (const EMediaResult& e) {
        return e.Code();
    }
}

HRESULT CreateBuiltin(bool video, ComPtr<IBaseFilter>& out) {
    TGstCaptureSetup setup;
    setup.Video = video;
    setup.Source = MakeGstElement(video ? "videotestsrc" : "audiotestsrc");
    if (!setup.Source) return E_MISSING_COMPONENT;
    g_object_set(setup.Source, "is-live", TRUE, nullptr);
    TGstCapsRef all(gst_caps_from_string(video ? kTestPatternCaps : kTestToneCaps));
    setup.Formats = ExpandCaps(all.get());
    setup.DefaultFormat.reset(gst_caps_from_string(video ? kTestPatternDefault : kTestToneDefault));
    if (!video) setup.Lines = MakeToneLines(setup.Source);
    return BuildFilter(std::move(setup), out);
}

// ---------------------------------------------------------------- property bag

class TGstPropertyBag : public TComObject<IPropertyBag> {
  public:
    explicit TGstPropertyBag(const TGstDeviceId& id) : id_(id) {}
    HRESULT Read(const std::string& name, std::string& value) override {
        if (name == "FriendlyName")
            value = id_.FriendlyName;
        else if (name == "CLSID")
            value = GuidToString(id_.Video ? CLSID_GstVideoCapture : CLSID_GstAudioCapture);
        else if (name == "DevicePath")
            value = id_.Identity;
        else
            return E_INVALIDARG;
        return S_OK;
    }

  private:
    TGstDeviceId id_;
};

// ---------------------------------------------------------------- moniker

// Saved form: "KXDM", version 1, kind byte, then provider, identity and
// friendly name, each a 32-bit little-endian length and its bytes.
constexpr uint8_t kMagic[4] = {'K', 'X', 'D', 'M'};
constexpr uint8_t kVersion = 1;
constexpr uint32_t kMaxText = 4096;

void PutText(std::vector<uint8_t>& out, const std::string& s) {
    const uint32_t n = static_cast<uint32_t>(s.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(n >> (8 * i)));
    out.insert(out.end(), s.begin(), s.end());
}

bool GetText(std::span<const uint8_t>& in, std::string& s) {
    if (in.size() < 4) return false;
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i)
        n |= uint32_t(in[i]) << (8 * i);
    in = in.subspan(4);
    if (n > kMaxText || n > in.size()) return false;
    s.assign(reinterpret_cast<const char*>(in.data()), n);
    in = in.subspan(n);
    return true;
}

class TGstDeviceMoniker : public TComObject<IMoniker> {
  public:
    TGstDeviceMoniker() = default;
    explicit TGstDeviceMoniker(TGstDeviceId id) : id_(std::move(id)) {}

    HRESULT GetClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_GstDeviceMoniker;
        return S_OK;
    }
    HRESULT Load(std::span<const uint8_t> data) override {
        if (data.size() < 6) return STG_E_READFAULT;
        if (std::memcmp(data.data(), kMagic, 4) != 0 || data[4] != kVersion || data[5] > 1)
            return STG_E_INVALIDHEADER;
        TGstDeviceId id;
        id.Video = data[5] == 1;
        auto rest = data.subspan(6);
        if (!GetText(rest, id.Provider) || !GetText(rest, id.Identity) ||
            !GetText(rest, id.FriendlyName) || !rest.empty())
            return STG_E_READFAULT;
        id_ = std::move(id);
        return S_OK;
    }
    HRESULT Save(std::vector<uint8_t>& stream, BOOL) override {
        stream.insert(stream.end(), kMagic, kMagic + 4);
        stream.push_back(kVersion);
        stream.push_back(id_.Video ? 1 : 0);
        PutText(stream, id_.Provider);
        PutText(stream, id_.Identity);
        PutText(stream, id_.FriendlyName);
        return S_OK;
    }
    HRESULT BindToObject(IBindCtx*, IMoniker*, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        ComPtr<IBaseFilter> filter;
        HRESULT hr = CreateGstCaptureFilter(id_, filter);
        return FAILED(hr) ? hr : filter->QueryInterface(iid, out);
    }
    HRESULT BindToStorage(IBindCtx*, IMoniker*, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        return MakeComObject<TGstPropertyBag>(id_)->QueryInterface(iid, out);
    }
    HRESULT GetDisplayName(IBindCtx*, IMoniker*, std::string& name) override {
        name = "@device:gst:" + id_.Provider + ":" + id_.Identity;
        return S_OK;
    }
    HRESULT IsEqual(IMoniker* other) override {
        std::string mine, theirs;
        if (!other || FAILED(other->GetDisplayName(nullptr, nullptr, theirs))) return S_FALSE;
        GetDisplayName(nullptr, nullptr, mine);
        return mine == theirs ? S_OK : S_FALSE;
    }

  private:
    TGstDeviceId id_;
};

class TGstEnumMoniker : public TComEnum<IEnumMoniker, IMoniker> {
  public:
    using TComEnum::TComEnum;
    HRESULT Clone(IEnumMoniker** out) override {
        if (!out) return E_POINTER;
        return ComPtr<IEnumMoniker>(MakeComObject<TGstEnumMoniker>(items_, pos_).Get()).CopyTo(out);
    }
};

} // namespace

std::vector<TGstDeviceId> ListGstDevices(bool video) {
    std::vector<TGstDeviceId> ids;
    TMonitorDevices devices = ProbeDevices(video);
    for (GList* l = devices.list; l; l = l->next)
        ids.push_back(IdOf(GST_DEVICE(l->data), video));
    ids.push_back({video, kBuiltin, video ? "videotestsrc" : "audiotestsrc",
                   video ? kTestPatternName : kTestToneName});
    return ids;
}

HRESULT CreateGstCaptureFilter(const TGstDeviceId& id, ComPtr<IBaseFilter>& out) {
    out = nullptr;
    if (id.Provider == kBuiltin) {
        if (id.Identity == (id.Video ? "videotestsrc" : "audiotestsrc"))
            return CreateBuiltin(id.Video, out);
        return MK_E_NOOBJECT;
    }
    // The device is looked up again: it may have gone since it was listed.
    TMonitorDevices devices = ProbeDevices(id.Video);
    for (GList* l = devices.list; l; l = l->next) {
        GstDevice* d = GST_DEVICE(l->data);
        if (id.Provider != G_OBJECT_TYPE_NAME(d) || id.Identity != DeviceIdentity(d)) continue;
        TGstCaptureSetup setup;
        setup.Video = id.Video;
        setup.Source = gst_device_create_element(d, nullptr);
        if (!setup.Source) return VFW_E_NO_CAPTURE_HARDWARE;
        TGstCapsRef caps(gst_device_get_caps(d));
        setup.Formats = ExpandCaps(caps.get());
        if (!setup.Formats.empty())
            setup.DefaultFormat.reset(gst_caps_copy(setup.Formats.front().get()));
        if (!id.Video) {
            std::string card = DeviceAlsaCard(d);
            if (!card.empty()) setup.Lines = MakeAlsaLines(card);
        }
        return BuildFilter(std::move(setup), out);
    }
    return MK_E_NOOBJECT;
}

ComPtr<IMoniker> MakeGstDeviceMoniker(const TGstDeviceId& id) {
    return ComPtr<IMoniker>(MakeComObject<TGstDeviceMoniker>(id).Get());
}

HRESULT TGstSystemDeviceEnum::CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD) {
    if (!out) return E_POINTER;
    *out = nullptr;
    bool video;
    if (category == CLSID_VideoInputDeviceCategory)
        video = true;
    else if (category == CLSID_AudioInputDeviceCategory)
        video = false;
    else
        return S_FALSE;
    std::vector<ComPtr<IMoniker>> monikers;
    for (auto& id : ListGstDevices(video))
        monikers.push_back(MakeGstDeviceMoniker(id));
    return ComPtr<IEnumMoniker>(MakeComObject<TGstEnumMoniker>(std::move(monikers)).Get())
        .CopyTo(out);
}

HRESULT NewGstDeviceMoniker(REFIID iid, void** out) {
    return MakeComObject<TGstDeviceMoniker>()->QueryInterface(iid, out);
}
