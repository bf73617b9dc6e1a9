#include "platform/gst/GstRelay.h"

#include "platform/ClassRegistry.h"

#include <algorithm>
#include <vector>

#include <signal.h>

namespace {

bool Has(const std::string& text, const char* what) {
    return text.find(what) != std::string::npos;
}

// libshout writes to its socket without MSG_NOSIGNAL: an Icecast server
// that goes away mid-stream would end the program with SIGPIPE. Writes to a
// closed socket fail with EPIPE instead (a handler someone set is kept).
void IgnoreBrokenPipes() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGPIPE, &ignore, nullptr);
        }
    });
}

// The text naming the first element of the relay that is not installed.
std::string MissingFactory(TRelayProtocol protocol, bool audio) {
    std::vector<const char*> needed{"appsrc",       "videorate",  "videoscale",
                                    "videoconvert", "capsfilter", "queue"};
    if (protocol == TRelayProtocol::Rtmp)
        needed.insert(needed.end(), {"x264enc", "h264parse", "flvmux", "rtmp2sink"});
    else
        needed.insert(needed.end(), {"vp8enc", "webmmux", "shout2send"});
    if (audio) needed.insert(needed.end(), {"audioconvert", "audioresample"});
    if (audio && protocol == TRelayProtocol::Icecast) needed.push_back("vorbisenc");
    for (const char* factory : needed)
        if (TGstRef<GstElementFactory> found(gst_element_factory_find(factory)); !found)
            return MissingElementText(factory);
    if (audio && protocol == TRelayProtocol::Rtmp) {
        TGstRef<GstElementFactory> aac(gst_element_factory_find("avenc_aac"));
        TGstRef<GstElementFactory> vo(gst_element_factory_find("voaacenc"));
        if (!aac && !vo) return MissingElementText("avenc_aac");
    }
    return {};
}

} // namespace

TGstRelay::TGstRelay() : TGstSideOutput("relay") {}

TGstRelay::~TGstRelay() {
    runner_.Stop();
}

HRESULT TGstRelay::SetRelay(const TRelaySettings* settings) {
    std::string error;
    {
        std::lock_guard lock(lock_);
        settings_.reset();
        target_.reset();
        if (settings) {
            settings_ = *settings;
            target_ = ParseRelayUrl(settings->Url, error);
        }
    }
    runner_.SetWanted(settings != nullptr);
    runner_.Restart(error);
    return S_OK;
}

std::string TGstRelay::Hide(std::string text) {
    std::lock_guard lock(lock_);
    return target_ ? HideSecret(std::move(text), target_->Secret()) : text;
}

bool TGstRelay::IsRefusal(const std::string& message, const std::string& debug,
                          std::string& reason) {
    // rtmp2sink: a server that turns the publisher away closes the connection
    // in answer to "connect" (application) or "publish" (stream key), or
    // answers with an error status. A stream already published (our own
    // earlier connection, not yet noticed gone) is worth another try.
    if (Has(message, "'publish' cmd failed") || Has(message, "'connect' cmd failed") ||
        (Has(message, "publish denied") && !Has(message, "already"))) {
        reason = Has(message, "'connect'")
                     ? "the server does not take this application (check the address)"
                     : "the server does not take this stream key";
        return true;
    }
    // shout2send: the source login was answered 401 (or 403).
    if (Has(debug, "Login failed")) {
        reason = "the server does not take this source password or mount";
        return true;
    }
    return false;
}

GstElement* TGstRelay::AddChain(GstElement* pipeline, GstElement* video, GstElement* audio,
                                const TGstSideTaps& taps, std::string& error) {
    std::optional<TRelayTarget> target;
    std::optional<TRelaySettings> settings;
    {
        std::lock_guard lock(lock_);
        target = target_;
        settings = settings_;
    }
    if (!target || !settings) {
        error = "no relay address";
        return nullptr;
    }
    const TTapVideo capture = TapVideo(*taps.Video);
    GstElement* sink = target->Protocol == TRelayProtocol::Rtmp
                           ? AddRtmpOutput(pipeline, video, audio, capture, *target, *settings)
                           : AddIcecastOutput(pipeline, video, audio, capture, *target, *settings);
    if (!sink) error = MissingFactory(target->Protocol, audio != nullptr);
    return sink;
}

