#pragma once

#include <gst/gst.h>

#include <atomic>
#include <memory>

// Bounds the work a damaged time stamp can cause in a conversion. A decoded stream whose time
// stamps jump far ahead (a damaged index or header, a flipped bit in a time stamp) would otherwise
// make the front end repeat the last frame, or fill silence, over the whole jump: hours of output,
// made as fast as the encoders go, from a few seconds of file.
//
//  - Every decoded stream of the pipeline's decoding bins is watched. A buffer that starts more
//    than kMaxGap after the end of the stream's previous buffer ends that stream there: the
//    decoder's later data is refused, and the group of the stream's kind (video or audio) ends at
//    the time the stream reached. Nothing before the jump is lost; what comes after it has no
//    believable place in the clip.
//  - Every frame-rate stage of the pipeline (the editing services' own and ours) duplicates a
//    frame over at most kMaxGap.
//
// Install() on a pipeline before its elements are created or added; it follows elements added
// later at any depth. Pad probes run on streaming threads; each watched pad has its own state,
// touched only by that pad's streaming thread, and the cut times are atomics.
class CStreamGuard : public std::enable_shared_from_this<CStreamGuard> {
public:
    // The longest gap in a stream's time stamps taken as a real pause: longer than any still
    // picture or silence that cameras, screen recorders or broadcasts leave between two frames,
    // far shorter than the hours a damaged time stamp claims.
    static constexpr GstClockTime kMaxGap = 30 * GST_SECOND;

    enum Kind { kVideo = 0, kAudio = 1 };

    static std::shared_ptr<CStreamGuard> Install(GstElement* pipeline);

    // Ends the group output at pad (a group of the given kind) once it reaches the time at which
    // a decoded stream of that kind was cut.
    void WatchGroupOutput(GstPad* pad, Kind kind);

    // Running time (ns) at which a decoded stream of the kind was cut; GST_CLOCK_TIME_NONE when
    // none was.
    GstClockTime CutTime(Kind kind) const { return m_cut[kind].load(); }

    // Sets the frame-duplication bound on a frame-rate element (a "videorate").
    static void BoundDuplication(GstElement* videorate);

    // Streaming threads: records that a stream of the kind was cut at the running time.
    void Cut(Kind kind, GstClockTime at);

private:
    std::atomic<guint64> m_cut[2] = {GST_CLOCK_TIME_NONE, GST_CLOCK_TIME_NONE};
};
