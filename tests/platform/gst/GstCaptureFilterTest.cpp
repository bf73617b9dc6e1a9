// Capture filters: their pins, the Test Tone's input lines and format setting.
#include "GstTestSupport.h"

#include "media/PinList.h"
#include "platform/gst/GstAlsaMixer.h"
#include "platform/gst/GstDeviceEnum.h"

#include <gtest/gtest.h>

using namespace gsttest;

namespace {

struct TPinFacts {
    std::string name;
    PIN_DIRECTION dir;
    bool streamConfig, mixer;
};

std::vector<TPinFacts> Facts(IBaseFilter* filter) {
    std::vector<TPinFacts> out;
    TPinList pins(filter);
    for (int i = 0; i < pins.Count(); ++i) {
        TPinInfo info;
        pins.PinInfoAt(i, info.Record);
        EXPECT_EQ(filter, info.Record.pFilter);
        out.push_back({info.Record.achName, info.Record.dir,
                       bool(pins.PinAt(i).Query<IAMStreamConfig>()),
                       bool(pins.PinAt(i).Query<IAMAudioInputMixer>())});
    }
    return out;
}

std::vector<bool> LinesEnabled(IBaseFilter* filter) {
    std::vector<bool> out;
    TPinList pins(filter);
    for (int i = 0; i < pins.Count(); ++i)
        if (auto mixer = pins.PinAt(i).Query<IAMAudioInputMixer>()) {
            BOOL on = 0;
            EXPECT_EQ(S_OK, mixer->get_Enable(&on));
            out.push_back(on != 0);
        }
    return out;
}

} // namespace

TEST(GstCaptureFilter, VideoHasCaptureAndPreviewPins) {
    ComPtr<IBaseFilter> video = BindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern");
    ASSERT_TRUE(video);
    auto facts = Facts(video.Get());
    ASSERT_EQ(2u, facts.size());
    EXPECT_EQ("Capture", facts[0].name);
    EXPECT_EQ(PINDIR_OUTPUT, facts[0].dir);
    EXPECT_TRUE(facts[0].streamConfig);
    EXPECT_EQ("Preview", facts[1].name);
    EXPECT_EQ(PINDIR_OUTPUT, facts[1].dir);
    EXPECT_FALSE(facts[1].streamConfig);
    CLSID clsid;
    video->GetClassID(&clsid);
    EXPECT_EQ(CLSID_GstVideoCapture, clsid);
}

TEST(GstCaptureFilter, TestToneLinesHaveExactlyOneEnabledAndPutEnableMovesIt) {
    ComPtr<IBaseFilter> tone = BindDevice(CLSID_AudioInputDeviceCategory, "Test Tone");
    ASSERT_TRUE(tone);
    auto facts = Facts(tone.Get());
    ASSERT_EQ(4u, facts.size());
    EXPECT_EQ("Capture", facts[0].name);
    EXPECT_TRUE(facts[0].streamConfig);
    const char* lines[] = {"Sine", "White Noise", "Silence"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i], facts[size_t(i) + 1].name);
        EXPECT_EQ(PINDIR_INPUT, facts[size_t(i) + 1].dir);
        EXPECT_TRUE(facts[size_t(i) + 1].mixer);
        EXPECT_FALSE(facts[size_t(i) + 1].streamConfig);
    }
    EXPECT_EQ((std::vector<bool>{true, false, false}), LinesEnabled(tone.Get()));

    EXPECT_EQ(S_OK,
              PinNamed(tone.Get(), "White Noise").Query<IAMAudioInputMixer>()->put_Enable(-1));
    EXPECT_EQ((std::vector<bool>{false, true, false}), LinesEnabled(tone.Get()));
    // Switching the enabled line off leaves silence, still exactly one line.
    EXPECT_EQ(S_OK, PinNamed(tone.Get(), "White Noise").Query<IAMAudioInputMixer>()->put_Enable(0));
    EXPECT_EQ((std::vector<bool>{false, false, true}), LinesEnabled(tone.Get()));
    // A line pin takes no stream.
    ComPtr<IBaseFilter> other = BindDevice(CLSID_AudioInputDeviceCategory, "Test Tone");
    EXPECT_TRUE(FAILED(
        PinNamed(other.Get(), "Capture")->Connect(PinNamed(tone.Get(), "Sine").Get(), nullptr)));
}

