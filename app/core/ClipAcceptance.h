#pragma once

#include <string>

#include "Result.h"

class CProjectItem;

// What both front ends accept as a clip, and why they refuse the rest. The window's Add clip
// and kestrine-cli take a file through this one function, so that a file refused in one is
// refused in the other with the same reason.

// Fills clip's name (the path's part after its last '/'), path and file size from path, then
// probes it. Accepted: a regular file that opens for reading, that the probe opens and whose
// duration is known and not 0. Otherwise the code and a reason that ends with " File: <name>"
// (the probe's own message where it gave one). The clip's media facts are only meaningful
// when accepted. User-interface thread.
//
// The probe runs on a thread of its own and is waited for at most timeLimitMs. The media
// framework can, rarely, deadlock inside its decoding bin while it opens a damaged file; the
// file is then refused ("The file could not be read within … seconds.") and the stuck probe is
// left behind instead of freezing the window or the batch.
constexpr int kProbeTimeLimitMs = 30000;
ClipResult AcceptClip(const std::string& path, CProjectItem& clip,
                      int timeLimitMs = kProbeTimeLimitMs);
