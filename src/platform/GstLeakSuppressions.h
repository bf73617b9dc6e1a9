#pragma once
// Include from exactly one file of each program that runs GStreamer under the
// leak checker (the one holding main): it defines the checker's hook.
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
