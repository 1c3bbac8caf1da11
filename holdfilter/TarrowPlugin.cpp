// Entry of the "tarrow" plugin: registers the hold element's factory with the registry that
// loads it. Installing the plugin file where GStreamer scans (see CMakeLists.txt) is its
// registration.

#include "TarrowHold.h"

#ifndef PACKAGE
#define PACKAGE "kestrine"
#endif

static gboolean plugin_init(GstPlugin* plugin) {
    return tarrow_hold_register(plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, tarrow,
                  "Hold element: holds streams while paused, positions sources to a range",
                  plugin_init, "1.0.0", "Proprietary", "Kestrine", "https://www.brontwell.com")
