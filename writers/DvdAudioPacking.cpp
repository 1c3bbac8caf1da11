#include "DvdAudioPacking.h"

extern "C" {
#include <libavcodec/ac3_parser.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "TempOutput.h"

namespace {

constexpr int kPackBytes = 2048;
// Bytes of a frame's start that must lie in one pack: the 7-byte AC-3 header (sync information
// and the bit-stream information up to the frame size) and one to spare.
constexpr int kMinFrameHead = 8;
// Bytes read from a frame's start to learn its size.
constexpr size_t kHeaderBytes = 16;
// Up to this many bytes the PES header carries stuffing; more become a padding packet, as the
// multiplexer does it.
constexpr int kMaxStuffing = 16;
// Fixed PES bytes around the optional parts: start code, length, the two flag bytes, the header
// length, and the private stream's sub-stream id, frame count and first access unit pointer.
constexpr int kPesFixedBytes = 9 + 4;
constexpr int kExtensionBytes = 3;  // extension flags and P-STD buffer size
constexpr int kTimestampBytes = 5;

// One audio PES as the multiplexer wrote it.
struct AudioPes {
    int64_t fileOffset = 0;  // of its start code
    int region = 0;          // bytes from its start code to the end of its pack
    uint8_t flagsByte = 0x80;
    bool timestamp = false;
    bool extension = false;
    uint8_t extensionBytes[kExtensionBytes] = {};
    uint8_t subId = 0;
    int64_t esStart = 0;  // offset in the audio elementary stream of its first payload byte
    int payload = 0;
    int64_t payloadFileOffset = 0;
};

// What one PES carries after mending.
struct PlannedPes {
    int64_t esStart = 0;
    int payload = 0;
    bool timestamp = false;
    int64_t pts = 0;
    int stuffing = 0;  // header stuffing, or a padding packet when more than kMaxStuffing
    int frames = 0;
    int firstAccessUnit = 0;
    bool changed = false;
};

bool ReadAt(int fd, int64_t offset, uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t got = pread(fd, data, size, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;
            return false;
        }
        data += got;
        size -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

bool WriteAt(int fd, int64_t offset, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t put = pwrite(fd, data, size, offset);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        data += put;
        size -= static_cast<size_t>(put);
        offset += put;
    }
    return true;
}

bool IsStartCode(const uint8_t* b) {
    return b[0] == 0 && b[1] == 0 && b[2] == 1;
}

int64_t ReadTimestamp(const uint8_t* b) {
    return (static_cast<int64_t>((b[0] >> 1) & 7) << 30) | (static_cast<int64_t>(b[1]) << 22) |
           (static_cast<int64_t>(b[2] >> 1) << 15) | (static_cast<int64_t>(b[3]) << 7) |
           (b[4] >> 1);
}

void PutTimestamp(uint8_t* b, int64_t ts) {
    b[0] = static_cast<uint8_t>(0x21 | (((ts >> 30) & 7) << 1));
    int v = static_cast<int>(((ts >> 15) & 0x7fff) << 1) | 1;
    b[1] = static_cast<uint8_t>(v >> 8);
    b[2] = static_cast<uint8_t>(v);
    v = static_cast<int>((ts & 0x7fff) << 1) | 1;
    b[3] = static_cast<uint8_t>(v >> 8);
    b[4] = static_cast<uint8_t>(v);
}

// Finds the AC-3 frames of the elementary stream as its bytes arrive, pack by pack.
class CFrameScanner {
public:
    // data: the stream's bytes from offset at on. False when the bytes are not AC-3 frames.
    bool Feed(const uint8_t* data, int size, int64_t at) {
        const int64_t end = at + size;
        while (m_next < end) {
            if (m_head.empty()) m_starts.push_back(m_next);
            int64_t from = m_next + static_cast<int64_t>(m_head.size());
            size_t take = static_cast<size_t>(
                std::min<int64_t>(static_cast<int64_t>(kHeaderBytes - m_head.size()), end - from));
            m_head.insert(m_head.end(), data + (from - at), data + (from - at) + take);
            if (m_head.size() < kHeaderBytes) return true;
            uint8_t bitstreamId = 0;
            uint16_t frameSize = 0;
            // Plain AC-3 only (bit-stream id up to 10): its frames all hold 1536 samples.
            if (av_ac3_parse_header(m_head.data(), m_head.size(), &bitstreamId, &frameSize) < 0 ||
                bitstreamId > 10 || frameSize < kHeaderBytes)
                return false;
            m_next += frameSize;
            m_head.clear();
        }
        return true;
    }
    int64_t End() const { return m_next; }
    const std::vector<int64_t>& Starts() const { return m_starts; }

private:
    int64_t m_next = 0;  // offset of the next frame start
    std::vector<uint8_t> m_head;
    std::vector<int64_t> m_starts;
};

// Reads the audio PES of every pack. False when the file is not laid out as expected.
bool ScanPacks(int fd, int64_t fileSize, std::vector<AudioPes>* list, CFrameScanner* frames,
               std::vector<std::pair<int64_t, int64_t>>* stamps, bool* ioFailed) {
    // Read a batch of packs at a time: a DVD file may hold gigabytes.
    constexpr int64_t kBatchPacks = 512;
    std::vector<uint8_t> batch(static_cast<size_t>(kBatchPacks * kPackBytes));
    int64_t batchStart = 0, batchEnd = 0;
    int64_t es = 0;
    int subId = -1;
    for (int64_t offset = 0; offset < fileSize; offset += kPackBytes) {
        if (offset >= batchEnd) {
            batchStart = offset;
            batchEnd = std::min(fileSize, offset + kBatchPacks * kPackBytes);
            if (!ReadAt(fd, batchStart, batch.data(), static_cast<size_t>(batchEnd - batchStart))) {
                *ioFailed = true;
                return false;
            }
        }
        const uint8_t* b = batch.data() + (offset - batchStart);
        // MPEG-2 pack header, then packets up to the end of the pack.
        if (!IsStartCode(b) || b[3] != 0xBA || (b[4] & 0xC0) != 0x40) return false;
        int pos = 14 + (b[13] & 7);
        bool audioSeen = false;
        while (pos < kPackBytes) {
            if (pos + 6 > kPackBytes || !IsStartCode(b + pos)) return false;
            const uint8_t id = b[pos + 3];
            const int end = pos + 6 + ((b[pos + 4] << 8) | b[pos + 5]);
            if (end > kPackBytes) return false;
            // Only padding may follow the audio PES in its pack: the PES may grow into it.
            if (audioSeen && id != 0xBE) return false;
            if (id == 0xBD && end >= pos + 9 && (b[pos + 6] & 0xC0) == 0x80 &&
                pos + 9 + b[pos + 8] + 4 <= end && (b[pos + 9 + b[pos + 8]] & 0xF8) == 0x80) {
                AudioPes pes;
                pes.fileOffset = offset + pos;
                pes.region = kPackBytes - pos;
                pes.flagsByte = b[pos + 6];
                const uint8_t flags = b[pos + 7];
                const int headerLength = b[pos + 8];
                pes.timestamp = flags & 0x80;
                pes.extension = flags & 0x01;
                // DTS or extensions other than the P-STD buffer: not the multiplexer's layout.
                if ((flags & 0x7E) != 0) return false;
                int h = pos + 9;
                int64_t pts = -1;
                if (pes.timestamp) {
                    pts = ReadTimestamp(b + h);
                    h += kTimestampBytes;
                }
                if (pes.extension) {
                    if (b[h] != 0x10) return false;
                    std::memcpy(pes.extensionBytes, b + h, kExtensionBytes);
                    h += kExtensionBytes;
                }
                if (pos + 9 + headerLength < h) return false;
                const int payloadAt = pos + 9 + headerLength;
                pes.subId = b[payloadAt];
                if (subId >= 0 && pes.subId != subId) return false;  // one audio stream only
                subId = pes.subId;
                const int firstAccessUnit = (b[payloadAt + 2] << 8) | b[payloadAt + 3];
                pes.payloadFileOffset = offset + payloadAt + 4;
                pes.payload = end - (payloadAt + 4);
                pes.esStart = es;
                if (pes.region < kPesFixedBytes + kExtensionBytes + kTimestampBytes + kMinFrameHead)
                    return false;
                if (!frames->Feed(b + payloadAt + 4, pes.payload, es)) return false;
                if (pes.timestamp && firstAccessUnit >= 1 && firstAccessUnit <= pes.payload)
                    stamps->push_back({es + firstAccessUnit - 1, pts});
                es += pes.payload;
                list->push_back(pes);
                audioSeen = true;
            }
            pos = end;
        }
    }
    return frames->End() == es && !list->empty();
}

// The presentation time of every frame: where a PES stamped it, else its predecessor's plus
// one frame. False when a stamp names no frame start.
bool FrameTimes(const std::vector<int64_t>& starts,
                const std::vector<std::pair<int64_t, int64_t>>& stamps, int64_t ticksPerFrame,
                std::vector<int64_t>* times) {
    constexpr int64_t kUnknown = -1;
    times->assign(starts.size(), kUnknown);
    for (const auto& [at, pts] : stamps) {
        auto it = std::lower_bound(starts.begin(), starts.end(), at);
        if (it == starts.end() || *it != at) return false;
        (*times)[static_cast<size_t>(it - starts.begin())] = pts;
    }
    auto first = std::find_if(times->begin(), times->end(), [](int64_t t) { return t >= 0; });
    if (first == times->end()) return false;
    for (auto it = first; it != times->begin(); --it) *(it - 1) = *it - ticksPerFrame;
    for (auto it = first + 1; it != times->end(); ++it)
        if (*it == kUnknown) *it = *(it - 1) + ticksPerFrame;
    return true;
}

// Lays the stream out again over the same PES: each carries what it carried, plus what an
// earlier one passed on, but never a frame start too close to its end. False when the stream
// does not fit (then nothing is changed).
bool Plan(const std::vector<AudioPes>& list, const std::vector<int64_t>& starts,
          const std::vector<int64_t>& times, int64_t esEnd, std::vector<PlannedPes>* plan,
          bool* anyChange) {
    *anyChange = false;
    int64_t p = 0;
    auto firstStartFrom = [&](int64_t at) {
        return static_cast<size_t>(std::lower_bound(starts.begin(), starts.end(), at) -
                                   starts.begin());
    };
    for (const AudioPes& pes : list) {
        // Bytes for the time stamp, stuffing and payload.
        const int room = pes.region - kPesFixedBytes - (pes.extension ? kExtensionBytes : 0);
        const int64_t available = pes.esStart + pes.payload - p;
        if (available < 0) return false;
        PlannedPes out;
        out.esStart = p;
        const size_t lo = firstStartFrom(p);
        int64_t length = std::min<int64_t>(room - kTimestampBytes, available);
        size_t hi = firstStartFrom(p + length);
        if (lo == hi) {
            // No frame starts here: no time stamp, and its bytes carry payload instead.
            length = std::min<int64_t>(room, available);
            hi = firstStartFrom(p + length);
            if (lo < hi) {
                length = starts[lo] - p;
                hi = lo;
            }
        } else if (p + length - starts[hi - 1] < kMinFrameHead) {
            // The last frame's header would be split: it starts in the next PES instead.
            length = starts[hi - 1] - p;
            --hi;
        }
        out.payload = static_cast<int>(length);
        out.frames = static_cast<int>(hi - lo);
        out.timestamp = out.frames > 0;
        if (out.timestamp) out.pts = times[lo];
        out.stuffing = room - (out.timestamp ? kTimestampBytes : 0) - out.payload;
        out.firstAccessUnit = static_cast<int>((lo < starts.size() ? starts[lo] : esEnd) - p + 1);
        // The stuffing follows from these: a PES that carries the same bytes stays as written.
        out.changed =
            p != pes.esStart || out.payload != pes.payload || out.timestamp != pes.timestamp;
        *anyChange = *anyChange || out.changed;
        p += length;
        plan->push_back(out);
    }
    return p == esEnd;
}

// The bytes of one mended PES (and its padding packet) filling pes.region.
void BuildPes(const AudioPes& pes, const PlannedPes& planned, const uint8_t* payload,
              std::vector<uint8_t>* out) {
    out->assign(static_cast<size_t>(pes.region), 0xFF);
    uint8_t* o = out->data();
    const bool padding = planned.stuffing > kMaxStuffing;
    const int headerStuffing = padding ? 0 : planned.stuffing;
    const int pesLength = pes.region - 6 - (padding ? planned.stuffing : 0);
    o[0] = 0;
    o[1] = 0;
    o[2] = 1;
    o[3] = 0xBD;
    o[4] = static_cast<uint8_t>(pesLength >> 8);
    o[5] = static_cast<uint8_t>(pesLength);
    o[6] = pes.flagsByte;
    o[7] = static_cast<uint8_t>((planned.timestamp ? 0x80 : 0) | (pes.extension ? 0x01 : 0));
    o[8] = static_cast<uint8_t>((planned.timestamp ? kTimestampBytes : 0) +
                                (pes.extension ? kExtensionBytes : 0) + headerStuffing);
    int k = 9;
    if (planned.timestamp) {
        PutTimestamp(o + k, planned.pts);
        k += kTimestampBytes;
    }
    if (pes.extension) {
        std::memcpy(o + k, pes.extensionBytes, kExtensionBytes);
        k += kExtensionBytes;
    }
    k += headerStuffing;  // already 0xFF
    o[k++] = pes.subId;
    o[k++] = static_cast<uint8_t>(planned.frames);
    o[k++] = static_cast<uint8_t>(planned.firstAccessUnit >> 8);
    o[k++] = static_cast<uint8_t>(planned.firstAccessUnit);
    std::memcpy(o + k, payload, static_cast<size_t>(planned.payload));
    k += planned.payload;
    if (padding) {
        o[k] = 0;
        o[k + 1] = 0;
        o[k + 2] = 1;
        o[k + 3] = 0xBE;
        o[k + 4] = static_cast<uint8_t>((planned.stuffing - 6) >> 8);
        o[k + 5] = static_cast<uint8_t>(planned.stuffing - 6);
    }
}

// Rewrites the PES that change. Each PES's own bytes are read before it is overwritten; bytes
// it passes on wait in a queue for the next one.
bool Rewrite(int fd, const std::vector<AudioPes>& list, const std::vector<PlannedPes>& plan) {
    std::vector<uint8_t> queue;
    int64_t queueStart = 0;  // stream offset of queue[0]
    std::vector<uint8_t> pesBytes;
    for (size_t i = 0; i < list.size(); ++i) {
        const AudioPes& pes = list[i];
        const PlannedPes& planned = plan[i];
        if (!planned.changed && queue.empty()) {
            queueStart = pes.esStart + pes.payload;
            continue;
        }
        if (queue.empty()) queueStart = pes.esStart;
        const size_t had = queue.size();
        queue.resize(had + static_cast<size_t>(pes.payload));
        if (!ReadAt(fd, pes.payloadFileOffset, queue.data() + had,
                    static_cast<size_t>(pes.payload)))
            return false;
        const size_t from = static_cast<size_t>(planned.esStart - queueStart);
        BuildPes(pes, planned, queue.data() + from, &pesBytes);
        if (!WriteAt(fd, pes.fileOffset, pesBytes.data(), pesBytes.size())) return false;
        const size_t used = from + static_cast<size_t>(planned.payload);
        queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(used));
        queueStart += static_cast<int64_t>(used);
    }
    return true;
}

}  // namespace

bool MendDvdAudioPacks(const std::string& path, int64_t ticksPerFrame, std::string* error) {
    int fd = CTempOutput::OpenOwnFile(path, O_RDWR);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    struct stat st = {};
    bool ok = fstat(fd, &st) == 0;
    bool ioFailed = !ok;
    if (ok && st.st_size > 0 && st.st_size % kPackBytes == 0) {
        std::vector<AudioPes> list;
        CFrameScanner frames;
        std::vector<std::pair<int64_t, int64_t>> stamps;
        std::vector<int64_t> times;
        std::vector<PlannedPes> plan;
        bool anyChange = false;
        if (ScanPacks(fd, st.st_size, &list, &frames, &stamps, &ioFailed) &&
            FrameTimes(frames.Starts(), stamps, ticksPerFrame, &times) &&
            Plan(list, frames.Starts(), times, frames.End(), &plan, &anyChange) && anyChange) {
            ioFailed = !Rewrite(fd, list, plan);
        }
    }
    if (ioFailed) *error = std::strerror(errno);
    if (close(fd) != 0 && !ioFailed) {
        ioFailed = true;
        *error = std::strerror(errno);
    }
    return !ioFailed;
}
