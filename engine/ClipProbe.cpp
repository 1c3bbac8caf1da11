#include "ClipProbe.h"

#include <cstring>
#include <functional>

#include "GstIteration.h"
#include "ProjectItem.h"
#include "StreamCoding.h"

namespace {

// Runs fn for every pad the iterator yields until fn returns false.
void ForEachPad(GstIterator* it, const std::function<bool(GstPad*)>& fn) {
    ForEachObject(it, [&](gpointer pad) { return fn(GST_PAD(pad)); });
}

GstElementPtr ParentOf(GstPad* pad) {
    return GstElementPtr(gst_pad_get_parent_element(pad));
}

// The real sink pad that data leaving srcPad reaches: the peer, with ghost pads of bins
// resolved to the pad inside. Null when not linked.
GstPadPtr PeerOf(GstPad* srcPad) {
    GstPadPtr pad(gst_pad_get_peer(srcPad));
    while (pad && GST_IS_GHOST_PAD(pad.get())) {
        pad.reset(gst_ghost_pad_get_target(GST_GHOST_PAD(pad.get())));
    }
    return pad;
}

// Elements that only carry a stream along (queues, type finding, tag readers) and so never
// count as the element that splits the file.
bool IsPassThrough(GstElement* element) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory) return false;
    const char* name = GST_OBJECT_NAME(factory);
    for (const char* known :
         {"typefind", "queue", "queue2", "multiqueue", "capsfilter", "identity"}) {
        if (std::strcmp(name, known) == 0) return true;
    }
    const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
    return klass && std::strstr(klass, "Metadata") != nullptr;
}

// The pad on which a pass-through element sends on what arrives at sinkPad.
GstPadPtr OutputFor(GstPad* sinkPad) {
    GstPadPtr out;
    ForEachPad(gst_pad_iterate_internal_links(sinkPad), [&](GstPad* pad) {
        out.reset(GST_PAD(gst_object_ref(pad)));
        return false;
    });
    return out;
}

// Follows srcPad downstream past pass-through elements; returns the sink pad of the first
// element that works on the stream, or null.
GstPadPtr NextWorkingPad(GstPad* srcPad) {
    GstPadPtr pad = PeerOf(srcPad);
    for (int hops = 0; pad && hops < 16; ++hops) {
        GstElementPtr element = ParentOf(pad.get());
        if (!element || !IsPassThrough(element.get())) return pad;
        GstPadPtr out = OutputFor(pad.get());
        if (!out) return {};
        pad = PeerOf(out.get());
    }
    return {};
}

GstCapsPtr CurrentCaps(GstPad* pad) {
    return GstCapsPtr(gst_pad_get_current_caps(pad));
}

// The caps after the parser that follows a demultiplexer's pad, when one does.
GstCapsPtr ParsedCaps(GstPad* demuxPad) {
    GstPadPtr next = NextWorkingPad(demuxPad);
    if (!next) return {};
    GstElementPtr element = ParentOf(next.get());
    GstElementFactory* factory = element ? gst_element_get_factory(element.get()) : nullptr;
    const char* klass =
        factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
    if (!klass || !std::strstr(klass, "Parser")) return {};
    GstPadPtr src(gst_element_get_static_pad(element.get(), "src"));
    return src ? CurrentCaps(src.get()) : GstCapsPtr();
}

