#pragma once
// What the fuzz targets share: a reporter that drops messages, and a check that
// stops the run (as a crash libFuzzer records) when the image breaks a rule.

#include "image/FlashImage.h"

class DiscardingReporter : public IImageReporter {
public:
    void ErrorText(const char*) override {}
    void MessageBox(const std::string&, const std::string&, MessageIcon) override {}
};

// Aborts with `what` when `holds` is false.
void Require(bool holds, const char* what);

// The rules that hold after every operation on an image with a usable layout:
// placed lengths inside their regions, a flash that fits the image, and a code
// image whose header and letter agree with CodeLen.
void RequireSoundImage(const CFlashImage& image);
