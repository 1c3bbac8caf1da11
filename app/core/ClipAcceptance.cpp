#include "ClipAcceptance.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <utility>

#include "BatchDriver.h"
#include "ClipProbe.h"
#include "ProjectItem.h"

namespace {

ClipResult Refused(HRESULT code, const std::string& why, const CProjectItem& clip) {
    return {code, why + " File: " + clip.GetName()};
}

ClipResult Refused(int error, const CProjectItem& clip) {
    return Refused(ResultFromErrno(error),
                   std::string("The file cannot be read: ") + std::strerror(error) + ".", clip);
}

}  // namespace

ClipResult AcceptClip(const std::string& path, CProjectItem& clip, int timeLimitMs) {
    const std::size_t slash = path.find_last_of('/');
    clip.SetName(slash == std::string::npos ? path : path.substr(slash + 1));
    clip.SetPath(path);

    // Only regular files: opening a FIFO or a device could block before any time limit.
    struct stat facts;
    if (::stat(path.c_str(), &facts) != 0) return Refused(errno, clip);
    if (!S_ISREG(facts.st_mode))
        return Refused(E_INVALIDARG, "The path is not a regular file.", clip);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Refused(errno, clip);
    if (::fstat(fd, &facts) == 0) clip.SetFileSize(facts.st_size);
    ::close(fd);

    // The probe works on its own copy of the clip, which comes back only with its result.
    struct Outcome {
        HRESULT hr = E_FAIL;
        std::string why;
        CProjectItem clip;
    };
    auto promise = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> result = promise->get_future();
    std::thread([promise, probed = clip]() mutable {
        Outcome outcome;
        {
            CClipProbe probe;
            outcome.hr = probe.Probe(probed);
            outcome.why = probe.RenderErrorText();
        }
        outcome.clip = std::move(probed);
        promise->set_value(std::move(outcome));
    }).detach();
    if (result.wait_for(std::chrono::milliseconds(timeLimitMs)) != std::future_status::ready) {
        char text[96];
        std::snprintf(text, sizeof text, "The file could not be read within %g seconds.",
                      timeLimitMs / 1000.0);
        return Refused(E_FAIL, text, clip);
    }
    Outcome outcome = result.get();
    clip = std::move(outcome.clip);
    const HRESULT hr = outcome.hr;
    const std::string& why = outcome.why;
    if (FAILED(hr)) return why.empty() ? Refused(hr, ResultText(hr), clip) : ClipResult{hr, why};
    if (clip.GetDuration() == 0)
        return Refused(VFW_E_INVALID_FILE_FORMAT, "The file has no duration.", clip);
    return ClipResult::Ok();
}
