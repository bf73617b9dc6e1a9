#include "GstReferenceRecording.h"

#include "BenchFakeCamera.h"
#include "platform/gst/GstUtil.h"

#include <chrono>
#include <thread>

bool RecordReferencePipeline(const std::string& fileName, double seconds, std::string& error,
                             bool mjpeg) {
    EnsureGstInitialised();
    // The file keeps a constant rate, as the components' does.
    const std::string description =
        std::string(mjpeg ? kBenchMjpegSource
                          : "videotestsrc is-live=true ! "
                            "video/x-raw,format=YUY2,width=320,height=240,framerate=30/1") +
        " ! queue ! videorate ! "
        "avimux name=mux ! filesink sync=false async=false name=out "
        "audiotestsrc is-live=true ! "
        "audio/x-raw,format=S16LE,layout=interleaved,rate=44100,channels=2 ! "
        "queue ! mux.";
    GError* parseError = nullptr;
    TGstRef<GstElement> pipeline(gst_parse_launch(description.c_str(), &parseError));
    if (parseError) {
        error = parseError->message;
        g_error_free(parseError);
        return false;
    }
    TGstRef<GstElement> out(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    g_object_set(out.get(), "location", fileName.c_str(), nullptr);
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        error = "the pipeline did not start";
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return false;
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    gst_element_send_event(pipeline.get(), gst_event_new_eos());
    TGstRef<GstBus> bus(gst_element_get_bus(pipeline.get()));
    TGstMessageRef done(gst_bus_timed_pop_filtered(
        bus.get(), 5 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (!done || GST_MESSAGE_TYPE(done.get()) != GST_MESSAGE_EOS) {
        error = done ? "the pipeline failed" : "the file was not finished in time";
        return false;
    }
    return true;
}
