#pragma once
// The video renderer filter: one input pin ("Input") whose frames are
// converted to 32-bit RGB and shown by the renderer window
// (TVideoRendererWidget), which IVideoWindow places, names, shows and hides.
//
// The renderer window exists when the filter is made on the UI thread of a
// widget application; elsewhere the window calls only keep their values.
// IVideoWindow is for the UI thread only; frames come from a streaming thread
// through the frame slot (which has its own lock).
#include "platform/VideoInterfaces.h"
#include "platform/gst/GstFilter.h"

#include <QPointer>

#include <memory>

class QImage;
class TVideoFrameSlot;
class TVideoRendererWidget;

// A BGRx sample's picture, copied so that its buffer goes back to its pool at
// once; a null image when the sample cannot be read.
QImage CopyVideoFrame(GstSample* sample);

class TGstVideoRenderer : public TGstFilter, public IVideoWindow {
  public:
    TGstVideoRenderer();

    HRESULT QueryInterface(REFIID iid, void** out) override {
        return TGstFilter::QueryInterface(iid, out);
    }
    ULONG AddRef() override { return TGstFilter::AddRef(); }
    ULONG Release() override { return TGstFilter::Release(); }

    // IVideoWindow
    HRESULT put_Caption(const std::string& caption) override;
    HRESULT get_Caption(std::string& caption) override;
    HRESULT put_WindowStyle(LONG style) override;
    HRESULT get_WindowStyle(LONG* style) override;
    HRESULT put_WindowStyleEx(LONG style) override;
    HRESULT get_WindowStyleEx(LONG* style) override;
    HRESULT put_AutoShow(LONG autoShow) override;
    HRESULT get_AutoShow(LONG* autoShow) override;
    HRESULT put_Visible(LONG visible) override;
    HRESULT get_Visible(LONG* visible) override;
    HRESULT put_Owner(OAHWND owner) override;
    HRESULT get_Owner(OAHWND* owner) override;
    HRESULT put_MessageDrain(OAHWND drain) override;
    HRESULT get_MessageDrain(OAHWND* drain) override;
    HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
    HRESULT GetRendererWindow(OAHWND* window) override;

    // Frames shown so far (any thread).
    uint64_t FramesReceived() const;
    // The renderer behind a filter of this class (null for any other).
    static TGstVideoRenderer* From(IBaseFilter* filter);

  protected:
    ~TGstVideoRenderer() override;
    HRESULT QueryOtherInterface(REFIID iid, void** out) override;

  private:
    struct TSinkContext;
    // Window flags of a top-level renderer window for the current styles.
    void ApplyTopLevelFlags();
    // A style change of a top-level window: new flags, the same visibility
    // (new flags hide a window).
    void RestyleTopLevel();

    std::shared_ptr<TVideoFrameSlot> slot_;
    TSinkContext* context_ = nullptr; // owned by the appsink's callbacks
    QPointer<TVideoRendererWidget> widget_;
    std::string caption_;
    LONG style_ = WS_CHILD | WS_CLIPSIBLINGS;
    LONG exStyle_ = 0;
    bool visible_ = false;
    bool autoShow_ = true;
    QPointer<QWidget> owner_, drain_;
    LONG left_ = 0, top_ = 0, width_ = 0, height_ = 0;
};

// Registers TGstVideoRenderer as the platform's video renderer class.
void RegisterVideoRenderer();
