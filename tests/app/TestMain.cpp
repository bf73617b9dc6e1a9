// The test program's entry: one QApplication for every case, on the
// offscreen platform unless the caller chose another.
#include "platform/gst/GstRegistration.h"
#include "platform/stream/WMWriterNetworkSink.h"
#include "support/GstSanitizerSuppressions.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    RegisterGstPlatform();
    RegisterWriterNetworkSink();
    // A broadcast writes its archive "brim.asf" into the working folder:
    // keep it out of the source and build trees.
    QTemporaryDir work;
    if (work.isValid()) QDir::setCurrent(work.path());
    // The window reads the relay's settings file: never the user's own.
    if (work.isValid()) qputenv("XDG_CONFIG_HOME", (work.path() + "/config").toUtf8());
    return RUN_ALL_TESTS();
}
