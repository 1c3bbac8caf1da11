#pragma once

#include <QString>
#include <QVariant>

// The user's profile: integer and text values under organisation "Brontwell", application
// "kestrine". This is the only place in the project that touches QSettings. On Linux the values
// live in an INI file under the user's configuration folder.
//
// The profile is a convenience, never a reason to fail or wait: a damaged file (random bytes,
// a line cut off, binary zeros) is renamed to "<file>.corrupt-<UTC time>" so the user keeps it,
// and defaults are used; a write never waits more than a few seconds for the lock file that
// QSettings keeps beside the profile, and a stale lock is cleared. User-interface thread.
class CProfileStore {
public:
    static constexpr const char* kOrganisation = "Brontwell";
    static constexpr const char* kApplication = "kestrine";

    // A profile larger than this is not one the program wrote (it holds a dozen integers).
    static constexpr qint64 kMaxFileBytes = 64 * 1024;
    // A lock file older than this that no live process holds (QLockFile keeps an flock on the
    // lock it owns) is stale, whatever it contains: QSettings holds its lock only for the few
    // milliseconds of a write.
    static constexpr int kStaleLockMs = 2000;
    // The longest a write waits for the lock before it is given up.
    static constexpr int kLockWaitMs = 3000;

    // Reads an integer; a missing, non-numeric or out-of-int-range value yields defaultValue.
    static int GetInt(const QString& section, const QString& name, int defaultValue);
    // Writes an integer; write errors are ignored (the profile is a convenience, not data).
    static void SetInt(const QString& section, const QString& name, int value);
    // Reads a text (a folder, say); a missing value yields an empty text.
    static QString GetText(const QString& section, const QString& name);
    // Writes a text; write errors are ignored, as for SetInt.
    static void SetText(const QString& section, const QString& name, const QString& value);

    // Points the store at another configuration folder (tests use a temporary folder).
    static void UseFolder(const QString& folder);
    // The file that holds the values.
    static QString FilePath();
    // Where the last damaged profile was moved to in this process; empty when none was.
    static QString SetAsidePath();

    // True when data is a profile this store can trust: UTF-8 text without control characters,
    // ending with a line break, every line blank, a comment, a [section] or a key=value.
    static bool IsSoundProfile(const QByteArray& data);

private:
    static void SetValue(const QString& section, const QString& name, const QVariant& value);
};
