#include "media/VideoWindow.h"

#include "media/MediaErrors.h"
#include "media/PinList.h"
#include "platform/ClassRegistry.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <cfenv>
#include <utility>

namespace {

// Window styles the renderer window takes in and out of full screen.
constexpr LONG kChildStyles = WS_CHILD | WS_CLIPSIBLINGS; // 0x44000000
constexpr LONG kFullScreenStyleMask = LONG(0xFF3BFFFF);   // no caption, no sizing frame
constexpr LONG kEdgeExStyles = 0x20301;                   // static, client, window and modal edges

} // namespace

// ---------------------------------------------------------------- TVMROptions

void TVMROptions::SetMode(TVMRVideoMode mode) {
    if (mode == mode_) return;
    mode_ = mode;
    Changed();
}

void TVMROptions::SetStreams(unsigned streams) {
    if (streams < 1 || streams > 16) streams = 1;
    if (streams == streams_) return;
    streams_ = streams;
    Changed();
}

void TVMROptions::SetPreferences(TVMRPreferences preferences) {
    if (preferences == preferences_) return;
    preferences_ = preferences;
    Changed();
}

void TVMROptions::Changed() {
    if (owner_ && owner_->Mode() == vmVMR && owner_->AttachedToActiveGraph()) owner_->Reattach();
}

// ---------------------------------------------------------------- TVideoWindow

TVideoWindow::TVideoWindow(QWidget* parent, const std::string& name)
    : QWidget(parent), vmrOptions_(std::make_unique<TVMROptions>(this)) {
    SetName(name);
    resize(160, 120);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TVideoWindow::~TVideoWindow() {
    try {
        SetFilterGraph(nullptr);
    } catch (...) {
        // a destructor must not raise; the graph has already dropped the member
    }
    videoWindow_.Reset();
    windowless_.Reset();
    renderer_.Reset();
    vmrOptions_.reset();
}

void TVideoWindow::SetFilterGraph(TFilterGraph* graph) {
    if (graph == filterGraph_) return;
    // Stored first: a member operation that raises still leaves the graph
    // and this control agreeing on the membership.
    TFilterGraph* old = std::exchange(filterGraph_, graph);
    if (old) {
        try {
            old->RemoveMember(this);
        } catch (...) {
            old->RemoveListener(this); // never left behind in a graph it may outlive
            throw;
        }
        old->RemoveListener(this);
    }
    if (graph) {
        graph->InsertMember(this);
        graph->InsertListener(this);
    }
}

void TVideoWindow::GraphDestroyed(TFilterGraph* graph) {
    if (graph != filterGraph_) return;
    filterGraph_ = nullptr;
    videoWindow_.Reset();
    windowless_.Reset();
    renderer_.Reset();
}

void TVideoWindow::Reattach() {
    TFilterGraph* graph = filterGraph_;
    SetFilterGraph(nullptr);
    SetFilterGraph(graph);
}

void TVideoWindow::SetMode(TVideoMode mode) {
    if (mode == vmVMR) {
        ComPtr<IBaseFilter> probe;
        if (FAILED(CreateInstance(CLSID_VideoMixingRenderer9, probe)) || !probe) mode = vmNormal;
    }
    if (mode == mode_) return;
    mode_ = mode;
    if (AttachedToActiveGraph()) Reattach();
}

QWidget* TVideoWindow::VideoHandle() {
    if (!videoWindow_) return this;
    QWidget* parent = parentWidget();
    if (!parent) return nullptr;
    for (QWidget* child : parent->findChildren<QWidget*>(objectName(), Qt::FindDirectChildrenOnly))
        if (child->property("windowClass").toString() == QLatin1String("VideoRenderer"))
            return child;
    return nullptr;
}

void TVideoWindow::SetFullScreen(bool value) {
    fullScreen_ = value;
    if (videoWindow_) ApplyFullScreen();
}

void TVideoWindow::SetFullScreenTopMost(bool value) {
    fullScreenTopMost_ = value;
    if (fullScreen_) ApplyFullScreen();
}

void TVideoWindow::SetColor(const QColor& color) {
    color_ = color;
    update();
}

void TVideoWindow::setVisible(bool visible) {
    QWidget::setVisible(visible);
    if (videoWindow_) CheckMediaResult(videoWindow_->put_Visible(visible ? OATRUE : OAFALSE));
}

HRESULT TVideoWindow::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IVMRWindowlessControl9::Iid && windowless_)
        return windowless_.CopyTo(reinterpret_cast<IVMRWindowlessControl9**>(out));
    if (!renderer_) return E_NOINTERFACE;
    return renderer_->QueryInterface(iid, out);
}

// ---------------------------------------------------------------- graph member

void TVideoWindow::OnFilterOperation(TFilterOperation operation) {
    switch (operation) {
    case opAdding:
        CreateRenderer();
        break;
    case opAdded:
        RendererAdded();
        break;
    case opRemoving:
        RendererRemoving();
        break;
    case opRemoved:
        videoWindow_.Reset();
        windowless_.Reset();
        renderer_.Reset();
        covering_ = false;
        break;
    }
}

void TVideoWindow::CreateRenderer() {
    renderer_.Reset();
    if (mode_ == vmNormal) {
        CreateInstance(CLSID_VideoRenderer, renderer_);
        return;
    }
    if (vmrOptions_->Mode() == vmrRenderless)
        throw EMediaComponentException("Allocator class not set.");
    // The renderer's creation must not change the caller's floating-point environment.
    std::fenv_t env;
    std::fegetenv(&env);
    CreateInstance(CLSID_VideoMixingRenderer9, renderer_);
    std::fesetenv(&env);
    if (auto config = renderer_.Query<IVMRFilterConfig9>())
        config->SetRenderingMode(vmrOptions_->Mode() == vmrWindowed ? VMR9Mode_Windowed
                                                                    : VMR9Mode_Windowless);
}

