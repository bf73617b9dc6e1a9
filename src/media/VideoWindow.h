#pragma once
// TVideoWindow: a control that shows live video. Attached to a TFilterGraph
// it contributes a video renderer filter (as a member) and places the
// renderer's window over itself when the graph runs (as a listener).
// TVMROptions: the mixing renderer's options, used in vmVMR mode only. This
// platform has no mixing renderer, so vmVMR falls back to vmNormal unless a
// mixing renderer class is registered.
//
// UI thread only.
#include "media/FilterGraph.h"
#include "platform/VideoInterfaces.h"

#include <QColor>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QMenu;
class TVideoWindow;

enum TVideoMode { vmNormal, vmVMR };
enum TVMRVideoMode { vmrWindowed, vmrWindowless, vmrRenderless };
enum TVMRPreference : unsigned {
    vpForceOffscreen = 1,
    vpForceOverlays = 2,
    vpForceMixer = 4,
    vpDoNotRenderColorKeyAndBorder = 8,
    vpRestrictToInitialMonitor = 16,
    vpPreferAGPMemWhenMixing = 32,
};
// A set of TVMRPreference values.
using TVMRPreferences = unsigned;

class TVMROptions {
  public:
    explicit TVMROptions(TVideoWindow* owner) : owner_(owner) {}

    TVMRVideoMode Mode() const noexcept { return mode_; }
    void SetMode(TVMRVideoMode mode);
    unsigned Streams() const noexcept { return streams_; }
    // Values outside 1 to 16 store 1.
    void SetStreams(unsigned streams);
    TVMRPreferences Preferences() const noexcept { return preferences_; }
    void SetPreferences(TVMRPreferences preferences);
    bool KeepAspectRatio() const noexcept { return keepAspectRatio_; }
    void SetKeepAspectRatio(bool keep) noexcept { keepAspectRatio_ = keep; }

  private:
    friend class TVideoWindow;
    // Rebuilds the owner's renderer when it uses these options live.
    void Changed();

    TVideoWindow* owner_;
    TVMRVideoMode mode_ = vmrWindowed;
    unsigned streams_ = 4;
    TVMRPreferences preferences_ = vpForceMixer;
    bool keepAspectRatio_ = true;
};

class TVideoWindow : public QWidget, public IFilterMember, public IGraphListener {
  public:
    using TNotifyEvent = std::function<void(TVideoWindow* sender)>;
    using TMouseEvent = std::function<void(TVideoWindow* sender, Qt::MouseButton button,
                                           Qt::KeyboardModifiers modifiers, int x, int y)>;

    explicit TVideoWindow(QWidget* parent = nullptr, const std::string& name = {});
    ~TVideoWindow() override;

    std::string Name() const { return objectName().toStdString(); }
    void SetName(const std::string& name) { setObjectName(QString::fromStdString(name)); }

    TVideoMode Mode() const noexcept { return mode_; }
    // vmVMR stores vmNormal when the mixing renderer cannot be created.
    void SetMode(TVideoMode mode);
    TFilterGraph* FilterGraph() const noexcept { return filterGraph_; }
    void SetFilterGraph(TFilterGraph* graph);
    TVMROptions& VMROptions() noexcept { return *vmrOptions_; }
    // The renderer's window while there is one, else the control itself.
    QWidget* VideoHandle();
    bool FullScreen() const noexcept { return fullScreen_; }
    void SetFullScreen(bool value);
    bool FullScreenTopMost() const noexcept { return fullScreenTopMost_; }
    void SetFullScreenTopMost(bool value);
    QColor Color() const { return color_; }
    void SetColor(const QColor& color);
    QMenu* PopupMenu() const noexcept { return popupMenu_; }
    void SetPopupMenu(QMenu* menu) noexcept { popupMenu_ = menu; }
    // Whether the renderer window covers the screen now.
    bool CoversScreen() const noexcept { return covering_; }

    // Shows or hides the control and the renderer window; platform failures raise.
    void setVisible(bool visible) override;

    // The windowless control or the renderer filter's interfaces.
    HRESULT QueryInterface(REFIID iid, void** out);
    template <class T> ComPtr<T> Query() {
        ComPtr<T> r;
        QueryInterface(T::Iid, r.PutVoid());
        return r;
    }

    TNotifyEvent OnPaint;
    // Mouse positions are the control's, or the screen's while the renderer covers it.
    TMouseEvent OnMouseDown, OnMouseUp, OnMouseMove;

    // IFilterMember
    ComPtr<IBaseFilter> MemberFilter() override { return renderer_; }
    std::string MemberName() override { return Name(); }
    void OnFilterOperation(TFilterOperation operation) override;
    void GraphDestroyed(TFilterGraph* graph) override;
    // IGraphListener
    void HandleGraphEvent(LONG code, LONG_PTR param1, LONG_PTR param2) override;
    void HandleControlEvent(TControlEvent event, LONG_PTR param) override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    friend class TVMROptions;
    bool AttachedToActiveGraph() const { return filterGraph_ && filterGraph_->Active(); }
    // Leaves the graph and joins it again, so the renderer is built anew.
    void Reattach();
    void CreateRenderer();
    void RendererAdded();
    void RendererRemoving();
    void ApplyFullScreen();
    void ApplyCaptionAndDrain();
    void PlaceRenderer();
    void ReportMouse(const TMouseEvent& handler, QMouseEvent* event);

    TVideoMode mode_ = vmNormal;
    TFilterGraph* filterGraph_ = nullptr; // not owned
    std::unique_ptr<TVMROptions> vmrOptions_;
    bool fullScreen_ = false;
    bool fullScreenTopMost_ = false;
    QColor color_ = Qt::black;
    QMenu* popupMenu_ = nullptr; // not owned
    // The control's own window styles (what the renderer window takes over).
    LONG savedStyle_ = WS_CLIPCHILDREN;
    LONG savedExStyle_ = 0;
    bool covering_ = false;

    ComPtr<IBaseFilter> renderer_;
    ComPtr<IVideoWindow> videoWindow_;
    ComPtr<IVMRWindowlessControl9> windowless_;
};