GstElement* TGstRelay::AddRtmpOutput(GstElement* pipeline, GstElement* video, GstElement* audio,
                                     const TTapVideo& capture, const TRelayTarget& target,
                                     const TRelaySettings& settings) {
    int width = 0, height = 0;
    FitPictureSize(capture.Width, capture.Height, settings.Width, settings.Height, width, height);
    // The capture's own rate, 29.97 included; a keyframe every 2 s of it.
    const TFrameRate frames = EncodeRate(capture);
    GstElement* last = AddPictureChain(pipeline, video, width, height, frames.Num, frames.Den);
    GstElement *venc, *profile, *parse, *vqueue, *mux, *sink;
    if (!last || !MakeGstElements({{&venc, "x264enc"},
                                   {&profile, "capsfilter"},
                                   {&parse, "h264parse"},
                                   {&vqueue, "queue"},
                                   {&mux, "flvmux"},
                                   {&sink, "rtmp2sink"}}))
        return nullptr;
    // The picture is I420 already (8-bit 4:2:0); Main profile and a keyframe
    // every 2 s, so that a joining viewer waits at most that long.
    g_object_set(venc, "tune", 0x4 /* zerolatency */, "bitrate", guint(settings.VideoKbps),
                 "key-int-max", guint(frames.FramesIn(2)), nullptr);
    gst_util_set_object_arg(G_OBJECT(venc), "speed-preset", "veryfast");
    TGstCapsRef h264(gst_caps_from_string("video/x-h264,profile=main"));
    g_object_set(profile, "caps", h264.get(), nullptr);
    // The taps' samples reach this pipeline after their capture time, the
    // video later than the sound (the encoder): the multiplexer waits for it
    // rather than time out and write the sound first, which would put the
    // video behind it. The sink sends as data comes (the capture paces it),
    // so that waiting adds no delay of its own.
    g_object_set(mux, "streamable", TRUE, "latency", guint64(300 * GST_MSECOND), nullptr);
    g_object_set(sink, "location", target.Location().c_str(), "async", FALSE, "sync", FALSE,
                 nullptr);
    gst_bin_add_many(GST_BIN(pipeline), mux, sink, nullptr);
    if (!LinkChain(pipeline, {venc, profile, parse, vqueue}) || !gst_element_link(last, venc) ||
        !gst_element_link_pads(vqueue, "src", mux, "video") || !gst_element_link(mux, sink))
        return nullptr;
    if (!audio) return sink;
    gst_bin_add(GST_BIN(pipeline), audio);
    GstElement *convert, *resample, *rate, *aqueue;
    if (!MakeGstElements({{&convert, "audioconvert"},
                          {&resample, "audioresample"},
                          {&rate, "capsfilter"},
                          {&aqueue, "queue"}}))
        return nullptr;
    GstElement* aenc = MakeGstElement("avenc_aac");
    if (!aenc) aenc = MakeGstElement("voaacenc");
    if (!aenc) {
        for (GstElement* e : {convert, resample, rate, aqueue})
            DropLooseElement(e);
        return nullptr;
    }
    g_object_set(aenc, "bitrate", settings.AudioKbps * 1000, nullptr);
    TGstCapsRef raw(gst_caps_from_string("audio/x-raw,rate=44100"));
    g_object_set(rate, "caps", raw.get(), nullptr);
    if (!LinkChain(pipeline, {convert, resample, rate, aenc, aqueue}) ||
        !gst_element_link(audio, convert) || !gst_element_link_pads(aqueue, "src", mux, "audio"))
        return nullptr;
    return sink;
}

GstElement* TGstRelay::AddIcecastOutput(GstElement* pipeline, GstElement* video, GstElement* audio,
                                        const TTapVideo& capture, const TRelayTarget& target,
                                        const TRelaySettings& settings) {
    TSideEncoding encoding;
    FitPictureSize(capture.Width, capture.Height, settings.Width, settings.Height, encoding.Width,
                   encoding.Height);
    const TFrameRate rate = EncodeRate(capture);
    encoding.Fps = rate.Num;
    encoding.FpsDen = rate.Den;
    encoding.VideoBitRate = settings.VideoKbps * 1000;
    GstElement* mux = AddWebmEncoding(pipeline, video, audio, encoding);
    GstElement* sink = mux ? MakeGstElement("shout2send") : nullptr;
    if (!sink) return nullptr;
    IgnoreBrokenPipes();
    g_object_set(sink, "ip", target.Host.c_str(), "port", target.Port, "username",
                 target.User.c_str(), "password", target.Password.c_str(), "mount",
                 target.Mount.c_str(), "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(pipeline), sink);
    return gst_element_link(mux, sink) ? sink : nullptr;
}

void RegisterRelay() {
    RegisterClassFactory(CLSID_RelayOutput, MakeClassFactory<TGstRelay>());
}
