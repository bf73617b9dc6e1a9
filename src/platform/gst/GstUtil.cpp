#include "platform/gst/GstUtil.h"

#include <mutex>

void EnsureGstInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

GstElement* MakeGstElement(const char* factory, const char* name) {
    EnsureGstInitialised();
    return gst_element_factory_make(factory, name);
}

std::string TakeGstString(gchar* s) {
    std::string out = s ? s : "";
    g_free(s);
    return out;
}
