// The window on fake cameras and microphones. Given program options
// (`test_app_devices --list-devices [--watch]`) it runs them as the program
// would, on the fake devices, instead of the tests.
#include "FakeDeviceProvider.h"
#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "platform/gst/GstRegistration.h"
#include "platform/stream/WMWriterNetworkSink.h"
#include "support/GstSanitizerSuppressions.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool program = argc > 1 && std::strcmp(argv[1], "--list-devices") == 0;
    if (!program) ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    RegisterGstPlatform();
    fakedev::RegisterFakeProviders();
    RegisterWriterNetworkSink();
    if (program) {
        const TCommandLine line = ParseCommandLine(QCoreApplication::arguments());
        if (!line.Error.empty()) {
            std::fprintf(stderr, "%s\n", line.Error.c_str());
            return kExitBadCommand;
        }
        return RunCommandLine(line);
    }
    QTemporaryDir work;
    if (work.isValid()) QDir::setCurrent(work.path());
    if (work.isValid()) qputenv("XDG_CONFIG_HOME", (work.path() + "/config").toUtf8());
    return RUN_ALL_TESTS();
}
