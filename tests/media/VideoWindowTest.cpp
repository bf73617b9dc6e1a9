// TVideoWindow and TVMROptions on a fake platform: renderer set-up and
// tear-down, placement of the renderer window at Run, resizing, full screen,
// visibility, and the mixing renderer's options (with a fake mixing renderer,
// since the platform has none).
#include "media/VideoWindow.h"
#include "FakeGraph.h"
#include "media/MediaErrors.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

// Stands for both the classic and the mixing renderer; records what it is told.
class FakeRenderer final : public TComObject<IBaseFilter, IVideoWindow, IVMRFilterConfig9,
                                             IVMRWindowlessControl9, IVMRAspectRatioControl9> {
  public:
    FakeRenderer() { Last() = this; }
    ~FakeRenderer() override {
        if (Last() == this) Last() = nullptr;
    }
    static FakeRenderer*& Last() {
        static FakeRenderer* last = nullptr;
        return last;
    }
    struct Config {
        HRESULT visibleResult = S_OK, stopResult = S_OK;
        DWORD maxStreams = 10; // what the mixer grants
        DWORD refusedPrefs = vpForceOverlays;
    };
    static Config& Settings() {
        static Config c;
        return c;
    }

    ComPtr<FakePin> pin = MakeCountingPin("Input");
    int stops = 0;
    std::string caption;
    LONG style = 0, exStyle = 0, visible = 0;
    OAHWND owner = nullptr, drain = nullptr, clip = nullptr;
    QRect position;
    int placements = 0;
    DWORD renderingMode = 0, streams = 0, prefs = 0, aspect = 99;
    bool streamsSet = false;
    RECT videoDest{};

    // IBaseFilter
    HRESULT GetClassID(CLSID* c) override {
        *c = CLSID_VideoRenderer;
        return S_OK;
    }
    HRESULT Stop() override {
        ++stops;
        return Settings().stopResult;
    }
    HRESULT Pause() override { return S_OK; }
    HRESULT Run(REFERENCE_TIME) override { return S_OK; }
    HRESULT GetState(DWORD, FILTER_STATE* s) override {
        *s = State_Stopped;
        return S_OK;
    }
    HRESULT EnumPins(IEnumPins** out) override {
        *out = MakeComObject<FakeEnum<IPin, IEnumPins>>(
                   std::vector<ComPtr<IPin>>{ComPtr<IPin>(pin.Get())})
                   .Detach();
        return S_OK;
    }
    HRESULT FindPin(const std::string&, IPin** out) override {
        *out = nullptr;
        return VFW_E_NOT_FOUND;
    }
    HRESULT QueryFilterInfo(FILTER_INFO* info) override {
        info->achName[0] = 0;
        info->pGraph = nullptr;
        return S_OK;
    }
    HRESULT JoinFilterGraph(IFilterGraph*, const std::string&) override { return S_OK; }
    // IVideoWindow
    HRESULT put_Caption(const std::string& c) override {
        caption = c;
        return S_OK;
    }
    HRESULT get_Caption(std::string& c) override {
        c = caption;
        return S_OK;
    }
    HRESULT put_WindowStyle(LONG s) override {
        style = s;
        return S_OK;
    }
    HRESULT get_WindowStyle(LONG* s) override {
        *s = style;
        return S_OK;
    }
    HRESULT put_WindowStyleEx(LONG s) override {
        exStyle = s;
        return S_OK;
    }
    HRESULT get_WindowStyleEx(LONG* s) override {
        *s = exStyle;
        return S_OK;
    }
    HRESULT put_Visible(LONG v) override {
        if (FAILED(Settings().visibleResult)) return Settings().visibleResult;
        visible = v;
        return S_OK;
    }
    HRESULT get_Visible(LONG* v) override {
        *v = visible;
        return S_OK;
    }
    HRESULT put_Owner(OAHWND o) override {
        owner = o;
        return S_OK;
    }
    HRESULT get_Owner(OAHWND* o) override {
        *o = owner;
        return S_OK;
    }
    HRESULT put_MessageDrain(OAHWND d) override {
        drain = d;
        return S_OK;
    }
    HRESULT get_MessageDrain(OAHWND* d) override {
        *d = drain;
        return S_OK;
    }
    HRESULT SetWindowPosition(LONG l, LONG t, LONG w, LONG h) override {
        position = QRect(l, t, w, h);
        ++placements;
        return S_OK;
    }
    HRESULT GetWindowPosition(LONG*, LONG*, LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT GetRendererWindow(OAHWND* w) override {
        *w = nullptr;
        return S_OK;
    }
    // IVMRFilterConfig9
    HRESULT SetNumberOfStreams(DWORD n) override {
        streamsSet = true;
        streams = std::min(n, Settings().maxStreams);
        return S_OK;
    }
    HRESULT GetNumberOfStreams(DWORD* n) override {
        *n = streams;
        return S_OK;
    }
    HRESULT SetRenderingPrefs(DWORD p) override {
        prefs = p & ~Settings().refusedPrefs;
        return S_OK;
    }
    HRESULT GetRenderingPrefs(DWORD* p) override {
        *p = prefs;
        return S_OK;
    }
    HRESULT SetRenderingMode(DWORD m) override {
        renderingMode = m;
        return S_OK;
    }
    HRESULT GetRenderingMode(DWORD* m) override {
        *m = renderingMode;
        return S_OK;
    }
    // IVMRWindowlessControl9 / IVMRAspectRatioControl9
    HRESULT SetVideoPosition(const RECT*, const RECT* dest) override {
        videoDest = *dest;
        return S_OK;
    }
    HRESULT SetAspectRatioMode(DWORD mode) override {
        aspect = mode;
        return S_OK;
    }
    HRESULT GetAspectRatioMode(DWORD* mode) override {
        *mode = aspect;
        return S_OK;
    }
    HRESULT SetVideoClippingWindow(OAHWND w) override {
        clip = w;
        return S_OK;
    }
};

class VideoWindowTest : public ::testing::Test {
  protected:
    FakeGraphPlatform platform;
    TClassRegistration rendererClass{CLSID_VideoRenderer, MakeClassFactory<FakeRenderer>()};
    std::unique_ptr<QWidget> form;
    std::unique_ptr<TVideoWindow> window;
    TFilterGraph graph{"CaptureGraph"};

    void SetUp() override {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
            GTEST_SKIP() << "the video window is a widget: needs a QApplication";
        FakeRenderer::Settings() = {};
        form = std::make_unique<QWidget>();
        form->resize(400, 300);
        window = std::make_unique<TVideoWindow>(form.get(), "VideoWindow");
        window->setGeometry(8, 26, 273, 217);
        form->show(); // resize and move events come to shown widgets
        graph.SetMode(gmCapture);
    }
    void TearDown() override {
        if (window) {
            if (graph.Active()) {
                try {
                    graph.SetActive(false);
                } catch (...) {
                }
            }
            window.reset();
        }
    }
    FakeRenderer* Live() { return FakeRenderer::Last(); }
    int AddFilterCount() {
        return int(std::count(FakeLog::Entries().begin(), FakeLog::Entries().end(),
                              "AddFilter VideoWindow"));
    }
};

} // namespace

