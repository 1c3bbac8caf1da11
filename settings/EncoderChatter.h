#pragma once

#include <string>

// Codec libraries write their complaints straight to the process's standard error stream (for
// example OpenH264 reports "cmInitParaError" every time the element drains it at the end of a
// stream). Such text is not the user's business while the work succeeds; when the work fails it
// is the best reason there is. While an object of this class lives, the standard error stream
// goes into a temporary file; Text() reads what was written so far. With GST_DEBUG set nothing
// is taken away, so debug logs stay where the developer expects them. One object at a time,
// on one thread.
class CEncoderChatter {
public:
    CEncoderChatter();
    ~CEncoderChatter();
    CEncoderChatter(const CEncoderChatter&) = delete;
    CEncoderChatter& operator=(const CEncoderChatter&) = delete;

    // What was written, without trailing blank lines; empty when nothing was (or when the stream
    // could not be taken).
    std::string Text() const;
    // The last non-empty line of Text(), without GLib's "(program:pid): " prefix.
    std::string LastLine() const;

private:
    int m_saved = -1;    // the original standard error stream
    int m_capture = -1;  // the temporary file that takes it meanwhile
};
