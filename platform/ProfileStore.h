#pragma once

#include <QString>

// The user's profile: integer values under organisation "Brontwell", application "kestrine".
// This is the only place in the project that touches QSettings. On Linux the values live in an
// INI file under the user's configuration folder.
class CProfileStore {
public:
    static constexpr const char* kOrganisation = "Brontwell";
    static constexpr const char* kApplication = "kestrine";

    // Reads an integer; a missing or non-numeric value yields defaultValue.
    static int GetInt(const QString& section, const QString& name, int defaultValue);
    // Writes an integer; write errors are ignored (the profile is a convenience, not data).
    static void SetInt(const QString& section, const QString& name, int value);

    // Points the store at another configuration folder (tests use a temporary folder).
    static void UseFolder(const QString& folder);
    // The file that holds the values.
    static QString FilePath();
};