void TVideoWindow::RendererAdded() {
    if (mode_ == vmNormal) {
        CheckMediaResult(renderer_ ? renderer_.As(videoWindow_) : E_POINTER);
        return;
    }
    TVMROptions& o = *vmrOptions_;
    auto config = renderer_.Query<IVMRFilterConfig9>();
    if (config && (o.streams_ != 4 || (o.preferences_ & vpForceMixer))) {
        config->SetNumberOfStreams(o.streams_);
        DWORD used = 0;
        if (SUCCEEDED(config->GetNumberOfStreams(&used))) o.streams_ = used;
    }
    if (o.Mode() == vmrWindowed) {
        CheckMediaResult(renderer_ ? renderer_.As(videoWindow_) : E_POINTER);
    } else {
        CheckMediaResult(renderer_ ? renderer_.As(windowless_) : E_POINTER);
        windowless_->SetVideoClippingWindow(this);
    }
    if (config) {
        const TVMRPreferences forced = o.preferences_ & vpForceMixer;
        config->SetRenderingPrefs(o.preferences_ & ~TVMRPreferences(vpForceMixer));
        DWORD reported = 0;
        if (SUCCEEDED(config->GetRenderingPrefs(&reported))) o.preferences_ = reported | forced;
    }
    if (auto aspect = renderer_.Query<IVMRAspectRatioControl9>())
        aspect->SetAspectRatioMode(o.KeepAspectRatio() ? VMR9ARMode_LetterBox : VMR9ARMode_None);
}

void TVideoWindow::RendererRemoving() {
    if (!renderer_) return;
    CheckMediaResult(renderer_->Stop());
    TPinList pins(renderer_.Get());
    for (int i = 0; i < pins.Count(); ++i)
        CheckMediaResult(pins.PinAt(i)->Disconnect());
}

// ---------------------------------------------------------------- graph listener

void TVideoWindow::HandleControlEvent(TControlEvent event, LONG_PTR) {
    if (event != ctlRun) return;
    if (mode_ == vmNormal) {
        if (videoWindow_) {
            ApplyFullScreen();
            ApplyCaptionAndDrain();
        }
    } else {
        ApplyFullScreen();
    }
}

void TVideoWindow::HandleGraphEvent(LONG code, LONG_PTR, LONG_PTR) {
    if (code == EC_PALETTE_CHANGED && videoWindow_) {
        ApplyFullScreen();
        ApplyCaptionAndDrain();
    } else if (code == EC_VMR_RENDERDEVICE_SET && vmrOptions_->Mode() == vmrWindowed &&
               videoWindow_) {
        ApplyCaptionAndDrain();
    }
}

void TVideoWindow::ApplyCaptionAndDrain() {
    CheckMediaResult(videoWindow_->put_Caption(Name()));
    CheckMediaResult(videoWindow_->put_MessageDrain(this));
}

void TVideoWindow::ApplyFullScreen() {
    if (windowless_) {
        covering_ = false;
        return;
    }
    if (!videoWindow_) return;
    if (!fullScreen_) {
        CheckMediaResult(videoWindow_->put_Owner(parentWidget()));
        CheckMediaResult(videoWindow_->put_WindowStyle(savedStyle_ | kChildStyles));
        CheckMediaResult(videoWindow_->put_WindowStyleEx(savedExStyle_));
        CheckMediaResult(videoWindow_->SetWindowPosition(x(), y(), width(), height()));
        covering_ = false;
        return;
    }
    CheckMediaResult(videoWindow_->put_Owner(nullptr));
    CheckMediaResult(videoWindow_->put_WindowStyle(savedStyle_ & kFullScreenStyleMask));
    CheckMediaResult(videoWindow_->put_WindowStyleEx((savedExStyle_ & ~kEdgeExStyles) |
                                                     (fullScreenTopMost_ ? WS_EX_TOPMOST : 0)));
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect area = s ? s->geometry() : QRect(0, 0, 640, 480);
    CheckMediaResult(videoWindow_->SetWindowPosition(0, 0, area.width(), area.height()));
    covering_ = true;
}

// ---------------------------------------------------------------- control

void TVideoWindow::PlaceRenderer() {
    if (windowless_) {
        RECT dest{0, 0, width(), height()};
        windowless_->SetVideoPosition(nullptr, &dest);
        return;
    }
    if (videoWindow_ && !fullScreen_)
        videoWindow_->SetWindowPosition(x(), y(), width(), height()); // failures ignored
}

void TVideoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceRenderer();
}

void TVideoWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    PlaceRenderer();
}

void TVideoWindow::paintEvent(QPaintEvent*) {
    {
        QPainter painter(this);
        painter.fillRect(rect(), color_);
    }
    if (OnPaint) OnPaint(this);
}

void TVideoWindow::ReportMouse(const TMouseEvent& handler, QMouseEvent* event) {
    if (!handler) return;
    const QPoint at = covering_ ? event->globalPosition().toPoint() : event->position().toPoint();
    handler(this, event->button(), event->modifiers(), at.x(), at.y());
}

void TVideoWindow::mousePressEvent(QMouseEvent* event) {
    ReportMouse(OnMouseDown, event);
}
void TVideoWindow::mouseReleaseEvent(QMouseEvent* event) {
    ReportMouse(OnMouseUp, event);
}
void TVideoWindow::mouseMoveEvent(QMouseEvent* event) {
    ReportMouse(OnMouseMove, event);
}

void TVideoWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (!popupMenu_) {
        QWidget::contextMenuEvent(event);
        return;
    }
    popupMenu_->popup(covering_ ? QCursor::pos() : event->globalPos());
}
