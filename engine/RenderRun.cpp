// The render run: starting the pipeline, the write cycle with its progress notifications,
// Stop, and the preview frames.
#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "ContentLength.h"
#include "ConversionEngine.h"
#include "EncoderChatter.h"
#include "EncoderTimes.h"
#include "GstIteration.h"
#include "WrittenTime.h"

using timeline::ReferenceTime;

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t ElapsedMs(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// Takes the text of the first error message waiting on the bus into failure, if any.
void TakeBusError(GstBus* bus, std::string& failure) {
    if (!bus) return;
    GstMessagePtr message(gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR));
    if (message) failure = CMediaGraph::ReasonForError(message.get(), GST_CLOCK_TIME_NONE);
}

}  // namespace

HRESULT CConversionEngine::RunConversion(OutputFormat format, std::int32_t preview,
                                         const std::string& destination,
                                         const ElementRef& videoEncoder,
                                         const ElementRef& audioEncoder,
                                         const ElementRef& mpegEncoder,
                                         const std::optional<WaveFormat>& audioFormat) {
    m_failureText.clear();
    if (!m_graph || !m_events) return E_UNEXPECTED;
    if (m_loaded || m_output.Active()) return E_UNEXPECTED;  // one run per engine
    if (destination.empty()) return E_INVALIDARG;
    // The one temporary file of the run: every writer writes into it where it is, and only a
    // completed run moves it onto the destination.
    std::string createError;
    if (!m_output.Create(destination, &createError)) {
        SetFailureText("The output file cannot be created beside " + destination + ": " +
                       createError);
        return E_FAIL;
    }
    const std::string temporaryPath = m_output.TempPath();

    // Everything that failed or stopped ends here: the encoders go back to their owner and the
    // partial file is removed; an existing file at the destination was never touched.
    auto abandon = [&](HRESULT hr) {
        gst_element_set_state(m_graph.get(), GST_STATE_READY);
        RemoveBorrowed();
        CloseOutputFile();
        m_output.Discard();
        return hr;
    };

    // Build phase.
    GstElementPtr wavWriter;
    if (format == WavMp3) {
        GstElement* writer = gst_element_factory_make("kestrinwavwriter", "WAV Writer Filter");
        if (!writer) {
            SetFailureText("The WAV writer element (kestrinwavwriter) is not installed");
            return abandon(CLASS_E_CLASSNOTAVAILABLE);
        }
        wavWriter.reset(GST_ELEMENT(gst_object_ref_sink(writer)));
        preview = 0;
    }
    // The group format is RGB24; a consumer that encodes planar YUV gets it straight from the
    // front end instead (the editing services compose in I420), which spares two conversions of
    // every frame and lets an encoder that takes both (HuffYUV) store YUV rather than RGB. The
    // frames are the same size, rate and picture either way.
    const char* planar = nullptr;
    GstPadPtr consumer;
    if (format == Avi && videoEncoder) {
        planar = PlanarYuvTaken(videoEncoder.get(), "sink");
    } else if (format == Mpeg && mpegEncoder) {
        planar = PlanarYuvTaken(mpegEncoder.get(), "Video Input");
        consumer.reset(gst_element_get_static_pad(mpegEncoder.get(), "Video Input"));
    }
    if (planar) UseVideoOutputFormat(planar, consumer.get());
    GstPadPtr videoPin, audioPin;
    HRESULT hr = Prepare(preview != 0, &videoPin, &audioPin, format == Mpeg);
    if (FAILED(hr)) return abandon(hr);

    const WaveFormat* chosenFormat = audioFormat ? &*audioFormat : nullptr;
    GstElementPtr sink;
    bool sinkReportsPosition = false;
    switch (format) {
        case Avi: {
            GstElementPtr mux;
            hr = WriteAvi(temporaryPath, &mux, videoEncoder.get(), audioEncoder.get(),
                          videoPin.get(), audioPin.get());
            if (SUCCEEDED(hr) && audioEncoder && audioPin)
                hr = SetEncoderFormat(audioEncoder.get(), chosenFormat);
            if (mux)
                m_borrowed.push_back(ElementRef(GST_ELEMENT(gst_object_ref(mux.get())),
                                                [](GstElement* e) { gst_object_unref(e); }));
            sink = std::move(mux);
            break;
        }
        case Mpeg:
            if (mpegEncoder) {
                hr = WriteMpeg(temporaryPath, mpegEncoder.get(), videoPin.get(), audioPin.get());
                sink.reset(GST_ELEMENT(gst_object_ref(mpegEncoder.get())));
                sinkReportsPosition = true;
            } else {
                SetFailureText("No MPEG writer was chosen");
                hr = E_INVALIDARG;
            }
            break;
        case WavMp3:
            hr = WriteWav(temporaryPath, audioEncoder.get(), wavWriter.get(), audioPin.get());
            if (SUCCEEDED(hr) && audioEncoder && audioPin)
                hr = SetEncoderFormat(audioEncoder.get(), chosenFormat);
            m_borrowed.push_back(ElementRef(GST_ELEMENT(gst_object_ref(wavWriter.get())),
                                            [](GstElement* e) { gst_object_unref(e); }));
            sink = std::move(wavWriter);
            sinkReportsPosition = true;
            break;
        default:
            hr = E_INVALIDARG;
    }
    videoPin.reset();
    audioPin.reset();
    if (FAILED(hr)) return abandon(hr);

    // Run phase: no clock, so the pipeline runs as fast as its elements allow.
    m_loaded = 1;
    gst_pipeline_use_clock(GST_PIPELINE(m_graph.get()), nullptr);
    if (preview) ShowVideoWindow();
    // The sink is watched from its first buffer on: its segments give the running times.
    if (sink) WatchSink(sink.get());
    // An encoder that takes in frames is working, even while it writes nothing yet.
    m_taken = std::make_unique<CWrittenTime>();
    for (const ElementRef* encoder : {&videoEncoder, &audioEncoder})
        if (*encoder && GST_OBJECT_PARENT(encoder->get()) == GST_OBJECT(m_graph.get()))
            ForEachObject(gst_element_iterate_sink_pads(encoder->get()), [&](gpointer pad) {
                m_taken->Watch(GST_PAD(pad));
                return true;
            });
    // What the codec libraries print while they work stays off the user's screen; when the run
    // fails, their last word is part of the reason.
    auto chatter = std::make_unique<CEncoderChatter>();
    auto giveReason = [&](HRESULT result) {
        const std::string said = chatter->LastLine();
        chatter.reset();
        if (FAILED(result) && result != E_ABORT && !said.empty())
            SetFailureText(m_failureText.empty() ? said : m_failureText + " (" + said + ")");
    };
    hr = m_stopRequested ? E_ABORT : StartPipeline(format);
    if (FAILED(hr)) giveReason(hr);
    if (FAILED(hr)) {
        if (m_videoWindowActive) CloseVideoWindow();
        abandon(hr);
        if (hr == E_ABORT) Notify(kRunFinished, 0, 0);
        return hr;
    }
    Notify(kGraphRunning, 0, 1);

    m_sinkReportsPosition = sinkReportsPosition;
    hr = WriteCycle(sink.get());
    giveReason(hr);

    // The sink and the encoders leave the pipeline, so that the next clip can use them; this
    // also closes the file.
    gst_element_set_state(m_graph.get(), GST_STATE_READY);
    RemoveBorrowed();
    if (preview && m_videoWindowActive) CloseVideoWindow();

    if (!CloseOutputFile() && hr == S_OK) {
        SetFailureText("The output file could not be written to the end: " +
                       std::string(g_strerror(errno)));
        hr = E_FAIL;
    }
    // Only a file whose streams can be read back is a conversion; one that cannot is not put
    // in place of whatever the destination holds.
    std::string unreadable;
    if (hr == S_OK && !StreamsDecode(m_output.TempPath(), kReadBackLimitMs, &unreadable)) {
        SetFailureText("The output cannot be read back: " + unreadable);
        hr = E_FAIL;
    }
    std::string commitError;
    if (hr == S_OK && !m_output.Commit(&commitError)) {
        SetFailureText("The finished file cannot be moved to " + destination + ": " + commitError);
        hr = E_FAIL;
    }
    if (hr != S_OK) m_output.Discard();
    Notify(kRunFinished, 0, hr == S_OK ? 1 : hr == E_ABORT ? 0 : -1);
    return hr;
}

