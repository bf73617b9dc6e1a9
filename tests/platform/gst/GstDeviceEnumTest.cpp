// Device listing through the device list component, device monikers that
// survive as bytes, and devices that are gone by the time they are used.
#include "GstTestSupport.h"

#include "media/BaseFilter.h"
#include "media/EnumMediaType.h"
#include "media/PinList.h"
#include "media/SysDevEnum.h"
#include "platform/gst/GstDeviceEnum.h"

#include "common/Text.h"

#include <gtest/gtest.h>

using namespace gsttest;

namespace {

std::vector<std::string> Names(TSysDevEnum& devices) {
    std::vector<std::string> names;
    for (int i = 0; i < devices.DeviceCount(); ++i)
        names.push_back(devices.GetDevice(i).FriendlyName);
    return names;
}

std::vector<std::string> FormatTexts(IBaseFilter* filter) {
    TPinList pins(filter);
    TEnumMediaType formats;
    formats.AssignPin(pins.FirstPin().Get());
    std::vector<std::string> texts;
    for (int i = 0; i < formats.Count(); ++i)
        texts.push_back(formats.FormatText(i));
    return texts;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

} // namespace

TEST(GstDeviceEnum, BuiltInDevicesCloseEachCategoryWithTheirFormats) {
    TSysDevEnum devices(CLSID_VideoInputDeviceCategory);
    auto video = Names(devices);
    ASSERT_FALSE(video.empty());
    EXPECT_EQ("Test Pattern", video.back());
    EXPECT_EQ(CLSID_GstVideoCapture, devices.GetDevice(devices.DeviceCount() - 1).CLSID);

    devices.SelectCategory(CLSID_AudioInputDeviceCategory);
    auto audio = Names(devices);
    ASSERT_FALSE(audio.empty());
    EXPECT_EQ("Test Tone", audio.back());
    EXPECT_FALSE(Contains(audio, "Test Pattern"));

    // The same order on every listing.
    devices.SelectCategory(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(video, Names(devices));

    auto pattern = FormatTexts(BindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern").Get());
    for (const char* size : {"160X120", "176X144", "320X240", "352X288", "640X480"})
        EXPECT_TRUE(Contains(
            pattern, std::string("Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 ") +
                         size + ", 16 bits, 30 fps"))
            << size;
    EXPECT_TRUE(Contains(
        pattern,
        "Major Type: Video - Sub Type: RGB24 Format: VideoInfo RGB 320X240, 24 bits, 30 fps"));
    EXPECT_TRUE(Contains(
        pattern,
        "Major Type: Video - Sub Type: IYUV Format: VideoInfo IYUV 320X240, 12 bits, 30 fps"));

    auto tone = FormatTexts(BindDevice(CLSID_AudioInputDeviceCategory, "Test Tone").Get());
    for (int rate : {11025, 22050, 44100, 48000})
        for (int bits : {8, 16})
            for (int channels : {1, 2})
                EXPECT_TRUE(Contains(
                    tone,
                    Format("Major Type: Audio - Sub Type: PCM Format: WaveFormatEx: PCM, %d Hertz, "
                           "%d Bits, %d Channels",
                           rate, bits, channels)));
}

TEST(GstDeviceEnum, OtherCategoriesAreEmpty) {
    ComPtr<ICreateDevEnum> devEnum;
    ASSERT_EQ(S_OK, CreateInstance(CLSID_SystemDeviceEnum, devEnum));
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(S_FALSE, devEnum->CreateClassEnumerator(GUID_NULL, monikers.Put(), 0));
    EXPECT_FALSE(monikers);
    TSysDevEnum devices(CLSID_GstVideoCapture);
    EXPECT_EQ(0, devices.DeviceCount());
}

TEST(GstDeviceEnum, StoredMonikerBindsTheSameDeviceAfterAFreshListing) {
    TSysDevEnum devices(CLSID_AudioInputDeviceCategory);
    TBaseFilter stored;
    stored.AssignMoniker(devices.GetDeviceMoniker(devices.DeviceCount() - 1).Get());
    ASSERT_GT(stored.DataLength(), 0u);

    // A fresh listing in between, then a copy of the bytes alone.
    devices.SelectCategory(CLSID_VideoInputDeviceCategory);
    devices.SelectCategory(CLSID_AudioInputDeviceCategory);
    TBaseFilter copy;
    copy.Assign(stored);
    ComPtr<IMoniker> loaded = copy.LoadMoniker();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(S_OK, loaded->IsEqual(devices.GetDeviceMoniker(devices.DeviceCount() - 1).Get()));
    EXPECT_EQ(S_FALSE,
              loaded->IsEqual(FindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern").Get()));
    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(S_OK, loaded->BindToStorage(nullptr, nullptr, IPropertyBag::Iid, bag.PutVoid()));
    std::string name;
    EXPECT_EQ(S_OK, bag->Read("FriendlyName", name));
    EXPECT_EQ("Test Tone", name);

    ComPtr<IBaseFilter> filter = copy.BindFilter();
    ASSERT_TRUE(filter);
    EXPECT_EQ(FormatTexts(BindDevice(CLSID_AudioInputDeviceCategory, "Test Tone").Get()),
              FormatTexts(filter.Get()));
    EXPECT_TRUE(PinNamed(filter.Get(), "Sine"));
}

TEST(GstDeviceEnum, AGoneDeviceGivesAFailureNeverAFilter) {
    // What a moniker saved for a camera that has since been unplugged holds.
    TGstDeviceId gone{true, "GstV4l2Device", "/dev/video-unplugged", "Old Camera"};
    std::vector<uint8_t> bytes;
    ASSERT_EQ(S_OK, OleSaveToStream(MakeGstDeviceMoniker(gone).Get(), bytes));
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(S_OK, OleLoadFromStream(bytes, IMoniker::Iid, moniker.PutVoid()));
    ComPtr<IBaseFilter> filter;
    EXPECT_TRUE(
        FAILED(moniker->BindToObject(nullptr, nullptr, IBaseFilter::Iid, filter.PutVoid())));
    EXPECT_FALSE(filter);

    TBaseFilter holder;
    holder.AssignMoniker(moniker.Get());
    EXPECT_FALSE(holder.BindFilter());
}

TEST(GstDeviceEnum, DamagedMonikerBytesAreRefused) {
    std::vector<uint8_t> bytes;
    ASSERT_EQ(S_OK, OleSaveToStream(
                        FindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern").Get(), bytes));
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(S_OK, OleLoadFromStream(bytes, IMoniker::Iid, moniker.PutVoid()));

    for (size_t cut : {bytes.size() - 1, size_t(16 + 5), size_t(16 + 9)}) {
        std::vector<uint8_t> shorter(bytes.begin(), bytes.begin() + long(cut));
        EXPECT_TRUE(FAILED(OleLoadFromStream(shorter, IMoniker::Iid, moniker.PutVoid()))) << cut;
    }
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_TRUE(FAILED(OleLoadFromStream(longer, IMoniker::Iid, moniker.PutVoid())));
    std::vector<uint8_t> huge = bytes;
    huge[16 + 6 + 3] = 0x7F; // provider length far beyond the block
    EXPECT_TRUE(FAILED(OleLoadFromStream(huge, IMoniker::Iid, moniker.PutVoid())));
    std::vector<uint8_t> foreign = bytes;
    foreign[16] = 'X';
    EXPECT_TRUE(FAILED(OleLoadFromStream(foreign, IMoniker::Iid, moniker.PutVoid())));
}
