#pragma once
#include <string>

// The four fields of a version number, most significant first: 1.0.0.3.
struct VersionNumbers {
    unsigned fields[4];
};

// "V%d.%d%d%d Build %02d%02d%02d%02d": the product version's fields as plain numbers,
// the file version's with two digits each. 1.0.0.3 and 8.3.21.16 give
// "V1.003 Build 08032116".
std::string FormatVersionText(const VersionNumbers& product, const VersionNumbers& file);

// The version text of this build.
std::string GetVersionText();
