#include "OutputCheck.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "BatchDriver.h"
#include "ContentLength.h"
#include "MediaGraph.h"

namespace {

// Longest time for reading a written file's packets, in µs.
constexpr std::int64_t kLibavReadLimitUs = 10'000'000;

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

ClipResult PrepareOutputFolder(const std::string& folder, const std::function<bool()>& mayCreate) {
    struct stat facts;
    if (!folder.empty() && ::stat(folder.c_str(), &facts) == 0) {
        if (!S_ISDIR(facts.st_mode)) return {ResultFromErrno(ENOTDIR), folder + " is not a folder"};
    } else {
        if (!mayCreate()) return {E_ABORT, {}};
        if (const HRESULT hr = CreateOutputFolder(folder); FAILED(hr))
            return {hr, "cannot create " + folder + ": " + std::strerror(errno)};
    }
    ClipResult result;
    result.code = CheckOutputFolderWritable(folder, &result.reason);
    return result;
}

std::optional<RefTime> COutputProbe::WrittenDuration(const std::string& path, std::string* reason) {
    // A file that is not there or cannot be opened says nothing about what was written.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (reason) *reason = std::strerror(errno);
        return std::nullopt;
    }
    ::close(fd);
    // The packets of the written streams, not what the header says: a header is written from
    // what the writer was told, the packets are what it wrote.
    std::string why;
    const std::optional<ContentFacts> facts =
        ScanContent(path, int(kLibavReadLimitUs / 1000), &why);
    if (facts && facts->complete && facts->length > 0) return facts->length;
    if (facts && !facts->complete) {
        if (reason) *reason = "it was not read to its end within the time limit";
        return std::nullopt;
    }
    if (reason) *reason = facts ? "it holds no media" : why;
    return 0;
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

std::string PaddedOutputWarning(RefTime written, RefTime content) {
    if (content <= 0 || written - content <= ShortOutputTolerance(content)) return {};
    const double second = static_cast<double>(kRefTimePerSecond);
    char text[160];
    std::snprintf(
        text, sizeof text,
        "the output is %.1f s longer than what the source holds (%.1f s written of %.1f s)",
        (written - content) / second, written / second, content / second);
    return text;
}
