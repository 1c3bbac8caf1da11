#pragma once

#include <gst/gst.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "GstPtr.h"
#include "TarrowRange.h"
#include "VireoProperties.h"

class CTarrowFilter;

// The part of a stream that a seek to the range keeps, in stream time (ns); GST_CLOCK_TIME_NONE
// where that side is open.
struct TarrowTimeRange {
    GstClockTime start = GST_CLOCK_TIME_NONE;
    GstClockTime stop = GST_CLOCK_TIME_NONE;
};

using GstObjectPtr = std::unique_ptr<GstObject, GstObjectUnref>;

// Sink pad "Input<i>" of pair i. Streaming-thread operations run on the upstream element's
// thread; CompleteConnect runs on the thread that links.
class CTarrowInputPin {
public:
    CTarrowInputPin(CTarrowFilter* filter, int pairIndex, GstPad* pad)
        : m_filter(filter), m_pairIndex(pairIndex), m_pad(pad) {}

    GstPad* Pad() const { return m_pad; }
    int PairIndex() const { return m_pairIndex; }

    GstPadLinkReturn CompleteConnect();
    GstFlowReturn Receive(GstBuffer* buffer);  // streaming thread; takes the buffer
    gboolean OnEvent(GstEvent* event);         // takes the event
    gboolean OnQuery(GstQuery* query);
    gboolean OnActivateMode(GstPadMode mode, gboolean active);

    // Seek bookkeeping, guarded by the filter's seek lock.
    struct SeekState {
        // A seek to the range is due before the next buffer (set on link, and when the range
        // changes while the pad cannot seek yet).
        bool pending = false;
        // Buffers are dropped until the flush and the new segment of this seek arrive: what
        // comes before them belongs to the old position. GST_SEQNUM_INVALID: not waiting.
        guint32 awaitedSeqnum = GST_SEQNUM_INVALID;
        bool flushed = false;   // the awaited seek's flush-stop has passed
        TarrowTimeRange range;  // of the awaited seek
        // From the seek's segment to the next flush: buffers stamped outside are dropped.
        TarrowTimeRange clip;
        // Joined a source positioned already: the next segment is bounded by clip.
        bool joined = false;
    };
    SeekState m_seek;

private:
    CTarrowFilter* m_filter;
    int m_pairIndex;
    GstPad* m_pad;  // owned by the element
};

// Source pad "Output<i>" of pair i: links only after its input, and only with its caps.
class CTarrowOutputPin {
public:
    CTarrowOutputPin(CTarrowFilter* filter, int pairIndex, GstPad* pad)
        : m_filter(filter), m_pairIndex(pairIndex), m_pad(pad) {}

    GstPad* Pad() const { return m_pad; }
    int PairIndex() const { return m_pairIndex; }

    // S_OK when caps are the paired input's caps (its negotiated caps, or before negotiation
    // a subset of what its upstream offers); VFW_E_TYPE_NOT_ACCEPTED otherwise.
    HRESULT CheckMediaType(GstCaps* caps);
    // The caps the paired input's upstream offers (its negotiated caps once it has them),
    // intersected with filter; VFW_E_NOT_CONNECTED with empty caps while the input is unlinked.
    HRESULT EnumMediaTypes(GstCaps* filter, GstCaps** caps);
    GstPadLinkReturn CompleteConnect();
    gboolean OnQuery(GstQuery* query);

private:
    CTarrowFilter* m_filter;
    int m_pairIndex;
    GstPad* m_pad;  // owned by the element
};

// The hold element's logic. Passes buffers, events and queries through unchanged in pad
// pairs; holds buffers while the element is not PLAYING; positions the upstream of every input
// to the configured range. Owned by the GObject instance (TarrowHold), which forwards to it.
class CTarrowFilter final : public IVireoPropertiesSink {
public:
    explicit CTarrowFilter(GstElement* element);
    ~CTarrowFilter();
    CTarrowFilter(const CTarrowFilter&) = delete;
    CTarrowFilter& operator=(const CTarrowFilter&) = delete;

    // The construction result: E_OUTOFMEMORY when the store or pair 0 could not be made.
    HRESULT ConstructResult() const { return m_constructResult; }
    GstElement* Element() const { return m_element; }

    // Borrowed; valid while the element lives. Clients serialise their calls with the
    // element's property changes and state changes (the store has no lock).
    IVireoProperties* Properties() const { return m_properties.get(); }

