// The preview: Test Pattern rendered into a TVideoWindow through the video
// renderer filter, as the main window does in every capture mode; the
// renderer window's placement, visibility, full screen and input drain.
#include "BroadcastTestSupport.h"
#include "media/VideoWindow.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

#include <gtest/gtest.h>

using namespace gsttest;

namespace {

struct TPreviewRig {
    QWidget form;
    TVideoWindow window{&form, "VideoWindow"};
    TFilterGraph graph{"CaptureGraph"};
    TFilter video{"VideoSourceFilter"};
    HRESULT renderResult = E_FAIL;

    TPreviewRig() {
        bcasttest::RegisterBroadcastClasses();
        form.resize(400, 300);
        window.setGeometry(8, 26, 273, 217);
        form.show();
        graph.SetMode(gmCapture);
        video.BaseFilter().AssignMoniker(
            FindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern").Get());
        video.SetFilterGraph(&graph);
        window.SetFilterGraph(&graph);
    }
    ~TPreviewRig() {
        if (graph.Active()) {
            graph.Stop();
            graph.SetActive(false);
        }
        window.SetFilterGraph(nullptr);
    }
    void Start() {
        graph.SetActive(true);
        auto builder = graph.Query<ICaptureGraphBuilder2>();
        renderResult =
            builder->RenderStream(&PIN_CATEGORY_PREVIEW, nullptr, video.Query<IBaseFilter>().Get(),
                                  nullptr, window.Query<IBaseFilter>().Get());
        graph.Run();
    }
    QWidget* Renderer() {
        QWidget* w = window.VideoHandle();
        return w == &window ? nullptr : w;
    }
};

bool Near(QRgb c, int r, int g, int b) {
    return std::abs(qRed(c) - r) < 48 && std::abs(qGreen(c) - g) < 48 &&
           std::abs(qBlue(c) - b) < 48;
}

} // namespace

TEST(VideoRenderer, PreviewShowsTheColourBarsOverTheControl) {
    TPreviewRig rig;
    EXPECT_EQ(&rig.window, rig.window.VideoHandle()); // inactive: the control's own surface
    int width = 0, height = 0;
    rig.graph.OnGraphVideoSizeChanged = [&](TFilterGraph*, int w, int h) {
        width = w;
        height = h;
    };
    rig.Start();
    ASSERT_EQ(S_OK, rig.renderResult);
    QImage picture;
    // Within 2 s of Run the renderer shows the pattern, not black.
    const bool shown = PumpUntil(
        [&] {
            QWidget* r = rig.Renderer();
            if (!r || !r->isVisible()) return false;
            picture = r->grab().toImage();
            return !picture.isNull() &&
                   picture.pixel(picture.width() / 14, picture.height() / 4) != qRgb(0, 0, 0);
        },
        2000);
    ASSERT_TRUE(shown);
    QWidget* renderer = rig.Renderer();
    EXPECT_EQ(&rig.form, renderer->parentWidget());
    EXPECT_EQ(rig.window.geometry(), renderer->geometry());
    EXPECT_EQ("VideoWindow", renderer->objectName());
    // The pattern's bars, left to right: white, yellow, cyan, green, magenta, red, blue.
    const int y = picture.height() / 4;
    auto bar = [&](int i) { return picture.pixel((2 * i + 1) * picture.width() / 14, y); };
    EXPECT_TRUE(Near(bar(0), 255, 255, 255)) << std::hex << bar(0);
    EXPECT_TRUE(Near(bar(1), 255, 255, 0)) << std::hex << bar(1);
    EXPECT_TRUE(Near(bar(2), 0, 255, 255)) << std::hex << bar(2);
    EXPECT_TRUE(Near(bar(3), 0, 255, 0)) << std::hex << bar(3);
    EXPECT_TRUE(Near(bar(4), 255, 0, 255)) << std::hex << bar(4);
    EXPECT_TRUE(Near(bar(5), 255, 0, 0)) << std::hex << bar(5);
    EXPECT_TRUE(Near(bar(6), 0, 0, 255)) << std::hex << bar(6);
    PumpUntil([&] { return width != 0; }, 1000);
    EXPECT_EQ(320, width);
    EXPECT_EQ(240, height);

    rig.graph.Stop();
    rig.graph.SetActive(false);
    EXPECT_EQ(&rig.window, rig.window.VideoHandle());
}

TEST(VideoRenderer, TheRendererFollowsTheControl) {
    TPreviewRig rig;
    rig.Start();
    ASSERT_TRUE(PumpUntil([&] { return rig.Renderer() && rig.Renderer()->isVisible(); }, 2000));
    QWidget* renderer = rig.Renderer();

    rig.window.setGeometry(20, 40, 200, 150);
    EXPECT_EQ(QRect(20, 40, 200, 150), renderer->geometry());
    rig.window.move(30, 50);
    EXPECT_EQ(QRect(30, 50, 200, 150), renderer->geometry());

    rig.window.setVisible(false);
    EXPECT_TRUE(renderer->isHidden());
    PumpFor(300); // new frames do not show it again
    EXPECT_TRUE(renderer->isHidden());
    rig.window.setVisible(true);
    EXPECT_FALSE(renderer->isHidden());

    // Full screen: a top-level window over the whole screen; resizing the
    // control leaves it there. Back: inside the form over the control again.
    rig.window.SetFullScreen(true);
    EXPECT_EQ(nullptr, renderer->parentWidget());
    EXPECT_TRUE(rig.window.CoversScreen());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(QSize(screen.width(), screen.height()), renderer->geometry().size());
    rig.window.resize(100, 80);
    EXPECT_EQ(QSize(screen.width(), screen.height()), renderer->geometry().size());
    rig.window.SetFullScreen(false);
    EXPECT_EQ(&rig.form, renderer->parentWidget());
    EXPECT_EQ(rig.window.geometry(), renderer->geometry());
    EXPECT_FALSE(rig.window.CoversScreen());
}

TEST(VideoRenderer, InputOnTheRendererReachesTheControl) {
    TPreviewRig rig;
    rig.Start();
    ASSERT_TRUE(PumpUntil([&] { return rig.Renderer() != nullptr; }, 2000));
    QPoint seen(-1, -1);
    rig.window.OnMouseDown = [&](TVideoWindow*, Qt::MouseButton, Qt::KeyboardModifiers, int x,
                                 int y) { seen = QPoint(x, y); };
    QWidget* renderer = rig.Renderer();
    const QPoint at(10, 12);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), renderer->mapToGlobal(QPointF(at)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(renderer, &press);
    EXPECT_EQ(at, seen);
}
