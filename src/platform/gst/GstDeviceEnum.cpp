#include "platform/gst/GstDeviceEnum.h"

#include "platform/ComEnum.h"
#include "platform/MediaResults.h"
#include "platform/gst/GstCaptureFilter.h"
#include "platform/gst/GstMediaType.h"

#include <algorithm>
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

bool BoolProperty(GObject* obj, const char* name, const GstStructure* props) {
    GParamSpec* pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(obj), name);
    gboolean value = FALSE;
    if (pspec && pspec->value_type == G_TYPE_BOOLEAN)
        g_object_get(obj, name, &value, nullptr);
    else if (props)
        gst_structure_get_boolean(props, name, &value);
    return value;
}

// A name that stays the same for the same device across listings, runs and
// re-plugging, where another device may get its /dev/videoN or hw:N,M: the
// sound server's or PipeWire's node name, a camera's serial or USB port,
// and only then the device path.
std::string DeviceIdentity(GstDevice* d) {
    TStructureRef props{gst_device_get_properties(d)};
    if (std::string v = StructureText(props.s, "node.name"); !v.empty()) return v;
    if (std::string v = StringProperty(G_OBJECT(d), "internal-name"); !v.empty()) return v;
    if (std::string v = StructureText(props.s, "internal-name"); !v.empty()) return v;
    if (std::string v = StructureText(props.s, "device.serial"); !v.empty()) return "serial:" + v;
    if (std::string v = StructureText(props.s, "device.bus_path"); !v.empty()) return "bus:" + v;
    for (const char* prop : {"device-path", "device"}) {
        std::string v = StringProperty(G_OBJECT(d), prop);
        if (!v.empty()) return v;
    }
    for (const char* field : {"device.path", "api.v4l2.path", "object.path", "alsa.device"}) {
        std::string v = StructureText(props.s, field);
        if (!v.empty()) return v;
    }
    return TakeGstString(gst_device_get_display_name(d));
}

// The device node behind a camera, whichever provider lists it.
std::string DevicePath(GstDevice* d) {
    TStructureRef props{gst_device_get_properties(d)};
    for (const char* field : {"api.v4l2.path", "device.path"})
        if (std::string v = StructureText(props.s, field); !v.empty()) return v;
    return StringProperty(G_OBJECT(d), "device-path");
}

// The ALSA card behind a device ("hw:0"), empty when it has none.
std::string DeviceAlsaCard(GstDevice* d) {
    TStructureRef props{gst_device_get_properties(d)};
    std::string card = StructureText(props.s, "alsa.card");
    return card.empty() ? card : "hw:" + card;
}

// What a sound server captures from what the machine plays.
bool IsMonitor(GstDevice* d) {
    TStructureRef props{gst_device_get_properties(d)};
    if (StructureText(props.s, "device.class") == "monitor") return true;
    const std::string name = TakeGstString(gst_device_get_display_name(d));
    return name.rfind("Monitor of ", 0) == 0;
}

bool IsDefault(GstDevice* d) {
    TStructureRef props{gst_device_get_properties(d)};
    return BoolProperty(G_OBJECT(d), "is-default", props.s);
}

struct TListedDevice {
    GstDevice* Device;    // one reference
    std::string Provider; // the provider factory's name
};

struct TMonitorDevices {
    std::vector<TListedDevice> list;
    TMonitorDevices() = default;
    TMonitorDevices(TMonitorDevices&& o) noexcept : list(std::move(o.list)) {}
    ~TMonitorDevices() {
        for (auto& d : list)
            gst_object_unref(d.Device);
    }
};

bool IsSoundServer(const std::string& provider) {
    return provider == "pulsedeviceprovider" || provider == "pipewiredeviceprovider";
}

