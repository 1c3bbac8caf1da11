// Decoded frames that a decoder still holds (mapped for writing) are handed on as copies that
// share their bytes. A copy must still behave as a copy: what is written into it, and what the
// decoder later writes into the same pool buffer, must never show through the other.
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstring>

#include "FrameMemory.h"
#include "MediaFramework.h"

namespace {

struct Mapped {
    GstBuffer* buffer;
    GstMapInfo map{};
    Mapped(GstBuffer* b, GstMapFlags flags) : buffer(b) {
        EXPECT_TRUE(gst_buffer_map(buffer, &map, flags));
    }
    ~Mapped() { gst_buffer_unmap(buffer, &map); }
};

GstBufferPool* StartedPool() {
    GstBufferPool* pool = NewFramePool();
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, 64, 48);
    GstCaps* caps = gst_video_info_to_caps(&info);
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, guint(info.size), 0, 0);
    GstAllocationParams params;
    gst_allocation_params_init(&params);
    gst_buffer_pool_config_set_allocator(config, FrameMemoryAllocator(), &params);
    gst_caps_unref(caps);
    EXPECT_TRUE(gst_buffer_pool_set_config(pool, config));
    EXPECT_TRUE(gst_buffer_pool_set_active(pool, TRUE));
    return pool;
}

}  // namespace

TEST(FrameMemory, CopiesOfAFrameTheDecoderHoldsShareItsBytesAndStayCopies) {
    ASSERT_EQ(InitMediaFramework(), S_OK);
    GstBufferPool* pool = StartedPool();
    GstBuffer* held = nullptr;
    ASSERT_EQ(gst_buffer_pool_acquire_buffer(pool, &held, nullptr), GST_FLOW_OK);

    // The decoder writes a picture and keeps the frame mapped; the decoder base makes the frame
    // it hands on writable.
    GstBuffer* copy = nullptr;
    guint8* decoded = nullptr;
    {
        Mapped decoder(held, GST_MAP_READWRITE);
        decoded = decoder.map.data;
        std::memset(decoded, 0x11, decoder.map.size);
        copy = gst_buffer_make_writable(gst_buffer_ref(held));
        ASSERT_NE(copy, held);
        EXPECT_TRUE(FrameMemoryIsBorrowed(gst_buffer_peek_memory(copy, 0)));
        Mapped reader(copy, GST_MAP_READ);
        EXPECT_EQ(reader.map.data, decoded) << "the picture was copied";
        EXPECT_EQ(reader.map.data[reader.map.size - 1], 0x11);
    }

    // Written, the copy takes bytes of its own; the decoder's picture is unchanged.
    GstBuffer* second = gst_buffer_copy(copy);
    {
        Mapped writer(second, GST_MAP_WRITE);
        EXPECT_NE(writer.map.data, decoded);
        EXPECT_EQ(writer.map.data[0], 0x11);
        std::memset(writer.map.data, 0x22, writer.map.size);
    }
    {
        Mapped reader(copy, GST_MAP_READ);
        EXPECT_EQ(reader.map.data[0], 0x11);
    }

    // The decoder lets its frame go back to the pool and decodes the next picture into the
    // buffer it gets: the copy handed on keeps the old picture.
    gst_buffer_unref(held);
    GstBuffer* next = nullptr;
    ASSERT_EQ(gst_buffer_pool_acquire_buffer(pool, &next, nullptr), GST_FLOW_OK);
    {
        Mapped decoder(next, GST_MAP_READWRITE);
        std::memset(decoder.map.data, 0x33, decoder.map.size);
    }
    {
        Mapped reader(copy, GST_MAP_READ);
        EXPECT_EQ(reader.map.data[0], 0x11);
        EXPECT_EQ(reader.map.data[reader.map.size / 2], 0x11);
    }
    gst_buffer_unref(next);
    gst_buffer_unref(second);
    gst_buffer_unref(copy);
    gst_buffer_pool_set_active(pool, FALSE);
    gst_object_unref(pool);
}
