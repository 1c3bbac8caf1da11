#pragma once

#include <QString>
#include <string_view>

// Texts handed to the windows as bytes: UTF-8 when the bytes are valid UTF-8 (file names and the
// media framework's messages on this platform), else Windows-1252, the encoding of the
// application's own 8-bit texts (so the byte 0x95 is the bullet "•").
QString UiText(std::string_view bytes);

// Windows-1252 bytes to text; the five unassigned bytes map to the same control characters as
// in the Unicode best-fit table.
QString FromWindows1252(std::string_view bytes);
