#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>

#include "ConversionSettings.h"

class CProjectItem;

// The main window's clip collection: clips in the order they were added (the order of the
// rows). The list owns its clips.
using CClipList = std::list<std::unique_ptr<CProjectItem>>;
using ClipListPos = CClipList::iterator;

// The source's descriptive tags (title, artist, album, track number, date, genre, comment) as the
// media framework reads them; shared by copies of the item, never changed once read.
using ClipTagsRef = std::shared_ptr<const GstTagList>;

// Reference time: a signed 64-bit count of 100-nanosecond units.
using RefTime = std::int64_t;
constexpr RefTime kRefTimePerSecond = 10'000'000;

// One media file in the clip list: its names, size and list position (set by Add clip), the
// media facts found by the probe, and the percentage reached by its latest conversion.
// Strings are UTF-8; paths use '/' as separator.
class CProjectItem {
public:
    CProjectItem() = default;
    virtual ~CProjectItem() = default;

    const std::string& GetName() const { return m_name; }
    void SetName(const std::string& name) { m_name = name; }
    const std::string& GetPath() const { return m_path; }
    void SetPath(const std::string& path) { m_path = path; }
    const std::string& GetVideoCodec() const { return m_videoCodec; }
    void SetVideoCodec(const std::string& text) { m_videoCodec = text; }
    const std::string& GetAudioCodec() const { return m_audioCodec; }
    void SetAudioCodec(const std::string& text) { m_audioCodec = text; }

    RefTime GetMediaStart() const { return m_mediaStart; }
    void SetMediaStart(RefTime t) { m_mediaStart = t; }
    RefTime GetMediaStop() const { return m_mediaStop; }
    void SetMediaStop(RefTime t) { m_mediaStop = t; }
    RefTime GetDuration() const { return m_duration; }
    void SetDuration(RefTime t) { m_duration = t; }
    // How long the file's media really last from the start (100-ns units), when that is known
    // and shorter than the duration (a file cut short); 0 otherwise. Conversions end there.
    RefTime GetContentLength() const { return m_contentLength; }
    void SetContentLength(RefTime t) { m_contentLength = t; }
    // Where a conversion of the clip ends: the media stop, or the end of the content before it.
    RefTime ConvertStop() const {
        return m_contentLength > m_mediaStart && m_contentLength < m_mediaStop ? m_contentLength
                                                                               : m_mediaStop;
    }

    // Bytes.
    std::int64_t GetFileSize() const { return m_fileSize; }
    void SetFileSize(std::int64_t bytes) { m_fileSize = bytes; }

    // The clip's node in the main window's collection; empty until the clip is added there.
    std::optional<ClipListPos> GetListPos() const { return m_listPos; }
    void SetListPos(std::optional<ClipListPos> pos) { m_listPos = pos; }

    std::int32_t GetIconKind() const { return m_iconKind; }
    void SetIconKind(std::int32_t kind) { m_iconKind = kind; }

    std::int32_t GetWidth() const { return m_width; }
    std::int32_t GetHeight() const { return m_height; }
    void SetSize(std::int32_t width, std::int32_t height) {
        m_width = width;
        m_height = height;
    }

    // Whole percent of the current or latest conversion; -1 = never converted.
    std::int32_t GetProgress() const { return m_progress; }
    void SetProgress(std::int32_t percent) { m_progress = percent; }

    AudioParams GetAudioParams() const { return m_audioParams; }
    void SetAudioParams(const AudioParams& params) { m_audioParams = params; }

    std::int32_t GetHasAudio() const { return m_hasAudio; }
    void SetHasAudio(std::int32_t flag) { m_hasAudio = flag; }
    std::int32_t GetHasVideo() const { return m_hasVideo; }
    void SetHasVideo(std::int32_t flag) { m_hasVideo = flag; }
    std::int32_t GetAudioStreams() const { return m_audioStreams; }
    void SetAudioStreams(std::int32_t count) { m_audioStreams = count; }

    // Empty when the source has none of the tags that outputs carry over.
    const ClipTagsRef& GetTags() const { return m_tags; }
    void SetTags(ClipTagsRef tags) { m_tags = std::move(tags); }

    // "<width>x<height>", e.g. "320x240".
    std::string FrameSizeText() const;

    // The audio parameters of a clip whose audio was never seen.
    static AudioParams NoAudioParams() { return AudioParams{0, 0, 0, kFormatTagNone, -1}; }

private:
    std::string m_name;
    std::string m_path;
    std::string m_videoCodec;
    std::string m_audioCodec;
    RefTime m_mediaStart = 0;  // nothing moves it: conversions start at the beginning
    RefTime m_mediaStop = 0;   // the probe fills it with the duration while it is 0
    RefTime m_duration = 0;    // the probe fills it while it is 0
    RefTime m_contentLength = 0;
    std::int64_t m_fileSize = 0;
    std::optional<ClipListPos> m_listPos;
    std::int32_t m_iconKind = 0;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::int32_t m_progress = -1;
    AudioParams m_audioParams = NoAudioParams();
    std::int32_t m_hasAudio = 0;
    std::int32_t m_hasVideo = 0;
    std::int32_t m_audioStreams = 0;
    ClipTagsRef m_tags;
};

// "h:mm:ss" of a count of whole seconds: 3725 gives "1:02:05", 0 gives "0:00:00".
std::string FormatDuration(std::int64_t seconds);
