#pragma once

#include <glib.h>
#include <gst/gst.h>

#include <memory>

// Owning handles for GLib and GStreamer objects: each releases exactly the reference it holds.
struct GstObjectUnref {
    void operator()(gpointer p) const {
        if (p) gst_object_unref(p);
    }
};
struct GObjectUnref {
    void operator()(gpointer p) const {
        if (p) g_object_unref(p);
    }
};
struct GstCapsUnref {
    void operator()(GstCaps* p) const {
        if (p) gst_caps_unref(p);
    }
};
struct GstMessageUnref {
    void operator()(GstMessage* p) const {
        if (p) gst_message_unref(p);
    }
};
struct GstQueryUnref {
    void operator()(GstQuery* p) const {
        if (p) gst_query_unref(p);
    }
};
struct GErrorFree {
    void operator()(GError* p) const {
        if (p) g_error_free(p);
    }
};
struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};

using GstElementPtr = std::unique_ptr<GstElement, GstObjectUnref>;
using GstPadPtr = std::unique_ptr<GstPad, GstObjectUnref>;
using GstBusPtr = std::unique_ptr<GstBus, GstObjectUnref>;
using GstCapsPtr = std::unique_ptr<GstCaps, GstCapsUnref>;
using GstMessagePtr = std::unique_ptr<GstMessage, GstMessageUnref>;
using GstQueryPtr = std::unique_ptr<GstQuery, GstQueryUnref>;
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;
using GCharPtr = std::unique_ptr<gchar, GFree>;