const char* CConversionEngine::PlanarYuvTaken(GstElement* element, const char* padName) {
    GstPadTemplate* templ =
        gst_element_class_get_pad_template(GST_ELEMENT_GET_CLASS(element), padName);
    if (!templ) return nullptr;
    GstCapsPtr accepted(gst_pad_template_get_caps(templ));
    for (const char* planar : {"I420", "Y42B"}) {
        GstCapsPtr wanted(
            gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, planar, nullptr));
        if (gst_caps_can_intersect(accepted.get(), wanted.get())) return planar;
    }
    return nullptr;
}

void CConversionEngine::UseVideoOutputFormat(const char* rawFormat, GstPad* consumer) {
    if (!m_renderEngine) return;
    GstCapsPtr caps(m_videoFormat ? timeline::VideoOutputCaps(*m_videoFormat)
                                  : gst_caps_new_empty_simple("video/x-raw"));
    gst_caps_set_simple(caps.get(), "format", G_TYPE_STRING, rawFormat, nullptr);
    // A consumer with a fixed frame that names its pixel aspects (a disc writer: the ones that
    // make 4:3 and 16:9 pictures) gets the one nearest the source's shape, so that a source of
    // that frame and shape (DVD material) passes unscaled and a 16:9 one fills the frame; the
    // scaler adds borders where the picture is neither. It is chosen once, from the file's
    // facts: the frames a file delivers may change shape (an orientation tag read after the
    // first frames), the writer's input may not.
    GstCapsPtr taken(consumer ? gst_pad_query_caps(consumer, nullptr) : nullptr);
    const GstStructure* want = taken && !gst_caps_is_empty(taken.get()) && m_videoFormat
                                   ? gst_caps_get_structure(taken.get(), 0)
                                   : nullptr;
    gint width = 0, height = 0;
    const GValue* aspects = want ? gst_structure_get_value(want, "pixel-aspect-ratio") : nullptr;
    if (aspects && gst_structure_get_int(want, "width", &width) &&
        gst_structure_get_int(want, "height", &height) && width == m_videoFormat->width &&
        height == std::abs(m_videoFormat->height)) {
        const GValue* chosen = nullptr;
        if (GST_VALUE_HOLDS_LIST(aspects)) {
            // Without a known shape, the first (4:3).
            const double needed = m_sourceShape ? *m_sourceShape * height / width : 0;
            double best = 0;
            for (guint i = 0; i < gst_value_list_get_size(aspects); ++i) {
                const GValue* aspect = gst_value_list_get_value(aspects, i);
                if (!GST_VALUE_HOLDS_FRACTION(aspect)) continue;
                const double value = double(gst_value_get_fraction_numerator(aspect)) /
                                     gst_value_get_fraction_denominator(aspect);
                if (!chosen || std::abs(value - needed) < best) {
                    chosen = aspect;
                    best = std::abs(value - needed);
                }
            }
        } else if (GST_VALUE_HOLDS_FRACTION(aspects)) {
            chosen = aspects;
        }
        if (chosen)
            gst_structure_set_value(gst_caps_get_structure(caps.get(), 0), "pixel-aspect-ratio",
                                    chosen);
    }
    for (auto& group : m_renderEngine->groups)
        if (group.kind == MediaKind::Video)
            g_object_set(group.capsFilter.get(), "caps", caps.get(), nullptr);
}

