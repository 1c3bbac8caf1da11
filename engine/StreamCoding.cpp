#include "StreamCoding.h"

#include <gst/audio/audio.h>
#include <gst/video/video.h>

#include <cstring>
#include <fstream>

namespace {

const GstStructure* FirstStructure(const GstCaps* caps) {
    if (!caps || gst_caps_get_size(caps) == 0) return nullptr;
    return gst_caps_get_structure(caps, 0);
}

int IntField(const GstStructure* s, const char* name, int fallback) {
    int value = fallback;
    if (s && gst_structure_get_int(s, name, &value)) return value;
    return fallback;
}

bool IsFourChars(const char* text) {
    return text && std::strlen(text) == 4;
}

// The code for a compressed video caps name that carries no code of its own.
const char* FourccForCaps(const GstStructure* s) {
    const char* name = gst_structure_get_name(s);
    struct Entry {
        const char* caps;
        const char* fourcc;
    };
    static const Entry kTable[] = {
        {"image/jpeg", "MJPG"},          {"video/x-h264", "H264"},
        {"video/x-h265", "HEVC"},        {"video/x-xvid", "XVID"},
        {"video/x-h263", "H263"},        {"video/x-dv", "dvsd"},
        {"video/x-vp8", "VP80"},         {"video/x-vp9", "VP90"},
        {"video/x-theora", "THEO"},      {"video/x-huffyuv", "HFYU"},
        {"video/x-cinepak", "cvid"},     {"video/x-msvideocodec", "MSVC"},
        {"video/x-flash-video", "FLV1"}, {"video/x-av1", "AV01"},
    };
    for (const Entry& e : kTable) {
        if (std::strcmp(name, e.caps) == 0) return e.fourcc;
    }
    if (std::strcmp(name, "video/mpeg") == 0 && IntField(s, "mpegversion", 0) == 4) return "MP4V";
    if (std::strcmp(name, "video/x-divx") == 0) {
        switch (IntField(s, "divxversion", 0)) {
            case 3:
                return "DIV3";
            case 4:
                return "DIVX";
            case 5:
                return "DX50";
            default:
                return nullptr;
        }
    }
    if (std::strcmp(name, "video/x-msmpeg") == 0) {
        switch (IntField(s, "msmpegversion", 0)) {
            case 41:
                return "MPG4";
            case 42:
                return "MP42";
            case 43:
                return "MP43";
            default:
                return nullptr;
        }
    }
    if (std::strcmp(name, "video/x-wmv") == 0) {
        switch (IntField(s, "wmvversion", 0)) {
            case 1:
                return "WMV1";
            case 2:
                return "WMV2";
            case 3:
                return "WMV3";
            default:
                return nullptr;
        }
    }
    return nullptr;
}

std::uint32_t ReadLe32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool Tag(const unsigned char* p, const char* tag) {
    return std::memcmp(p, tag, 4) == 0;
}

}  // namespace

std::string FourccText(std::uint32_t fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        // Zero ends the code (BI_RGB gives ""); so does any other control byte, which only
        // small non-FourCC compression numbers such as BI_BITFIELDS contain.
        if (static_cast<unsigned char>(c) < 0x20) break;
        text += c;
    }
    return text;
}

std::string VideoCodingText(const GstCaps* caps, std::optional<std::uint32_t> headerFourcc) {
    // A container header that carries a bitmap header names the coding itself, whatever the
    // stream is (AVI gives 'mpg1' for MPEG-1 video, not "MPEG1").
    if (headerFourcc) return FourccText(*headerFourcc);
    const GstStructure* s = FirstStructure(caps);
    if (!s) return "Unknown";
    if (gst_structure_has_name(s, "video/mpeg")) {
        const int version = IntField(s, "mpegversion", 0);
        if (version == 1) return "MPEG1";
        if (version == 2) return "MPEG2";
    }
    if (gst_structure_has_name(s, "video/x-raw")) {
        GstVideoInfo info;
        if (gst_video_info_from_caps(&info, caps) && GST_VIDEO_INFO_IS_RGB(&info)) return "";
        const char* format = gst_structure_get_string(s, "format");
        if (IsFourChars(format)) return format;
        if (format) {
            const guint32 code = gst_video_format_to_fourcc(gst_video_format_from_string(format));
            if (code) return FourccText(code);
        }
        return "Unknown";
    }
    // Containers that keep the stream header's code in the caps (asfdemux: format="WMV2";
    // codings the container knows no caps for: video/x-avi-unknown with fourcc).
    guint32 code = 0;
    if (gst_structure_get_uint(s, "fourcc", &code) && code) return FourccText(code);
    if (const char* format = gst_structure_get_string(s, "format"); IsFourChars(format)) {
        return format;
    }
    if (const char* known = FourccForCaps(s)) return known;
    return "Unknown";
}

