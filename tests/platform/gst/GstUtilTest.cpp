#include "platform/gst/GstUtil.h"
#include "GstTestSupport.h"
#include "platform/gst/GstSidePipeline.h"

#include <gst/gst.h>

#include <gtest/gtest.h>

namespace {

// Takes a factory out of the registry for one test, as if its plugin were
// not installed, and puts it back afterwards.
class THiddenElement {
  public:
    explicit THiddenElement(const char* name)
        : feature_(gst_registry_lookup_feature(gst_registry_get(), name)) {
        if (feature_) gst_registry_remove_feature(gst_registry_get(), feature_);
    }
    ~THiddenElement() {
        if (!feature_) return;
        gst_registry_add_feature(gst_registry_get(), feature_);
        gst_object_unref(feature_);
    }
    bool Hidden() const { return feature_ != nullptr; }

  private:
    GstPluginFeature* feature_;
};

} // namespace

TEST(GstUtil, AMissingElementIsNamedWithItsPackage) {
    EXPECT_EQ(MakeGstElement("kx-no-such-element"), nullptr);
    EXPECT_EQ(ErrorTextOf(E_MISSING_COMPONENT),
              "The GStreamer element \"kx-no-such-element\" is missing: install the Debian "
              "package gstreamer1.0-plugins-base.");
    EXPECT_NE(MissingElementText("avenc_wmv2").find("gstreamer1.0-libav"), std::string::npos);
    EXPECT_THROW(RequireGstElement("kx-no-such-element"), EMediaResult);
}

TEST(GstUtil, AFilterWhosePluginIsMissingFailsWithTheElementsName) {
    THiddenElement hidden("avimux");
    ASSERT_TRUE(hidden.Hidden());
    ComPtr<IBaseFilter> mux;
    EXPECT_EQ(CreateInstance(CLSID_AviDest, mux), E_MISSING_COMPONENT);
    EXPECT_FALSE(mux);
    const std::string text = ErrorTextOf(E_MISSING_COMPONENT);
    EXPECT_NE(text.find("\"avimux\""), std::string::npos) << text;
    EXPECT_NE(text.find("gstreamer1.0-plugins-good"), std::string::npos) << text;
}

TEST(GstUtil, AMissingTestSourceIsReportedNotDereferenced) {
    THiddenElement hidden("videotestsrc");
    ASSERT_TRUE(hidden.Hidden());
    ComPtr<IMoniker> device = gsttest::FindDevice(CLSID_VideoInputDeviceCategory, "Test Pattern");
    ASSERT_TRUE(device);
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(device->BindToObject(nullptr, nullptr, IBaseFilter::Iid, filter.PutVoid()),
              E_MISSING_COMPONENT);
    EXPECT_FALSE(filter);
    EXPECT_NE(ErrorTextOf(E_MISSING_COMPONENT).find("videotestsrc"), std::string::npos);
}

// Side outputs encode at the capture's exact rate and space keyframes by it.
TEST(SidePipeline, EncodesAtTheCapturesRateAndSizeWithinTheBound) {
    const TFrameRate uvc = EncodeRate({640, 480, 15, 2});
    EXPECT_EQ(15, uvc.Num);
    EXPECT_EQ(2, uvc.Den);
    EXPECT_EQ(15, uvc.FramesIn(2));
    EXPECT_EQ(60, EncodeRate({640, 480, 30000, 1001}).FramesIn(2));
    const TFrameRate unknown = EncodeRate({640, 480, 0, 1});
    EXPECT_EQ(30, unknown.Num);
    EXPECT_EQ(1, unknown.Den);
    int width = 0, height = 0;
    FitPictureSize(1280, 720, 640, 480, width, height);
    EXPECT_EQ(640, width);
    EXPECT_EQ(360, height);
    FitPictureSize(320, 240, 640, 480, width, height);
    EXPECT_EQ(320, width);
    EXPECT_EQ(240, height);
}
