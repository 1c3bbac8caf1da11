#include "OutputCheck.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/time.h>
}

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "BatchDriver.h"
#include "MediaGraph.h"

namespace {

// Longest time libav may spend opening a written file and reading its stream facts, in µs.
constexpr std::int64_t kLibavReadLimitUs = 5'000'000;

struct FormatContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;

// libav's interrupt callback: nonzero once the deadline (µs of av_gettime_relative) is past.
int PastDeadline(void* deadline) {
    return av_gettime_relative() > *static_cast<std::int64_t*>(deadline) ? 1 : 0;
}

std::string LibavText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// The container's duration of path as libav reads it (100-ns units): 0 when libav finds nothing
// playable in it, nullopt when it ran out of time. A second opinion for files the framework's
// type finding does not recognise (an audio-only disc MPEG starts with sectors of padding).
std::optional<RefTime> LibavDuration(const std::string& path, std::string* reason) {
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        *reason = "out of memory";
        return std::nullopt;
    }
    std::int64_t deadline = av_gettime_relative() + kLibavReadLimitUs;
    raw->interrupt_callback.callback = PastDeadline;
    raw->interrupt_callback.opaque = &deadline;
    // "file:" keeps a name with a colon from being taken for another protocol.
    int error = avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, nullptr);
    FormatContextPtr context(error < 0 ? nullptr : raw);  // a failed open has freed it
    if (error >= 0) error = avformat_find_stream_info(context.get(), nullptr);
    if (error == AVERROR_EXIT) {
        *reason = "it was not read within the time limit";
        return std::nullopt;
    }
    if (error < 0) {
        *reason = LibavText(error);
        return 0;
    }
    if (context->duration == AV_NOPTS_VALUE || context->duration <= 0) {
        *reason = "it has no duration";
        return 0;
    }
    return av_rescale(context->duration, kRefTimePerSecond, AV_TIME_BASE);
}

}  // namespace

HRESULT CheckOutputFolderWritable(const std::string& folder, std::string* reason) {
    std::string pattern = JoinDestination(folder, ".kestrine-write-check-XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        const int error = errno;
        if (reason) *reason = "cannot write to " + folder + ": " + std::strerror(error);
        const HRESULT hr = ResultFromErrno(error);
        return hr == 0 ? E_FAIL : hr;
    }
    ::close(fd);
    ::unlink(name.data());
    return S_OK;
}

std::optional<RefTime> COutputProbe::WrittenDuration(const std::string& path, std::string* reason) {
    // A file that is not there or cannot be opened says nothing about what was written.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (reason) *reason = std::strerror(errno);
        return std::nullopt;
    }
    ::close(fd);
    std::string why;
    const std::string previousError = MediaErrorText();
    CProjectItem written;
    written.SetPath(path);
    const std::size_t slash = path.find_last_of('/');
    written.SetName(slash == std::string::npos ? path : path.substr(slash + 1));
    std::optional<RefTime> duration;
    {
        // The same reader that measured the clip, so that both lengths are measured alike.
        CMediaGraph graph;
        if (SUCCEEDED(graph.OpenClip(written)) && written.GetDuration() > 0)
            duration = written.GetDuration();
        else
            why = graph.RenderErrorText();
    }
    if (!duration) {
        std::string libavWhy;
        duration = LibavDuration(path, &libavWhy);
        why = why.empty() ? libavWhy : why + "; " + libavWhy;
    }
    if (previousError.empty())
        ClearMediaErrorText();
    else
        SetMediaErrorText(previousError);
    if ((!duration || *duration <= 0) && reason) *reason = why;
    return duration;
}

RefTime ShortOutputTolerance(RefTime expected) {
    return std::max<RefTime>(kRefTimePerSecond / 2, expected / 20);
}

std::string ShortOutputWarning(RefTime written, RefTime expected) {
    if (expected <= 0) return {};
    written = std::max<RefTime>(written, 0);
    const RefTime missing = expected - written;
    if (missing <= ShortOutputTolerance(expected)) return {};
    const double second = static_cast<double>(kRefTimePerSecond);
    char text[160];
    std::snprintf(text, sizeof text,
                  "the output is %.1f s shorter than the clip (%.1f s of %.1f s written)",
                  missing / second, written / second, expected / second);
    return text;
}
