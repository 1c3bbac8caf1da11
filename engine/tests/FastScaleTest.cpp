// The scaler that replaces the framework's: frames that only change size go through libswscale
// and must come out where and as the framework's scaler would put them (same place, same
// borders, a close picture); frames of other kinds still take the framework's path.
#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FastScale.h"
#include "MediaFramework.h"

namespace {

struct Frame {
    GstVideoInfo info{};
    std::string bytes;  // the tightly packed frame as the sink took it
    bool fast = false;  // the scaler went through libswscale
};

GstElement* CapsFilter(const char* caps) {
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstCaps* parsed = gst_caps_from_string(caps);
    g_object_set(filter, "caps", parsed, nullptr);
    gst_caps_unref(parsed);
    return filter;
}

// One frame of a smooth test picture, scaled by a scaler of the given type.
Frame Scale(GType scalerType, const char* in, const char* out) {
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_factory_make("videotestsrc", nullptr);
    gst_util_set_object_arg(G_OBJECT(source), "pattern", "gradient");
    g_object_set(source, "num-buffers", 1, nullptr);
    auto* scaler = GST_ELEMENT(g_object_new(scalerType, nullptr));
    gst_util_set_object_arg(G_OBJECT(scaler), "matrix-mode", "none");
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    GstElement* inFilter = CapsFilter(in);
    GstElement* outFilter = CapsFilter(out);
    gst_bin_add_many(GST_BIN(pipeline), source, inFilter, scaler, outFilter, sink, nullptr);
    EXPECT_TRUE(gst_element_link_many(source, inFilter, scaler, outFilter, sink, nullptr));
    Frame frame;
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    if (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
        gst_video_info_from_caps(&frame.info, gst_sample_get_caps(sample));
        // Read through the frame's own layout (its rows may be padded), kept tightly packed.
        GstVideoFrame mapped;
        if (gst_video_frame_map(&mapped, &frame.info, gst_sample_get_buffer(sample),
                                GST_MAP_READ)) {
            frame.bytes.assign(GST_VIDEO_INFO_SIZE(&frame.info), '\0');
            for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&mapped); ++p) {
                const int rowBytes = GST_VIDEO_FRAME_COMP_WIDTH(&mapped, p) *
                                     GST_VIDEO_FRAME_COMP_PSTRIDE(&mapped, p);
                for (int row = 0; row < GST_VIDEO_FRAME_COMP_HEIGHT(&mapped, p); ++row)
                    std::memcpy(frame.bytes.data() + GST_VIDEO_INFO_PLANE_OFFSET(&frame.info, p) +
                                    std::size_t(row) * GST_VIDEO_INFO_PLANE_STRIDE(&frame.info, p),
                                static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, p)) +
                                    std::size_t(row) * GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, p),
                                rowBytes);
            }
            gst_video_frame_unmap(&mapped);
        }
        frame.fast = ScalesWithLibswscale(scaler);
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return frame;
}

// Luma of a tightly packed planar frame at (x, y).
int Luma(const Frame& f, int x, int y) {
    return static_cast<unsigned char>(
        f.bytes[GST_VIDEO_INFO_PLANE_OFFSET(&f.info, 0) +
                std::size_t(y) * GST_VIDEO_INFO_PLANE_STRIDE(&f.info, 0) + x]);
}

// The largest difference between two frames' chroma samples (first to last row of each plane:
// what a scaler writes past a line's end lands in the next line or plane).
int ChromaDifference(const Frame& a, const Frame& b) {
    int worst = 0;
    for (int c = 1; c < 3; ++c) {
        const std::size_t offset = GST_VIDEO_INFO_COMP_OFFSET(&a.info, c);
        const int stride = GST_VIDEO_INFO_COMP_STRIDE(&a.info, c);
        for (int y = 0; y < GST_VIDEO_INFO_COMP_HEIGHT(&a.info, c); ++y)
            for (int x = 0; x < GST_VIDEO_INFO_COMP_WIDTH(&a.info, c); ++x) {
                const std::size_t at = offset + std::size_t(y) * stride + x;
                worst = std::max(worst, std::abs(static_cast<unsigned char>(a.bytes[at]) -
                                                 static_cast<unsigned char>(b.bytes[at])));
            }
    }
    return worst;
}

