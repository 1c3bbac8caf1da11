#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ConversionSettings.h"
#include "GstPtr.h"
#include "MediaGraph.h"
#include "ProjectItem.h"
#include "Result.h"
#include "StreamGuard.h"
#include "TempOutput.h"
#include "Timeline.h"

class CWrittenTime;
class CEncoderTimes;
// The editing services' types stay out of this header: their headers pull in GIO, whose field
// names collide with Qt's keyword macros in files that include both.
typedef struct _GESTimeline GESTimeline;
typedef struct _GESTrack GESTrack;
typedef struct _GESLayer GESLayer;

// Media kinds of the timeline groups.
enum class MediaKind { Video, Audio };

// Converts one clip: describes the wanted output as an editing timeline (one group per medium,
// each fixing the uncompressed format of its medium), lets the editing services build the
// decoding front end into the engine's pipeline, completes the pipeline into a writer for the
// output format and runs it, reporting progress through the notification target.
//
// A new engine is made for every clip. Everything here runs on the user-interface thread; the
// pipeline streams on GStreamer's threads, which only touch the written-time counters.
class CConversionEngine : public CMediaGraph {
public:
    // The message base of the engine's notifications (the clip probe's is 101).
    static constexpr int kMessageBase = 151;

    // Limit of a run: a run in which for kStallLimitMs nothing is written and no encoder takes
    // in a frame or samples fails. A run that keeps moving is never cut short, however slow its
    // encoder is.
    static constexpr int kStallLimitMs = 15000;
    // Bound on the pause that precedes running (the platform's wait is unbounded).
    static constexpr int kStartLimitMs = 20000;
    // How long a Stop that comes after everything was written waits for the writers to finish
    // the file before it stops the run unfinished.
    static constexpr int kFinishLimitMs = 15000;
    // Longest time for reading a finished file back before it is moved into place.
    static constexpr int kReadBackLimitMs = 10000;

    CConversionEngine();
    ~CConversionEngine() override;

    CConversionEngine(const CConversionEngine&) = delete;
    CConversionEngine& operator=(const CConversionEngine&) = delete;

    // --- Timeline composition ---------------------------------------------------------------
    // Makes the group of a medium with its first track; S_OK without effect when it exists.
    HRESULT AddGroup(MediaKind kind, std::int32_t secondTrack);
    // Gives each existing group its second track (inserted in front of the first).
    HRESULT AddSecondTracks();
    // Places a file (a local path) on a track of the group of that medium, from the medium's
    // cursor on, covering mediaStart..mediaStop of the file (100-ns units).
    HRESULT AddSource(MediaKind kind, const std::string& path, timeline::ReferenceTime mediaStart,
                      timeline::ReferenceTime mediaStop, std::int32_t streamNumber);
    // Sets the audio group's output format (PCM) from sampleRate, bitsPerSample and mono.
    HRESULT SetAudioParams(const AudioParams& audio);
    // Sets the video group's output format: RGB24 at width × height and the given rate.
    HRESULT SetVideoParams(std::int32_t width, std::int32_t height, double framesPerSecond);
    // Puts the timeline into the engine's pipeline and builds one output pad per group.
    HRESULT BuildRenderEngine(std::int32_t smart);
    // Tears the front end down together with the pipeline and the timeline.
    HRESULT ScrapRenderEngine();
    // The timeline's length in 100-ns units; E_FAIL when there is no timeline.
    HRESULT GetTimelineDuration(timeline::ReferenceTime* duration);

    // --- Output graph building -----------------------------------------------------------------
    // Connects the group pads to the preview and hold stages and hands back the pads that the
    // writer step must take (each may be empty).
    HRESULT Prepare(bool preview, GstPadPtr* videoPin, GstPadPtr* audioPin, bool hold);
    // AVI multiplexer and file writer on the destination; encoders may be none (uncompressed).
    HRESULT WriteAvi(const std::string& destination, GstElementPtr* multiplexer,
                     GstElement* videoEncoder, GstElement* audioEncoder, GstPad* videoPin,
                     GstPad* audioPin);
    // Gives an encoder whose thread count is at its one-core default the machine's cores (VP8:
    // all but one).
    void UseAllCores(GstElement* encoder);
    // A size-bounded queue in the pipeline linked to a new input of the AVI multiplexer
    // requested from padTemplate; none (error text set) on failure.
    GstElement* MuxInput(GstElement* mux, const char* padTemplate);
    // The MPEG writer element ("Video Input", "Audio Input", `location`).
    HRESULT WriteMpeg(const std::string& destination, GstElement* mpegEncoder, GstPad* videoPin,
                      GstPad* audioPin);
    // The WAV writer element, with an audio encoder in front when one is given.
    HRESULT WriteWav(const std::string& destination, GstElement* audioEncoder,
                     GstElement* wavWriter, GstPad* audioPin);
    // Maximum quality on a video encoder that has a `quality` property.
    HRESULT SetEncoderQuality(GstElement* encoder);
    // The chosen output format of an audio encoder: its properties, and its caps as the format
    // of the encoder's output. A none format leaves the encoder at its first capability.
    HRESULT SetEncoderFormat(GstElement* encoder, const WaveFormat* format);

