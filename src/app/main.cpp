// Program entry: with options, a run without the window (see --help);
// without, the main window and the hidden about box, then the event loop
// until the user exits.
#include "app/AboutForm.h"
#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "app/MainForm.h"
#include "app/SignalWatcher.h"
#include "net/NetProcessLimits.h"
#include "platform/gst/GstRegistration.h"
#include "platform/stream/WMWriterNetworkSink.h"

#include <QApplication>
#include <QCoreApplication>

#include <malloc.h>

#include <cstdio>
#include <string>

namespace {

// No display is needed, nor touched: not one widget is made.
int RunWithoutWindow(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kavaroXP");
    const TCommandLine line = ParseCommandLine(QCoreApplication::arguments());
    if (!line.Error.empty()) {
        std::string reason = line.Error;
        if (!reason.empty() && reason.back() == '.') reason.pop_back();
        std::fprintf(stderr, "kavaroxp: %s (kavaroxp --help lists the options)\n", reason.c_str());
        return kExitBadCommand;
    }
    if (line.Command == TCommand::Broadcast || line.Command == TCommand::Record ||
        line.Command == TCommand::ListDevices) {
        RegisterGstPlatform();
        RegisterWriterNetworkSink();
    }
    return RunCommandLine(line);
}

} // namespace

int main(int argc, char** argv) {
    // Capture, each side pipeline and each viewer run on threads of their
    // own, and glibc gives new threads arenas of their own (up to eight a
    // core) that keep what was freed in them: an always-on broadcast whose
    // viewers and relay come and go grew by megabytes a minute. Two arenas
    // serve the program's few busy threads; set before the first thread.
    mallopt(M_ARENA_MAX, 2);
    NetRaiseOpenFileLimit(); // a full connection limit must not starve capture
    if (IsCommandLineRun(argc, argv)) return RunWithoutWindow(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("kavaroXP");
    RegisterGstPlatform();
    RegisterWriterNetworkSink();
    TMainForm MainForm;
    TAboutForm AboutForm(&MainForm);
    MainForm.SetAboutForm(&AboutForm);
    MainForm.show();
    // Ctrl+C, kill and a closed terminal end the run as closing the window does.
    TSignalWatcher watcher;
    QObject::connect(&watcher, &TSignalWatcher::Signalled, &MainForm, &TMainForm::close);
    return app.exec();
}
