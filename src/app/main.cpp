// Program entry: the main window and the hidden about box, then the event
// loop until the user exits.
#include "app/AboutForm.h"
#include "app/MainForm.h"
#include "app/SignalWatcher.h"
#include "net/NetProcessLimits.h"
#include "platform/gst/GstRegistration.h"
#include "platform/stream/WMWriterNetworkSink.h"

#include <QApplication>

int main(int argc, char** argv) {
    NetRaiseOpenFileLimit(); // a full connection limit must not starve capture
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
