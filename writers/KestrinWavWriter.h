#pragma once

#include <gst/base/gstbasesink.h>

G_BEGIN_DECLS

// "WAV Writer Filter": writes PCM, A-law and mu-law audio as RIFF WAVE and MPEG Layer-3 audio
// as a plain MP3 stream.
#define KESTRIN_TYPE_WAV_WRITER (kestrin_wav_writer_get_type())
G_DECLARE_FINAL_TYPE(KestrinWavWriter, kestrin_wav_writer, KESTRIN, WAV_WRITER, GstBaseSink)

GST_ELEMENT_REGISTER_DECLARE(kestrinwavwriter);

G_END_DECLS