TEST(VMROptions, DefaultsAndTheStreamRange) {
    TVMROptions o(nullptr);
    EXPECT_EQ(vmrWindowed, o.Mode());
    EXPECT_EQ(4u, o.Streams());
    EXPECT_EQ(TVMRPreferences(vpForceMixer), o.Preferences());
    EXPECT_TRUE(o.KeepAspectRatio());
    o.SetStreams(16);
    EXPECT_EQ(16u, o.Streams());
    o.SetStreams(0);
    EXPECT_EQ(1u, o.Streams());
    o.SetStreams(9);
    o.SetStreams(17);
    EXPECT_EQ(1u, o.Streams());
}

TEST_F(VideoWindowTest, RunPlacesTheRendererWindowOverTheControl) {
    window->SetFilterGraph(&graph);
    graph.SetActive(true);
    ASSERT_TRUE(Live());
    EXPECT_EQ(1, AddFilterCount());
    EXPECT_EQ(static_cast<IBaseFilter*>(Live()), window->Query<IBaseFilter>().Get());
    EXPECT_EQ(nullptr, Live()->owner); // placed at Run, not before
    graph.Run();
    EXPECT_EQ(form.get(), Live()->owner);
    EXPECT_EQ(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, Live()->style);
    EXPECT_EQ(0, Live()->exStyle);
    EXPECT_EQ(QRect(8, 26, 273, 217), Live()->position);
    EXPECT_EQ("VideoWindow", Live()->caption);
    EXPECT_EQ(window.get(), Live()->drain);
    EXPECT_FALSE(window->CoversScreen());

    // The renderer window is the owner's child named after the control.
    QWidget rendererWindow(form.get());
    rendererWindow.setObjectName("VideoWindow");
    rendererWindow.setProperty("windowClass", "VideoRenderer");
    EXPECT_EQ(&rendererWindow, window->VideoHandle());
}

