#include "GstReferencePreview.h"

#include "platform/gst/GstUtil.h"
#include "platform/gst/GstVideoRenderer.h"
#include "platform/gst/VideoRendererWidget.h"

#include <QImage>
#include <QWidget>

#include <gst/app/gstappsink.h>

#include <atomic>

struct TGstReferencePreview::TState {
    std::shared_ptr<TVideoFrameSlot> Slot = std::make_shared<TVideoFrameSlot>();
    TVideoRendererWidget* Widget = nullptr; // a Qt child of the parent
    TGstRef<GstElement> Pipeline;
    std::atomic<uint64_t> Frames{0};

    // Streaming thread: the same copy into the slot the renderer makes.
    static GstFlowReturn NewSample(GstAppSink* sink, gpointer data) {
        auto* self = static_cast<TState*>(data);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) return GST_FLOW_EOS;
        QImage image = CopyVideoFrame(sample);
        gst_sample_unref(sample);
        if (!image.isNull()) {
            self->Slot->Put(std::move(image));
            ++self->Frames;
        }
        return GST_FLOW_OK;
    }
};

TGstReferencePreview::TGstReferencePreview(QWidget* parent) : state_(std::make_unique<TState>()) {
    state_->Widget = new TVideoRendererWidget(state_->Slot);
    state_->Widget->setParent(parent);
    if (parent) state_->Widget->setGeometry(0, 0, parent->width(), parent->height());
}

TGstReferencePreview::~TGstReferencePreview() {
    Stop();
    delete state_->Widget;
}

bool TGstReferencePreview::Start(std::string& error) {
    EnsureGstInitialised();
    // The capture filter's tee and queue, then the renderer's queue,
    // converter and sink, as the components build them.
    const char* description =
        "videotestsrc is-live=true ! video/x-raw,format=YUY2,width=320,height=240,framerate=30/1 ! "
        "tee ! queue ! queue leaky=downstream max-size-buffers=2 max-size-bytes=0 max-size-time=0 "
        "! "
        "videoconvert ! appsink name=out caps=video/x-raw,format=BGRx sync=false async=false "
        "enable-last-sample=false max-buffers=1 drop=true";
    GError* parseError = nullptr;
    state_->Pipeline.reset(gst_parse_launch(description, &parseError));
    if (parseError) {
        error = parseError->message;
        g_error_free(parseError);
        state_->Pipeline.reset();
        return false;
    }
    TGstRef<GstElement> sink(gst_bin_get_by_name(GST_BIN(state_->Pipeline.get()), "out"));
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &TState::NewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, state_.get(), nullptr);
    if (gst_element_set_state(state_->Pipeline.get(), GST_STATE_PLAYING) ==
        GST_STATE_CHANGE_FAILURE) {
        error = "the pipeline did not start";
        Stop();
        return false;
    }
    state_->Widget->show();
    return true;
}

void TGstReferencePreview::Stop() {
    if (!state_->Pipeline) return;
    gst_element_set_state(state_->Pipeline.get(), GST_STATE_NULL);
    state_->Pipeline.reset();
}

uint64_t TGstReferencePreview::Frames() const {
    return state_->Frames;
}
