#include <gtest/gtest.h>

#include <climits>

#include "tests/widgets/BandLayout.h"
#include "tests/widgets/WidgetStage.h"
#include "widgets/PercentProgressBar.h"

namespace {

// The main window's bar: 213 x 14 dialog units.
constexpr int kWidth = 320;
constexpr int kHeight = 23;
const QColor kStart(128, 213, 136), kEnd(80, 160, 190), kText(75, 43, 189);

// The bar as the main window sets it up.
CPercentProgressBar* WindowBar(WidgetStage& stage, int width = kWidth) {
    auto* bar = stage.Add<CPercentProgressBar>(QRect(10, 10, width, kHeight));
    bar->SetRange(0, 100);
    bar->SetStep(1);
    bar->SetPos(0);
    bar->SetStartColor(kStart);
    bar->SetEndColor(kEnd);
    bar->SetTextColor(kText);
    bar->SetShowText(true);
    return bar;
}

QRgb Face(const QWidget* widget) {
    return PaletteColour(widget, QPalette::Button).rgb() & RGB_MASK;
}

// The bar's shot without its text, with `text` printed over it the way the bar prints
// its percentage: centred on one line in the text colour.
QImage PrintedOver(WidgetStage& stage, CPercentProgressBar* bar, const QString& text) {
    bar->SetShowText(false);
    QImage image = stage.Shot(bar);
    bar->SetShowText(true);
    QPainter painter(&image);
    painter.setFont(bar->font());
    painter.setPen(bar->TextColor());
    painter.drawText(QRect(0, 0, image.width(), image.height()), Qt::AlignCenter | Qt::TextSingleLine, text);
    return image;
}

// Failure messages name the first column that differs.
::testing::AssertionResult SameRow(const std::vector<QRgb>& got, const std::vector<QRgb>& expected) {
    if (got.size() != expected.size())
        return ::testing::AssertionFailure() << got.size() << " columns instead of " << expected.size();
    for (size_t x = 0; x < got.size(); ++x)
        if (got[x] != expected[x])
            return ::testing::AssertionFailure() << "column " << x << " is " << std::hex << got[x] << " instead of "
                                                 << expected[x];
    return ::testing::AssertionSuccess();
}

std::vector<QRgb> Row(const QImage& image, int y) {
    std::vector<QRgb> row;
    for (int x = 0; x < image.width(); ++x)
        row.push_back(image.pixel(x, y) & RGB_MASK);
    return row;
}

}  // namespace

TEST(PercentProgressBar, OutsideItsRangeTheBarIsAPlainFaceWithoutText) {
    WidgetStage stage;
    CPercentProgressBar* bar = WindowBar(stage);
    const std::set<QRgb> plain{Face(bar)};

    for (int position : {0, 101, -7, INT_MIN, INT_MAX}) {
        bar->SetPos(position);
        EXPECT_EQ(ColoursIn(stage.Shot(bar), QRect(0, 0, kWidth, kHeight)), plain) << "position " << position;
    }

    // A new range always starts the bar again from its lower end.
    bar->SetPos(50);
    bar->SetRange(0, 100);
    EXPECT_EQ(bar->GetPos(), 0);
    EXPECT_EQ(ColoursIn(stage.Shot(bar), QRect(0, 0, kWidth, kHeight)), plain);
    bar->SetRange(10, 20);
    EXPECT_EQ(bar->SetPos(15), 10) << "SetPos answers the position it replaced";
    EXPECT_EQ(bar->GetPos(), 15);

    // An empty range never shows progress (and divides nothing by its zero length).
    bar->SetRange(5, 5);
    bar->SetPos(5);
    EXPECT_EQ(ColoursIn(stage.Shot(bar), QRect(0, 0, kWidth, kHeight)), plain);
}

