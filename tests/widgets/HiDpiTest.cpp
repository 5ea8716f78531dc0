#include <gtest/gtest.h>

#include "tests/widgets/BandLayout.h"
#include "tests/widgets/LampImage.h"
#include "tests/widgets/WidgetStage.h"
#include "widgets/FlatImageButton.h"
#include "widgets/PercentProgressBar.h"
#include "widgets/ShadedPushButton.h"

// Run on a screen that scales by 2: every shot has two device pixels per widget pixel.

TEST(HiDpi, BarBandsAreLaidOutOverDevicePixelsWithoutBlending) {
    WidgetStage stage;
    auto* bar = stage.Add<CPercentProgressBar>(QRect(10, 10, 320, 23));
    ASSERT_EQ(bar->devicePixelRatioF(), 2.0) << "run with a scale factor of 2";
    bar->SetStartColor(QColor(128, 213, 136));
    bar->SetEndColor(QColor(80, 160, 190));
    bar->SetPos(100);
    const QImage shot = stage.Shot(bar);
    ASSERT_EQ(shot.size(), QSize(640, 46));
    // Band 0 is 11 device pixels wide: bands follow the device width, not a doubled
    // 1x bar, and each column is one exact band colour.
    const std::vector<QRgb> expected = RowAt(BandsAcross(bar->StartColor(), bar->EndColor(), 640), 640, 640, 0);
    for (int y : {0, 45})
        for (int x = 0; x < 640; ++x)
            ASSERT_EQ(shot.pixel(x, y) & RGB_MASK, expected[x]) << x << "," << y;
    EXPECT_NE(shot.pixel(10, 0), shot.pixel(11, 0));
}

TEST(HiDpi, ButtonOutlineRimAndShadingStaySharp) {
    WidgetStage stage;
    auto* button = stage.Add<CShadedPushButton>(QRect(10, 10, 84, 20), QString());
    button->setFocus();
    const QImage shot = stage.Shot(button);
    ASSERT_EQ(shot.size(), QSize(168, 40));
    // A 2-pixel outline, then a 6-pixel blue left rim over the 4-pixel edge, its column
    // 4 carrying the 1-pixel dots of the focus rectangle.
    const int y = 20;
    EXPECT_EQ(At(shot, 0, y), QColor(Qt::black));
    EXPECT_EQ(At(shot, 1, y), QColor(Qt::black));
    for (int x : {2, 3, 5, 6, 7})
        EXPECT_EQ(At(shot, x, y), QColor(153, 198, 252)) << x;
    EXPECT_EQ(At(shot, 4, y), QColor(102, 57, 3));
    EXPECT_EQ(At(shot, 4, y + 1), QColor(153, 198, 252));
    // Between the 4-row top and bottom rims, one shade per device row: the shrunk area
    // is 32 rows high, row y takes colour y * 63 / 32.
    for (int row = 6; row < 34; ++row) {
        const int i = std::min(63, row * 63 / 32);
        ASSERT_EQ(At(shot, 84, row), QColor(255 - i / 3, 255 - i / 3, 255 - i / 4)) << row;
    }
}

TEST(HiDpi, LampPixelsBecomeSharpTwoByTwoBlocks) {
    WidgetStage stage;
    auto* lamp = stage.Add<CFlatImageButton>(QRect(10, 10, 22, 22), QString());
    const QImage image = LampImage(QColor(0, 200, 0));
    lamp->LoadImageResource(image);
    const QImage shot = stage.Shot(lamp);
    const QColor face = lamp->palette().color(QPalette::Button);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const QColor own = image.pixelColor(x, y);
            const QColor expected = own == QColor(Qt::white) ? face : own;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    ASSERT_EQ(At(shot, 6 + 2 * x + dx, 6 + 2 * y + dy), expected) << x << "," << y;
        }
}