AudioCoding DescribeAudio(const GstCaps* caps, const GstCaps* parsedCaps, bool mpeg2Program) {
    AudioCoding coding;
    coding.text = "Unknown";
    const GstStructure* s = FirstStructure(caps);
    if (!s) return coding;
    const GstStructure* parsed = FirstStructure(parsedCaps);

    const char* name = gst_structure_get_name(s);
    if (std::strcmp(name, "audio/x-private1-lpcm") == 0 || std::strcmp(name, "audio/x-lpcm") == 0) {
        coding.text = "DVD_LPCM";
        return coding;
    }

    int bits = 0;
    if (std::strcmp(name, "audio/x-raw") == 0) {
        coding.text = "PCM";
        GstAudioInfo info;
        if (gst_audio_info_from_caps(&info, caps)) bits = GST_AUDIO_INFO_WIDTH(&info);
    } else if (std::strcmp(name, "audio/x-adpcm") == 0) {
        const char* layout = gst_structure_get_string(s, "layout");
        if (layout && std::strcmp(layout, "microsoft") == 0) coding.text = "ADPCM";
        if (layout && std::strcmp(layout, "dvi") == 0) coding.text = "IMA ADPCM";
        bits = IntField(s, "bitspersample", 4);
    } else if (std::strcmp(name, "audio/mpeg") == 0 && IntField(s, "mpegversion", 0) == 1) {
        const int layer = IntField(s, "layer", IntField(parsed, "layer", 0));
        if (layer == 3) {
            coding.text = "MP3";
        } else {
            coding.text = mpeg2Program ? "MPEG2" : "MPEG1";
        }
    } else if (std::strcmp(name, "audio/x-wma") == 0) {
        coding.text = "Windows media";
    } else if (std::strcmp(name, "audio/x-alaw") == 0 || std::strcmp(name, "audio/x-mulaw") == 0) {
        bits = 8;
    }
    if (bits == 0) bits = IntField(s, "depth", IntField(s, "width", 0));

    const int rate = IntField(s, "rate", IntField(parsed, "rate", 0));
    const int channels = IntField(s, "channels", IntField(parsed, "channels", 0));
    coding.hasParams = true;
    coding.params = AudioParams{static_cast<std::uint32_t>(rate > 0 ? rate : 0),
                                static_cast<std::uint16_t>(bits > 0 ? bits : 0),
                                channels == 1 ? 1 : 0, kFormatTagNone, -1};
    return coding;
}

std::vector<std::uint32_t> ReadAviVideoFourccs(const std::string& path) {
    std::vector<std::uint32_t> codes;
    std::ifstream file(path, std::ios::binary);
    unsigned char head[12];
    if (!file.read(reinterpret_cast<char*>(head), sizeof head)) return codes;
    if (!Tag(head, "RIFF") || !Tag(head + 8, "AVI ")) return codes;
    // The header list comes first; a sane one is far smaller than this bound.
    constexpr std::uint32_t kMaxHeader = 1 << 20;
    unsigned char chunk[12];
    if (!file.read(reinterpret_cast<char*>(chunk), sizeof chunk)) return codes;
    if (!Tag(chunk, "LIST") || !Tag(chunk + 8, "hdrl")) return codes;
    const std::uint32_t listSize = ReadLe32(chunk + 4);
    if (listSize < 4 || listSize > kMaxHeader) return codes;
    std::vector<unsigned char> list(listSize - 4);
    if (!file.read(reinterpret_cast<char*>(list.data()),
                   static_cast<std::streamsize>(list.size()))) {
        return codes;
    }
    // Walks the stream lists of the header list: each holds 'strh' (fccType first) and
    // 'strf' (a BITMAPINFOHEADER for video: biCompression at offset 16).
    std::size_t pos = 0;
    while (pos + 8 <= list.size()) {
        const std::uint32_t size = ReadLe32(&list[pos + 4]);
        const std::size_t body = pos + 8;
        if (size > list.size() - body) break;
        if (Tag(&list[pos], "LIST") && size >= 4 && Tag(&list[body], "strl")) {
            bool video = false;
            std::optional<std::uint32_t> compression;
            std::size_t sub = body + 4;
            const std::size_t end = body + size;
            while (sub + 8 <= end) {
                const std::uint32_t subSize = ReadLe32(&list[sub + 4]);
                const std::size_t data = sub + 8;
                if (subSize > end - data) break;
                if (Tag(&list[sub], "strh") && subSize >= 4) video = Tag(&list[data], "vids");
                if (Tag(&list[sub], "strf") && subSize >= 20)
                    compression = ReadLe32(&list[data + 16]);
                sub = data + subSize + (subSize & 1);
            }
            if (video) codes.push_back(compression.value_or(0));
        }
        pos = body + size + (size & 1);
    }
    return codes;
}

bool IsMpeg2ProgramStream(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> data(64 * 1024);
    file.read(data.data(), static_cast<std::streamsize>(data.size()));
    const std::size_t n = static_cast<std::size_t>(file.gcount());
    for (std::size_t i = 0; i + 4 < n; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 &&
            static_cast<unsigned char>(data[i + 3]) == 0xBA) {
            // MPEG-2 pack headers start with the bits 01, MPEG-1 ones with 0010.
            return (static_cast<unsigned char>(data[i + 4]) & 0xC0) == 0x40;
        }
    }
    return false;
}
