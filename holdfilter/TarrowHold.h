#pragma once

#include <gst/gst.h>

// The GObject side of the hold element (factory "tarrowhold"). Applications use it through
// the registry only; this header serves the plugin and its tests.
G_BEGIN_DECLS

#define TARROW_TYPE_HOLD (tarrow_hold_get_type())
G_DECLARE_FINAL_TYPE(TarrowHold, tarrow_hold, TARROW, HOLD, GstElement)

gboolean tarrow_hold_register(GstPlugin* plugin);

G_END_DECLS
