#include "AudioTags.h"

#include <glib.h>

namespace {

void PutBigEndian32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutLittleEndian32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutId(std::vector<uint8_t>& out, const char* id) {
    out.insert(out.end(), id, id + 4);
}

// The text in the ID3 encoding that holds it: 0 (Latin-1) when it can, else 1 (UTF-16 with a
// byte order mark). terminate adds the encoding's end mark.
std::vector<uint8_t> EncodeId3Text(const std::string& utf8, uint8_t* encoding, bool terminate) {
    std::vector<uint8_t> out;
    gsize written = 0;
    gchar* latin1 = g_convert(utf8.data(), static_cast<gssize>(utf8.size()), "ISO-8859-1", "UTF-8",
                              nullptr, &written, nullptr);
    if (latin1) {
        *encoding = 0;
        out.assign(latin1, latin1 + written);
        g_free(latin1);
        if (terminate) out.push_back(0);
        return out;
    }
    *encoding = 1;
    glong units = 0;
    gunichar2* utf16 =
        g_utf8_to_utf16(utf8.data(), static_cast<glong>(utf8.size()), nullptr, &units, nullptr);
    out = {0xFF, 0xFE};
    for (glong i = 0; utf16 && i < units; ++i) {
        out.push_back(static_cast<uint8_t>(utf16[i]));
        out.push_back(static_cast<uint8_t>(utf16[i] >> 8));
    }
    g_free(utf16);
    if (terminate) out.insert(out.end(), {0, 0});
    return out;
}

void PutFrame(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body) {
    PutId(out, id);
    PutBigEndian32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), {0, 0});  // flags
    out.insert(out.end(), body.begin(), body.end());
}

void PutTextFrame(std::vector<uint8_t>& out, const char* id, const std::string& text) {
    if (text.empty()) return;
    uint8_t encoding = 0;
    std::vector<uint8_t> encoded = EncodeId3Text(text, &encoding, false);
    std::vector<uint8_t> body{encoding};
    body.insert(body.end(), encoded.begin(), encoded.end());
    PutFrame(out, id, body);
}

void PutInfo(std::vector<uint8_t>& out, const char* id, const std::string& text) {
    if (text.empty()) return;
    const uint32_t size = static_cast<uint32_t>(text.size() + 1);
    PutId(out, id);
    PutLittleEndian32(out, size);
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    if (size & 1) out.push_back(0);
}

}  // namespace

std::vector<uint8_t> BuildId3v23Tag(const AudioTags& tags) {
    if (tags.Empty()) return {};
    std::vector<uint8_t> frames;
    PutTextFrame(frames, "TIT2", tags.title);
    PutTextFrame(frames, "TPE1", tags.artist);
    PutTextFrame(frames, "TALB", tags.album);
    if (tags.trackNumber) PutTextFrame(frames, "TRCK", std::to_string(tags.trackNumber));
    // Version 2.3 has the year alone.
    if (tags.date.size() >= 4) PutTextFrame(frames, "TYER", tags.date.substr(0, 4));
    PutTextFrame(frames, "TCON", tags.genre);
    if (!tags.comment.empty()) {
        // Encoding, language, an empty short description, then the text.
        uint8_t encoding = 0;
        std::vector<uint8_t> text = EncodeId3Text(tags.comment, &encoding, false);
        std::vector<uint8_t> body{encoding, 'e', 'n', 'g'};
        if (encoding == 1)
            body.insert(body.end(), {0xFF, 0xFE, 0, 0});
        else
            body.push_back(0);
        body.insert(body.end(), text.begin(), text.end());
        PutFrame(frames, "COMM", body);
    }
    std::vector<uint8_t> tag{'I', 'D', '3', 3, 0, 0};
    // The size is "synchsafe": 7 bits per byte.
    const uint32_t size = static_cast<uint32_t>(frames.size());
    for (int shift = 21; shift >= 0; shift -= 7) tag.push_back((size >> shift) & 0x7F);
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

std::vector<uint8_t> BuildInfoListChunk(const AudioTags& tags) {
    if (tags.Empty()) return {};
    std::vector<uint8_t> body;
    PutId(body, "INFO");
    PutInfo(body, "INAM", tags.title);
    PutInfo(body, "IART", tags.artist);
    PutInfo(body, "IPRD", tags.album);
    if (tags.trackNumber) PutInfo(body, "ITRK", std::to_string(tags.trackNumber));
    PutInfo(body, "ICRD", tags.date);
    PutInfo(body, "IGNR", tags.genre);
    PutInfo(body, "ICMT", tags.comment);
    std::vector<uint8_t> chunk;
    PutId(chunk, "LIST");
    PutLittleEndian32(chunk, static_cast<uint32_t>(body.size()));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}
