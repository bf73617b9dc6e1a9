#pragma once
// Owning handles for GStreamer objects, and the one-time library start.
#include "platform/ErrorText.h"

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

// Creates an element of a factory; raises nothing. When the plugin is missing
// it returns null and records the text of E_MISSING_COMPONENT (the element
// and the Debian package that provides it); callers must check.
GstElement* MakeGstElement(const char* factory, const char* name = nullptr);
// As MakeGstElement, for constructors: throws EMediaResult(E_MISSING_COMPONENT)
// instead of returning null. The element is floating, as from MakeGstElement.
GstElement* RequireGstElement(const char* factory, const char* name = nullptr);
// "The GStreamer element "x" is missing: install the Debian package y."
std::string MissingElementText(const char* factory);

// g_free'd text as std::string.
std::string TakeGstString(gchar* s);
