#pragma once

#include <cstdint>
#include <string>

// A file written under a temporary name in the destination's folder and moved onto the
// destination only by Commit(), so that a failed or stopped run never leaves a partial file at the
// destination and never destroys a file that was already there. The temporary file is created
// empty by Create(); the writer opens it by TempPath() (with OpenOwnFile) and must close it before
// Commit().
//
// The name is ".<destination name>.kestrine-<pid>-XXXXXX.part" with six random characters: it
// cannot be guessed in advance, the file is created exclusively (a link or file already under
// that name makes the creation fail instead of being followed), and the process id lets a later
// batch sweep the files of a process that died (SweepStale). Commit() moves only the regular file
// that Create() made: when something else has taken its name meanwhile, nothing is moved.
// Not thread-safe: the owning element serialises every call.
class CTempOutput {
public:
    CTempOutput() = default;
    ~CTempOutput() { Discard(); }
    CTempOutput(const CTempOutput&) = delete;
    CTempOutput& operator=(const CTempOutput&) = delete;

    // Creates an empty temporary file beside destination.
    // Returns false with the system's text in error when the folder cannot take a new file.
    bool Create(const std::string& destination, std::string* error);

    // Takes over a temporary file that its creator (another CTempOutput, e.g. the conversion
    // engine's) made for this run, to be written where it is: Commit() then only checks that the
    // file is still the one adopted and leaves it for its creator to move, and Discard() forgets
    // it without removing it. False with the reason in error when path is not a regular file.
    bool Adopt(const std::string& path, std::string* error);

    bool Active() const { return !m_temp.empty(); }
    const std::string& TempPath() const { return m_temp; }
    const std::string& Destination() const { return m_destination; }

    // True while the temporary name still holds the regular file that Create() or Adopt() saw.
    bool StillOurs() const;

    // Renames the temporary file onto the destination, replacing a file already there.
    // On failure the temporary file is removed and error holds the system's text.
    bool Commit(std::string* error);

    // Removes the temporary file, if any; the destination is not touched.
    void Discard();

    // Opens path for writing (flags as for open(2), O_CREAT is not added) without following a
    // symbolic link, and only when it is a regular file. The descriptor, or -1 with errno set.
    static int OpenOwnFile(const std::string& path, int flags);

    // Removes the temporary files that processes of this program left in folder when they died:
    // regular files named like Create()'s, owned by this user, whose process no longer exists.
    // Links, other programs' files and the files of live processes are left alone. Returns the
    // number of files removed.
    static int SweepStale(const std::string& folder);

    // The process id in a temporary file name made by Create(); 0 when name is not one.
    static long ProcessOfName(const std::string& name);

private:
    std::string m_destination;
    std::string m_temp;
    bool m_adopted = false;
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
};
