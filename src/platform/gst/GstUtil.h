#pragma once
// Owning handles for GStreamer objects, and the one-time library start.
#include <gst/gst.h>

#include <memory>
#include <string>

struct TGstObjectUnref {
    void operator()(gpointer p) const {
        if (p) gst_object_unref(p);
    }
};
template <typename T> using TGstRef = std::unique_ptr<T, TGstObjectUnref>;

struct TGstCapsUnref {
    void operator()(GstCaps* c) const {
        if (c) gst_caps_unref(c);
    }
};
using TGstCapsRef = std::unique_ptr<GstCaps, TGstCapsUnref>;

struct TGstMessageUnref {
    void operator()(GstMessage* m) const {
        if (m) gst_message_unref(m);
    }
};
using TGstMessageRef = std::unique_ptr<GstMessage, TGstMessageUnref>;

// Initialises GStreamer once per process (safe from any thread).
void EnsureGstInitialised();

// Creates an element of a factory; raises nothing, returns null when the
// plugin is missing.
GstElement* MakeGstElement(const char* factory, const char* name = nullptr);

// g_free'd text as std::string.
std::string TakeGstString(gchar* s);
