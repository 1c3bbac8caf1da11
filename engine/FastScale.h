#pragma once

#include <gst/gst.h>

// The framework's frame scaler ("videoscale") with the scaling itself done by libswscale wherever
// frames only change size: progressive 8-bit planar YUV in and out in the same format, with the
// colour values kept (matrix mode "none"). Sizes, pixel aspects, borders and every other kind of
// frame are handled by the framework's scaler as before.
//
// The editing services scale each source's frames to the group's size inside their own source
// bins, so the scaler is replaced where they make it: by name, in this process's registry. The
// framework's generic scaler took about a quarter of an HD-to-DVD conversion's time; libswscale's
// bilinear filter does the same work in about half of that, with a filter that widens with the
// scale factor (the framework's bilinear keeps two taps, which aliases fine detail when frames
// shrink by half or more).
//
// Where nothing after a scaler says what its frames may be written into, their rows are padded
// to 64-byte multiples as libav lays out its own pictures, so that the MPEG encoders take them
// without a copy.
//
// Once per process, before the first scaler is made; false when the framework has no scaler of
// the kind expected (nothing is replaced then). Any thread.
bool InstallFastScaler();

// Whether scaler, one of these, takes its current frames through libswscale (for tests).
bool ScalesWithLibswscale(GstElement* scaler);
