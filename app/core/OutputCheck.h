#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ProjectItem.h"
#include "Result.h"

// Checks around a batch's outputs, shared by the main window and the command line: whether the
// output folder takes files at all (before anything converts), and whether a written output is
// as long as its clip (after a run that reported success).

// Creates and removes a temporary file in folder. S_OK when that works; otherwise the system's
// code (ResultFromErrno) and, in reason, "cannot write to <folder>: <system text>". Permission
// bits do not tell (root passes them, a read-only mount fails despite them); a real creation
// does. Used before a batch so that a folder that takes no files fails it before any clip.
HRESULT CheckOutputFolderWritable(const std::string& folder, std::string* reason);

// Makes folder ready for a batch's outputs, the same way in the window and in kestrine-cli: a
// missing folder is created (one level, missing parents are not) when mayCreate, asked only
// then, agrees; a path that names something else than a folder is refused; the folder must
// take files (CheckOutputFolderWritable). S_OK, E_ABORT when mayCreate declined, otherwise the
// code and a reason such as "cannot create /a/b: No such file or directory".
ClipResult PrepareOutputFolder(const std::string& folder, const std::function<bool()>& mayCreate);

// Reads back how long a written file plays. User-interface thread; bounded in time.
class IOutputReader {
public:
    virtual ~IOutputReader() = default;
    // The playing time of the file at path in 100-ns units. 0 when the file was read and holds
    // nothing playable; nullopt when it could not be read (missing, unreadable, time limit).
    // Both failures leave their reason in reason.
    virtual std::optional<RefTime> WrittenDuration(const std::string& path,
                                                   std::string* reason) = 0;
};

// Reads every packet of the file's first video and audio stream (ScanContent, bounded by 10 s):
// the length is what the streams hold, whatever the header says.
class COutputProbe : public IOutputReader {
public:
    std::optional<RefTime> WrittenDuration(const std::string& path, std::string* reason) override;
};

// How much shorter than expected an output may be before it is called short: the larger of
// 0.5 s and 5 % of expected (100-ns units). Encoders and writers round to their frames and
// packets, and an MP3 may lose a frame at either end; a damaged source loses far more.
RefTime ShortOutputTolerance(RefTime expected);

// The warning text (without the log line's bullet) for an output of written that should have
// lasted expected (100-ns units), e.g. "the output is 3.2 s shorter than the clip (5.0 s of
// 8.2 s written)"; empty when the output is long enough or nothing was expected.
std::string ShortOutputWarning(RefTime written, RefTime expected);

// The warning text for an output of written that holds more than the source's content
// (100-ns units): time that repeats a last picture or adds silence, e.g. "the output is 25.3 s
// longer than what the source holds (45.0 s written of 19.7 s)"; empty when within tolerance.
std::string PaddedOutputWarning(RefTime written, RefTime content);
