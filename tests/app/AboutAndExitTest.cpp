// The about box, a failing start-up, and the exit menu item.
#include "AppTestSupport.h"
#include "app/AboutForm.h"
#include "app/AddressList.h"
#include "app/MainForm.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TEST(AboutBox, ShowsAndClosesAnyNumberOfTimes) {
    TDesktopCapture desktop;
    TMainForm form;
    TAboutForm about(&form);
    form.SetAboutForm(&about);
    EXPECT_EQ(about.windowTitle(), "about kavaroXP...");
    EXPECT_EQ(about.size(), QSize(202, 199));
    EXPECT_EQ(about.lb_kavaro->text(), "kavaroXP media streaming");
    EXPECT_EQ(about.bt_ok->text(), "ok");
    EXPECT_EQ(about.bt_ok->geometry(), QRect(64, 160, 75, 25));
    EXPECT_FALSE(about.isVisible());
    for (int i = 0; i < 4; ++i) {
        bool wasModal = false;
        QTimer::singleShot(0, &about, [&] {
            wasModal = about.isVisible() && about.isModal();
            if (i % 2 == 0)
                about.bt_ok->click();
            else
                about.reject(); // closed without "ok"
        });
        form.aboutabout1->Click();
        EXPECT_TRUE(wasModal);
        EXPECT_FALSE(about.isVisible());
        EXPECT_EQ(about.result(), i % 2 == 0 ? QDialog::Accepted : QDialog::Rejected);
    }
    EXPECT_FALSE(form.Capture().Previewing() || form.Capture().Broadcasting() ||
                 form.Capture().Recording());
    EXPECT_TRUE(desktop.Errors().empty());
}

TEST(StartUpFailure, IsReportedAndTheWindowStillOpens) {
    TDesktopCapture desktop;
    SetHostNameSource([](char*, size_t) { return -1; });
    {
        TMainForm form;
        ASSERT_EQ(desktop.Errors().size(), 1u);
        EXPECT_EQ(desktop.Errors()[0], "Winsock.GetHostName failed");
        // The steps after the failing one were skipped.
        EXPECT_EQ(form.cb_ip->count(), 0);
        EXPECT_EQ(form.videoconnect1->Count(), 0);
        EXPECT_FALSE(form.Capture().DeviceListsOpen());
        // Nothing can start, nothing breaks.
        form.bt_preview->click();
        form.bt_broadcast->click();
        EXPECT_FALSE(form.Capture().Previewing() || form.Capture().Broadcasting());
        form.show();
        EXPECT_TRUE(form.isVisible());
    }
    SetHostNameSource({});
    EXPECT_EQ(desktop.Errors().size(), 1u);
}

TEST(ExitMenu, ClosesTheWindowAndStopsTheGraph) {
    TDesktopCapture desktop;
    TMainForm form;
    form.show();
    form.videoconnect1->Items(form.videoconnect1->Count() - 1)->Click();
    form.bt_preview->click();
    ASSERT_TRUE(form.Capture().Previewing());
    form.fileexit1->Click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Capture().GraphActive());
    EXPECT_FALSE(form.Timer().Enabled());
    EXPECT_TRUE(desktop.Errors().empty());
}

} // namespace
