// Platform tests on fake cameras and microphones: the providers are
// registered before anything lists a device.
#include "FakeDeviceProvider.h"
#include "platform/gst/GstRegistration.h"
#include "platform/stream/WMWriterNetworkSink.h"
#include "support/GstSanitizerSuppressions.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RegisterGstPlatform();
    fakedev::RegisterFakeProviders();
    RegisterWriterNetworkSink();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
