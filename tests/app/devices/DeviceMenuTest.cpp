// The window's "connect" menus while cameras come and go, and the headless
// listing that watches them, on the fake devices.
#include "AppTestSupport.h"
#include "FakeDeviceProvider.h"
#include "app/CommandLine.h"
#include "app/DeviceChoices.h"
#include "app/HeadlessRun.h"
#include "app/MainForm.h"
#include "app/StatusBar.h"

#include <QDialog>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

const char* kPlugged = "Fake Plugged Camera";

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

struct DeviceMenus : ::testing::Test {
    DeviceMenus() {
        fakedev::SetWireRunning(false);
        fakedev::ResetVanished();
    }
    ~DeviceMenus() override { fakedev::UnplugCamera(kPlugged); }
    void Click(TSkinMenuItem* submenu, const std::string& caption) {
        const int at = IndexOfCaption(submenu, caption);
        ASSERT_GE(at, 0) << caption;
        submenu->Items(at)->Click();
    }
    TDesktopCapture desktop;
    TMainForm form;
};

} // namespace

// A camera plugged in while the window is open joins the menu; the ticked
// device keeps its tick where it moved to; the chosen camera pulled out is
// unticked, its formats go and the user is told.
TEST_F(DeviceMenus, HotPlugKeepsTheConnectMenuCurrent) {
    TSkinMenuItem* video = form.videoconnect1;
    ASSERT_LT(IndexOfCaption(video, Lower(kPlugged)), 0);
    Click(video, "test pattern");
    const int patternBefore = form.Capture().Choices().VideoDevice;

    {
        // An error box may be open inside a menu item's click: the menu
        // waits until it is closed.
        QDialog box(&form);
        box.setModal(true);
        box.show();
        fakedev::PlugCamera(kPlugged);
        PumpFor(800);
        EXPECT_LT(IndexOfCaption(video, Lower(kPlugged)), 0);
    }
    ASSERT_TRUE(PumpUntil([&] { return IndexOfCaption(video, Lower(kPlugged)) >= 0; }, 3000));
    const int pattern = IndexOfCaption(video, "test pattern");
    EXPECT_EQ(pattern, patternBefore + 1); // the camera is listed before the built-in one
    EXPECT_EQ(form.Capture().Choices().VideoDevice, pattern);
    EXPECT_EQ(CheckedIndices(video), std::vector<int>{pattern});
    EXPECT_EQ(video->Items(pattern)->Name(), "hamster" + std::to_string(pattern));

    Click(video, Lower(kPlugged));
    ASSERT_TRUE(desktop.Errors().empty()) << desktop.Errors().front();
    EXPECT_GT(form.videoformats1->Count(), 0);

    fakedev::UnplugCamera(kPlugged);
    ASSERT_TRUE(PumpUntil([&] { return IndexOfCaption(video, Lower(kPlugged)) < 0; }, 3000));
    const std::string told = NoLongerConnectedText(kPlugged);
    EXPECT_EQ(desktop.Errors(), std::vector<std::string>{told});
    EXPECT_EQ(form.StatusBar->PanelText(0), told);
    EXPECT_TRUE(CheckedIndices(video).empty());
    EXPECT_EQ(form.Capture().Choices().VideoDevice, -1);
    EXPECT_EQ(form.videoformats1->Count(), 0);
    // Nothing is chosen, so nothing starts.
    form.bt_preview->click();
    EXPECT_FALSE(form.Capture().Running());
}

// A camera that stops delivering during a preview: "Device lost" within
// 3 s, the window idle again, and the camera no longer offered.
TEST_F(DeviceMenus, ACameraLostDuringCaptureIsReportedAndDropped) {
    Click(form.videoconnect1, Lower(fakedev::kVanishingCamera));
    form.bt_preview->click();
    ASSERT_TRUE(form.Capture().Previewing());
    ASSERT_TRUE(PumpUntil([&] { return !desktop.Errors().empty(); }, 1500 + 3000 + 500));
    EXPECT_NE(desktop.Errors().front().find("Device lost"), std::string::npos)
        << desktop.Errors().front();
    EXPECT_FALSE(form.Capture().Running());
    EXPECT_TRUE(PumpUntil(
        [&] { return IndexOfCaption(form.videoconnect1, Lower(fakedev::kVanishingCamera)) < 0; },
        3000));
    PumpFor(300);
    EXPECT_EQ(form.Capture().Choices().VideoDevice, -1);
    EXPECT_TRUE(CheckedIndices(form.videoconnect1).empty());
    EXPECT_EQ(desktop.Errors().size(), 1u); // the loss is told once
    fakedev::ResetVanished();
}

// --list-devices --watch: the listing, then each change, until interrupted.
TEST(DeviceListing, WatchPrintsChangesUntilInterrupted) {
    fakedev::SetWireRunning(false);
    char path[] = "/tmp/kx-listing-XXXXXX";
    const int file = ::mkstemp(path);
    ASSERT_GE(file, 0);
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(file, STDOUT_FILENO);
    QTimer::singleShot(800, [] { fakedev::PlugCamera(kPlugged); });
    QTimer::singleShot(1600, [] { fakedev::UnplugCamera(kPlugged); });
    QTimer::singleShot(2400, [] { std::raise(SIGINT); });
    const int status = RunCommandLine(ParseCommandLine({"kavaroxp", "--list-devices", "--watch"}));
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(file);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    ::unlink(path);
    const std::string out = text.str();

    EXPECT_EQ(status, kExitOk);
    const size_t watching = out.find("watching for devices");
    ASSERT_NE(watching, std::string::npos) << out;
    EXPECT_LT(out.find(std::string("  ") + fakedev::kMjpegCamera + "\n    format 0: "), watching)
        << out;
    const size_t added =
        out.find(std::string("video device added:\n  ") + kPlugged + "\n", watching);
    const size_t removed =
        out.find(std::string("video device removed:\n  ") + kPlugged + "\n", watching);
    ASSERT_NE(added, std::string::npos) << out;
    EXPECT_NE(out.find("    format 0: ", added), std::string::npos) << out;
    EXPECT_NE(removed, std::string::npos) << out;
    EXPECT_LT(added, removed);
    // Nothing else changed.
    EXPECT_EQ(out.find("device added", out.find('\n', added)), std::string::npos) << out;
}
