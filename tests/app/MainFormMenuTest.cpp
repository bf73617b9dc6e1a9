// The device, format and input menus, driven through menu clicks.
#include "AppTestSupport.h"
#include "app/MainForm.h"
#include "media/BaseFilter.h"
#include "media/PinList.h"
#include "media/SysDevEnum.h"

#include <QObject>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

TSkinMenuItem* LastItem(TSkinMenuItem* submenu) {
    return submenu->Items(submenu->Count() - 1);
}

std::vector<std::string> Captions(TSkinMenuItem* submenu) {
    std::vector<std::string> out;
    for (int i = 0; i < submenu->Count(); ++i)
        out.push_back(submenu->Items(i)->Caption());
    return out;
}

// Asks the device itself which of its input lines report enabled.
int LastEnabledLine(int device) {
    TSysDevEnum devices(CLSID_AudioInputDeviceCategory);
    TBaseFilter holder;
    holder.AssignMoniker(devices.GetDeviceMoniker(device).Get());
    TPinList pins(holder.BindFilter().Get());
    int last = -1, line = 0;
    for (int i = 0; i < pins.Count(); ++i) {
        TPinInfo info;
        pins.PinInfoAt(i, info.Record);
        if (info.Record.dir != PINDIR_INPUT) continue;
        BOOL enabled = 0;
        if (auto mixer = pins.PinAt(i).Query<IAMAudioInputMixer>()) mixer->get_Enable(&enabled);
        if (enabled) last = line;
        ++line;
    }
    return last;
}

struct Menus : ::testing::Test {
    TDesktopCapture desktop;
    TMainForm form;
};

TEST_F(Menus, ChoosingTheTestPatternListsItsFormats) {
    TSkinMenuItem* pattern = LastItem(form.videoconnect1);
    ASSERT_EQ(pattern->Caption(), "test pattern");
    pattern->Click();
    EXPECT_TRUE(desktop.Errors().empty()) << desktop.Errors().at(0);
    EXPECT_EQ(form.Capture().Choices().VideoDevice, pattern->Tag());
    EXPECT_EQ(form.Capture().Choices().VideoFormat, -1);
    EXPECT_EQ(CheckedIndices(form.videoconnect1), std::vector<int>{pattern->Tag()});
    EXPECT_TRUE(form.videoformats1->Enabled());
    EXPECT_FALSE(form.Capture().GraphActive());
    // At least five YUY2 sizes, RGB24 and I420.
    EXPECT_GE(form.videoformats1->Count(), 7);
    const int yuy2 =
        IndexOfCaption(form.videoformats1, "yuy2 format: videoinfo yuy2 320x240, 16 bits, 30 fps");
    ASSERT_GE(yuy2, 0) << ::testing::PrintToString(Captions(form.videoformats1));
    TSkinMenuItem* item = form.videoformats1->Items(yuy2);
    EXPECT_EQ(item->Name(), "ferret" + std::to_string(yuy2));
    EXPECT_EQ(item->Tag(), yuy2);
    EXPECT_TRUE(CheckedIndices(form.videoformats1).empty());
    // The audio side is untouched.
    EXPECT_EQ(form.Capture().Choices().AudioDevice, -1);
    EXPECT_FALSE(form.audioformats1->Enabled());
    EXPECT_FALSE(form.audioinput1->Enabled());
}

TEST_F(Menus, ChoosingTheTestToneListsFormatsAndLines) {
    TSkinMenuItem* tone = LastItem(form.audioconnect1);
    ASSERT_EQ(tone->Caption(), "test tone");
    tone->Click();
    EXPECT_TRUE(desktop.Errors().empty()) << desktop.Errors().at(0);
    EXPECT_EQ(form.Capture().Choices().AudioDevice, tone->Tag());
    EXPECT_EQ(form.Capture().Choices().AudioFormat, -1);
    EXPECT_EQ(CheckedIndices(form.audioconnect1), std::vector<int>{tone->Tag()});
    EXPECT_TRUE(form.audioformats1->Enabled());
    EXPECT_TRUE(form.audioinput1->Enabled());
    const int stereo = IndexOfCaption(form.audioformats1, "44100 hertz, 16 bits, 2 channels");
    ASSERT_GE(stereo, 0) << ::testing::PrintToString(Captions(form.audioformats1));
    EXPECT_EQ(form.audioformats1->Items(stereo)->Name(), "dog" + std::to_string(stereo));
    EXPECT_EQ(Captions(form.audioinput1),
              (std::vector<std::string>{"Sine", "White Noise", "Silence"}));
    EXPECT_EQ(form.audioinput1->Items(2)->Name(), "linedog2");
    // The last line that reports itself enabled is selected, without a check mark.
    EXPECT_EQ(form.Capture().Choices().AudioInput, LastEnabledLine(tone->Tag()));
    ASSERT_GE(form.Capture().Choices().AudioInput, 0);
    EXPECT_TRUE(CheckedIndices(form.audioinput1).empty());
    EXPECT_FALSE(form.Capture().GraphActive());
}

TEST_F(Menus, RepeatedClicksLeaveExactlyTheLastChoiceChecked) {
    LastItem(form.videoconnect1)->Click();
    LastItem(form.audioconnect1)->Click();
    ASSERT_GE(form.videoformats1->Count(), 2);
    form.videoformats1->Items(1)->Click();
    form.videoformats1->Items(1)->Click();
    EXPECT_EQ(CheckedIndices(form.videoformats1), std::vector<int>{1});
    EXPECT_EQ(form.Capture().Choices().VideoFormat, 1);
    form.videoformats1->Items(0)->Click();
    EXPECT_EQ(CheckedIndices(form.videoformats1), std::vector<int>{0});
    form.audioformats1->Items(0)->Click();
    form.audioinput1->Items(1)->Click();
    form.audioinput1->Items(0)->Click();
    EXPECT_EQ(CheckedIndices(form.audioinput1), std::vector<int>{0});
    EXPECT_EQ(form.Capture().Choices().AudioInput, 0);
    EXPECT_EQ(form.Capture().Choices().AudioFormat, 0);
    // Choosing the device again rebuilds its lists and forgets the choices.
    const int formats = form.videoformats1->Count();
    LastItem(form.videoconnect1)->Click();
    EXPECT_EQ(form.videoformats1->Count(), formats);
    EXPECT_TRUE(CheckedIndices(form.videoformats1).empty());
    EXPECT_EQ(form.Capture().Choices().VideoFormat, -1);
    EXPECT_EQ(CheckedIndices(form.videoconnect1).size(), 1u);
    LastItem(form.audioconnect1)->Click();
    EXPECT_TRUE(CheckedIndices(form.audioformats1).empty());
    EXPECT_EQ(form.Capture().Choices().AudioFormat, -1);
    EXPECT_EQ(form.audioinput1->Count(), 3);
    EXPECT_TRUE(desktop.Errors().empty());
}

TEST_F(Menus, HandlersIgnoreSendersThatAreNotMenuItems) {
    QObject stranger;
    form.VideoDeviceClick(&stranger);
    form.AudioDeviceClick(nullptr);
    form.VideoFormatClick(form.bt_preview);
    EXPECT_EQ(form.Capture().Choices().VideoDevice, -1);
    EXPECT_EQ(form.Capture().Choices().AudioDevice, -1);
    EXPECT_EQ(form.Capture().Choices().VideoFormat, -1);
    EXPECT_FALSE(form.videoformats1->Enabled());
}

} // namespace
