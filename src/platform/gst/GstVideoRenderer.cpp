#include "platform/gst/GstVideoRenderer.h"

#include "platform/ClassRegistry.h"
#include "platform/gst/VideoRendererWidget.h"

#include <QApplication>
#include <QThread>

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <atomic>

QImage CopyVideoFrame(GstSample* sample) {
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstVideoFrame frame;
    if (!buffer || !gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) ||
        !gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ))
        return {};
    QImage image = QImage(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                          GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                          GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32)
                       .copy();
    gst_video_frame_unmap(&frame);
    return image;
}

// What the appsink's callbacks share with the filter; lives as long as the
// appsink holds its callbacks, which may outlast the filter by a moment.
struct TGstVideoRenderer::TSinkContext {
    std::shared_ptr<TVideoFrameSlot> Slot;
    std::atomic<uint64_t> Frames{0};
    int Width = 0, Height = 0; // streaming thread only

    static GstFlowReturn NewSample(GstAppSink* sink, gpointer data) {
        auto* self = static_cast<TSinkContext*>(data);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample) return GST_FLOW_EOS;
        QImage image = CopyVideoFrame(sample);
        gst_sample_unref(sample);
        if (!image.isNull()) self->Show(GST_ELEMENT(sink), std::move(image));
        return GST_FLOW_OK;
    }

    void Show(GstElement* sink, QImage image) {
        const int w = image.width(), h = image.height();
        ++Frames;
        Slot->Put(std::move(image));
        if (w != Width || h != Height) {
            Width = w;
            Height = h;
            gst_element_post_message(
                sink,
                gst_message_new_element(GST_OBJECT(sink),
                                        gst_structure_new("kx-video-size", "width", G_TYPE_INT, w,
                                                          "height", G_TYPE_INT, h, nullptr)));
        }
    }
    static void Free(gpointer data) {
        std::unique_ptr<TSinkContext> owned(static_cast<TSinkContext*>(data));
    }
};

namespace {

bool OnWidgetThread() {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    return app && QThread::currentThread() == app->thread();
}

} // namespace

TGstVideoRenderer::TGstVideoRenderer()
    : TGstFilter(CLSID_VideoRenderer, nullptr), slot_(std::make_shared<TVideoFrameSlot>()) {
    auto context = std::make_unique<TSinkContext>();
    context->Slot = slot_;
    context_ = context.get();
    GstElement* queue = RequireGstElement("queue");
    GstElement* convert = RequireGstElement("videoconvert");
    GstElement* sink = RequireGstElement("appsink");
    // The newest picture matters: at most two frames wait, older ones are dropped.
    g_object_set(queue, "leaky", 2, "max-size-buffers", 2u, "max-size-bytes", 0u, "max-size-time",
                 guint64(0), nullptr);
    TGstCapsRef caps(gst_caps_from_string("video/x-raw,format=BGRx"));
    g_object_set(sink, "caps", caps.get(), "sync", FALSE, "async", FALSE, "enable-last-sample",
                 FALSE, "max-buffers", 1u, "drop", TRUE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &TSinkContext::NewSample;
    // The appsink owns the context from here and frees it with its callbacks.
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, context.release(),
                               &TSinkContext::Free);
    gst_bin_add_many(GST_BIN(bin_.get()), queue, convert, sink, nullptr);
    gst_element_link_many(queue, convert, sink, nullptr);

    auto pin = MakeComObject<TGstPin>(this, "Input", PINDIR_INPUT, GUID_NULL);
    TGstRef<GstPad> target(gst_element_get_static_pad(queue, "sink"));
    gst_ghost_pad_set_target(GST_GHOST_PAD(pin->Pad()), target.get());
    AddPin(pin);

    // Owned by this filter, but handed to its owner widget as a Qt child:
    // whichever goes first deletes it, and the QPointer notices.
    if (OnWidgetThread()) widget_ = new TVideoRendererWidget(slot_);
}

TGstVideoRenderer::~TGstVideoRenderer() {
    slot_->Detach();
    if (TVideoRendererWidget* w = widget_.data()) {
        if (QThread::currentThread() == w->thread())
            delete w;
        else
            w->deleteLater();
    }
}

HRESULT TGstVideoRenderer::QueryOtherInterface(REFIID iid, void** out) {
    if (iid != IVideoWindow::Iid) return E_NOINTERFACE;
    *out = static_cast<IVideoWindow*>(this);
    AddRef();
    return S_OK;
}

uint64_t TGstVideoRenderer::FramesReceived() const {
    return context_->Frames;
}

TGstVideoRenderer* TGstVideoRenderer::From(IBaseFilter* filter) {
    return dynamic_cast<TGstVideoRenderer*>(filter);
}

