#include "media/SysDevEnum.h"
#include "FakeDevices.h"
#include "media/MediaErrors.h"

#include <gtest/gtest.h>

namespace {

const std::string kCamClsid = "{17CCA71B-ECD7-11D0-B908-00A0C9223196}";

std::string NameOf(const ComPtr<IMoniker>& m) {
    std::string n;
    if (m) m->GetDisplayName(nullptr, nullptr, n);
    return n;
}

class SysDevEnumTest : public ::testing::Test {
  protected:
    FakeDevicePlatform platform;
};

TEST_F(SysDevEnumTest, EmptyCategoryAndUnavailableEnumerator) {
    TSysDevEnum e(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(e.DeviceCount(), 0);
    EXPECT_FALSE(e.GetDeviceMoniker(0));
    EXPECT_THROW(e.GetDevice(0), EListError);
    {
        // Without a system device enumerator every category is empty.
        FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "cam", {"Cam", kCamClsid});
        UnregisterClassFactory(CLSID_SystemDeviceEnum);
        e.SelectCategory(CLSID_VideoInputDeviceCategory);
        EXPECT_EQ(e.DeviceCount(), 0);
    }
}

TEST_F(SysDevEnumTest, EntriesNamesAndClassIds) {
    // 299 bytes of ASCII then a two-byte character straddling byte 255.
    std::string longName(254, 'a');
    longName += "\xC3\xA9"; // bytes 254 and 255
    longName += std::string(44, 'b');
    FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "cam", {"USB Camera", kCamClsid});
    FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "long", {longName, kCamClsid});
    FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "noclsid", {"No Class", std::nullopt});

    TSysDevEnum e(CLSID_VideoInputDeviceCategory);
    ASSERT_EQ(e.DeviceCount(), 3);
    EXPECT_EQ(e.GetDevice(0).FriendlyName, "USB Camera");
    EXPECT_EQ(e.GetDevice(0).CLSID, StringToGuid(kCamClsid));
    const std::string cut = e.GetDevice(1).FriendlyName;
    EXPECT_EQ(cut, std::string(254, 'a')); // the character is dropped whole, not split
    EXPECT_EQ(e.GetDevice(2).CLSID, GUID_NULL);
    EXPECT_THROW(e.GetDevice(3), EListError);
    EXPECT_THROW(e.GetDevice(-1), EListError);

    // Exactly 255 bytes ending on a whole character stays as it is.
    std::string exact(253, 'x');
    exact += "\xC3\xA9";
    FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "exact", {exact + "tail", kCamClsid});
    e.SelectCategory(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(e.GetDevice(3).FriendlyName, exact);
}

TEST_F(SysDevEnumTest, MalformedClassIdRaises) {
    FakeDevicePlatform::Add(CLSID_AudioInputDeviceCategory, "mic",
                            {"Mic", std::string("{not a guid}")});
    EXPECT_THROW(TSysDevEnum{CLSID_AudioInputDeviceCategory}, Exception);
}

TEST_F(SysDevEnumTest, MonikerIsFoundByPositionInAFreshEnumeration) {
    FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "cam0", {"Cam 0", kCamClsid});
    FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "cam1", {"Cam 1", kCamClsid});
    TSysDevEnum e(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(NameOf(e.GetDeviceMoniker(1)), "cam1");
    EXPECT_EQ(NameOf(e.GetDeviceMoniker(0)), "cam0");
    EXPECT_FALSE(e.GetDeviceMoniker(-1));
    EXPECT_FALSE(e.GetDeviceMoniker(e.DeviceCount()));

    // The platform's order now differs from the listing: position wins.
    auto& order = FakeDeviceTable::Get().categories[CLSID_VideoInputDeviceCategory];
    std::swap(order[0], order[1]);
    const int before = FakeDeviceTable::Get().enumeratorsCreated;
    EXPECT_EQ(NameOf(e.GetDeviceMoniker(0)), "cam1");
    EXPECT_EQ(FakeDeviceTable::Get().enumeratorsCreated, before + 1);

    // Devices gone since the listing: no moniker, no failure.
    order.pop_back();
    EXPECT_FALSE(e.GetDeviceMoniker(1));
    order.clear();
    EXPECT_FALSE(e.GetDeviceMoniker(0));
}

// A node path comes back on another camera after re-plugging: a stored
// choice binds only the device with its identity and its name.
TEST_F(SysDevEnumTest, AStoredIdentityBindsOnlyWithItsName) {
    FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "other", {"Other", kCamClsid});
    FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "a",
                            {"Cam A", kCamClsid, false, "/dev/video0"});
    TSysDevEnum e(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(e.GetDevice(1).DevicePath, "/dev/video0");
    EXPECT_EQ(NameOf(e.FindDeviceMoniker("/dev/video0", "Cam A")), "a");
    EXPECT_EQ(NameOf(e.FindDeviceMoniker("/dev/video0")), "a");
    EXPECT_FALSE(e.FindDeviceMoniker("/dev/video0", "Cam B"));
    EXPECT_FALSE(e.FindDeviceMoniker("/dev/video1", "Cam A"));
    EXPECT_FALSE(e.FindDeviceMoniker("", "Other"));

    FakeDeviceTable::Get().devices["a"].name = "Cam B";
    EXPECT_FALSE(e.FindDeviceMoniker("/dev/video0", "Cam A"));
}

TEST_F(SysDevEnumTest, SwitchingCategoriesListsTheSameDevicesAgain) {
    FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "cam0", {"Cam 0", kCamClsid});
    FakeDevicePlatform::Add(CLSID_VideoInputDeviceCategory, "cam1", {"Cam 1", std::nullopt});
    FakeDevicePlatform::Add(CLSID_AudioInputDeviceCategory, "mic", {"Mic", std::nullopt});
    TSysDevEnum e(CLSID_VideoInputDeviceCategory);
    auto names = [&e] {
        std::vector<std::string> n;
        for (int i = 0; i < e.DeviceCount(); ++i)
            n.push_back(e.GetDevice(i).FriendlyName);
        return n;
    };
    const auto video = names();
    e.SelectCategory(CLSID_AudioInputDeviceCategory);
    EXPECT_EQ(names(), std::vector<std::string>{"Mic"});
    EXPECT_EQ(e.Category(), CLSID_AudioInputDeviceCategory);
    e.SelectCategory(CLSID_VideoInputDeviceCategory);
    EXPECT_EQ(names(), video);
    EXPECT_EQ(video, (std::vector<std::string>{"Cam 0", "Cam 1"}));
}

} // namespace
