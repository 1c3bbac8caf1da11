#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ProjectItem.h"

// The whole batch's progress as the user sees it: which clip of how many, the time left, and
// at the end a summary. The time left is the media still to convert at the speed measured so
// far in this batch (media converted per second of the batch), shown once that speed rests on
// enough of the batch to mean something. Times are milliseconds of a steady clock that the
// caller reads (the batch driver; tests give their own). User-interface thread.
class CBatchProgress {
public:
    enum class Outcome { Complete, Failed, Stopped };

    // The estimate is shown from kMeaningfulMs into the batch on, once something was converted.
    static constexpr std::int64_t kMeaningfulMs = 3000;

    // A new batch of clips with these lengths (100-ns units; 0 when unknown) starts at nowMs.
    void Start(std::vector<RefTime> lengths, std::int64_t nowMs);
    // Clip index (0-based) starts converting.
    void ClipStarted(int index);
    // The running clip's progress in hundredths of a percent (0..10000; more is taken as 10000).
    void ClipProgress(int hundredths);
    // The running clip ended this way.
    void ClipEnded(Outcome outcome);

    // Milliseconds left, nullopt while the estimate is not meaningful.
    std::optional<std::int64_t> RemainingMs(std::int64_t nowMs) const;
    // "Clip 3 of 10 · about 0:42 left", or "Clip 3 of 10" before the estimate means something;
    // empty outside a batch.
    std::string Line(std::int64_t nowMs) const;
    // "2 complete, 1 failed, 1 stopped · 0:01:12 elapsed"; clips that never started are
    // counted as ", 3 not started" after the stopped ones.
    std::string Summary(std::int64_t nowMs) const;

private:
    // Media converted so far (100-ns units): ended clips whole (a failed or stopped one as far
    // as it got), the running clip as far as it got.
    RefTime Converted() const;

    std::vector<RefTime> m_lengths;
    RefTime m_ended = 0;  // media of the clips that have ended
    std::int64_t m_startMs = 0;
    int m_current = -1;      // the running clip, -1 between clips
    int m_lastStarted = -1;  // the clip that started last
    int m_hundredths = 0;
    int m_complete = 0;
    int m_failed = 0;
    int m_stopped = 0;
};
