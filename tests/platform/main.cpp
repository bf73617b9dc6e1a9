// The platform tests run inside a Qt application (graph events are delivered
// through its event loop; renderer windows need widgets) with the GStreamer
// platform registered in the class registry.
#include "platform/GstRegistration.h"

#include <QApplication>

#include <gtest/gtest.h>

// GLib and GStreamer keep their type system, registry and plugin state for
// the life of the process; the leak checker must not count them.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgstreamer-1.0.so\n"
           "leak:libgstbase-1.0.so\n"
           "leak:/gstreamer-1.0/\n"
           "leak:libpulse.so\n"
           "leak:libfontconfig.so\n";
}

int main(int argc, char** argv) {
    // Test discovery runs without the tests' environment: never look for a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RegisterGstPlatform();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
