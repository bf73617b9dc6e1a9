#pragma once
// Include from exactly one file of each program that runs GStreamer under a
// sanitizer (the one holding main): it defines the checkers' hooks.
//
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

// GLib, GStreamer and Qt are not built for the thread checker: it cannot see
// their atomics and slice allocator hand buffers and messages from thread to
// thread, and reports every such hand-off as a race. Reports with one of
// their frames are left out; races between our own frames still show.
// The same goes for what such libraries copy and free through the C
// library (the WebRTC stack: libnice, OpenSSL, libsrtp, NSS): left out too,
// or the handshake waits on every report and never completes in time.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
extern "C" const char* __tsan_default_suppressions() {
    return "race:libglib-2.0.so\n"
           "race:libgobject-2.0.so\n"
           "race:libgstreamer-1.0.so\n"
           "race:libgstbase-1.0.so\n"
           "race:libgstvideo-1.0.so\n"
           "race:libgstaudio-1.0.so\n"
           "race:libgstapp-1.0.so\n"
           "race:libgstpbutils-1.0.so\n"
           "race:/gstreamer-1.0/\n"
           "race:liborc-0.4.so\n"
           "race:libffi.so\n" // GLib's signal calls
           "race:libQt6Core.so\n"
           "race:libQt6Gui.so\n"
           "race:libQt6Widgets.so\n"
           "race:libpulse\n"
           "race:libasound.so\n"
           "race:libav\n"
           "race:libsw\n"
           "race:libshout\n";
}
