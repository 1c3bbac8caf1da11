#include "TempOutput.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef G_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef G_OS_UNIX
// The process's file-creation mask, read without changing it (umask() would race with other
// threads creating files). Linux reports it in /proc; elsewhere assume the usual 022.
mode_t CurrentUmask() {
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(status);
    }
    return mask;
}
#endif

}  // namespace

bool CTempOutput::Create(const std::string& destination, std::string* error) {
    Discard();
    gchar* dir = g_path_get_dirname(destination.c_str());
    gchar* base = g_path_get_basename(destination.c_str());
    // Keep the temporary name within the 255-byte limit of a file name, also for a destination
    // name near the limit: shorten the copied name at a UTF-8 character boundary.
    std::string name = base;
    constexpr std::size_t kRoom = 255 - std::char_traits<char>::length("..XXXXXX.part");
    if (name.size() > kRoom) {
        std::size_t cut = kRoom;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    std::string pattern = "." + name + ".XXXXXX.part";
    gchar* path = g_build_filename(dir, pattern.c_str(), nullptr);
    g_free(dir);
    g_free(base);

    int fd = g_mkstemp(path);
    if (fd < 0) {
        int code = errno;
        *error = g_strerror(code);
        g_free(path);
        return false;
    }
#ifdef G_OS_UNIX
    // mkstemp makes the file private (0600); the finished file should have the permissions any
    // newly created file gets.
    // A failure is not fatal: the file is still written, only more private than usual.
    (void)fchmod(fd, 0666 & ~CurrentUmask());
    close(fd);
#else
    g_close(fd, nullptr);
#endif
    m_destination = destination;
    m_temp = path;
    g_free(path);
    return true;
}

bool CTempOutput::Commit(std::string* error) {
    if (m_temp.empty()) {
        *error = "no output file is open";
        return false;
    }
    if (g_rename(m_temp.c_str(), m_destination.c_str()) != 0) {
        int code = errno;
        *error = g_strerror(code);
        Discard();
        return false;
    }
    m_temp.clear();
    return true;
}

void CTempOutput::Discard() {
    if (!m_temp.empty()) {
        g_unlink(m_temp.c_str());
        m_temp.clear();
    }
}
