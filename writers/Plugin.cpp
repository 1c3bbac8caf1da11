// The project's writer elements, in one plugin that the application adds from its plugin folder.
#include <gst/gst.h>

#include "KestrinMpegWriter.h"
#include "KestrinWavWriter.h"

#define PACKAGE "kestrine"
#define GST_PACKAGE_NAME "Brontwell Kestrine"
#define GST_PACKAGE_ORIGIN "https://brontwell.example/kestrine"

static gboolean plugin_init(GstPlugin* plugin) {
    gboolean ok = GST_ELEMENT_REGISTER(kestrinempegwriter, plugin);
    ok = GST_ELEMENT_REGISTER(kestrinwavwriter, plugin) && ok;
    return ok;
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kestrinwriters,
                  "Kestrine's MPEG and WAV writers", plugin_init, "1.0.0", "LGPL", PACKAGE,
                  GST_PACKAGE_ORIGIN)
