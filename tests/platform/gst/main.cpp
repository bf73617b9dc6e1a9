// The platform tests run inside a Qt application (graph events are delivered
// through its event loop; renderer windows need widgets) with the GStreamer
// platform registered in the class registry.
#include "platform/gst/GstRegistration.h"
#include "platform/stream/WMWriterNetworkSink.h"
#include "support/GstSanitizerSuppressions.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Test discovery runs without the tests' environment: never look for a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RegisterGstPlatform();
    RegisterWriterNetworkSink();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
