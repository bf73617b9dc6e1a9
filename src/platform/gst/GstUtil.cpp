#include "platform/gst/GstUtil.h"

#include "platform/ErrorText.h"

#include <cstdio>
#include <cstring>
#include <mutex>

void EnsureGstInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

namespace {

// Where Debian 12 ships the elements this program creates by name.
struct TElementPackage {
    const char* prefix;
    const char* package;
};
constexpr TElementPackage kPackages[] = {
    {"avenc_", "gstreamer1.0-libav"},
    {"asfmux", "gstreamer1.0-plugins-bad"},
    {"audiobuffersplit", "gstreamer1.0-plugins-bad"},
    {"avimux", "gstreamer1.0-plugins-good"},
    {"jpegdec", "gstreamer1.0-plugins-good"},
    {"v4l2", "gstreamer1.0-plugins-good"},
    {"pulse", "gstreamer1.0-pulseaudio"},
    {"vp8", "gstreamer1.0-plugins-good"},
    {"webm", "gstreamer1.0-plugins-good"},
    {"matroska", "gstreamer1.0-plugins-good"},
    {"x264", "gstreamer1.0-plugins-ugly"},
    {"h264parse", "gstreamer1.0-plugins-bad"},
    {"flvmux", "gstreamer1.0-plugins-good"},
    {"rtmp2", "gstreamer1.0-plugins-bad"},
    {"voaacenc", "gstreamer1.0-plugins-bad"},
    {"shout2", "gstreamer1.0-plugins-good"},
    {"alsa", "gstreamer1.0-alsa"},
    {"queue", "libgstreamer1.0-0"},
    {"tee", "libgstreamer1.0-0"},
    {"capsfilter", "libgstreamer1.0-0"},
    {"filesink", "libgstreamer1.0-0"},
    {"identity", "libgstreamer1.0-0"},
    {"webrtcbin", "gstreamer1.0-plugins-bad"},
    {"nice", "gstreamer1.0-nice"},
    {"dtls", "gstreamer1.0-plugins-bad"},
    {"srtp", "gstreamer1.0-plugins-bad"},
    {"rtp", "gstreamer1.0-plugins-good"},
};

const char* PackageOf(const char* factory) {
    for (const auto& p : kPackages)
        if (std::strncmp(factory, p.prefix, std::strlen(p.prefix)) == 0) return p.package;
    // appsink, the converters, the test sources, vorbisenc, ...
    return "gstreamer1.0-plugins-base";
}

} // namespace

std::string MissingElementText(const char* factory) {
    return std::string("The GStreamer element \"") + factory +
           "\" is missing: install the Debian package " + PackageOf(factory) + ".";
}

GstElement* MakeGstElement(const char* factory, const char* name) {
    EnsureGstInitialised();
    GstElement* e = gst_element_factory_make(factory, name);
    if (!e) {
        std::string text = MissingElementText(factory);
        std::fprintf(stderr, "kavaroxp: %s\n", text.c_str());
        SetMissingComponentText(std::move(text));
    }
    return e;
}

GstElement* RequireGstElement(const char* factory, const char* name) {
    GstElement* e = MakeGstElement(factory, name);
    if (!e) throw EMediaResult(E_MISSING_COMPONENT, MissingElementText(factory));
    return e;
}

std::string TakeGstString(gchar* s) {
    std::string out = s ? s : "";
    g_free(s);
    return out;
}