TEST(GstCaptureFilter, SetFormatFixesTheFormatAndRefusesWhatTheDeviceCannotDo) {
    ComPtr<IBaseFilter> video = BindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern");
    auto config = PinNamed(video.Get(), "Capture").Query<IAMStreamConfig>();
    ASSERT_TRUE(config);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(S_OK, config->GetFormat(&current));
    EXPECT_EQ(MEDIASUBTYPE_YUY2, current->subtype);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat);
    EXPECT_EQ(320, vih->bmiHeader.biWidth);
    // The same record with another size is what gets captured next.
    vih->bmiHeader.biWidth = 176;
    vih->bmiHeader.biHeight = 144;
    EXPECT_EQ(S_OK, config->SetFormat(current));
    DeleteMediaType(current);
    ASSERT_EQ(S_OK, config->GetFormat(&current));
    EXPECT_EQ(176, reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat)->bmiHeader.biWidth);
    EXPECT_EQ(144, reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat)->bmiHeader.biHeight);
    DeleteMediaType(current);

    // A sound format on the camera, and a record without its format block.
    ComPtr<IBaseFilter> tone = BindDevice(CLSID_AudioInputDeviceCategory, "Test Tone");
    AM_MEDIA_TYPE* sound = nullptr;
    ASSERT_EQ(S_OK, PinNamed(tone.Get(), "Capture").Query<IAMStreamConfig>()->GetFormat(&sound));
    EXPECT_EQ(E_FORMAT_REFUSED, config->SetFormat(sound));
    EXPECT_EQ("\"Test Pattern\" cannot capture S16LE 44100 Hz, 2 channels.",
              ErrorTextOf(E_FORMAT_REFUSED));
    sound->cbFormat = 0;
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE,
              PinNamed(tone.Get(), "Capture").Query<IAMStreamConfig>()->SetFormat(sound));
    sound->cbFormat = sizeof(WAVEFORMATEX);
    DeleteMediaType(sound);
    EXPECT_EQ(E_POINTER, config->SetFormat(nullptr));
}

TEST(GstCaptureFilter, PinsOutlivingTheirFilterFailCleanly) {
    ComPtr<IPin> capture, line;
    {
        ComPtr<IBaseFilter> tone = BindDevice(CLSID_AudioInputDeviceCategory, "Test Tone");
        capture = PinNamed(tone.Get(), "Capture");
        line = PinNamed(tone.Get(), "Sine");
    }
    PIN_INFO info{};
    EXPECT_EQ(S_OK, capture->QueryPinInfo(&info));
    EXPECT_EQ(nullptr, info.pFilter);
    AM_MEDIA_TYPE* mt = nullptr;
    EXPECT_TRUE(FAILED(capture.Query<IAMStreamConfig>()->GetFormat(&mt)));
    BOOL on = 0;
    EXPECT_TRUE(FAILED(line.Query<IAMAudioInputMixer>()->get_Enable(&on)));
}

TEST(GstCaptureFilter, AlsaCardThatIsMissingHasNoLines) {
    EXPECT_TRUE(TAlsaMixer::InputLines("hw:99").empty());
    EXPECT_TRUE(TAlsaMixer::InputLines("").empty());
    bool on = true;
    EXPECT_FALSE(TAlsaMixer::SetEnabled("hw:99", "Mic", true));
    EXPECT_FALSE(TAlsaMixer::IsEnabled("hw:99", "Mic", on));
}
