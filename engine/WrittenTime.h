#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "GstPtr.h"

// Follows how far the streams entering a set of pads have got, for progress and for noticing a
// stalled run. Pad probes run on the streaming threads and only store atomics; the readers run
// on the user-interface thread. Times are running times in nanoseconds.
class CWrittenTime {
public:
    CWrittenTime() = default;
    ~CWrittenTime();
    CWrittenTime(const CWrittenTime&) = delete;
    CWrittenTime& operator=(const CWrittenTime&) = delete;

    // Starts following the buffers and events that pass the pad.
    void Watch(GstPad* pad);
    // Stops following every pad (also done by the destructor).
    void Clear();

    bool Empty() const { return m_streams.empty(); }
    // Time reached by every stream: the least end time of the streams that have not ended
    // (the greatest end time once all have ended); GST_CLOCK_TIME_NONE before any data.
    GstClockTime Position() const;
    // True when every stream has ended or reached at least the given time.
    bool AllReached(GstClockTime time) const;
    bool AllEnded() const;
    // Number of buffers seen so far: changes whenever data passes.
    std::uint64_t Buffers() const;
    // The greatest buffer end (running time) seen, GST_CLOCK_TIME_NONE before any: an absurd
    // value means an element stamps its buffers wrongly.
    GstClockTime Latest() const;

private:
    struct Stream {
        GstPadPtr pad;
        gulong probe = 0;
        GstSegment segment;  // streaming thread only
        std::atomic<std::uint64_t> end{0};
        std::atomic<bool> started{false};
        std::atomic<bool> ended{false};
        std::atomic<std::uint64_t> buffers{0};
        std::atomic<std::uint64_t> latest{GST_CLOCK_TIME_NONE};
    };
    static GstPadProbeReturn OnProbe(GstPad* pad, GstPadProbeInfo* info, gpointer data);
    static void Account(Stream* stream, GstBuffer* buffer);

    std::vector<std::unique_ptr<Stream>> m_streams;
};