    int GetPinCount();
    HRESULT AddPinPair();
    // Returns the pair number of the first unlinked input, adding a pair when all are linked.
    HRESULT EnsureFreePair();
    // Range in reference time (100 ns) as configured in the store, else the element's own.
    std::int64_t ConfiguredStartPoint();
    std::int64_t ConfiguredDuration();
    // Writes one key through the store and notifies (OnPropertiesChanged).
    void SetConfigured(const char* key, std::int64_t value);

    // The 40-byte persisted form of the element's range, and loading it (fields and store
    // keys replaced, change flag raised; the sources are positioned later, as for any change).
    tarrow::PersistedRange Save();
    HRESULT Load(const std::uint8_t* data, std::size_t size);

    // Called by the element around its parent's state change.
    void BeforeStateChange(GstStateChange transition);
    GstStateChangeReturn AfterStateChange(GstStateChange transition, GstStateChangeReturn ret);

    // Element-level queries and seeks travel upstream through "Input0" only.
    gboolean ElementQuery(GstQuery* query);
    gboolean ElementSeek(GstEvent* event);

    HRESULT OnPropertiesChanged() override;

    // The gate shared by all pairs (the streaming threads wait on it while not PLAYING).
    void OpenGate();
    void CloseGate();
    void WakeGate();
    // Blocks until the gate opens or pad stops streaming; false when it stopped.
    bool WaitForGate(GstPad* pad);

    // Seek bookkeeping of an input (see CTarrowInputPin::SeekState).
    bool TakeSeekPending(CTarrowInputPin* pin);
    void MarkSeekPending(CTarrowInputPin* pin);
    // Whether buffer lies outside the range on pin's stream (it is then dropped).
    bool IsOutsideRange(CTarrowInputPin* pin, GstBuffer* buffer);
    void OnFlushStop(CTarrowInputPin* pin, guint32 seqnum);
    // Takes the segment event and returns the one to pass on.
    GstEvent* OnSegment(CTarrowInputPin* pin, GstEvent* event);
    // Positions pin's source to [startPoint, startPoint + duration] (duration 0 or beyond the
    // end: up to the source's duration) with one flushing seek for every input that source
    // feeds, unless it is positioned to the range already. From a streaming thread the seek is
    // sent from the element's pool; otherwise on the calling thread. S_OK when there is nothing
    // to do; E_NOINTERFACE when the upstream cannot seek (yet), E_FAIL when it knows no
    // duration or refuses.
    HRESULT PositionSource(CTarrowInputPin* pin, bool fromStreamingThread);
    // The pool thread's report that the seek with this number returned.
    void FinishSeek(guint32 seqnum, bool accepted);

    CTarrowInputPin* Input(int pairIndex);
    CTarrowOutputPin* Output(int pairIndex);

private:
    struct ReleaseStore {
        void operator()(VireoProperties* store) const { store->Release(); }
    };
    // A source positioned to the current range by one seek; inFlight while that seek's call
    // has not returned.
    struct PositionedSource {
        GstObjectPtr root;
        guint32 seqnum;
        TarrowTimeRange range;
        bool inFlight;
    };

    bool IsRunning();
    bool HasRange();
    void RefreshRange();  // with m_lock held
    // Builds the seek to the range for pin's upstream (null when there is nothing to do; hr
    // receives the reason) and the part of the stream it keeps.
    GstEvent* PrepareSeek(CTarrowInputPin* pin, TarrowTimeRange* range, HRESULT* hr);
    // Sends a prepared seek from a thread of the framework's pool, never the streaming thread.
    void ScheduleSeek(CTarrowInputPin* pin, GstEvent* seek);
    const PositionedSource* FindPositioned(GstObject* root) const;  // with m_seekLock held
    std::vector<CTarrowInputPin*> LinkedInputs();

    GstElement* m_element;  // the owning instance; not counted
    HRESULT m_constructResult = S_OK;
    std::unique_ptr<VireoProperties, ReleaseStore> m_properties;

    // The filter lock: pairs, range and the element's own store accesses. Never held while
    // calling into other elements or while taking another lock of the element.
    std::mutex m_lock;
    std::vector<std::unique_ptr<CTarrowInputPin>> m_inputs;
    std::vector<std::unique_ptr<CTarrowOutputPin>> m_outputs;
    std::int64_t m_startPoint = 0;  // reference time
    std::int64_t m_duration = 0;    // reference time; 0 = up to the end

    // Every input's SeekState and the sources positioned to the current range. Held only for
    // bookkeeping, never while calling into other elements.
    std::mutex m_seekLock;
    std::vector<PositionedSource> m_positioned;

    std::mutex m_gateLock;
    std::condition_variable m_gateCond;
    bool m_gateOpen = false;
};
