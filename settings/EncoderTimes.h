#pragma once

#include <gst/gst.h>

#include <memory>

// Gives the output of a video encoder that stamps its buffers with no time (libav's MPEG-4
// Part 2, MPEG-1 and MPEG-2 video encoders in this distribution's build stamp every buffer
// 2^63 ns) the times of its input frames, in order. Which encoders need it is seen at their
// first output: an encoder whose first buffer carries a valid time is left alone.
//
// The restored times are exact while the encoder puts out one buffer per frame in input order
// (no B-frames); with B-frames each buffer gets the next input time, which is its decoding
// time, which is what AVI stores. Probes run on the streaming threads; the object is made and
// destroyed on one other thread while the element is not streaming.
// A stamp of the pad's stream as running time by the pad's current TIME segment; the stamp itself
// when the pad has no segment yet, none for a segment in another format.
GstClockTime PadRunningTime(GstPad* pad, GstClockTime stamp);

class CEncoderTimes {
public:
    explicit CEncoderTimes(GstElement* encoder);
    ~CEncoderTimes();
    CEncoderTimes(const CEncoderTimes&) = delete;
    CEncoderTimes& operator=(const CEncoderTimes&) = delete;

    // True once a buffer had its time restored (streaming threads may still be writing).
    bool Restored() const;

    struct State;

private:
    GstPad* m_sink = nullptr;
    GstPad* m_src = nullptr;
    gulong m_sinkProbe = 0;
    gulong m_srcProbe = 0;
    std::shared_ptr<State> m_state;
};
