#include "FastScale.h"

#include <gst/base/gstbasetransform.h>
#include <gst/video/gstvideofilter.h>
#include <gst/video/gstvideopool.h>
#include <gst/video/video.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "FrameMemory.h"

namespace {

// What a scaler whose frames only change size needs; none while its frames take the
// framework's path.
struct ScaleState {
    SwsContext* sws = nullptr;
    // Where the picture goes in the output frame; the rest is border.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    guint8 black[3] = {16, 128, 128};
    // Padded planes for frames whose rows have no room to spare (see TransformFrame).
    std::vector<guint8> scratch[3];
    int scratchStride[4] = {};

    ~ScaleState() { sws_freeContext(sws); }
};

GQuark StateQuark() {
    static const GQuark quark = g_quark_from_static_string("kestrine-fast-scale");
    return quark;
}

GstVideoFilterClass* g_parentClass = nullptr;
GstBaseTransformClass* g_parentTransformClass = nullptr;

AVPixelFormat PixelFormat(GstVideoFormat format) {
    switch (format) {
        case GST_VIDEO_FORMAT_I420:
        case GST_VIDEO_FORMAT_YV12:  // the same planes in another order: addressed by component
            return AV_PIX_FMT_YUV420P;
        case GST_VIDEO_FORMAT_Y42B:
            return AV_PIX_FMT_YUV422P;
        case GST_VIDEO_FORMAT_Y444:
            return AV_PIX_FMT_YUV444P;
        default:
            return AV_PIX_FMT_NONE;
    }
}

// The picture's place in the output frame, as the framework's scaler puts it: a picture whose
// display aspect differs from the frame's is fitted inside it with borders (add-borders).
void PlacePicture(GstVideoFilter* filter, const GstVideoInfo* in, const GstVideoInfo* out,
                  ScaleState* state) {
    gboolean addBorders = TRUE;
    g_object_get(filter, "add-borders", &addBorders, nullptr);
    gint fromN = -1, fromD = -1, toN = -1, toD = -1;
    if (!gst_util_fraction_multiply(in->width, in->height, in->par_n, in->par_d, &fromN, &fromD))
        fromN = fromD = -1;
    if (!gst_util_fraction_multiply(out->width, out->height, out->par_n, out->par_d, &toN, &toD))
        toN = toD = -1;
    int bordersW = 0, bordersH = 0;
    gint n = 0, d = 0;
    if ((toN != fromN || toD != fromD) && addBorders && fromN != -1 && fromD != -1 &&
        gst_util_fraction_multiply(fromN, fromD, out->par_d, out->par_n, &n, &d)) {
        const int toH = gst_util_uint64_scale_int(out->width, d, n);
        if (toH <= out->height)
            bordersH = out->height - toH;
        else
            bordersW = out->width - gst_util_uint64_scale_int(out->height, n, d);
    }
    state->x = bordersW / 2;
    state->y = bordersH / 2;
    state->width = out->width - bordersW;
    state->height = out->height - bordersH;
}

// Streaming thread, when the caps are set: the framework's scaler prepares its own path first
// (and decides on passthrough); the libswscale path is prepared where it applies.
gboolean SetInfo(GstVideoFilter* filter, GstCaps* inCaps, GstVideoInfo* in, GstCaps* outCaps,
                 GstVideoInfo* out) {
    g_object_set_qdata(G_OBJECT(filter), StateQuark(), nullptr);
    if (!g_parentClass->set_info(filter, inCaps, in, outCaps, out)) return FALSE;
    if (gst_base_transform_is_passthrough(GST_BASE_TRANSFORM(filter))) return TRUE;
    gint matrixMode = 0;
    g_object_get(filter, "matrix-mode", &matrixMode, nullptr);
    const AVPixelFormat format = PixelFormat(GST_VIDEO_INFO_FORMAT(in));
    if (format == AV_PIX_FMT_NONE || GST_VIDEO_INFO_FORMAT(in) != GST_VIDEO_INFO_FORMAT(out) ||
        GST_VIDEO_INFO_IS_INTERLACED(in) || GST_VIDEO_INFO_IS_INTERLACED(out) ||
        matrixMode != GST_VIDEO_MATRIX_MODE_NONE)
        return TRUE;
    auto state = std::make_unique<ScaleState>();
    PlacePicture(filter, in, out, state.get());
    // The chroma planes of the picture must begin on whole chroma samples.
    const GstVideoFormatInfo* finfo = out->finfo;
    if (state->width <= 0 || state->height <= 0 || state->x % (1 << finfo->w_sub[1]) != 0 ||
        state->y % (1 << finfo->h_sub[1]) != 0)
        return TRUE;
    state->sws = sws_getContext(in->width, in->height, format, state->width, state->height, format,
                                SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!state->sws) return TRUE;
    if (out->colorimetry.range == GST_VIDEO_COLOR_RANGE_0_255) state->black[0] = 0;
    g_object_set_qdata_full(G_OBJECT(filter), StateQuark(), state.release(),
                            [](gpointer data) { delete static_cast<ScaleState*>(data); });
    return TRUE;
}

void FillOutside(guint8* plane, int stride, int fullWidth, int fullHeight, int x, int y, int width,
                 int height, guint8 value) {
    for (int row = 0; row < fullHeight; ++row) {
        guint8* line = plane + std::ptrdiff_t(row) * stride;
        if (row < y || row >= y + height) {
            std::memset(line, value, fullWidth);
        } else {
            std::memset(line, value, x);
            std::memset(line + x + width, value, fullWidth - x - width);
        }
    }
}

// libswscale writes a few bytes past the end of each line it makes (its vector code works in
// blocks). It writes straight into the output frame when every row there has room to spare
// past the picture; otherwise into the padded scratch planes, which are then copied in.
constexpr int kOverrun = 16;  // measured: at most 8 on this build

GstFlowReturn TransformFrame(GstVideoFilter* filter, GstVideoFrame* in, GstVideoFrame* out) {
    auto* state = static_cast<ScaleState*>(g_object_get_qdata(G_OBJECT(filter), StateQuark()));
    if (!state) return g_parentClass->transform_frame(filter, in, out);
    const GstVideoFormatInfo* finfo = out->info.finfo;
    struct Area {
        guint8* plane;
        int stride, x, y, width, height;
    } areas[3];
    bool direct = true;
    for (int c = 0; c < 3; ++c) {
        Area& a = areas[c];
        a.plane = static_cast<guint8*>(GST_VIDEO_FRAME_COMP_DATA(out, c));
        a.stride = GST_VIDEO_FRAME_COMP_STRIDE(out, c);
        a.x = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(finfo, c, state->x);
        a.y = GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(finfo, c, state->y);
        a.width = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(finfo, c, state->width);
        a.height = GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(finfo, c, state->height);
        direct = direct && a.stride >= a.x + a.width + kOverrun;
    }
    const bool borders =
        state->width != GST_VIDEO_FRAME_WIDTH(out) || state->height != GST_VIDEO_FRAME_HEIGHT(out);
    if (borders) {
        for (int c = 0; c < 3; ++c) {
            const Area& a = areas[c];
            FillOutside(a.plane, a.stride, GST_VIDEO_FRAME_COMP_WIDTH(out, c),
                        GST_VIDEO_FRAME_COMP_HEIGHT(out, c), a.x, a.y, a.width, a.height,
                        state->black[c]);
        }
    }

    const guint8* source[4] = {};
    int sourceStride[4] = {};
    guint8* target[4] = {};
    int targetStride[4] = {};
    for (int c = 0; c < 3; ++c) {
        source[c] = static_cast<const guint8*>(GST_VIDEO_FRAME_COMP_DATA(in, c));
        sourceStride[c] = GST_VIDEO_FRAME_COMP_STRIDE(in, c);
        const Area& a = areas[c];
        if (direct) {
            target[c] = a.plane + std::ptrdiff_t(a.y) * a.stride + a.x;
            targetStride[c] = a.stride;
        } else {
            if (state->scratch[c].empty()) {
                // 64-byte aligned rows, and room past the last one; made when first needed.
                state->scratchStride[c] = (a.width + 63) / 64 * 64 + 64;
                state->scratch[c].resize(std::size_t(state->scratchStride[c]) * (a.height + 2) +
                                         64);
            }
            // Aligned for the vector code (the vector's data is allocated with 16-byte
            // alignment).
            auto address = reinterpret_cast<std::uintptr_t>(state->scratch[c].data());
            target[c] = state->scratch[c].data() + ((64 - address % 64) % 64);
            targetStride[c] = state->scratchStride[c];
        }
    }
    sws_scale(state->sws, source, sourceStride, 0, GST_VIDEO_FRAME_HEIGHT(in), target,
              targetStride);
    // What ran past the picture's rows into the borders is painted over again.
    if (direct && borders) {
        for (int c = 0; c < 3; ++c) {
            const Area& a = areas[c];
            const int right = GST_VIDEO_FRAME_COMP_WIDTH(out, c) - a.x - a.width;
            for (int row = 0; row < a.height && right > 0; ++row)
                std::memset(a.plane + std::ptrdiff_t(a.y + row) * a.stride + a.x + a.width,
                            state->black[c], right);
        }
    }
    if (!direct) {
        for (int c = 0; c < 3; ++c) {
            const Area& a = areas[c];
            for (int row = 0; row < a.height; ++row)
                std::memcpy(a.plane + std::ptrdiff_t(a.y + row) * a.stride + a.x,
                            target[c] + std::ptrdiff_t(row) * targetStride[c], a.width);
        }
    }
    return GST_FLOW_OK;
}

// Streaming thread. Where no one after the scaler answers what its frames may be written into
// (the editing services' composition drops that question), its frames get rows padded to
// 64-byte multiples, as libav lays out its own pictures: the MPEG encoders then take them as
// they are instead of copying each one, and libswscale can write into them directly. Every
// element that takes YUV frames from here reads their layout from a video meta (the raw-bytes
// consumers take RGB, made by a converter).
gboolean DecideAllocation(GstBaseTransform* transform, GstQuery* query) {
    GstCaps* caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    GstVideoInfo info;
    if (caps && gst_query_get_n_allocation_pools(query) == 0 &&
        gst_video_info_from_caps(&info, caps) &&
        PixelFormat(GST_VIDEO_INFO_FORMAT(&info)) != AV_PIX_FMT_NONE) {
        GstVideoAlignment alignment;
        gst_video_alignment_reset(&alignment);
        for (guint& mask : alignment.stride_align) mask = 63;
        GstVideoInfo padded = info;
        if (gst_video_info_align(&padded, &alignment)) {
            GstAllocationParams params;
            gst_allocation_params_init(&params);
            params.align = 63;
            params.padding = 64;  // past the last row too, whatever writes a little beyond
            AnswerWithVideoPool(query, gst_video_buffer_pool_new(), caps, guint(padded.size),
                                nullptr, params, &alignment);
        }
    }
    return g_parentTransformClass->decide_allocation(transform, query);
}

void ClassInit(gpointer klass, gpointer) {
    g_parentClass = GST_VIDEO_FILTER_CLASS(g_type_class_peek_parent(klass));
    g_parentTransformClass = GST_BASE_TRANSFORM_CLASS(g_type_class_peek_parent(klass));
    GST_BASE_TRANSFORM_CLASS(klass)->decide_allocation = DecideAllocation;
    GstVideoFilterClass* filterClass = GST_VIDEO_FILTER_CLASS(klass);
    filterClass->set_info = SetInfo;
    filterClass->transform_frame = TransformFrame;
    gst_element_class_set_static_metadata(
        GST_ELEMENT_CLASS(klass), "Kestrine frame scaler", "Filter/Converter/Video/Scaler",
        "Resizes video frames, with libswscale where only their size changes", "Kestrine");
}

}  // namespace

