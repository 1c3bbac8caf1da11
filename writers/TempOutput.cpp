#include "TempOutput.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kTag = ".kestrine-";
constexpr const char* kSuffix = ".part";
constexpr std::size_t kRandomChars = 6;

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

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

bool CTempOutput::Create(const std::string& destination, std::string* error) {
    Discard();
    gchar* dir = g_path_get_dirname(destination.c_str());
    gchar* base = g_path_get_basename(destination.c_str());
    const std::string tail = kTag + std::to_string(static_cast<long>(getpid())) + "-" +
                             std::string(kRandomChars, 'X') + kSuffix;
    // Keep the temporary name within the 255-byte limit of a file name, also for a destination
    // name near the limit: shorten the copied name at a UTF-8 character boundary.
    std::string name = base;
    const std::size_t room = 255 - 1 - tail.size();
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    const std::string pattern = "." + name + tail;
    gchar* built = g_build_filename(dir, pattern.c_str(), nullptr);
    std::vector<char> path(built, built + std::strlen(built) + 1);
    g_free(built);
    g_free(dir);
    g_free(base);

    // mkstemps creates the file with O_CREAT | O_EXCL: an existing name, a link included, is
    // never opened, and the random part makes the name impossible to plant in advance.
    const int fd = mkstemps(path.data(), static_cast<int>(std::strlen(kSuffix)));
    if (fd < 0) {
        *error = g_strerror(errno);
        return false;
    }
    struct stat st = {};
    fstat(fd, &st);
    // mkstemp makes the file private (0600); the finished file should have the permissions any
    // newly created file gets. A failure is not fatal: the file is only more private than usual.
    (void)fchmod(fd, 0666 & ~CurrentUmask());
    close(fd);
    m_destination = destination;
    m_temp = path.data();
    m_adopted = false;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    return true;
}

bool CTempOutput::Adopt(const std::string& path, std::string* error) {
    Discard();
    struct stat st = {};
    if (lstat(path.c_str(), &st) != 0) {
        *error = g_strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = "the temporary output is not a regular file";
        return false;
    }
    m_destination = path;
    m_temp = path;
    m_adopted = true;
    m_device = st.st_dev;
    m_inode = st.st_ino;
    return true;
}

bool CTempOutput::StillOurs() const {
    struct stat st = {};
    return !m_temp.empty() && lstat(m_temp.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           std::uint64_t(st.st_dev) == m_device && std::uint64_t(st.st_ino) == m_inode;
}

bool CTempOutput::Commit(std::string* error) {
    if (m_temp.empty()) {
        *error = "no output file is open";
        return false;
    }
    if (!StillOurs()) {
        // Someone replaced the file under its temporary name: moving whatever is there now would
        // put a file (or a link) of theirs at the destination.
        *error = "the temporary output was replaced by another file";
        m_temp.clear();
        return false;
    }
    if (m_adopted) {
        m_temp.clear();
        return true;
    }
    if (rename(m_temp.c_str(), m_destination.c_str()) != 0) {
        *error = g_strerror(errno);
        Discard();
        return false;
    }
    m_temp.clear();
    return true;
}

void CTempOutput::Discard() {
    if (m_temp.empty()) return;
    // Only our own file goes: a name that now holds something else is not ours to remove.
    if (!m_adopted && StillOurs()) unlink(m_temp.c_str());
    m_temp.clear();
}

int CTempOutput::OpenOwnFile(const std::string& path, int flags) {
    const int fd = open(path.c_str(), (flags & ~O_CREAT) | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st = {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

long CTempOutput::ProcessOfName(const std::string& name) {
    const std::size_t suffix = std::strlen(kSuffix);
    if (name.size() < 2 || name[0] != '.' || name.size() <= suffix ||
        name.compare(name.size() - suffix, suffix, kSuffix) != 0)
        return 0;
    const std::size_t randomStart = name.size() - suffix - kRandomChars;
    if (randomStart < 1 || name[randomStart - 1] != '-') return 0;
    for (std::size_t i = randomStart; i < randomStart + kRandomChars; ++i)
        if (!IsAlnum(name[i])) return 0;
    const std::size_t tag = name.rfind(kTag, randomStart - 1);
    if (tag == std::string::npos || tag == 0) return 0;
    const std::size_t digits = tag + std::strlen(kTag);
    if (digits >= randomStart - 1 || randomStart - 1 - digits > 9) return 0;
    long pid = 0;
    for (std::size_t i = digits; i < randomStart - 1; ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    return pid;
}

int CTempOutput::SweepStale(const std::string& folder) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return 0;
    const uid_t me = getuid();
    int removed = 0;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        const long pid = ProcessOfName(name);
        if (pid <= 0) continue;
        // A process that exists (or that we may not signal) is alive: its file stays.
        if (pid == static_cast<long>(getpid()) || kill(static_cast<pid_t>(pid), 0) == 0 ||
            errno != ESRCH)
            continue;
        struct stat st = {};
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != me)
            continue;
        if (unlinkat(dirfd(dir), entry->d_name, 0) == 0) ++removed;
    }
    closedir(dir);
    return removed;
}
