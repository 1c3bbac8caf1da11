#pragma once

#include <gst/base/gstbasesink.h>

G_BEGIN_DECLS

// "WAV Writer Filter" (factory kestrinwavwriter): a sink writing PCM (U8, S16LE, S24LE, S32LE,
// F32LE, F64LE), A-law and mu-law audio as RIFF WAVE, and MPEG-1 Layer-3 audio as a plain MP3
// stream, byte for byte as the encoder delivers it (a Xing/LAME header included; a byte segment
// lets an encoder or xingmux rewrite the first frame at the end).
//
// Property `location` (set in NULL or READY). The file is written under a hidden temporary name
// beside `location` and renamed onto it at EOS, after the RIFF sizes are completed; a failure
// (posted with the system's text), an empty stream or a stop before EOS removes the temporary
// file and leaves `location` untouched. A TIME position query answers the running time written.
#define KESTRIN_TYPE_WAV_WRITER (kestrin_wav_writer_get_type())
G_DECLARE_FINAL_TYPE(KestrinWavWriter, kestrin_wav_writer, KESTRIN, WAV_WRITER, GstBaseSink)

GST_ELEMENT_REGISTER_DECLARE(kestrinwavwriter);

G_END_DECLS