void TGstVideoRenderer::ApplyTopLevelFlags() {
    if (!widget_ || owner_) return;
    Qt::WindowFlags flags = Qt::Window;
    if (!(style_ & WS_CAPTION)) flags |= Qt::FramelessWindowHint;
    if (exStyle_ & WS_EX_TOPMOST) flags |= Qt::WindowStaysOnTopHint;
    widget_->setWindowFlags(flags);
}

void TGstVideoRenderer::RestyleTopLevel() {
    if (!widget_ || owner_) return;
    const bool shown = visible_;
    ApplyTopLevelFlags();
    widget_->setVisible(shown);
}

HRESULT TGstVideoRenderer::put_Caption(const std::string& caption) {
    caption_ = caption;
    if (widget_) {
        widget_->setWindowTitle(QString::fromStdString(caption));
        widget_->setObjectName(QString::fromStdString(caption));
    }
    return S_OK;
}

HRESULT TGstVideoRenderer::get_Caption(std::string& caption) {
    caption = caption_;
    return S_OK;
}

HRESULT TGstVideoRenderer::put_WindowStyle(LONG style) {
    style_ = style;
    RestyleTopLevel();
    return S_OK;
}

HRESULT TGstVideoRenderer::get_WindowStyle(LONG* style) {
    if (!style) return E_POINTER;
    *style = style_;
    return S_OK;
}

HRESULT TGstVideoRenderer::put_WindowStyleEx(LONG style) {
    exStyle_ = style;
    RestyleTopLevel();
    return S_OK;
}

HRESULT TGstVideoRenderer::get_WindowStyleEx(LONG* style) {
    if (!style) return E_POINTER;
    *style = exStyle_;
    return S_OK;
}

HRESULT TGstVideoRenderer::put_AutoShow(LONG autoShow) {
    autoShow_ = autoShow != OAFALSE;
    if (widget_) widget_->SetAutoShow(autoShow_ && !visible_);
    return S_OK;
}

HRESULT TGstVideoRenderer::get_AutoShow(LONG* autoShow) {
    if (!autoShow) return E_POINTER;
    *autoShow = autoShow_ ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT TGstVideoRenderer::put_Visible(LONG visible) {
    visible_ = visible != OAFALSE;
    if (widget_) {
        // The owner decided: the first frame no longer shows the window.
        widget_->SetAutoShow(false);
        widget_->setVisible(visible_);
        if (visible_) widget_->raise();
    }
    return S_OK;
}

HRESULT TGstVideoRenderer::get_Visible(LONG* visible) {
    if (!visible) return E_POINTER;
    const bool shown = widget_ ? !widget_->isHidden() : visible_;
    *visible = shown ? OATRUE : OAFALSE;
    return S_OK;
}

HRESULT TGstVideoRenderer::put_Owner(OAHWND owner) {
    owner_ = owner;
    if (widget_) {
        const bool shown = !widget_->isHidden();
        if (owner) {
            widget_->setParent(owner, Qt::Widget);
        } else {
            widget_->setParent(nullptr);
            ApplyTopLevelFlags();
        }
        widget_->setGeometry(left_, top_, width_, height_);
        if (shown) {
            widget_->show();
            widget_->raise();
        }
    }
    return S_OK;
}

HRESULT TGstVideoRenderer::get_Owner(OAHWND* owner) {
    if (!owner) return E_POINTER;
    *owner = owner_.data();
    return S_OK;
}

HRESULT TGstVideoRenderer::put_MessageDrain(OAHWND drain) {
    drain_ = drain;
    if (widget_) widget_->SetDrain(drain);
    return S_OK;
}

HRESULT TGstVideoRenderer::get_MessageDrain(OAHWND* drain) {
    if (!drain) return E_POINTER;
    *drain = drain_.data();
    return S_OK;
}

HRESULT TGstVideoRenderer::SetWindowPosition(LONG left, LONG top, LONG width, LONG height) {
    if (width < 0 || height < 0) return E_INVALIDARG;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (widget_) widget_->setGeometry(left, top, width, height);
    return S_OK;
}

HRESULT TGstVideoRenderer::GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    if (!left || !top || !width || !height) return E_POINTER;
    *left = left_;
    *top = top_;
    *width = width_;
    *height = height_;
    return S_OK;
}

HRESULT TGstVideoRenderer::GetRendererWindow(OAHWND* window) {
    if (!window) return E_POINTER;
    *window = widget_.data();
    return S_OK;
}

void RegisterVideoRenderer() {
    RegisterClassFactory(CLSID_VideoRenderer, MakeClassFactory<TGstVideoRenderer>());
}
