#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "GstPtr.h"
#include "NotifyTarget.h"
#include "PreviewPane.h"
#include "Result.h"

class CProjectItem;

// Base of every object that owns one media pipeline: the clip probe (message base 101) and the
// conversion engine (151). It owns the pipeline and the handles taken from it, the preview
// attachment and the notification target, and tears them down in a fixed order when destroyed.
//
// Threads: every member function runs on the user-interface thread. The pipeline streams on
// GStreamer's threads; the only callbacks from there are the ones a derived class installs.
//
// The handles mirror the classic graph interfaces: m_control (state changes), m_seeking
// (position and duration queries, seek events) and m_graph are references to the same
// GstPipeline; m_events is its bus.
class CMediaGraph {
public:
    // Notifications k sent to the notification target as (m_messageBase, k, wParam, lParam).
    enum Notification : int {
        kGraphEvents = 0,
        kPreviewSetup = 1,
        kGraphRunning = 2,
        kGraphStopped = 4,
        kPreviewClosed = 5,
        kPositionSet = 6,
        kProgress = 7,
        kGraphReleased = 8,
        kRunFinished = 9,
    };

    // Starts the media framework when needed and creates the pipeline with its handles. A
    // failed step leaves the later handles empty; the operations then fail on them.
    CMediaGraph();
    virtual ~CMediaGraph();

    CMediaGraph(const CMediaGraph&) = delete;
    CMediaGraph& operator=(const CMediaGraph&) = delete;

    // Builds a decoding pipeline for the clip's file (decoded streams into fake sinks, brought
    // to PAUSED within kOpenTimeoutMs) and stores video size, audio presence and duration in
    // the clip. The duration is checked against the file's packets (ClipLength); their length
    // becomes the clip's content length, where the conversion ends. A failure to open leaves its
    // text in RenderErrorText() and FailureText(): the framework's message, " File: " and the
    // clip's name. E_FAIL for an empty path.
    HRESULT OpenClip(CProjectItem& clip);

    // Video size of the decoded video stream into m_width/m_height (asked once).
    HRESULT QueryVideoSize();
    // Sets m_hasAudio when the pipeline decodes an audio stream.
    HRESULT QueryAudio();

    // Detaches the preview: stops event notifications, disconnects and releases the preview
    // sink, tells the pane and sends kPreviewClosed. E_FAIL when nothing was loaded.
    HRESULT CloseVideoWindow();

    // The "Rendering Error" text of the last failed OpenClip; empty after success.
    const std::string& RenderErrorText() const { return m_renderError; }
    // Why the last failed operation failed: the framework's message or the program's sentence.
    // Set by the operation that fails; cleared when an open or a run starts.
    const std::string& FailureText() const { return m_failureText; }

    std::int32_t MessageBase() const { return m_messageBase; }
    bool IsLoaded() const { return m_loaded != 0; }
    bool IsVideoWindowActive() const { return m_videoWindowActive != 0; }
    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }
    bool HasAudio() const { return m_hasAudio != 0; }
    GstElement* Pipeline() const { return m_graph.get(); }

    // Where notifications go (the main window); null for none. Not owned.
    void SetNotifyTarget(INotifyTarget* target) { m_notifyWindow = target; }

    // Longest wait for a file to open (reach PAUSED), in milliseconds.
    static constexpr int kOpenTimeoutMs = 10000;

    // Longest extra wait for a stream that announces its duration only after preroll, in ms.
    static constexpr int kDurationWaitMs = 2000;

    // Longest time for reading through a file's packets to find its real length (ScanContent).
    static constexpr int kContentScanMs = 3000;

    // The clip's length from the length its file states (or the framework estimates; 0 for
    // none) and the length of what it really holds (0 when unknown), both in 100-ns units. The
    // content wins where it is longer, where the two differ only by an estimate's error, and
    // where the stated length is far beyond anything the file holds (a damaged header); a file
    // cut short keeps its stated length, so that its shorter output is reported.
    static std::int64_t ClipLength(std::int64_t stated, std::int64_t content);

    // Brings a pipeline to NULL, waits (bounded by timeoutMs) for the change to finish and drops
    // the reference. Safe on an empty handle. Joins every streaming thread of the pipeline.
    static void ReleasePipeline(GstElementPtr& pipeline, int timeoutMs = 5000);

    // Waits for the pipeline's pending asynchronous state change to end: S_OK when it reached
    // its target, the error posted on bus (its text in errorText) or E_ABORT
    // when timeoutMs passed. Messages other than ASYNC_DONE and ERROR are dropped.
    static HRESULT WaitForStateChange(GstElement* pipeline, GstBus* bus, int timeoutMs,
                                      std::string* errorText);

    // The result code for an error posted by the framework.
    static HRESULT ResultForError(const GError* error);

    // The text a user reads for an error message of the framework: what it means for the file
    // ("The file is damaged at 0:12: ", "The video stream cannot be decoded: ", a missing decoder
    // named by its coding), then the framework's own text. reached is how far the conversion had
    // got (running time, ns), GST_CLOCK_TIME_NONE when unknown (opening a file).
    static std::string ReasonForError(GstMessage* message, GstClockTime reached);

protected:
    void SetFailureText(std::string text) { m_failureText = std::move(text); }

    // Sends notification k to the target, when there is one.
    void Notify(int k, std::intptr_t wParam = 0, std::intptr_t lParam = 0);

    // Releases the handles and the pipeline (destructor steps 4 and 5); idempotent.
    void ReleaseGraph();

    std::int32_t m_messageBase = 0;
    GstElementPtr m_graph;        // the GstPipeline
    GstElementPtr m_seeking;      // the pipeline, for position/duration queries and seeks
    GstElementPtr m_videoWindow;  // the preview sink (appsink), held only while shown
    GstElementPtr m_fileSource;   // the file source, held only while the probe looks for it
    PreviewRect m_previewRect;    // the pane in the notification window's client coordinates
    IPreviewPane* m_ownerWindow = nullptr;  // not owned
    std::int32_t m_videoWindowActive = 0;
    std::int32_t m_loaded = 0;
    std::int32_t m_sizeKnown = 0;
    std::int32_t m_hasAudio = 0;
    std::int32_t m_height = 0;
    std::int32_t m_width = 0;
    std::int32_t m_volume = 0;
    INotifyTarget* m_notifyWindow = nullptr;  // not owned
    GstBusPtr m_events;                       // the pipeline's bus
    GstElementPtr m_control;                  // the pipeline, for state changes
    // Whether graph-event notifications (k = 0) are wanted; read by whatever delivers them.
    std::atomic<bool> m_eventNotify{false};
    std::string m_renderError;
    std::string m_failureText;             // see FailureText()
    int m_openTimeoutMs = kOpenTimeoutMs;  // longest wait of OpenClip for the file to open

private:
    struct HeldErrors;
    // How long an error that a decoding bin held back must stand before the open fails on it, ms.
    static constexpr int kHeldErrorGraceMs = 300;

    // The pipeline's duration in nanoseconds, -1 when it has none (bounded wait).
    // waitForEstimate: let a stream that announces its duration only while playing run for it.
    gint64 QueryDurationNs(bool waitForEstimate = true);
    HRESULT RenderFile(const std::string& path, std::string* errorText);

    // Errors held back by the decoding bins of an opened file (shared with their bus handlers).
    std::shared_ptr<HeldErrors> m_heldErrors;
};
