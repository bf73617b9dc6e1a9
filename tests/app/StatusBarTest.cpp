// The status bar and the clock's timer: texts set faster than the panel
// repaints are never lost, both text paths leave ink, and ticks keep their
// pace.
#include "app/StatusBar.h"
#include "AppTestSupport.h"
#include "app/Timer.h"
#include "app/Widgets.h"

#include <QElapsedTimer>
#include <QImage>
#include <QWidget>
#include <gtest/gtest.h>

#include <string>

namespace {

struct StatusBar : ::testing::Test {
    QWidget window;
    TStatusBar* status = nullptr;

    StatusBar() {
        window.resize(543, 40);
        status = Child<TStatusBar>(&window);
        status->setGeometry(0, 20, 543, 19);
        status->AddPanel(250);
        status->AddPanel(100);
        window.show();
    }

    // Pixels of a panel that differ from the bar's own colour.
    int InkIn(int panel) {
        const QImage image = status->grab().toImage();
        const int left = panel == 0 ? 0 : status->PanelWidth(0) + 2;
        const QRgb background = image.pixel(image.width() - 1, image.height() / 2);
        int ink = 0;
        for (int y = 4; y < image.height() - 3; ++y)
            for (int x = left + 4; x < left + status->PanelWidth(panel) - 4; ++x)
                if (image.pixel(x, y) != background) ++ink;
        return ink;
    }
};

TEST_F(StatusBar, BurstShowsItsLastTextAndKeepsEveryPanelApart) {
    // A clock-like burst: every text is readable at once, the panel catches
    // up with the last one even though nothing is set after it.
    for (int i = 0; i < 200; ++i)
        status->SetPanelText(0, "tick " + std::to_string(i));
    status->SetPanelText(1, "other");
    EXPECT_EQ(status->PanelText(0), "tick 199");
    ASSERT_TRUE(PumpUntil([&] { return status->ShownText(0) == "tick 199"; }, 2000));
    EXPECT_EQ(status->ShownText(1), "other");

    status->SetPanelText(2, "nowhere"); // no such panel: nothing happens
    status->SetPanelText(-1, "nowhere");
    EXPECT_EQ(status->PanelText(2), "");
    EXPECT_EQ(status->ShownText(-1), "");
    EXPECT_EQ(status->PanelCount(), 2);
}

TEST_F(StatusBar, PlainAndAccentedTextsBothPaint) {
    PumpFor(50);
    const int empty = InkIn(0);
    status->SetPanelText(0, "00h01m02s0345ms");
    ASSERT_TRUE(PumpUntil([&] { return status->ShownText(0) == "00h01m02s0345ms"; }, 2000));
    const int plain = InkIn(0);
    EXPECT_GT(plain, empty + 20);

    status->SetPanelText(0, "d\xC3\xA9j\xC3\xA0 vu \xE2\x80\x94 \xC3\xA9t\xC3\xA9"); // beyond ASCII
    ASSERT_TRUE(PumpUntil(
        [&] { return status->ShownText(0).startsWith(QString::fromUtf8("d\xC3\xA9")); }, 2000));
    EXPECT_GT(InkIn(0), empty + 20);

    status->SetPanelText(0, "");
    ASSERT_TRUE(PumpUntil([&] { return status->ShownText(0).isEmpty(); }, 2000));
    EXPECT_EQ(InkIn(0), empty);
}

TEST(Timer, KeepsTheAskedIntervalButTicksNoFasterThanItsFloor) {
    TTimer timer;
    timer.SetInterval(1);
    EXPECT_EQ(timer.Interval(), 1);
    EXPECT_EQ(timer.Period(), TTimer::kFastestTickMs);
    timer.SetInterval(250);
    EXPECT_EQ(timer.Period(), 250);
    timer.SetInterval(-5);
    EXPECT_EQ(timer.Interval(), 0);
    EXPECT_EQ(timer.Period(), TTimer::kFastestTickMs);

    timer.SetInterval(1);
    int ticks = 0;
    timer.OnTimer = [&] { ++ticks; };
    EXPECT_FALSE(timer.Enabled());
    PumpFor(100);
    EXPECT_EQ(ticks, 0);
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Enabled());
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(PumpUntil([&] { return ticks >= 3; }, 2000));
    // Three ticks can never come sooner than three periods.
    EXPECT_GE(clock.elapsed(), 3 * TTimer::kFastestTickMs - 5);
    timer.SetEnabled(false);
    const int stopped = ticks;
    PumpFor(100);
    EXPECT_EQ(ticks, stopped);
}

} // namespace