HRESULT CConversionEngine::StartPipeline(OutputFormat format) {
    GstElement* pipeline = m_graph.get();
    GstStateChangeReturn ret;
    if (format == WavMp3) {
        ret = gst_element_set_state(pipeline, GST_STATE_PLAYING);
    } else {
        // Pause first so that every branch has its first data (or declined to preroll), then run.
        ret = gst_element_set_state(pipeline, GST_STATE_PAUSED);
        if (ret == GST_STATE_CHANGE_ASYNC) {
            GstState state = GST_STATE_VOID_PENDING;
            ret = gst_element_get_state(pipeline, &state, nullptr,
                                        GstClockTime(kStartLimitMs) * GST_MSECOND);
            if (ret == GST_STATE_CHANGE_ASYNC) {
                SetFailureText("The media pipeline did not get ready within " +
                               std::to_string(kStartLimitMs / 1000) + " seconds");
                return E_FAIL;
            }
            if (ret != GST_STATE_CHANGE_FAILURE && state != GST_STATE_PAUSED)
                ret = GST_STATE_CHANGE_FAILURE;
        }
        if (ret != GST_STATE_CHANGE_FAILURE && m_stopRequested) return E_ABORT;
        if (ret != GST_STATE_CHANGE_FAILURE)
            ret = gst_element_set_state(pipeline, GST_STATE_PLAYING);
    }
    if (ret == GST_STATE_CHANGE_FAILURE) {
        TakeBusError(m_events.get(), m_failureText);
        if (m_failureText.empty()) SetFailureText("The media pipeline could not be started");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CConversionEngine::QueryWrittenTime(GstElement* sink, ReferenceTime* position) {
    gint64 ns = -1;
    if (m_sinkReportsPosition && gst_element_query_position(sink, GST_FORMAT_TIME, &ns) &&
        ns >= 0) {
        *position = timeline::ToReferenceTime(GstClockTime(ns));
        return S_OK;
    }
    GstClockTime written = m_written ? m_written->Position() : GST_CLOCK_TIME_NONE;
    *position = written == GST_CLOCK_TIME_NONE ? 0 : timeline::ToReferenceTime(written);
    return S_OK;
}

void CConversionEngine::WatchSink(GstElement* sink) {
    m_written = std::make_unique<CWrittenTime>();
    ForEachObject(gst_element_iterate_sink_pads(sink), [&](gpointer pad) {
        m_written->Watch(GST_PAD(pad));
        return true;
    });
}

HRESULT CConversionEngine::WriteCycle(GstElement* sink) {
    if (!sink) return E_FAIL;
    m_sink.reset(GST_ELEMENT(gst_object_ref(sink)));
    if (!m_written) WatchSink(sink);
    if (m_written->Empty()) {
        m_sink.reset();
        return E_NOINTERFACE;
    }

    const Clock::time_point started = Clock::now();
    m_writtenToEnd = false;
    m_finishDeadline = 0;
    Clock::time_point lastWrite = started, lastProduced = started, lastActive = started;
    ReferenceTime lastPosition = -1;
    std::uint64_t producedBuffers = 0, writtenBuffers = 0, takenBuffers = 0;
    bool endedStalledStreams = false;
    HRESULT hr = S_OK;
    for (;;) {
        ReferenceTime duration = 0;
        GetTimelineDuration(&duration);
        if (duration <= 0) {
            SetFailureText("The timeline is empty: nothing could be placed on it");
            hr = E_FAIL;
            break;
        }
        ReferenceTime position = 0;
        hr = QueryWrittenTime(sink, &position);
        if (FAILED(hr)) break;
        const std::int64_t progress = position * 10000 / duration;
        // Written to the end: the writers have had all of the clip, or say they have written it.
        if (progress >= 10000 || m_written->AllEnded()) m_writtenToEnd = true;
        Notify(kProgress, 0, std::intptr_t(progress));

        GstMessagePtr message(
            gst_bus_timed_pop_filtered(m_events.get(), 100 * GST_MSECOND,
                                       GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS) {
            StopNow();
            Notify(kProgress, 0, 10000);
            hr = S_OK;
            break;
        }
        if (message) {
            SetFailureText(ReasonForError(message.get(), timeline::ToNanoseconds(position)));
            StopNow();
            Notify(kProgress, 0, std::intptr_t(progress));
            hr = E_FAIL;
            break;
        }

        // Once everything is written, a Stop lets the writers finish the file (Stop() leaves the
        // pipeline running then): the run completes, unless finishing takes too long.
        if (m_stopRequested && m_writtenToEnd && !m_finishDeadline)
            m_finishDeadline = ElapsedMs(started) + kFinishLimitMs;
        if (m_finishDeadline && ElapsedMs(started) < m_finishDeadline) continue;

        // Stopped means at rest below PAUSED: right after a direct start the pipeline is still
        // on its way up from READY, which is not a stop.
        GstState state = GST_STATE_VOID_PENDING, pending = GST_STATE_VOID_PENDING;
        gst_element_get_state(m_graph.get(), &state, &pending, 0);
        // A stop asked for before the pipeline reached PLAYING may have been overtaken by the
        // start; it is honoured here all the same.
        if (m_stopRequested && !(state <= GST_STATE_READY && pending == GST_STATE_VOID_PENDING))
            gst_element_set_state(m_control.get(), GST_STATE_READY);
        if (m_stopRequested || (state <= GST_STATE_READY && pending == GST_STATE_VOID_PENDING)) {
            // Stopped by the Stop command (or anything else) before completion: the writers did
            // not finish their file, so it is never a complete one.
            hr = E_ABORT;
            break;
        }

        // Guards against runs that would never end.
        const GstClockTime durationNs = timeline::ToNanoseconds(duration);
        GstClockTime latest = m_written->Latest();
        if (latest != GST_CLOCK_TIME_NONE && latest > 4 * durationNs + 3600 * GST_SECOND) {
            SetFailureText(
                "The encoder stamps its output with invalid times; choose another encoder");
            StopNow();
            hr = E_FAIL;
            break;
        }
        if (position != lastPosition) {
            lastPosition = position;
            lastWrite = Clock::now();
        }
        if (m_produced && m_produced->Buffers() != producedBuffers) {
            producedBuffers = m_produced->Buffers();
            lastProduced = Clock::now();
        }
        // Progress is anything written or taken in by an encoder: an encoder that holds many
        // frames before its first output, or takes minutes per frame, is working.
        const std::uint64_t written = m_written->Buffers();
        const std::uint64_t taken = m_taken ? m_taken->Buffers() : 0;
        if (position != lastPosition || written != writtenBuffers || taken != takenBuffers)
            lastActive = Clock::now();
        writtenBuffers = written;
        takenBuffers = taken;
        // Some inputs deliver all their data but never end their stream (the editing services
        // do this with WAV and AU files): once every group has produced the whole clip and
        // nothing has moved for a moment, end the streams here. A group that stopped a little
        // short of the end (rounding to whole buffers) gets a second's grace first.
        if (!endedStalledStreams && m_produced && !m_produced->AllEnded()) {
            const std::int64_t quietMs = std::min(ElapsedMs(lastProduced), ElapsedMs(lastWrite));
            const GstClockTime nearEnd =
                durationNs > 250 * GST_MSECOND ? durationNs - 250 * GST_MSECOND : 0;
            const GstClockTime wholeClip = durationNs > GST_MSECOND ? durationNs - GST_MSECOND : 0;
            if ((quietMs > 200 && m_produced->AllReached(wholeClip)) ||
                (quietMs > 1000 && m_produced->AllReached(nearEnd))) {
                EndStalledStreams();
                endedStalledStreams = true;
            }
        }
        if (ElapsedMs(lastActive) > kStallLimitMs) {
            SetFailureText("The conversion stalled: nothing was encoded or written for " +
                           std::to_string(kStallLimitMs / 1000) + " seconds");
            StopNow();
            hr = E_FAIL;
            break;
        }
    }
    m_sink.reset();
    m_writtenToEnd = false;
    return hr;
}

bool CConversionEngine::CloseOutputFile() {
    if (m_outputFd < 0) return true;
    const bool closed = ::close(m_outputFd) == 0;
    m_outputFd = -1;
    return closed;
}

void CConversionEngine::EndStalledStreams() {
    if (!m_renderEngine) return;
    for (auto& group : m_renderEngine->groups) {
        GstPadPtr input(gst_element_get_static_pad(group.Input(), "sink"));
        if (input) gst_pad_send_event(input.get(), gst_event_new_eos());
    }
}

HRESULT CConversionEngine::Stop() {
    m_stopRequested = true;
    if (!m_control) return E_FAIL;
    // The clip is written to its end and the writers are finishing the file: the write cycle
    // lets them, and stops the pipeline itself.
    if (m_writtenToEnd) return S_OK;
    return StopNow();
}

HRESULT CConversionEngine::StopNow() {
    m_stopRequested = true;
    if (!m_control) return E_FAIL;
    if (gst_element_set_state(m_control.get(), GST_STATE_READY) == GST_STATE_CHANGE_FAILURE)
        return E_FAIL;
    Notify(kGraphStopped);
    return S_OK;
}

HRESULT CConversionEngine::StopWhenReady() {
    return Stop();
}

HRESULT CConversionEngine::SetPosition(ReferenceTime position) {
    if (!m_seeking) return E_FAIL;
    if (!gst_element_seek_simple(m_seeking.get(), GST_FORMAT_TIME,
                                 GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                 gint64(timeline::ToNanoseconds(position))))
        return E_FAIL;
    Notify(kPositionSet);
    return S_OK;
}

HRESULT CConversionEngine::HandleGraphEvents() {
    if (!m_events) return E_FAIL;
    while (GstMessagePtr message{gst_bus_pop(m_events.get())}) {
        if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS) {
            StopWhenReady();
            SetPosition(0);
            StopWhenReady();
        }
    }
    return S_OK;
}

HRESULT CConversionEngine::SetVideoWindow(IPreviewPane* owner) {
    if (owner) m_ownerWindow = owner;
    if (!m_ownerWindow) return E_FAIL;
    if (INotifyTarget* parent = m_ownerWindow->NotifyParent()) m_notifyWindow = parent;
    PreviewRect rect;
    if (!m_ownerWindow->PaneRect(rect)) return E_FAIL;
    m_previewRect = rect;
    return S_OK;
}

HRESULT CConversionEngine::ShowVideoWindow() {
    if (m_videoWindowActive || !m_graph || !m_events) return E_FAIL;
    Notify(kPreviewSetup);
    if (!m_previewSink) return E_NOINTERFACE;
    m_videoWindow.reset(GST_ELEMENT(gst_object_ref(m_previewSink.get())));
    m_sizeKnown = 1;
    if (m_ownerWindow) {
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = [](GstAppSink* sink, gpointer pane) {
            GstSample* sample = gst_app_sink_pull_sample(sink);
            if (!sample) return GST_FLOW_OK;
            GstVideoInfo info;
            GstVideoFrame frame;
            if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
                gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
                static_cast<IPreviewPane*>(pane)->PresentFrame(
                    static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                    GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                    GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
                gst_video_frame_unmap(&frame);
            }
            gst_sample_unref(sample);
            return GST_FLOW_OK;
        };
        gst_app_sink_set_callbacks(GST_APP_SINK(m_videoWindow.get()), &callbacks, m_ownerWindow,
                                   nullptr);
    }
    m_videoWindowActive = 1;
    return S_OK;
}

HRESULT CConversionEngine::ForwardOwnerMessage(int, std::intptr_t, std::intptr_t) {
    return m_videoWindowActive ? S_OK : E_FAIL;
}