TEST_F(VideoWindowTest, ResizingMovesTheRendererUnlessFullScreen) {
    window->SetFilterGraph(&graph);
    graph.SetActive(true);
    graph.Run();
    window->setGeometry(10, 20, 100, 80);
    EXPECT_EQ(QRect(10, 20, 100, 80), Live()->position);

    window->SetFullScreenTopMost(true);
    window->SetFullScreen(true);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(nullptr, Live()->owner);
    EXPECT_EQ(QRect(0, 0, screen.width(), screen.height()), Live()->position);
    EXPECT_EQ(WS_CLIPCHILDREN, Live()->style); // no caption, no frame, not a child
    EXPECT_EQ(WS_EX_TOPMOST, Live()->exStyle);
    EXPECT_TRUE(window->CoversScreen());
    const int placements = Live()->placements;
    window->resize(50, 40);
    EXPECT_EQ(placements, Live()->placements);

    window->SetFullScreenTopMost(false);
    EXPECT_EQ(0, Live()->exStyle);
    window->SetFullScreen(false);
    EXPECT_EQ(form.get(), Live()->owner);
    EXPECT_EQ(QRect(10, 20, 50, 40), Live()->position);
}

TEST_F(VideoWindowTest, VisibleReachesTheRendererAndItsFailureRaises) {
    window->setVisible(false); // no renderer yet: the control alone
    window->SetFilterGraph(&graph);
    graph.SetActive(true);
    window->setVisible(true);
    EXPECT_EQ(OATRUE, Live()->visible);
    window->setVisible(false);
    EXPECT_EQ(OAFALSE, Live()->visible);
    FakeRenderer::Settings().visibleResult = E_FAIL;
    EXPECT_THROW(window->setVisible(true), EDirectShowException);
}

TEST_F(VideoWindowTest, PaletteAndRenderDeviceEventsPlaceItAgain) {
    window->SetFilterGraph(&graph);
    graph.SetActive(true);
    window->HandleGraphEvent(EC_PALETTE_CHANGED, 0, 0);
    EXPECT_EQ(form.get(), Live()->owner);
    EXPECT_EQ("VideoWindow", Live()->caption);
    Live()->caption.clear();
    Live()->drain = nullptr;
    window->HandleGraphEvent(EC_VMR_RENDERDEVICE_SET, 0, 0);
    EXPECT_EQ("VideoWindow", Live()->caption);
    EXPECT_EQ(window.get(), Live()->drain);
    Live()->caption.clear();
    window->HandleGraphEvent(EC_COMPLETE, 0, 0);
    EXPECT_EQ("", Live()->caption);
}

TEST_F(VideoWindowTest, LeavingTheGraphStopsTheRendererAndDisconnectsItsPins) {
    window->SetFilterGraph(&graph);
    graph.SetActive(true);
    ComPtr<FakeRenderer> renderer(Live());
    graph.SetActive(false);
    EXPECT_EQ(1, renderer->stops);
    EXPECT_EQ(1, renderer->pin->disconnects);
    EXPECT_EQ(&*window, window->VideoHandle());

    FakeRenderer::Settings().stopResult = E_FAIL;
    graph.SetActive(true);
    EXPECT_THROW(graph.SetActive(false), EDirectShowException);
    EXPECT_FALSE(graph.Active());
}

