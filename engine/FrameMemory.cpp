#include "FrameMemory.h"

#include <gst/video/gstvideopool.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// The bytes of one memory's extent; shared by the memory and its copies, recycled when the last
// one lets go (a decoder allocates frames of one size all the time: new bytes from the system
// would be faulted in page by page every time).
struct Block {
    guint8* data = nullptr;
    gsize size = 0;
    gsize align = 0;  // a mask, as the framework writes alignments
    std::atomic<int> users{1};
};

class CBlockCache {
public:
    Block* Take(gsize align, gsize size) {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            for (auto it = m_free.begin(); it != m_free.end(); ++it) {
                Block* block = *it;
                if (block->size == size && (block->align & align) == align) {
                    m_keptBytes -= block->size;
                    m_free.erase(it);
                    block->users = 1;
                    return block;
                }
            }
        }
        void* data = nullptr;
        const gsize alignment = std::max<gsize>(align + 1, sizeof(void*));
        if (posix_memalign(&data, alignment, std::max<gsize>(size, 1)) != 0) return nullptr;
        auto* block = new Block;
        block->data = static_cast<guint8*>(data);
        block->size = size;
        block->align = align;
        return block;
    }

    // The oldest kept bytes make room for the newest (those of another frame size, say).
    void Give(Block* block) {
        if (--block->users > 0) return;
        std::vector<Block*> released;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            if (block->size > kKeptBytes) {
                released.push_back(block);
            } else {
                while (m_keptBytes + block->size > kKeptBytes) {
                    m_keptBytes -= m_free.front()->size;
                    released.push_back(m_free.front());
                    m_free.erase(m_free.begin());
                }
                m_keptBytes += block->size;
                m_free.push_back(block);
            }
        }
        for (Block* gone : released) {
            std::free(gone->data);
            delete gone;
        }
    }

private:
    // Enough for the frames a decoder and the queues after it have in flight (some 20 frames of
    // 1080p); the rest goes back to the system, and so little stays with an idle window.
    static constexpr gsize kKeptBytes = 64 * 1024 * 1024;
    std::mutex m_lock;
    std::vector<Block*> m_free;
    gsize m_keptBytes = 0;
};

CBlockCache& Blocks() {
    static auto* cache = new CBlockCache;  // lives for the process: memories may outlive main()
    return *cache;
}

struct FrameMemory {
    GstMemory mem;
    std::mutex lock;
    Block* block = nullptr;

    static FrameMemory* Of(GstMemory* mem) { return reinterpret_cast<FrameMemory*>(mem); }
};
static_assert(std::is_standard_layout_v<FrameMemory>, "the framework's memory comes first");

FrameMemory* Wrap(GstAllocator* allocator, Block* block, GstMemoryFlags flags, GstMemory* parent,
                  gsize align, gsize offset, gsize size) {
    auto* memory = new FrameMemory;
    memory->block = block;
    gst_memory_init(GST_MEMORY_CAST(memory), flags, allocator, parent, block->size, align, offset,
                    size);
    return memory;
}

GstMemory* Alloc(GstAllocator* allocator, gsize size, GstAllocationParams* params) {
    const gsize align = params->align | gst_memory_alignment;
    const gsize maxsize = params->prefix + size + params->padding;
    Block* block = Blocks().Take(align, maxsize);
    if (!block) return nullptr;
    if (params->prefix && (params->flags & GST_MEMORY_FLAG_ZERO_PREFIXED))
        std::memset(block->data, 0, params->prefix);
    if (params->padding && (params->flags & GST_MEMORY_FLAG_ZERO_PADDED))
        std::memset(block->data + params->prefix + size, 0, params->padding);
    return GST_MEMORY_CAST(Wrap(allocator, block, GstMemoryFlags(params->flags), nullptr, align,
                                params->prefix, size));
}

void Free(GstAllocator*, GstMemory* mem) {
    FrameMemory* memory = FrameMemory::Of(mem);
    Blocks().Give(memory->block);
    delete memory;
}

// Mapping for writing bytes that copies also read gives the memory bytes of its own first. The
// framework's locking guarantees that no one else has this memory mapped then.
gpointer Map(GstMemory* mem, gsize, GstMapFlags flags) {
    FrameMemory* memory = FrameMemory::Of(mem);
    std::lock_guard<std::mutex> hold(memory->lock);
    if ((flags & GST_MAP_WRITE) && memory->block->users > 1) {
        Block* own = Blocks().Take(memory->block->align, memory->block->size);
        if (!own) return nullptr;
        std::memcpy(own->data, memory->block->data, own->size);
        Blocks().Give(std::exchange(memory->block, own));
    }
    return memory->block->data;
}

void Unmap(GstMemory*) {}

Block* SharedBlock(FrameMemory* memory) {
    std::lock_guard<std::mutex> hold(memory->lock);
    ++memory->block->users;
    return memory->block;
}

GstMemory* Copy(GstMemory* mem, gssize offset, gssize size) {
    if (size == -1) size = mem->size > gsize(offset) ? gssize(mem->size) - offset : 0;
    Block* block = SharedBlock(FrameMemory::Of(mem));
    return GST_MEMORY_CAST(Wrap(mem->allocator, block, GstMemoryFlags(0), nullptr, mem->align,
                                mem->offset + gsize(offset), gsize(size)));
}

