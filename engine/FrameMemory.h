#pragma once

#include <gst/gst.h>
#include <gst/video/video.h>

// Memory for decoded video frames whose copies share the frame's bytes until one of them is
// written.
//
// A libav decoder keeps the frames it will predict later ones from (most frames of H.264, the I
// and P pictures of MPEG-2) mapped for writing while it holds them. When it hands such a frame
// on, the framework's decoder base makes the buffer writable for its time stamps; the bytes of
// memory mapped for writing cannot be shared, so the whole picture was copied (1.4 MB for each
// 720p frame), into new memory faulted in page by page. The decoder never writes into a picture
// it has handed on, so a copy of this memory reads the same bytes; a memory mapped for writing
// while another one reads its bytes first takes bytes of its own (copy on write).
//
// When a buffer of the pool below comes back while copies still read its bytes, it is given
// other bytes before it is handed out again (its content no longer matters then), so that the
// decoder never writes a new picture under a copy. Bytes nobody reads any more are kept for the
// next frames of their size.
//
// Any thread. The allocator is created once and lives for the process.
GstAllocator* FrameMemoryAllocator();

// A video buffer pool (full reference) for frames of that memory.
GstBufferPool* NewFramePool();

// Answers an allocation query with pool (taken over), configured for caps: frames of size bytes,
// from allocator (nullptr: the system's) with params, rows laid out by alignment when given, and
// a video meta on each frame. Every consumer here that takes YUV frames reads their layout from
// that meta. False, and nothing answered, when the pool refuses the configuration.
bool AnswerWithVideoPool(GstQuery* query, GstBufferPool* pool, GstCaps* caps, guint size,
                         GstAllocator* allocator, const GstAllocationParams& params,
                         const GstVideoAlignment* alignment);

// Whether mem is this allocator's and another memory (a copy, or what it was copied from) reads
// the same bytes (for tests).
bool FrameMemoryIsBorrowed(GstMemory* mem);
