#include "BenchFakeCamera.h"

#include "platform/gst/GstUtil.h"

#include <mutex>

namespace {

struct KxBenchDevice {
    GstDevice parent;
};
struct KxBenchDeviceClass {
    GstDeviceClass parent_class;
};
G_DEFINE_TYPE(KxBenchDevice, kx_bench_device, GST_TYPE_DEVICE)

GstElement* CreateElement(GstDevice*, const gchar* name) {
    GstElement* bin = gst_parse_bin_from_description(kBenchMjpegSource, TRUE, nullptr);
    if (bin && name) gst_object_set_name(GST_OBJECT(bin), name);
    return bin;
}

void kx_bench_device_class_init(KxBenchDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = CreateElement;
}
void kx_bench_device_init(KxBenchDevice*) {}

struct KxBenchProvider {
    GstDeviceProvider parent;
};
struct KxBenchProviderClass {
    GstDeviceProviderClass parent_class;
};
G_DEFINE_TYPE(KxBenchProvider, kx_bench_provider, GST_TYPE_DEVICE_PROVIDER)

GList* Probe(GstDeviceProvider*) {
    GstCaps* caps = gst_caps_from_string("image/jpeg,width=1280,height=720,framerate=30/1");
    GstStructure* props =
        gst_structure_new("properties", "device.bus_path", G_TYPE_STRING, "bench-usb-0:1", nullptr);
    GstDevice* d = GST_DEVICE(g_object_new(kx_bench_device_get_type(), "display-name",
                                           kBenchMjpegCamera, "caps", caps, "device-class",
                                           "Video/Source", "properties", props, nullptr));
    gst_caps_unref(caps);
    gst_structure_free(props);
    return g_list_append(nullptr, gst_object_ref_sink(d));
}

void kx_bench_provider_class_init(KxBenchProviderClass* klass) {
    auto* dp = GST_DEVICE_PROVIDER_CLASS(klass);
    dp->probe = Probe;
    gst_device_provider_class_set_static_metadata(dp, "Bench camera", "Source/Video",
                                                  "An MJPEG camera for benchmarks", "kx");
}
void kx_bench_provider_init(KxBenchProvider*) {}

} // namespace

void RegisterBenchMjpegCamera() {
    static std::once_flag once;
    std::call_once(once, [] {
        EnsureGstInitialised();
        gst_device_provider_register(nullptr, "kxbenchcamprovider", GST_RANK_PRIMARY,
                                     kx_bench_provider_get_type());
    });
}
