#pragma once
#include <QColor>
#include <algorithm>
#include <cstdlib>
#include <vector>

// Where the progress bar's bands fall and what colour each has, worked out the way an
// operator's eye would check them against the rule: band count from the largest colour
// difference, edges and colours in single precision, truncated.
struct Band {
    int left, right;  // right excluded
    QRgb colour;  // without alpha
};

inline std::vector<Band> BandsAcross(const QColor& start, const QColor& end, int width) {
    const int dR = end.red() - start.red(), dG = end.green() - start.green(), dB = end.blue() - start.blue();
    const int count = std::max({std::abs(dR), std::abs(dG), std::abs(dB)});
    std::vector<Band> bands;
    const float bandWidth = float(width) / float(count);
    for (int i = 0; i < count; ++i) {
        bands.push_back(Band{int(float(i) * bandWidth), int(float(i + 1) * bandWidth),
                             RGB_MASK & qRgb(int(float(start.red()) + float(i) * (float(dR) / float(count))),
                                  int(float(start.green()) + float(i) * (float(dG) / float(count))),
                                  int(float(start.blue()) + float(i) * (float(dB) / float(count))))});
    }
    return bands;
}

// The colour every column of a bar row should show at `fillEnd`: bands up to and
// including the first whose right edge passes fillEnd, background after it.
inline std::vector<QRgb> RowAt(const std::vector<Band>& bands, int width, int fillEnd, QRgb background) {
    std::vector<QRgb> row(width, background);
    for (const Band& band : bands) {
        for (int x = band.left; x < band.right && x < width; ++x)
            row[x] = band.colour;
        if (band.right > fillEnd)
            break;
    }
    return row;
}