TEST_F(VideoWindowTest, WithoutAMixingRendererVMRModeFallsBackToNormal) {
    window->SetMode(vmVMR);
    EXPECT_EQ(vmNormal, window->Mode());
    window->SetFilterGraph(&graph);
    graph.SetActive(true);
    FakeLog::Clear();
    // The options only matter to a mixing renderer: a running normal one stays.
    window->VMROptions().SetStreams(2);
    window->VMROptions().SetMode(vmrWindowless);
    window->VMROptions().SetPreferences(vpForceOffscreen);
    EXPECT_EQ(0, AddFilterCount());
}

TEST_F(VideoWindowTest, MixingRendererGetsTheOptions) {
    TClassRegistration vmr(CLSID_VideoMixingRenderer9, MakeClassFactory<FakeRenderer>());
    window->SetMode(vmVMR);
    ASSERT_EQ(vmVMR, window->Mode());
    window->VMROptions().SetStreams(16);
    window->VMROptions().SetPreferences(vpForceMixer | vpForceOverlays | vpForceOffscreen);
    window->VMROptions().SetKeepAspectRatio(false);
    window->SetFilterGraph(&graph);
    graph.SetActive(true);
    ASSERT_TRUE(Live());
    EXPECT_EQ(DWORD(VMR9Mode_Windowed), Live()->renderingMode);
    EXPECT_EQ(10u, window->VMROptions().Streams());    // what the mixer granted
    EXPECT_EQ(DWORD(vpForceOffscreen), Live()->prefs); // without the mixer flag
    EXPECT_EQ(TVMRPreferences(vpForceOffscreen | vpForceMixer), window->VMROptions().Preferences());
    EXPECT_EQ(DWORD(VMR9ARMode_None), Live()->aspect);

    // A change rebuilds the running renderer.
    FakeLog::Clear();
    window->VMROptions().SetMode(vmrWindowless);
    EXPECT_EQ(1, AddFilterCount());
    EXPECT_EQ(DWORD(VMR9Mode_Windowless), Live()->renderingMode);
    EXPECT_EQ(window.get(), Live()->clip);
    ComPtr<IVMRWindowlessControl9> windowless = window->Query<IVMRWindowlessControl9>();
    EXPECT_EQ(static_cast<IVMRWindowlessControl9*>(Live()), windowless.Get());
    window->resize(120, 90);
    EXPECT_EQ(120, Live()->videoDest.right);
    EXPECT_EQ(90, Live()->videoDest.bottom);
    graph.Run();
    EXPECT_FALSE(window->CoversScreen());
}

TEST_F(VideoWindowTest, StreamsAreLeftAloneAtTheirDefaultWithoutTheMixerFlag) {
    TClassRegistration vmr(CLSID_VideoMixingRenderer9, MakeClassFactory<FakeRenderer>());
    window->SetMode(vmVMR);
    window->VMROptions().SetPreferences(0);
    window->SetFilterGraph(&graph);
    graph.SetActive(true);
    EXPECT_FALSE(Live()->streamsSet);
    EXPECT_EQ(4u, window->VMROptions().Streams());
    EXPECT_EQ(DWORD(VMR9ARMode_LetterBox), Live()->aspect);
}

TEST_F(VideoWindowTest, RenderlessModeNeedsAnAllocator) {
    TClassRegistration vmr(CLSID_VideoMixingRenderer9, MakeClassFactory<FakeRenderer>());
    window->SetMode(vmVMR);
    window->VMROptions().SetMode(vmrRenderless);
    window->SetFilterGraph(&graph);
    try {
        graph.SetActive(true);
        ADD_FAILURE() << "no exception";
    } catch (const EMediaComponentException& e) {
        EXPECT_EQ("Allocator class not set.", std::string(e.Message()));
    }
}
