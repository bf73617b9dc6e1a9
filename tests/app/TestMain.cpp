// The test program's entry: one QApplication for every case, on the
// offscreen platform unless the caller chose another.
#include "platform/GstRegistration.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    RegisterGstPlatform();
    // A broadcast writes its archive "brim.asf" into the working folder:
    // keep it out of the source and build trees.
    QTemporaryDir work;
    if (work.isValid()) QDir::setCurrent(work.path());
    return RUN_ALL_TESTS();
}
