#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

// "MPEG Writer Filter" (factory kestrinempegwriter): encodes with libavcodec and writes an MPEG
// program stream with libavformat; the MPEG encoder, multiplexer and file writer in one sink.
//
// Pads (always): "Video Input" takes raw I420 video (an upstream videoconvert supplies it);
// disc presets fix the frame size (an upstream videoscale supplies it) and prefer their frame
// rate; any other rate is adapted by dropping or repeating frames by timestamp. "Audio Input"
// takes interleaved S16LE PCM of any rate and 1-8 channels, resampled to the target.
// A pad that is not linked when the element goes to PAUSED, or that ends (EOS) without data,
// leaves a file with the other stream only.
//
// Properties (set in NULL or READY): `location`, the file to write; `preset`, an enumeration
// (KestrinMpegWriterPreset) whose values keep the codes 0-7:
//   0 MPEG-1 (input size, nearest legal MPEG rate, MP2), 1 VCD PAL, 2 MPEG-2 (as 0, MPEG-2
//   video in an MPEG-2 program stream), 3 SVCD PAL, 4 DVD PAL, 5 VCD NTSC, 6 SVCD NTSC,
//   7 DVD NTSC, with the disc targets' frame size and rate, GOP (15 PAL, 18 NTSC), bit rates,
//   VBV buffer, packet size and mux rate.
//
// The file is written under a hidden temporary name beside `location` and renamed onto it when
// every input has ended (EOS) and the trailer is written (in DVD files, AC-3 frames whose header
// the multiplexer split across two packs are then moved whole into the second: see
// DvdAudioPacking.h); then the element posts EOS as a sink does, so the pipeline's bus delivers
// EOS. A failure (posted with the system's text, e.g. "No space left on device") or a stop
// before the end removes the temporary file and leaves `location` untouched. The element can be
// reused for another run after READY.
//
// A TIME position query answers the running time written: the least position of the inputs
// still running, or the end once all have ended.
#define KESTRIN_TYPE_MPEG_WRITER (kestrin_mpeg_writer_get_type())
G_DECLARE_FINAL_TYPE(KestrinMpegWriter, kestrin_mpeg_writer, KESTRIN, MPEG_WRITER, GstElement)

#define KESTRIN_TYPE_MPEG_WRITER_PRESET (kestrin_mpeg_writer_preset_get_type())
GType kestrin_mpeg_writer_preset_get_type(void);

GST_ELEMENT_REGISTER_DECLARE(kestrinempegwriter);

G_END_DECLS