bool InstallFastScaler() {
    static const bool installed = [] {
        GstElementFactory* factory = gst_element_factory_find("videoscale");
        if (!factory) return false;
        GstPluginFeature* loaded = gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory));
        gst_object_unref(factory);
        if (!loaded) return false;
        const GType parent = gst_element_factory_get_element_type(GST_ELEMENT_FACTORY(loaded));
        const guint rank = gst_plugin_feature_get_rank(loaded);
        gst_object_unref(loaded);
        if (!g_type_is_a(parent, GST_TYPE_VIDEO_FILTER)) return false;
        GTypeQuery query;
        g_type_query(parent, &query);
        GTypeInfo info{};
        info.class_size = guint16(query.class_size);
        info.class_init = ClassInit;
        info.instance_size = guint16(query.instance_size);
        const GType type = g_type_register_static(parent, "KestrinFastScale", &info, GTypeFlags(0));
        // Registered under the scaler's own name, the subclass takes its place in this process's
        // registry: the editing services make their scalers by that name.
        return type != G_TYPE_INVALID && gst_element_register(nullptr, "videoscale", rank, type);
    }();
    return installed;
}

bool ScalesWithLibswscale(GstElement* scaler) {
    return scaler && g_object_get_qdata(G_OBJECT(scaler), StateQuark()) != nullptr;
}