    // --- Render run ----------------------------------------------------------------------------
    // Builds the output graph for the format, runs it to the end (or until Stop) and returns
    // S_OK (written to the end), E_ABORT (stopped) or a failure. The file is written under a
    // temporary name beside the destination and renamed only when the run completed; otherwise
    // the temporary file is removed and an existing destination is left untouched.
    // The encoders are not owned: they are removed from the pipeline after the run.
    HRESULT RunConversion(OutputFormat format, std::int32_t preview, const std::string& destination,
                          const ElementRef& videoEncoder, const ElementRef& audioEncoder,
                          const ElementRef& mpegEncoder,
                          const std::optional<WaveFormat>& audioFormat);
    // Watches the running pipeline until it completes, fails or stops.
    HRESULT WriteCycle(GstElement* sink);
    // Stops the pipeline (notification 4). Safe to call from a notification handler at any
    // moment of a run, including while it is being built or started; the run then ends with
    // E_ABORT. Once the whole clip has been written the writers are let finish the file first,
    // and the run completes (S_OK) when they do within kFinishLimitMs.
    HRESULT Stop();
    HRESULT StopWhenReady();
    // Seeks to a time in 100-ns units (notification 6).
    HRESULT SetPosition(timeline::ReferenceTime position);
    // Takes the pipeline's pending messages; completion rewinds the stopped pipeline.
    HRESULT HandleGraphEvents();

    // --- Preview -------------------------------------------------------------------------------
    // Attaches the preview pane (none: keep the previous one); notifications then go to the
    // pane's parent window. E_FAIL when the pane's rectangle cannot be read.
    HRESULT SetVideoWindow(IPreviewPane* owner);
    // Starts delivering the preview branch's frames to the pane (kPreviewSetup first). E_FAIL
    // when already shown or without pipeline; E_NOINTERFACE when the pipeline has no preview.
    HRESULT ShowVideoWindow();
    // Passes a message of the preview pane on; E_FAIL when no preview is shown. The pane paints
    // the frames itself, so there is nothing for the pipeline to act on.
    HRESULT ForwardOwnerMessage(int message, std::intptr_t wParam, std::intptr_t lParam);

    // The source's tags, which WAV and MP3 outputs carry (none: the outputs carry none).
    void SetSourceTags(ClipTagsRef tags) { m_sourceTags = std::move(tags); }

    // --- Facts for callers and tests -----------------------------------------------------------
    bool HasGroup(MediaKind kind) const;
    // Number of tracks of a group (0, 1 or 2).
    int TrackCount(MediaKind kind) const;
    // The media kinds of the groups, in group order.
    std::vector<MediaKind> GroupOrder() const { return m_groupOrder; }
    std::optional<timeline::VideoFormat> VideoGroupFormat() const { return m_videoFormat; }
    std::optional<timeline::AudioFormat> AudioGroupFormat() const { return m_audioFormat; }
    // The temporary file of the current run (empty outside a run).
    const std::string& TemporaryPath() const { return m_output.TempPath(); }

private:
    // The render engine's part: per group, the timeline's output pad followed by converters and
    // a caps filter that fix the group's exact format (video: size and pixel format; audio:
    // rate and sample format). The caps filter's source pad is the group's output pin.
    struct FrontEnd {
        struct Group {
            MediaKind kind;
            std::vector<GstElementPtr> converters;  // in stream order
            GstElementPtr capsFilter;
            GstPadPtr outputPin;
            // The first element, which the timeline's pad feeds.
            GstElement* Input() const { return converters.front().get(); }
        };
        std::vector<Group> groups;
    };
    using LayerPtr = std::unique_ptr<GESLayer, GObjectUnref>;
    using TrackPtr = std::unique_ptr<GESTrack, GstObjectUnref>;
    using TimelinePtr = std::unique_ptr<GESTimeline, GstObjectUnref>;

