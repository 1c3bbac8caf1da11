#pragma once

#include <gst/gst.h>

#include <functional>

// Runs fn for every object that the iterator yields (pads, elements) until fn returns false, and
// frees the iterator. A collection that changes underneath is walked again from its start, as
// the iterator asks, so fn may see an object twice. fn gets the object without a reference of
// its own: it is valid for the call only.
inline void ForEachObject(GstIterator* it, const std::function<bool(gpointer)>& fn) {
    if (!it) return;
    GValue item = G_VALUE_INIT;
    bool done = false;
    while (!done) {
        switch (gst_iterator_next(it, &item)) {
            case GST_ITERATOR_OK:
                if (!fn(g_value_get_object(&item))) done = true;
                g_value_reset(&item);
                break;
            case GST_ITERATOR_RESYNC:
                gst_iterator_resync(it);
                break;
            default:
                done = true;
                break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(it);
}
