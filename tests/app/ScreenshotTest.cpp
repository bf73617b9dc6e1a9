// A picture of the real window while previewing, for the record. Runs only
// when KX_SCREENSHOT names the PNG to write (under a real or virtual display).
#include "AppTestSupport.h"
#include "app/MainForm.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <gtest/gtest.h>

namespace {

TEST(Screenshot, PreviewingWindow) {
    const QByteArray target = qgetenv("KX_SCREENSHOT");
    if (target.isEmpty()) GTEST_SKIP() << "KX_SCREENSHOT not set";
    TDesktopCapture desktop;
    TMainForm form;
    form.show();
    form.videoconnect1->Items(form.videoconnect1->Count() - 1)->Click();
    form.audioconnect1->Items(form.audioconnect1->Count() - 1)->Click();
    form.bt_preview->click();
    ASSERT_TRUE(form.Capture().Previewing());
    PumpFor(1500);
    // The screen's picture of the window where the platform has one (X11),
    // the widget's own rendering otherwise.
    QPixmap shot;
    if (QScreen* screen = QGuiApplication::primaryScreen()) shot = screen->grabWindow(form.winId());
    if (shot.isNull() || shot.width() < form.width()) shot = form.grab();
    EXPECT_TRUE(shot.save(QString::fromLocal8Bit(target), "PNG"));
    form.bt_preview->click();
    EXPECT_TRUE(desktop.Errors().empty());
}

} // namespace