// One entry per physical device. Every provider is probed first: a provider
// that hides others (PipeWire hides v4l2 and pulse, pulse hides ALSA) says
// so only during its probe, so the hidden ones are dropped afterwards, not
// by the order of probing. A camera still listed twice (its node under two
// providers) keeps its first, higher-ranked entry; raw ALSA hardware never
// stands beside a sound server's entries. Sound: the server's default
// source first; then the providers' order.
TMonitorDevices ProbeDevices(bool video) {
    EnsureGstInitialised();
    const char* classes = video ? "Video/Source" : "Audio/Source";
    TMonitorDevices all;
    std::vector<std::string> hidden;
    GList* factories = gst_device_provider_factory_list_get_device_providers(GST_RANK_NONE);
    for (GList* f = factories; f; f = f->next) {
        auto* factory = GST_DEVICE_PROVIDER_FACTORY(f->data);
        if (!gst_device_provider_factory_has_classes(factory, classes)) continue;
        TGstRef<GstDeviceProvider> provider(gst_device_provider_factory_get(factory));
        if (!provider) continue;
        const std::string name = GST_OBJECT_NAME(factory);
        GList* devices = gst_device_provider_get_devices(provider.get());
        for (GList* l = devices; l; l = l->next) {
            GstDevice* d = GST_DEVICE(l->data);
            if (gst_device_has_classes(d, classes))
                all.list.push_back({GST_DEVICE(gst_object_ref(d)), name});
        }
        g_list_free_full(devices, gst_object_unref);
        gchar** hides = gst_device_provider_get_hidden_providers(provider.get());
        for (gchar** h = hides; h && *h; ++h)
            hidden.emplace_back(*h);
        g_strfreev(hides);
    }
    gst_plugin_feature_list_free(factories);

    const bool soundServer = std::any_of(all.list.begin(), all.list.end(),
                                         [](const auto& d) { return IsSoundServer(d.Provider); });
    TMonitorDevices kept;
    std::vector<std::string> paths;
    for (auto& d : all.list) {
        bool drop = std::find(hidden.begin(), hidden.end(), d.Provider) != hidden.end() ||
                    (!video && soundServer && d.Provider == "alsadeviceprovider");
        if (!drop && video) {
            const std::string path = DevicePath(d.Device);
            drop = !path.empty() && std::find(paths.begin(), paths.end(), path) != paths.end();
            if (!path.empty()) paths.push_back(path);
        }
        if (drop) continue;
        kept.list.push_back({GST_DEVICE(gst_object_ref(d.Device)), d.Provider});
    }
    if (!video)
        std::stable_partition(kept.list.begin(), kept.list.end(),
                              [](const auto& d) { return IsDefault(d.Device); });
    return kept;
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
    // The test sources make any size and rate: they are asked, not the list.
    setup.DeviceName = video ? kTestPatternName : kTestToneName;
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
    std::vector<TGstDeviceId> ids, monitors;
    TMonitorDevices devices = ProbeDevices(video);
    for (auto& d : devices.list)
        (!video && IsMonitor(d.Device) ? monitors : ids).push_back(IdOf(d.Device, video));
    ids.push_back({video, kBuiltin, video ? "videotestsrc" : "audiotestsrc",
                   video ? kTestPatternName : kTestToneName});
    // What the machine plays is no microphone: never the first choice, not
    // even before the Test Tone.
    ids.insert(ids.end(), monitors.begin(), monitors.end());
    return ids;
}