TEST(PercentProgressBar, FullBarShowsTheWholeGradientInItsBandsAndPrints100) {
    WidgetStage stage;
    // The window's width, and a width where single-precision band edges fall one
    // pixel off the exact ones.
    for (int width : {kWidth, 126}) {
        CPercentProgressBar* bar = WindowBar(stage, width);
        bar->SetPos(100);
        const QImage shot = stage.Shot(bar);
        const std::vector<Band> bands = BandsAcross(kStart, kEnd, width);
        ASSERT_EQ(bands.size(), 54u);
        const std::vector<QRgb> expected = RowAt(bands, width, width, Face(bar));
        // The text sits in the middle rows; the top and bottom rows show the bands alone.
        EXPECT_TRUE(SameRow(Row(shot, 0), expected)) << "width " << width;
        EXPECT_TRUE(SameRow(Row(shot, kHeight - 1), expected)) << "width " << width;
        EXPECT_EQ(shot, PrintedOver(stage, bar, "100%")) << "width " << width;
        delete bar;
    }

    // The ends of the window's gradient, worked out by hand.
    CPercentProgressBar* bar = WindowBar(stage);
    bar->SetPos(100);
    const QImage shot = stage.Shot(bar);
    EXPECT_EQ(At(shot, 0, 0), QColor(128, 213, 136));
    EXPECT_EQ(At(shot, 4, 0), QColor(128, 213, 136));
    EXPECT_EQ(At(shot, 5, 0), QColor(127, 212, 137));
    EXPECT_EQ(At(shot, kWidth - 1, 0), QColor(80, 160, 189));
}

TEST(PercentProgressBar, PartWayTheColourEndsWithTheBandThatPassesThePosition) {
    WidgetStage stage;
    CPercentProgressBar* bar = WindowBar(stage);
    const std::vector<Band> bands = BandsAcross(kStart, kEnd, kWidth);

    bar->SetPos(50);
    QImage shot = stage.Shot(bar);
    // The middle is column 160, the left edge of band 27, which ends at 165.
    EXPECT_EQ(At(shot, 164, 0), QColor(bands[27].colour));
    EXPECT_EQ(At(shot, 165, 0).rgb() & RGB_MASK, Face(bar));
    EXPECT_TRUE(SameRow(Row(shot, 0), RowAt(bands, kWidth, 160, Face(bar))));
    EXPECT_EQ(shot, PrintedOver(stage, bar, "50%"));

    // The background the owner chooses shows beyond the colour.
    bar->SetBackgroundColor(QColor(30, 40, 50));
    for (int position : {1, 33, 99}) {
        bar->SetPos(position);
        shot = stage.Shot(bar);
        EXPECT_TRUE(SameRow(Row(shot, kHeight - 1), RowAt(bands, kWidth, position * kWidth / 100, qRgb(30, 40, 50) & RGB_MASK)))
            << "position " << position;
    }
}

TEST(PercentProgressBar, ThePercentageIsTruncatedAndCountedFromTheLowerEnd) {
    WidgetStage stage;
    CPercentProgressBar* bar = WindowBar(stage);

    bar->SetRange(0, 3);
    bar->SetPos(2);
    const QImage twoThirds = stage.Shot(bar);
    EXPECT_EQ(twoThirds, PrintedOver(stage, bar, "66%"));
    EXPECT_NE(twoThirds, PrintedOver(stage, bar, "67%"));

    // A range that does not start at 0: half way along prints 50%, not 100/150.
    bar->SetRange(50, 150);
    bar->SetPos(100);
    EXPECT_EQ(bar->Percent(), 50);
    EXPECT_EQ(stage.Shot(bar), PrintedOver(stage, bar, "50%"));

    // A range that ends at 0 prints its end as 100% instead of dividing by 0.
    bar->SetRange(-100, 0);
    bar->SetPos(0);
    EXPECT_EQ(stage.Shot(bar), PrintedOver(stage, bar, "100%"));

    // The whole int range, where position * 100 needs more than 32 bits.
    bar->SetRange(INT_MIN, INT_MAX);
    bar->SetPos(INT_MAX);
    EXPECT_EQ(bar->Percent(), 100);
}

TEST(PercentProgressBar, ABarOfOneColourFillsExactlyUpToThePosition) {
    WidgetStage stage;
    CPercentProgressBar* bar = WindowBar(stage);
    bar->SetShowText(false);
    bar->SetEndColor(kStart);
    bar->SetPos(40);
    const QImage shot = stage.Shot(bar);
    EXPECT_EQ(At(shot, 127, 5), kStart);
    EXPECT_EQ(At(shot, 128, 5).rgb() & RGB_MASK, Face(bar));
}
