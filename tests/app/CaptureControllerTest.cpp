// The capture modes without a window: the test devices chosen through the
// controller alone, a broadcast on ports the system picks (port 0) that
// serves and advertises the ports actually bound, and a preview with no
// video window to show it in.
#include "app/CaptureController.h"
#include "AppTestSupport.h"
#include "media/MediaErrors.h"
#include "platform/ClassRegistry.h"
#include "platform/ComEnum.h"
#include "platform/gst/GstDeviceEnum.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// Collects a list as the controller reads it.
struct TCollected {
    std::vector<std::string> Texts;
    TListReceiver Receiver() {
        return {[this] { Texts.clear(); },
                [this](int, const std::string& text) { Texts.push_back(text); }};
    }
};

class TMonikerList : public TComEnum<IEnumMoniker, IMoniker> {
  public:
    using TComEnum::TComEnum;
    HRESULT Clone(IEnumMoniker** out) override {
        if (!out) return E_POINTER;
        return ComPtr<IEnumMoniker>(MakeComObject<TMonikerList>(items_, pos_).Get()).CopyTo(out);
    }
};

// The platform's devices, with the video list changed as a user would by
// plugging a camera in (it comes first) or the last one out.
enum class TVideoChange { None, PluggedInFirst, AllUnplugged };
TVideoChange gVideoChange = TVideoChange::None;

class TChangingDevEnum : public TComObject<ICreateDevEnum> {
  public:
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) override {
        ComPtr<IEnumMoniker> real;
        const HRESULT hr = MakeComObject<TGstSystemDeviceEnum>()->CreateClassEnumerator(
            category, real.Put(), flags);
        if (hr != S_OK || category != CLSID_VideoInputDeviceCategory) return real.CopyTo(out), hr;
        std::vector<ComPtr<IMoniker>> monikers;
        AppendAll(*real, monikers);
        if (gVideoChange == TVideoChange::PluggedInFirst)
            monikers.insert(monikers.begin(),
                            MakeGstDeviceMoniker({true, "builtin", "plugged", "Plugged Camera"}));
        if (gVideoChange == TVideoChange::AllUnplugged) monikers.clear();
        if (monikers.empty()) return S_FALSE;
        return ComPtr<IEnumMoniker>(MakeComObject<TMonikerList>(std::move(monikers)).Get())
            .CopyTo(out);
    }
};

struct Headless : ::testing::Test {
    TDesktopCapture desktop;
    TCaptureController capture{nullptr};
    TCollected videoDevices, audioDevices, formats, lines;

    // The Test Pattern and the Test Tone come last in their lists.
    void ChooseTestDevices() {
        capture.OpenDeviceLists(videoDevices.Receiver(), audioDevices.Receiver());
        ASSERT_FALSE(videoDevices.Texts.empty());
        ASSERT_EQ(videoDevices.Texts.back(), "Test Pattern");
        ASSERT_EQ(audioDevices.Texts.back(), "Test Tone");
        capture.ChooseVideoDevice(static_cast<int>(videoDevices.Texts.size()) - 1,
                                  formats.Receiver());
        EXPECT_FALSE(formats.Texts.empty());
        capture.ChooseAudioDevice(static_cast<int>(audioDevices.Texts.size()) - 1,
                                  formats.Receiver(), lines.Receiver());
        EXPECT_EQ(lines.Texts, (std::vector<std::string>{"Sine", "White Noise", "Silence"}));
        EXPECT_GE(capture.Choices().AudioInput, 0);
    }
};

TEST_F(Headless, BroadcastOnPortZeroServesAndAdvertisesTheBoundPorts) {
    ChooseTestDevices();
    capture.LandingTexts().SetWidth("320");
    capture.LandingTexts().SetHeight("300");
    capture.LandingTexts().SetAddress("127.0.0.1");
    const TBroadcastPorts ports = capture.StartBroadcast({0, 0});
    ASSERT_TRUE(capture.Broadcasting());
    ASSERT_GT(ports.StreamPort, 0);
    ASSERT_GT(ports.HttpPort, 0);
    ASSERT_TRUE(capture.ServedPorts().has_value());
    EXPECT_EQ(capture.ServedPorts()->StreamPort, ports.StreamPort);
    EXPECT_EQ(capture.ServedPorts()->HttpPort, ports.HttpPort);
    EXPECT_TRUE(capture.LandingSiteServing());
    EXPECT_TRUE(PortAccepts(ports.StreamPort));

    const std::string response = HttpExchange(ports.HttpPort, "GET / HTTP/1.0\r\n\r\n");
    const std::string page = BuildLandingPage({"320", "300", ports.StreamPort, "127.0.0.1"});
    ASSERT_GE(response.size(), page.size()) << response;
    EXPECT_EQ(response.substr(response.size() - page.size()), page);
    EXPECT_NE(page.find("\"mms://127.0.0.1:" + std::to_string(ports.StreamPort) + "/\""),
              std::string::npos);

    EXPECT_EQ(capture.StopCapture().Message, "");
    EXPECT_FALSE(capture.Running());
    EXPECT_FALSE(capture.ServedPorts().has_value());
    EXPECT_FALSE(capture.LandingSiteServing());
    EXPECT_FALSE(PortAccepts(ports.HttpPort));
    EXPECT_FALSE(PortAccepts(ports.StreamPort));
    EXPECT_TRUE(desktop.Errors().empty());
}

