#include "EncoderChatter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

CEncoderChatter::CEncoderChatter() {
    if (std::getenv("GST_DEBUG")) return;
    std::FILE* file = std::tmpfile();
    if (!file) return;
    m_capture = ::fcntl(fileno(file), F_DUPFD_CLOEXEC, 0);
    std::fclose(file);  // the duplicate keeps the unnamed file open
    if (m_capture < 0) return;
    std::fflush(stderr);
    m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (m_saved < 0 || ::dup2(m_capture, STDERR_FILENO) < 0) {
        if (m_saved >= 0) ::close(m_saved);
        m_saved = -1;
    }
}

CEncoderChatter::~CEncoderChatter() {
    if (m_saved >= 0) {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
    }
    if (m_capture >= 0) ::close(m_capture);
}

std::string CEncoderChatter::Text() const {
    if (m_saved < 0) return {};
    std::fflush(stderr);
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(m_capture, buffer, sizeof buffer, offset);
        if (got <= 0) break;
        text.append(buffer, std::size_t(got));
        offset += got;
        if (text.size() > (1u << 20)) break;  // enough to give a reason
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string CEncoderChatter::LastLine() const {
    const std::string text = Text();
    const std::size_t start = text.find_last_of('\n');
    std::string line = start == std::string::npos ? text : text.substr(start + 1);
    // GLib's messages begin with "(program:pid): ", which says nothing about the file.
    if (line.size() > 1 && line[0] == '(') {
        const std::size_t end = line.find("): ");
        const std::size_t colon = line.find(':');
        if (end != std::string::npos && colon < end) line.erase(0, end + 3);
    }
    return line;
}