// A read-only view of part of the memory, as the framework's own memory shares.
GstMemory* Share(GstMemory* mem, gssize offset, gssize size) {
    if (size == -1) size = mem->size > gsize(offset) ? gssize(mem->size) - offset : 0;
    GstMemory* parent = mem->parent ? mem->parent : mem;
    Block* block = SharedBlock(FrameMemory::Of(mem));
    return GST_MEMORY_CAST(
        Wrap(mem->allocator, block,
             GstMemoryFlags(GST_MINI_OBJECT_FLAGS(parent) | GST_MINI_OBJECT_FLAG_LOCK_READONLY),
             parent, mem->align, mem->offset + gsize(offset), gsize(size)));
}

gboolean IsSpan(GstMemory*, GstMemory*, gsize*) {
    return FALSE;
}

}  // namespace

extern "C" {
struct KestrinFrameAllocator {
    GstAllocator parent;
};
struct KestrinFrameAllocatorClass {
    GstAllocatorClass parentClass;
};
G_DEFINE_TYPE(KestrinFrameAllocator, kestrin_frame_allocator, GST_TYPE_ALLOCATOR)

static void kestrin_frame_allocator_class_init(KestrinFrameAllocatorClass* klass) {
    GstAllocatorClass* allocatorClass = GST_ALLOCATOR_CLASS(klass);
    allocatorClass->alloc = Alloc;
    allocatorClass->free = Free;
}

static void kestrin_frame_allocator_init(KestrinFrameAllocator* self) {
    GstAllocator* allocator = GST_ALLOCATOR(self);
    allocator->mem_type = "KestrinFrameMemory";
    allocator->mem_map = Map;
    allocator->mem_unmap = Unmap;
    allocator->mem_copy = Copy;
    allocator->mem_share = Share;
    allocator->mem_is_span = IsSpan;
}
}

extern "C" {
struct KestrinFramePool {
    GstVideoBufferPool parent;
};
struct KestrinFramePoolClass {
    GstVideoBufferPoolClass parentClass;
};
G_DEFINE_TYPE(KestrinFramePool, kestrin_frame_pool, GST_TYPE_VIDEO_BUFFER_POOL)

// A buffer that comes back while copies still read its bytes gets other bytes before it is
// handed out again; the copies keep theirs. Its content no longer matters to anyone.
static void ReleaseFrame(GstBufferPool* pool, GstBuffer* buffer) {
    for (guint i = 0, n = gst_buffer_n_memory(buffer); i < n; ++i) {
        GstMemory* mem = gst_buffer_peek_memory(buffer, i);
        if (mem->allocator != FrameMemoryAllocator() || mem->parent || !gst_memory_is_writable(mem))
            continue;
        FrameMemory* memory = FrameMemory::Of(mem);
        std::lock_guard<std::mutex> hold(memory->lock);
        if (memory->block->users == 1) continue;
        Block* other = Blocks().Take(memory->block->align, memory->block->size);
        if (!other) {
            GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_TAG_MEMORY);  // let the pool drop it
            break;
        }
        Blocks().Give(std::exchange(memory->block, other));
    }
    GST_BUFFER_POOL_CLASS(kestrin_frame_pool_parent_class)->release_buffer(pool, buffer);
}

static void kestrin_frame_pool_class_init(KestrinFramePoolClass* klass) {
    GST_BUFFER_POOL_CLASS(klass)->release_buffer = ReleaseFrame;
}

static void kestrin_frame_pool_init(KestrinFramePool*) {}
}

GstBufferPool* NewFramePool() {
    auto* pool = GST_BUFFER_POOL(g_object_new(kestrin_frame_pool_get_type(), nullptr));
    gst_object_ref_sink(pool);
    return pool;
}

GstAllocator* FrameMemoryAllocator() {
    static GstAllocator* allocator = [] {
        auto* made = GST_ALLOCATOR(g_object_new(kestrin_frame_allocator_get_type(), nullptr));
        gst_object_ref_sink(made);
        return made;
    }();
    return allocator;
}

bool AnswerWithVideoPool(GstQuery* query, GstBufferPool* pool, GstCaps* caps, guint size,
                         GstAllocator* allocator, const GstAllocationParams& params,
                         const GstVideoAlignment* alignment) {
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, size, 0, 0);
    gst_buffer_pool_config_set_allocator(config, allocator, &params);
    gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    if (alignment) {
        gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_ALIGNMENT);
        gst_buffer_pool_config_set_video_alignment(config, alignment);
    }
    const bool configured = gst_buffer_pool_set_config(pool, config);
    if (configured) {
        gst_query_add_allocation_pool(query, pool, size, 0, 0);
        gst_query_add_allocation_param(query, allocator, &params);
        gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
    }
    gst_object_unref(pool);
    return configured;
}

bool FrameMemoryIsBorrowed(GstMemory* mem) {
    if (!mem || mem->allocator != FrameMemoryAllocator()) return false;
    FrameMemory* memory = FrameMemory::Of(mem);
    std::lock_guard<std::mutex> hold(memory->lock);
    return memory->block->users > 1;
}