TEST_F(Headless, PreviewWithoutAVideoWindowRunsTheClock) {
    ChooseTestDevices();
    EXPECT_FALSE(capture.Position().has_value()); // no graph yet
    capture.StartPreview();
    ASSERT_TRUE(capture.Previewing());
    ASSERT_TRUE(PumpUntil([&] { return capture.Position().value_or(0) > 0; }));
    capture.StopCapture();
    EXPECT_FALSE(capture.GraphActive());
    EXPECT_FALSE(capture.Position().has_value());
    capture.Shutdown();
    EXPECT_FALSE(capture.DeviceListsOpen());
    EXPECT_TRUE(desktop.Errors().empty());
}

TEST_F(Headless, AFailedStartRaisesItsMessageAndLeavesTheModeIdle) {
    ChooseTestDevices();
    try {
        capture.StartRecord("/no/such/folder/capture.avi");
        FAIL() << "the recording started";
    } catch (const ECaptureError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Could not record to \"/no/such/folder/", 0), 0u)
            << e.what();
    }
    EXPECT_FALSE(capture.Running());
    // The next start builds its graph afresh.
    capture.StartPreview();
    EXPECT_TRUE(capture.Previewing());
    capture.StopCapture();
}

TEST_F(Headless, AFailureStopsTheModeOnceAndNamesIt) {
    ChooseTestDevices();
    const std::string path = "kx_failure.avi"; // in the scratch working folder
    capture.StartRecord(path);
    ASSERT_TRUE(capture.Recording());
    const std::optional<TStopReport> report =
        capture.StopAfterFailure({"Disk full", "free some space and start again"});
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->Message, "Disk full: the recording to \"" + path +
                                   "\" stopped; free some space and start again.");
    EXPECT_FALSE(report->StopFailure);
    EXPECT_FALSE(capture.Running());
    EXPECT_FALSE(capture.GraphActive());
    // The failure's second event finds nothing running.
    EXPECT_FALSE(capture.StopAfterFailure({"Device lost", "start again"}).has_value());
}

TEST_F(Headless, ADeviceListFailingHalfWayLeavesChoosableDevices) {
    TListReceiver failing = audioDevices.Receiver();
    failing.Add = [](int, const std::string&) { throw Exception("audio list failed"); };
    EXPECT_THROW(capture.OpenDeviceLists(videoDevices.Receiver(), failing), Exception);
    ASSERT_FALSE(videoDevices.Texts.empty());
    capture.ChooseVideoDevice(static_cast<int>(videoDevices.Texts.size()) - 1, formats.Receiver());
    EXPECT_FALSE(formats.Texts.empty());
}

TEST_F(Headless, AChoiceWithoutListsIsRefusedWithItsMessage) {
    try {
        capture.ChooseVideoDevice(0, formats.Receiver());
        FAIL() << "chosen without lists";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "TSysDevEnum not created");
    }
}

TEST_F(Headless, ADeviceIsChosenByItsIdentityOrRefusedWhenGone) {
    TClassRegistration changing(CLSID_SystemDeviceEnum, MakeClassFactory<TChangingDevEnum>());
    gVideoChange = TVideoChange::None;
    capture.OpenDeviceLists(videoDevices.Receiver(), audioDevices.Receiver());
    const int last = static_cast<int>(videoDevices.Texts.size()) - 1;
    ASSERT_EQ(videoDevices.Texts.back(), "Test Pattern");
    // A camera plugged in since shifts the positions: the listed device opens.
    gVideoChange = TVideoChange::PluggedInFirst;
    capture.ChooseVideoDevice(last, formats.Receiver());
    EXPECT_FALSE(formats.Texts.empty());
    EXPECT_EQ(capture.Choices().VideoDevice, last);
    // Unplugged: refused with its name, the earlier choice stays.
    gVideoChange = TVideoChange::AllUnplugged;
    try {
        capture.ChooseVideoDevice(last, formats.Receiver());
        FAIL() << "a device that is gone was opened";
    } catch (const ECaptureError& e) {
        EXPECT_STREQ(e.what(), "\"Test Pattern\" is no longer connected: connect it again or "
                               "choose another device.");
    }
    EXPECT_EQ(capture.Choices().VideoDevice, last);
    gVideoChange = TVideoChange::None;
}

} // namespace
