#pragma once

#include <string>

// A file written under a temporary name in the destination's folder and moved onto the
// destination only by Commit(), so that a failed or stopped run never leaves a partial file at the
// destination and never destroys a file that was already there. The temporary file is created
// empty by Create(); the writer opens it by TempPath() and must close it before Commit().
// Not thread-safe: the owning element serialises every call.
class CTempOutput {
public:
    CTempOutput() = default;
    ~CTempOutput() { Discard(); }
    CTempOutput(const CTempOutput&) = delete;
    CTempOutput& operator=(const CTempOutput&) = delete;

    // Creates an empty temporary file beside destination (a hidden ".<name>.XXXXXX.part").
    // Returns false with the system's text in error when the folder cannot take a new file.
    bool Create(const std::string& destination, std::string* error);

    bool Active() const { return !m_temp.empty(); }
    const std::string& TempPath() const { return m_temp; }
    const std::string& Destination() const { return m_destination; }

    // Renames the temporary file onto the destination, replacing a file already there.
    // On failure the temporary file is removed and error holds the system's text.
    bool Commit(std::string* error);

    // Removes the temporary file, if any; the destination is not touched.
    void Discard();

private:
    std::string m_destination;
    std::string m_temp;
};
