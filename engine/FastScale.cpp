#include "FastScale.h"

#include <gst/base/gstbasetransform.h>
#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

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
    // libswscale writes a few bytes past the end of each line it makes (its vector code works in
    // blocks): into the next line, the next plane or past the frame when it wrote straight into
    // it. It writes the picture into these padded planes instead, which are then copied in.
    std::vector<guint8> scratch[3];
    int scratchStride[4] = {};

    ~ScaleState() { sws_freeContext(sws); }
};

GQuark StateQuark() {
    static const GQuark quark = g_quark_from_static_string("kestrine-fast-scale");
    return quark;
}

GstVideoFilterClass* g_parentClass = nullptr;

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
    for (int c = 0; c < 3; ++c) {
        const int width = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(finfo, c, state->width);
        const int height = GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(finfo, c, state->height);
        state->scratchStride[c] = (width + 63) / 64 * 64 + 64;
        // 64-byte aligned rows, and room past the last one.
        state->scratch[c].resize(std::size_t(state->scratchStride[c]) * (height + 2) + 64);
    }
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

GstFlowReturn TransformFrame(GstVideoFilter* filter, GstVideoFrame* in, GstVideoFrame* out) {
    auto* state = static_cast<ScaleState*>(g_object_get_qdata(G_OBJECT(filter), StateQuark()));
    if (!state) return g_parentClass->transform_frame(filter, in, out);
    const guint8* source[4] = {};
    int sourceStride[4] = {};
    guint8* scratch[4] = {};
    for (int c = 0; c < 3; ++c) {
        source[c] = static_cast<const guint8*>(GST_VIDEO_FRAME_COMP_DATA(in, c));
        sourceStride[c] = GST_VIDEO_FRAME_COMP_STRIDE(in, c);
        // Aligned for the vector code (the vector's data is allocated with 16-byte alignment).
        auto address = reinterpret_cast<std::uintptr_t>(state->scratch[c].data());
        scratch[c] = state->scratch[c].data() + ((64 - address % 64) % 64);
    }
    sws_scale(state->sws, source, sourceStride, 0, GST_VIDEO_FRAME_HEIGHT(in), scratch,
              state->scratchStride);

    const GstVideoFormatInfo* finfo = out->info.finfo;
    const bool borders =
        state->width != GST_VIDEO_FRAME_WIDTH(out) || state->height != GST_VIDEO_FRAME_HEIGHT(out);
    for (int c = 0; c < 3; ++c) {
        auto* plane = static_cast<guint8*>(GST_VIDEO_FRAME_COMP_DATA(out, c));
        const int stride = GST_VIDEO_FRAME_COMP_STRIDE(out, c);
        const int x = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(finfo, c, state->x);
        const int y = GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(finfo, c, state->y);
        const int width = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(finfo, c, state->width);
        const int height = GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(finfo, c, state->height);
        if (borders)
            FillOutside(plane, stride, GST_VIDEO_FRAME_COMP_WIDTH(out, c),
                        GST_VIDEO_FRAME_COMP_HEIGHT(out, c), x, y, width, height, state->black[c]);
        for (int row = 0; row < height; ++row)
            std::memcpy(plane + std::ptrdiff_t(y + row) * stride + x,
                        scratch[c] + std::ptrdiff_t(row) * state->scratchStride[c], width);
    }
    return GST_FLOW_OK;
}

void ClassInit(gpointer klass, gpointer) {
    g_parentClass = GST_VIDEO_FILTER_CLASS(g_type_class_peek_parent(klass));
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
