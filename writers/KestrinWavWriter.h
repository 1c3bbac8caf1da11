#pragma once

#include <gst/base/gstbasesink.h>

G_BEGIN_DECLS

// "WAV Writer Filter" (factory kestrinwavwriter): a sink writing RIFF WAVE files of PCM (U8,
// S16LE, S24LE, S32LE), float (F32LE, F64LE), A-law, mu-law, IMA and Microsoft ADPCM, GSM 6.10
// (taken in either framing, stored in Microsoft's) and MPEG audio layer 1/2, each with its
// format header and, for all but plain PCM, a "fact" chunk with the sample count; and MPEG-1
// Layer-3 audio as a plain MP3 stream, byte for byte as the encoder delivers it (a Xing/LAME
// header included; a byte segment lets an encoder or xingmux rewrite the first frame at the end).
//
// Tags: those of the stream's tag events, merged with those set through the GstTagSetter
// interface (title, artist, album, track number, date, genre, comment), go into a LIST/INFO
// chunk in front of the wave data or an ID3v2.3 tag in front of the MP3 stream.
//
// Property `location` (set in NULL or READY). The file is written under a hidden temporary name
// beside `location` and renamed onto it at EOS, after the RIFF sizes are completed; a failure
// (posted with the system's text), an empty stream or a stop before EOS removes the temporary
// file and leaves `location` untouched. A TIME position query answers the running time written.
#define KESTRIN_TYPE_WAV_WRITER (kestrin_wav_writer_get_type())
G_DECLARE_FINAL_TYPE(KestrinWavWriter, kestrin_wav_writer, KESTRIN, WAV_WRITER, GstBaseSink)

GST_ELEMENT_REGISTER_DECLARE(kestrinwavwriter);

G_END_DECLS
