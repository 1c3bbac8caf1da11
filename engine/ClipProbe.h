#pragma once

#include "MediaGraph.h"

class CProjectItem;

// Accepts a media file for the clip list: opens it in a private pipeline and fills the clip's
// media facts (size, audio, duration) and coding descriptions. Short-lived: construct, call
// Probe once, destroy. User-interface thread; the probe never runs its pipeline, it only
// prerolls it (bounded by CMediaGraph::kOpenTimeoutMs).
class CClipProbe : public CMediaGraph {
public:
    static constexpr int kMessageBase = 101;

    CClipProbe();

    // OpenClip, then names the codings of the streams that the element next to the file
    // source delivers. A failure leaves the "Rendering Error" text in RenderErrorText().
    HRESULT Probe(CProjectItem& clip);
};
