#pragma once

#include <gst/gst.h>

#include <QString>
#include <string>

#include "GstPtr.h"

// Small helpers that build test pipelines around the writer elements and run them to the end.
namespace writertest {

struct RunResult {
    bool eos = false;      // the pipeline's bus delivered EOS
    std::string error;     // the first error message, empty when none
    gint64 position = -1;  // the pipeline's TIME position after EOS, ns
};

// Adds "<sourceFactory> num-buffers=<buffers> ! capsfilter(caps) ! <converters>" to pipeline and
// links its end to the writer's pad. converters may be empty or e.g. "videoconvert ! videoscale".
bool AddBranch(GstElement* pipeline, const char* source, int buffers, const char* caps,
               const char* converters, GstElement* writer, const char* padName);

// Plays the pipeline until EOS or an error (bounded by timeoutMs), queries the position, and
// sets it to NULL.
RunResult RunToEnd(GstElement* pipeline, int timeoutMs = 60000);

// Limits the size of files this process may write (RLIMIT_FSIZE) while it lives, so that writes
// beyond the limit fail with EFBIG ("File too large") as a full disk fails them.
class FileSizeLimit {
public:
    explicit FileSizeLimit(long bytes);
    ~FileSizeLimit();

private:
    long m_oldSoft = -1;
};

// Names of the files in folder (hidden ones included).
QStringList FilesIn(const QString& folder);

}  // namespace writertest
