#include "app/VersionText.h"

#include <cstdio>

#include "app/Version.h"

std::string FormatVersionText(const VersionNumbers& p, const VersionNumbers& f) {
    char text[96];
    std::snprintf(text, sizeof text, "V%u.%u%u%u Build %02u%02u%02u%02u", p.fields[0], p.fields[1], p.fields[2],
                  p.fields[3], f.fields[0], f.fields[1], f.fields[2], f.fields[3]);
    return text;
}

std::string GetVersionText() { return FormatVersionText(kProductVersion, kFileVersion); }