double LumaPsnr(const Frame& a, const Frame& b) {
    double sum = 0;
    const int w = GST_VIDEO_INFO_WIDTH(&a.info), h = GST_VIDEO_INFO_HEIGHT(&a.info);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double d = Luma(a, x, y) - Luma(b, x, y);
            sum += d * d;
        }
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / (double(w) * h)));
}

}  // namespace

TEST(FastScale, FramesThatOnlyChangeSizeComeOutAsTheFrameworksScalerPutsThem) {
    ASSERT_EQ(InitMediaFramework(), S_OK);
    ASSERT_TRUE(InstallFastScaler());
    GstElementFactory* factory = gst_element_factory_find("videoscale");
    ASSERT_TRUE(factory);
    const GType fastType = gst_element_factory_get_element_type(factory);
    gst_object_unref(factory);
    const GType frameworkType = g_type_parent(fastType);
    ASSERT_TRUE(g_type_is_a(frameworkType, GST_TYPE_VIDEO_FILTER));

    struct {
        const char* what;
        const char* in;
        const char* out;
        bool fast;
        int borderX, borderY;  // a pixel that must be black (-1: none)
    } cases[] = {
        {"16:9 to a 16:9 disc frame", "video/x-raw,format=I420,width=1280,height=720",
         "video/x-raw,width=720,height=576,pixel-aspect-ratio=64/45", true, -1, -1},
        {"portrait, pillarboxed", "video/x-raw,format=I420,width=360,height=640",
         "video/x-raw,width=720,height=576,pixel-aspect-ratio=16/15", true, 10, 288},
        {"wide, letterboxed", "video/x-raw,format=I420,width=640,height=360",
         "video/x-raw,width=320,height=240,pixel-aspect-ratio=1/1", true, 160, 5},
        // Rows without room to spare past the picture (640 is a multiple of 64).
        {"no room past the rows", "video/x-raw,format=I420,width=1280,height=720",
         "video/x-raw,width=640,height=360,pixel-aspect-ratio=1/1", true, -1, -1},
        {"4:2:2", "video/x-raw,format=Y42B,width=640,height=480",
         "video/x-raw,width=320,height=240,pixel-aspect-ratio=1/1", true, -1, -1},
        {"RGB stays with the framework", "video/x-raw,format=RGBx,width=640,height=480",
         "video/x-raw,width=320,height=240,pixel-aspect-ratio=1/1", false, -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Frame fast = Scale(fastType, c.in, c.out);
        const Frame reference = Scale(frameworkType, c.in, c.out);
        ASSERT_FALSE(fast.bytes.empty());
        ASSERT_EQ(fast.bytes.size(), reference.bytes.size());
        EXPECT_EQ(fast.fast, c.fast);
        if (!GST_VIDEO_INFO_IS_YUV(&fast.info)) continue;
        EXPECT_GT(LumaPsnr(fast, reference), 35.0);
        EXPECT_LE(ChromaDifference(fast, reference), 4);

        if (c.borderX >= 0) {
            EXPECT_EQ(Luma(fast, c.borderX, c.borderY), 16);
            EXPECT_EQ(Luma(reference, c.borderX, c.borderY), 16);
        }
        // The middle of the picture is picture, not border.
        const int w = GST_VIDEO_INFO_WIDTH(&fast.info), h = GST_VIDEO_INFO_HEIGHT(&fast.info);
        EXPECT_NEAR(Luma(fast, w / 2, h / 2), Luma(reference, w / 2, h / 2), 6);
    }
}