HRESULT CreateGstCaptureFilter(const TGstDeviceId& id, ComPtr<IBaseFilter>& out) {
    out = nullptr;
    if (id.Provider == kBuiltin) {
        if (id.Identity == (id.Video ? "videotestsrc" : "audiotestsrc"))
            return CreateBuiltin(id.Video, out);
        return MK_E_NOOBJECT;
    }
    // The device is looked up again: it may have gone since it was listed,
    // and another one may have taken its number.
    TMonitorDevices devices = ProbeDevices(id.Video);
    for (auto& listed : devices.list) {
        GstDevice* d = listed.Device;
        if (id.Provider != G_OBJECT_TYPE_NAME(d) || id.Identity != DeviceIdentity(d) ||
            (!id.FriendlyName.empty() &&
             id.FriendlyName != TakeGstString(gst_device_get_display_name(d))))
            continue;
        TGstCaptureSetup setup;
        setup.Video = id.Video;
        setup.Source = gst_device_create_element(d, nullptr);
        if (!setup.Source) return VFW_E_NO_CAPTURE_HARDWARE;
        TGstCapsRef caps(gst_device_get_caps(d));
        setup.Formats = ExpandCaps(caps.get());
        setup.DefaultFormat = ChooseDefaultFormat(setup.Formats);
        if (caps && !gst_caps_is_any(caps.get())) setup.DeviceCaps = std::move(caps);
        setup.DeviceName = id.FriendlyName;
        if (!id.Video) {
            std::string card = DeviceAlsaCard(d);
            if (!card.empty()) setup.Lines = MakeAlsaLines(card);
        }
        return BuildFilter(std::move(setup), out);
    }
    SetDeviceGoneText("\"" + id.FriendlyName + "\" is no longer connected.");
    return E_DEVICE_GONE;
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

// ---------------------------------------------------------------- watch

TGstDeviceWatch::~TGstDeviceWatch() {
    Stop();
}

HRESULT TGstDeviceWatch::Start(std::function<void(const TDeviceChange&)> changed) {
    if (!changed) return E_POINTER;
    if (monitor_) return VFW_E_WRONG_STATE;
    EnsureGstInitialised();
    {
        std::lock_guard lock(lock_);
        changed_ = std::move(changed);
    }
    monitor_.reset(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor_.get(), "Video/Source", nullptr);
    gst_device_monitor_add_filter(monitor_.get(), "Audio/Source", nullptr);
    TGstRef<GstBus> bus(gst_device_monitor_get_bus(monitor_.get()));
    gst_bus_set_sync_handler(bus.get(), &TGstDeviceWatch::OnMessage, this, nullptr);
    if (!gst_device_monitor_start(monitor_.get())) {
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
        monitor_.reset();
        return E_FAIL;
    }
    return S_OK;
}

void TGstDeviceWatch::Stop() {
    if (!monitor_) return;
    gst_device_monitor_stop(monitor_.get());
    TGstRef<GstBus> bus(gst_device_monitor_get_bus(monitor_.get()));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    {
        std::lock_guard lock(lock_);
        changed_ = nullptr;
    }
    monitor_.reset();
}

GstBusSyncReply TGstDeviceWatch::OnMessage(GstBus*, GstMessage* message, gpointer self) {
    static_cast<TGstDeviceWatch*>(self)->Report(message);
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void TGstDeviceWatch::Report(GstMessage* message) {
    GstDevice* device = nullptr;
    const bool added = GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED;
    if (added)
        gst_message_parse_device_added(message, &device);
    else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED)
        gst_message_parse_device_removed(message, &device);
    if (!device) return;
    TGstRef<GstDevice> keep(device);
    const bool video = gst_device_has_classes(device, "Video/Source");
    // A provider hidden by another (v4l2 behind PipeWire, ALSA behind pulse)
    // reports what the listing leaves out: say nothing of it.
    if (auto* provider = GST_DEVICE_PROVIDER(GST_MESSAGE_SRC(message));
        GST_IS_DEVICE_PROVIDER(provider)) {
        GstPluginFeature* factory = GST_PLUGIN_FEATURE(gst_device_provider_get_factory(provider));
        const std::string name = factory ? GST_OBJECT_NAME(factory) : "";
        gchar** names = gst_device_monitor_get_providers(monitor_.get());
        bool hidden = false;
        for (gchar** n = names; n && *n && !hidden; ++n) {
            TGstRef<GstDeviceProvider> other(gst_device_provider_factory_get_by_name(*n));
            gchar** hides = other ? gst_device_provider_get_hidden_providers(other.get()) : nullptr;
            for (gchar** h = hides; h && *h; ++h)
                hidden = hidden || name == *h;
            g_strfreev(hides);
        }
        g_strfreev(names);
        if (hidden) return;
    }
    const TGstDeviceId id = IdOf(device, video);
    std::lock_guard lock(lock_);
    if (changed_) changed_(TDeviceChange{added, video, id.FriendlyName, id.Identity});
}
