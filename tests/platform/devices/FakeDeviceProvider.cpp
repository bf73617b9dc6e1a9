#include "FakeDeviceProvider.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

namespace fakedev {
namespace {

struct TFakeShape {
    const char* Name;
    bool Video;
    const char* Caps;
    const char* BusPath; // the first provider's identity ("" for sound)
    const char* Node;    // /dev/videoN
    bool IsDefault = false;
    bool Monitor = false;
    int VanishMs = 0;
    bool Hotplug = false; // listed only while plugged
};

const TFakeShape kShapes[] = {
    {kMjpegCamera, true, "image/jpeg,width=1280,height=720,framerate=30/1",
     "pci-0000:00:14.0-usb-0:1:1.0", "/dev/video0"},
    {kUvcCamera, true,
     "video/x-raw,format=YUY2,width=2304,height=1536,framerate=2/1;"
     "video/x-raw,format=YUY2,width=1920,height=1080,framerate=5/1;"
     "video/x-raw,format=YUY2,width=1280,height=720,framerate={10/1,15/2,5/1};"
     "video/x-raw,format=YUY2,width=640,height=480,framerate={15/1,15/2};"
     "image/jpeg,width=1920,height=1080,framerate=30/1;"
     "image/jpeg,width=1280,height=720,framerate=10000000/333333;"
     "image/jpeg,width=640,height=480,framerate={30000/1001,15/1}",
     "pci-0000:00:14.0-usb-0:2:1.0", "/dev/video2"},
    {kNv12Camera, true, "video/x-raw,format=NV12,width=640,height=480,framerate=30/1",
     "pci-0000:00:14.0-usb-0:3:1.0", "/dev/video4"},
    {kH264Camera, true,
     "video/x-h264,stream-format=byte-stream,alignment=au,width=1280,height=720,framerate=30/1",
     "pci-0000:00:14.0-usb-0:4:1.0", "/dev/video6"},
    {kVanishingCamera, true, "image/jpeg,width=640,height=480,framerate=30/1",
     "pci-0000:00:14.0-usb-0:5:1.0", "/dev/video8", false, false, 1500},
    {"Fake Plugged Camera", true, "image/jpeg,width=640,height=480,framerate=30/1",
     "pci-0000:00:14.0-usb-0:6:1.0", "/dev/video10", false, false, 0, true},
    // The monitor first, as the sound server lists it: the default must still win.
    {kMonitor, false,
     "audio/x-raw,format={S16LE,F32LE},layout=interleaved,rate=[1,384000],channels=[1,32]", "", "",
     false, true},
    {kMicrophone, false,
     "audio/x-raw,format={S16LE,F32LE,S32LE},layout=interleaved,rate=[1,384000],channels=[1,32]",
     "", "", true},
};

std::atomic<bool> wireRunning{false};
std::mutex stateLock;
std::vector<std::string> vanished, plugged; // guarded by stateLock

bool Listed(const TFakeShape& s) {
    std::lock_guard lock(stateLock);
    for (auto& v : vanished)
        if (v == s.Name) return false;
    if (!s.Hotplug) return true;
    for (auto& p : plugged)
        if (p == s.Name) return true;
    return false;
}

// ---------------------------------------------------------------- source

// A live source that becomes what the capsfilter after it asks for: raw
// pictures or sound as they are, MJPEG or H.264 encoded from a test picture.
struct KxFakeSource {
    GstBin parent;
    const TFakeShape* shape;
    GstPad* ghost;
    bool built;
    int64_t firstMs;
    bool gone;
};
struct KxFakeSourceClass {
    GstBinClass parent_class;
};
G_DEFINE_TYPE(KxFakeSource, kx_fake_source, GST_TYPE_BIN)

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

GstDeviceProvider* CamProvider();
void RemoveFromProviders(const char* name);

GstPadProbeReturn VanishProbe(GstPad*, GstPadProbeInfo*, gpointer self) {
    auto* src = static_cast<KxFakeSource*>(self);
    const int64_t now = NowMs();
    if (!src->firstMs) src->firstMs = now;
    if (src->gone) return GST_PAD_PROBE_DROP;
    if (now - src->firstMs < src->shape->VanishMs) return GST_PAD_PROBE_OK;
    // As a PipeWire camera that is pulled out: nothing more, and no message.
    src->gone = true;
    {
        std::lock_guard lock(stateLock);
        vanished.emplace_back(src->shape->Name);
    }
    RemoveFromProviders(src->shape->Name);
    return GST_PAD_PROBE_DROP;
}

GstElement* Make(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

void Build(KxFakeSource* self) {
    GstCaps* wanted = gst_pad_peer_query_caps(self->ghost, nullptr);
    GstCaps* device = gst_caps_from_string(self->shape->Caps);
    GstCaps* both = wanted ? gst_caps_intersect(wanted, device) : gst_caps_ref(device);
    if (gst_caps_is_empty(both)) gst_caps_replace(&both, device);
    both = gst_caps_fixate(both);
    GstStructure* s = gst_caps_get_structure(both, 0);
    std::vector<GstElement*> chain;
    GstElement* filter = Make("capsfilter");
    if (gst_structure_has_name(s, "audio/x-raw")) {
        GstElement* src = Make("audiotestsrc");
        g_object_set(src, "is-live", TRUE, "wave", 0, nullptr);
        g_object_set(filter, "caps", both, nullptr);
        chain = {src, filter};
    } else {
        GstElement* src = Make("videotestsrc");
        g_object_set(src, "is-live", TRUE, "pattern", 18 /* ball */, nullptr);
        GstCaps* raw = gst_caps_copy(both);
        GstStructure* r = gst_caps_get_structure(raw, 0);
        const bool encoded = !gst_structure_has_name(s, "video/x-raw");
        if (encoded) {
            gst_structure_set_name(r, "video/x-raw");
            gst_structure_remove_fields(r, "stream-format", "alignment", "profile", nullptr);
            gst_structure_set(r, "format", G_TYPE_STRING, "I420", nullptr);
        }
        g_object_set(filter, "caps", raw, nullptr);
        gst_caps_unref(raw);
        chain = {src, filter};
        if (gst_structure_has_name(s, "image/jpeg")) {
            chain.push_back(Make("jpegenc"));
        } else if (encoded) {
            GstElement* enc = Make("x264enc");
            g_object_set(enc, "key-int-max", 30u, "bframes", 0u, nullptr);
            gst_util_set_object_arg(G_OBJECT(enc), "tune", "zerolatency");
            gst_util_set_object_arg(G_OBJECT(enc), "speed-preset", "ultrafast");
            GstElement* out = Make("capsfilter");
            GstCaps* h264 = gst_caps_from_string(
                "video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline");
            g_object_set(out, "caps", h264, nullptr);
            gst_caps_unref(h264);
            chain.push_back(enc);
            chain.push_back(out);
        }
    }
    for (size_t i = 0; i < chain.size(); ++i) {
        gst_bin_add(GST_BIN(self), chain[i]);
        if (i) gst_element_link(chain[i - 1], chain[i]);
    }
    GstPad* last = gst_element_get_static_pad(chain.back(), "src");
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->ghost), last);
    if (self->shape->VanishMs)
        gst_pad_add_probe(last, GST_PAD_PROBE_TYPE_BUFFER, &VanishProbe, self, nullptr);
    gst_object_unref(last);
    gst_caps_unref(both);
    gst_caps_unref(device);
    if (wanted) gst_caps_unref(wanted);
    self->built = true;
}

GstStateChangeReturn FakeChangeState(GstElement* element, GstStateChange transition) {
    auto* self = reinterpret_cast<KxFakeSource*>(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && !self->built) Build(self);
    return GST_ELEMENT_CLASS(kx_fake_source_parent_class)->change_state(element, transition);
}

void kx_fake_source_class_init(KxFakeSourceClass* klass) {
    GST_ELEMENT_CLASS(klass)->change_state = FakeChangeState;
}

void kx_fake_source_init(KxFakeSource* self) {
    self->shape = nullptr;
    self->built = false;
    self->firstMs = 0;
    self->gone = false;
    self->ghost = gst_ghost_pad_new_no_target("src", GST_PAD_SRC);
    gst_element_add_pad(GST_ELEMENT(self), self->ghost);
    GST_OBJECT_FLAG_SET(self, GST_ELEMENT_FLAG_SOURCE);
}

// ---------------------------------------------------------------- device

struct KxFakeDevice {
    GstDevice parent;
    const TFakeShape* shape;
};
struct KxFakeDeviceClass {
    GstDeviceClass parent_class;
};
G_DEFINE_TYPE(KxFakeDevice, kx_fake_device, GST_TYPE_DEVICE)

GstElement* FakeCreateElement(GstDevice* device, const gchar* name) {
    auto* self = reinterpret_cast<KxFakeSource*>(
        g_object_new(kx_fake_source_get_type(), "name", name, nullptr));
    self->shape = reinterpret_cast<KxFakeDevice*>(device)->shape;
    return GST_ELEMENT(self);
}

void kx_fake_device_class_init(KxFakeDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = FakeCreateElement;
}
void kx_fake_device_init(KxFakeDevice*) {}

GstDevice* NewDevice(const TFakeShape& s, bool wire) {
    GstCaps* caps = gst_caps_from_string(s.Caps);
    GstStructure* props = gst_structure_new_empty("properties");
    if (wire) {
        const std::string node = std::string(s.Video ? "v4l2_input." : "alsa_input.") + s.Name;
        gst_structure_set(props, "node.name", G_TYPE_STRING, node.c_str(), nullptr);
        if (*s.Node) gst_structure_set(props, "api.v4l2.path", G_TYPE_STRING, s.Node, nullptr);
    } else if (s.Video) {
        gst_structure_set(props, "device.path", G_TYPE_STRING, s.Node, "device.bus_path",
                          G_TYPE_STRING, s.BusPath, nullptr);
    } else {
        const std::string internal = std::string("fake_source.") + (s.Monitor ? "monitor" : "mic");
        gst_structure_set(props, "internal-name", G_TYPE_STRING, internal.c_str(), nullptr);
        if (s.Monitor) gst_structure_set(props, "device.class", G_TYPE_STRING, "monitor", nullptr);
    }
    if (s.IsDefault) gst_structure_set(props, "is-default", G_TYPE_BOOLEAN, TRUE, nullptr);
    auto* d = reinterpret_cast<KxFakeDevice*>(g_object_new(
        kx_fake_device_get_type(), "display-name", s.Name, "caps", caps, "device-class",
        s.Video ? "Video/Source" : "Audio/Source", "properties", props, nullptr));
    d->shape = &s;
    gst_caps_unref(caps);
    gst_structure_free(props);
    return GST_DEVICE(d);
}

// ---------------------------------------------------------------- providers

struct KxFakeProvider {
    GstDeviceProvider parent;
};
struct KxFakeProviderClass {
    GstDeviceProviderClass parent_class;
};
G_DEFINE_TYPE(KxFakeProvider, kx_fake_provider, GST_TYPE_DEVICE_PROVIDER)

GList* CamProbe(GstDeviceProvider*) {
    GList* out = nullptr;
    for (const auto& s : kShapes)
        if (Listed(s)) out = g_list_append(out, gst_object_ref_sink(NewDevice(s, false)));
    return out;
}

// Devices announced by a started provider, so that they can be removed.
gboolean CamStart(GstDeviceProvider* provider) {
    for (const auto& s : kShapes)
        if (Listed(s)) gst_device_provider_device_add(provider, NewDevice(s, false));
    return TRUE;
}

void kx_fake_provider_class_init(KxFakeProviderClass* klass) {
    auto* dp = GST_DEVICE_PROVIDER_CLASS(klass);
    dp->probe = CamProbe;
    dp->start = CamStart;
    gst_device_provider_class_set_static_metadata(dp, "Fake cameras", "Source/Video/Audio",
                                                  "v4l2- and pulse-shaped test devices", "kx");
}
void kx_fake_provider_init(KxFakeProvider*) {}

struct KxFakeWire {
    GstDeviceProvider parent;
};
struct KxFakeWireClass {
    GstDeviceProviderClass parent_class;
};
G_DEFINE_TYPE(KxFakeWire, kx_fake_wire, GST_TYPE_DEVICE_PROVIDER)

// As PipeWire's provider: it hides the other one during its probe, and only
// when its daemon answers.
GList* WireProbe(GstDeviceProvider* provider) {
    if (!wireRunning) {
        gst_device_provider_unhide_provider(provider, "kxfakecamprovider");
        return nullptr;
    }
    gst_device_provider_hide_provider(provider, "kxfakecamprovider");
    GList* out = nullptr;
    for (const auto& s : kShapes)
        if (s.Video && Listed(s)) out = g_list_append(out, gst_object_ref_sink(NewDevice(s, true)));
    return out;
}

void kx_fake_wire_class_init(KxFakeWireClass* klass) {
    auto* dp = GST_DEVICE_PROVIDER_CLASS(klass);
    dp->probe = WireProbe;
    gst_device_provider_class_set_static_metadata(dp, "Fake PipeWire", "Source/Video",
                                                  "PipeWire-shaped test devices", "kx");
}
void kx_fake_wire_init(KxFakeWire*) {}

GstDeviceProvider* CamProvider() {
    return gst_device_provider_factory_get_by_name("kxfakecamprovider");
}

void RemoveFromProviders(const char* name) {
    GstDeviceProvider* provider = CamProvider();
    if (!provider) return;
    GList* devices = gst_device_provider_get_devices(provider);
    if (gst_device_provider_is_started(provider))
        for (GList* l = devices; l; l = l->next) {
            auto* d = reinterpret_cast<KxFakeDevice*>(l->data);
            if (std::string(d->shape->Name) == name)
                gst_device_provider_device_remove(provider, GST_DEVICE(d));
        }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(provider);
}

} // namespace

void RegisterFakeProviders() {
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        gst_device_provider_register(nullptr, "kxfakewireprovider", GST_RANK_PRIMARY + 1,
                                     kx_fake_wire_get_type());
        gst_device_provider_register(nullptr, "kxfakecamprovider", GST_RANK_PRIMARY,
                                     kx_fake_provider_get_type());
    });
}

void SetWireRunning(bool running) {
    wireRunning = running;
}

void ResetVanished() {
    std::lock_guard lock(stateLock);
    vanished.clear();
}

void PlugCamera(const std::string& name) {
    for (const auto& s : kShapes)
        if (name == s.Name) {
            {
                std::lock_guard lock(stateLock);
                plugged.push_back(name);
            }
            if (GstDeviceProvider* p = CamProvider()) {
                if (gst_device_provider_is_started(p))
                    gst_device_provider_device_add(p, NewDevice(s, false));
                gst_object_unref(p);
            }
        }
}

void UnplugCamera(const std::string& name) {
    {
        std::lock_guard lock(stateLock);
        std::erase(plugged, name);
    }
    RemoveFromProviders(name.c_str());
}

} // namespace fakedev
