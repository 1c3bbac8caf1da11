#include "ClipAcceptance.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

ClipResult AcceptClip(const std::string& path, CProjectItem& clip) {
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

    HRESULT hr;
    std::string why;
    {
        CClipProbe probe;
        hr = probe.Probe(clip);
        why = probe.RenderErrorText();
    }
    if (FAILED(hr)) return why.empty() ? Refused(hr, ResultText(hr), clip) : ClipResult{hr, why};
    if (clip.GetDuration() == 0)
        return Refused(VFW_E_INVALID_FILE_FORMAT, "The file has no duration.", clip);
    return ClipResult::Ok();
}