// The descriptive tags that outputs carry over, from the tag events that reached the probe's
// sinks (container tags, ID3, Vorbis comments, MP4 and ASF tags alike); empty when none.
ClipTagsRef ReadClipTags(GstElement* pipeline) {
    static const char* const kCarried[] = {GST_TAG_TITLE,        GST_TAG_ARTIST,    GST_TAG_ALBUM,
                                           GST_TAG_TRACK_NUMBER, GST_TAG_DATE_TIME, GST_TAG_DATE,
                                           GST_TAG_GENRE,        GST_TAG_COMMENT};
    GstTagList* seen = gst_tag_list_new_empty();
    ForEachObject(gst_bin_iterate_sinks(GST_BIN(pipeline)), [&](gpointer element) {
        GstPadPtr pad(gst_element_get_static_pad(GST_ELEMENT(element), "sink"));
        if (!pad) return true;
        gst_pad_sticky_events_foreach(
            pad.get(),
            [](GstPad*, GstEvent** event, gpointer data) -> gboolean {
                if (GST_EVENT_TYPE(*event) != GST_EVENT_TAG) return TRUE;
                GstTagList* tags = nullptr;
                gst_event_parse_tag(*event, &tags);
                gst_tag_list_insert(static_cast<GstTagList*>(data), tags, GST_TAG_MERGE_KEEP);
                return TRUE;
            },
            seen);
        return true;
    });
    GstTagList* kept = gst_tag_list_new_empty();
    for (const char* tag : kCarried) {
        if (const GValue* value = gst_tag_list_get_value_index(seen, tag, 0))
            gst_tag_list_add_value(kept, GST_TAG_MERGE_REPLACE, tag, value);
    }
    // Vorbis comments keep the comment as a description.
    const GValue* description = gst_tag_list_get_value_index(seen, GST_TAG_DESCRIPTION, 0);
    if (description && !gst_tag_list_get_tag_size(kept, GST_TAG_COMMENT))
        gst_tag_list_add_value(kept, GST_TAG_MERGE_REPLACE, GST_TAG_COMMENT, description);
    gst_tag_list_unref(seen);
    if (gst_tag_list_is_empty(kept)) {
        gst_tag_list_unref(kept);
        return {};
    }
    return ClipTagsRef(
        kept, [](const GstTagList* tags) { gst_tag_list_unref(const_cast<GstTagList*>(tags)); });
}

bool HasPrefix(const char* text, const char* prefix) {
    return text && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

CClipProbe::CClipProbe() {
    m_messageBase = kMessageBase;
}

HRESULT CClipProbe::Probe(CProjectItem& clip) {
    HRESULT hr = OpenClip(clip);
    if (FAILED(hr)) return hr;
    if (!clip.GetTags()) clip.SetTags(ReadClipTags(m_graph.get()));

    // The file source is the source element of the decoding bin.
    GstElementPtr decoder(m_graph ? gst_bin_get_by_name(GST_BIN(m_graph.get()), "decoder")
                                  : nullptr);
    GstElement* source = nullptr;
    if (decoder) g_object_get(decoder.get(), "source", &source, nullptr);
    m_fileSource.reset(source);
    if (!m_fileSource) return E_NOINTERFACE;
    GstPadPtr sourcePad(gst_element_get_static_pad(m_fileSource.get(), "src"));
    m_fileSource.reset();
    GstPadPtr examinedPad = sourcePad ? NextWorkingPad(sourcePad.get()) : GstPadPtr();
    GstElementPtr examined = examinedPad ? ParentOf(examinedPad.get()) : GstElementPtr();
    if (!examined) return S_OK;

    GstElementFactory* factory = gst_element_get_factory(examined.get());
    const char* factoryName = factory ? GST_OBJECT_NAME(factory) : "";
    std::vector<std::uint32_t> aviCodes;
    if (std::strcmp(factoryName, "avidemux") == 0) aviCodes = ReadAviVideoFourccs(clip.GetPath());
    const bool mpeg2Program =
        std::strcmp(factoryName, "mpegpsdemux") == 0 && IsMpeg2ProgramStream(clip.GetPath());

    ForEachPad(gst_element_iterate_src_pads(examined.get()), [&](GstPad* pad) {
        GstCapsPtr caps = CurrentCaps(pad);
        if (!caps || gst_caps_get_size(caps.get()) == 0) return true;  // format unknown: skip
        const char* media = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
        if (HasPrefix(media, "video/") || HasPrefix(media, "image/")) {
            std::optional<std::uint32_t> headerCode;
            if (!aviCodes.empty()) {
                // avidemux names its video pads video_<n> after the n-th video stream.
                GCharPtr padName(gst_pad_get_name(pad));
                unsigned index = 0;
                if (std::sscanf(padName.get(), "video_%u", &index) == 1 &&
                    index < aviCodes.size()) {
                    headerCode = aviCodes[index];
                }
            }
            clip.SetVideoCodec(VideoCodingText(caps.get(), headerCode));
        } else if (HasPrefix(media, "audio/")) {
            clip.SetAudioStreams(clip.GetAudioStreams() + 1);
            GstCapsPtr parsed = ParsedCaps(pad);
            const AudioCoding coding = DescribeAudio(caps.get(), parsed.get(), mpeg2Program);
            clip.SetAudioCodec(coding.text);
            if (coding.hasParams) clip.SetAudioParams(coding.params);
        }
        return true;
    });
    return S_OK;
}
