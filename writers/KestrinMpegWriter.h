#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

// "MPEG Writer Filter": encodes raw I420 video ("Video Input") and interleaved S16LE PCM
// ("Audio Input") with libavcodec and writes an MPEG program stream for the chosen preset.
#define KESTRIN_TYPE_MPEG_WRITER (kestrin_mpeg_writer_get_type())
G_DECLARE_FINAL_TYPE(KestrinMpegWriter, kestrin_mpeg_writer, KESTRIN, MPEG_WRITER, GstElement)

GST_ELEMENT_REGISTER_DECLARE(kestrinempegwriter);

G_END_DECLS
