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

#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <string>

namespace {

// No display is needed, nor touched: not one widget is made.
int RunWithoutWindow(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("kavaroXP");
    const TCommandLine line = ParseCommandLine(
        QCoreApplication::arguments(), qEnvironmentVariable(kRelayUrlVariable).toStdString());
    // Nothing started by this process needs the address again.
    qunsetenv(kRelayUrlVariable);
    if (!line.Error.empty()) {
        std::string reason = line.Error;
        if (!reason.empty() && reason.back() == '.') reason.pop_back();
        std::fprintf(stderr, "kavaroxp: %s (kavaroxp --help lists the options)\n", reason.c_str());
        return kExitBadCommand;
    }
    if (!line.Warning.empty()) std::fprintf(stderr, "kavaroxp: %s\n", line.Warning.c_str());
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
    // A closed pipe (a reader that went away: `| head -1`, a viewer, a relay
    // server) is a failed write to handle, never the end of the program.
    std::signal(SIGPIPE, SIG_IGN);
    // Likewise a file that reached its size limit (ulimit -f): the write
    // fails and is reported as a full disk, with the archive complete.
    std::signal(SIGXFSZ, SIG_IGN);
    NetRaiseOpenFileLimit(); // a full connection limit must not starve capture
    if (IsCommandLineRun(argc, argv)) return RunWithoutWindow(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName("kavaroXP");
    // Ctrl+C, kill and a closed terminal end the run as closing the window
    // does, also when they come while the window is being made.
    TSignalWatcher watcher;
    RegisterGstPlatform();
    RegisterWriterNetworkSink();
    TMainForm MainForm;
    TAboutForm AboutForm(&MainForm);
    MainForm.SetAboutForm(&AboutForm);
    QObject::connect(&watcher, &TSignalWatcher::Signalled, &MainForm, &TMainForm::close);
    MainForm.show();
    return app.exec();
}
