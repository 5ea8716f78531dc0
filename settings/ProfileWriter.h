#pragma once
#include <string>

// Writes one key of the settings file with the results the platform's profile
// routines give: section and key names match without regard to case or surrounding
// blanks; an existing key is rewritten in place, a missing key is added at the end
// of its section and a missing section at the end of the file; every other line
// (comments, [PORTS], sections nobody here knows) stays byte for byte.

// The file's new text after setting `key` in `section` to `value`.
std::string SetProfileString(const std::string& text, const std::string& section, const std::string& key,
                             const std::string& value);

// Sets the key in the file at `path`, replacing the file atomically. "" when written,
// else the cause (the library folder is missing, the file cannot be read or written);
// the file is then left as it was.
std::string WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                               const std::string& value);