    GESLayer* NewTrack(HRESULT* hr);
    // Adds an element to the pipeline; false (with the error text set) when it is none. The
    // pipeline sinks a floating element and otherwise takes a reference of its own: the
    // caller's reference stays the caller's.
    bool AddToGraph(GstElement* element);
    // Links src to sink through a queue and a converter of the medium (passthrough when the
    // formats agree), the way the platform inserts converters between filters.
    HRESULT Connect(GstPad* src, GstPad* sink, MediaKind kind, GstCaps* filter = nullptr);
    // The borrowed audio encoder between audioPin and consumer, followed by the "Audio Format"
    // caps filter that SetEncoderFormat fills; consumerName names the consumer in the refusal.
    HRESULT ConnectAudioEncoder(GstPad* audioPin, GstElement* audioEncoder, GstElement* consumer,
                                const std::string& consumerName);
    // Adds an element that the engine does not own; it is removed again after the run.
    HRESULT AddBorrowed(GstElement* element, const char* name);
    void RemoveBorrowed();
    HRESULT StartPipeline(OutputFormat format);
    // The planar YUV format (I420, else Y42B) that the element's pad template of that name
    // takes; nullptr when it takes neither.
    static const char* PlanarYuvTaken(GstElement* element, const char* padName);
    // Makes the video group's output pad deliver the given raw format (same size and rate), in
    // the pixel aspects that the consumer's input names when it takes exactly the group's frame
    // size (a disc writer signals 4:3 and 16:9 pictures by their pixel aspect); otherwise the
    // pixels stay square.
    void UseVideoOutputFormat(const char* rawFormat, GstPad* consumer);
    // Starts following the written time at the sink's inputs.
    void WatchSink(GstElement* sink);
    HRESULT QueryWrittenTime(GstElement* sink, timeline::ReferenceTime* position);
    static GstFlowReturn OnPreviewSample(GstElement* appsink, gpointer engine);
    void EndStalledStreams();
    // Stops the pipeline at once.
    HRESULT StopNow();
    // Closes m_outputFd (when open); false when the close reported a write error.
    bool CloseOutputFile();

    // Fields of the timeline composition.
    std::unique_ptr<FrontEnd> m_renderEngine;
    TrackPtr m_videoGroup;
    TrackPtr m_audioGroup;
    LayerPtr m_videoTrack;
    LayerPtr m_audioTrack;
    LayerPtr m_videoTrack2;
    LayerPtr m_audioTrack2;
    timeline::ReferenceTime m_audioCursor = 0;
    std::int32_t m_useFirstTrack = 1;
    timeline::ReferenceTime m_videoCursor = 0;
    GstElementPtr m_sink;
    TimelinePtr m_timeline;

    std::vector<MediaKind> m_groupOrder;
    std::optional<timeline::VideoFormat> m_videoFormat;
    // The picture shape of the video source as it is shown (width × pixel aspect : height,
    // turned by its orientation tag), when the editing services' discoverer knew it.
    std::optional<double> m_sourceShape;
    std::optional<timeline::AudioFormat> m_audioFormat;

    // Output graph and run state.
    GstElementPtr m_previewSink;         // appsink of the preview branch (the renderer)
    GstElementPtr m_audioFormatFilter;   // caps filter after the audio encoder
    std::vector<ElementRef> m_borrowed;  // encoders and writers added for this run
    std::vector<std::pair<GstElementPtr, GstPadPtr>> m_requestedPads;  // on borrowed elements
    std::unique_ptr<CWrittenTime> m_written;   // written time at the sink's inputs
    std::unique_ptr<CWrittenTime> m_produced;  // output of the front end
    std::unique_ptr<CWrittenTime> m_taken;     // what the encoders take in
    std::unique_ptr<CEncoderTimes>
        m_encoderTimes;  // the video encoder's output times, where it gives none
    std::shared_ptr<CStreamGuard> m_streamGuard;  // ends streams at damaged time stamps
    CTempOutput m_output;                         // the run's one temporary file
    int m_outputFd = -1;  // the temporary file, when the engine's own file writer writes it
    bool m_sinkReportsPosition = false;  // the sink answers a TIME position query
    // Set by Stop: a stop that comes while the pipeline is still being built or started (from a
    // notification handler) must not be undone by the start that follows it.
    bool m_stopRequested = false;
    bool m_writtenToEnd = false;        // the write cycle saw the whole clip written
    std::int64_t m_finishDeadline = 0;  // ms into the write cycle; 0 while no stop waits
    ClipTagsRef m_sourceTags;
};
