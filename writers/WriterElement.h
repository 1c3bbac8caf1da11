#pragma once

// What the two writer elements share: the `location` property, opening the temporary output at
// start, answering the TIME position query, and the texts of their file errors.

#include <gst/gst.h>

#include <functional>
#include <string>

#include "TempOutput.h"

namespace writer {

// Holds a mutex for a scope, so that no return path can leave it locked. Unlock() and Lock() let
// the scope drop it around slow work (encoding, closing the file) and take it back.
class CMutexLock {
public:
    explicit CMutexLock(GMutex* mutex) : m_mutex(mutex) { g_mutex_lock(m_mutex); }
    ~CMutexLock() {
        if (m_held) g_mutex_unlock(m_mutex);
    }
    CMutexLock(const CMutexLock&) = delete;
    CMutexLock& operator=(const CMutexLock&) = delete;

    void Unlock() {
        g_mutex_unlock(m_mutex);
        m_held = false;
    }
    void Lock() {
        g_mutex_lock(m_mutex);
        m_held = true;
    }

private:
    GMutex* m_mutex;
    bool m_held = true;
};

// Holds an element's object lock (the one guarding its properties) for a scope.
class CObjectLock {
public:
    explicit CObjectLock(gpointer object) : m_object(GST_OBJECT(object)) {
        GST_OBJECT_LOCK(m_object);
    }
    ~CObjectLock() { GST_OBJECT_UNLOCK(m_object); }
    CObjectLock(const CObjectLock&) = delete;
    CObjectLock& operator=(const CObjectLock&) = delete;

private:
    GstObject* m_object;
};

// Installs the `location` property (a path, changeable up to READY) as property id.
void InstallLocationProperty(GObjectClass* klass, guint id, const char* blurb);

// Installs the boolean `in-place` property as property id: when set, `location` names a temporary
// file that the caller created for this run (CTempOutput::Create) and moves into place itself;
// the element writes into it where it is, with no temporary file of its own.
void InstallInPlaceProperty(GObjectClass* klass, guint id);

// Takes a new location from value. Called with element's object lock held; refused with a warning
// while the element is beyond READY (a run writes one file).
void SetLocation(GstElement* element, gchar** location, const GValue* value);

// Opens the run's output under a temporary name beside location: creates it in temp (or, in
// place, adopts location itself), then lets open (given the temporary path; false with the
// system's text in error) open it for writing, which it must do with CTempOutput::OpenOwnFile. On
// failure posts the element's error, removes the temporary file and returns false.
bool OpenTempOutput(GstElement* element, const std::string& location, bool inPlace,
                    CTempOutput* temp,
                    const std::function<bool(const std::string& path, std::string* error)>& open);

// The message of a failed write to location.
std::string WriteErrorText(const std::string& location, const std::string& error);

// Answers a position query in TIME with the running time position() returns (called only then);
// other formats are refused.
gboolean AnswerPositionQuery(GstQuery* query, const std::function<GstClockTime()>& position);

}  // namespace writer
