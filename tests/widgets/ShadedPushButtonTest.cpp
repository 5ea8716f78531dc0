#include <gtest/gtest.h>

#include <QLineEdit>

#include "tests/widgets/WidgetStage.h"
#include "widgets/ShadedPushButton.h"

namespace {

// The main window's command buttons: 56 x 12 dialog units. With the 2-pixel edge the
// shading spans rows 2..18 and columns 2..81; the rim sits on those edges.
constexpr int kWidth = 84;
constexpr int kHeight = 20;
constexpr int kLeft = 2, kTop = 2, kRight = kWidth - 2, kBottom = kHeight - 2;

// Shading colour i (0..63) for each state, as the look is defined.
QColor Rest(int i) { return QColor(255 - i / 3, 255 - i / 3, 255 - i / 5); }
QColor Emphasised(int i) { return QColor(255 - i / 3, 255 - i / 3, 255 - i / 4); }
QColor Hovered(int i) { return QColor(255 - i / 4, 255 - i / 4, 255 - i / 5); }
QColor HoveredEmphasised(int i) { return QColor(255 - i / 4, 255 - i / 4, 255 - i / 3); }

QColor Inverted(const QColor& c) { return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue()); }

const QColor kHoverLeft(250, 196, 88), kHoverRight(251, 202, 106), kHoverTop(252, 210, 121), kHoverBottom(229, 151, 0);
const QColor kFocusLeft(153, 198, 252), kFocusRight(162, 189, 252), kFocusTop(162, 201, 255), kFocusBottom(162, 201, 255);

// The caption's ink inside the black outline: the shading never gets darker than 234
// and no rim is showing.
std::set<std::pair<int, int>> CaptionInk(const QImage& shot) {
    auto ink = PixelsWhere(shot, [](QColor c) { return c.red() < 160 && c.green() < 160 && c.blue() < 160; });
    std::erase_if(ink, [&](auto p) {
        return p.first < 1 || p.second < 1 || p.first >= shot.width() - 1 || p.second >= shot.height() - 1;
    });
    return ink;
}

}  // namespace

TEST(ShadedPushButton, RowsShadeDownToTheLastColourAtEveryHeight) {
    WidgetStage stage;
    for (int height = 1; height <= 60; ++height) {
        auto* button = stage.Add<CShadedPushButton>(QRect(10, 10, kWidth, height), QString());
        const QImage shot = stage.Shot(button);  // tiny buttons must paint, not divide by 0
        const int shaded = height - 4;
        for (int y = kTop; shaded > 0 && y <= height - 2; ++y) {
            ASSERT_EQ(At(shot, 3, y), Rest(std::min(63, y * 63 / shaded))) << "height " << height << " row " << y;
        }
        if (shaded > 0) {
            EXPECT_EQ(At(shot, kWidth / 2, height - 2), Rest(63)) << "height " << height;
        }
        delete button;
    }

    // A 24-pixel button starts its shading at colour 6.
    auto* button = stage.Add<CShadedPushButton>(QRect(10, 10, kWidth, 24), QString());
    EXPECT_EQ(At(stage.Shot(button), 40, 2), QColor(253, 253, 254));
}

TEST(ShadedPushButton, PointerFocusPressAndDefaultChooseTheShading) {
    WidgetStage stage;
    auto* button = stage.Add<CShadedPushButton>(QRect(10, 10, kWidth, kHeight), QString());
    auto* other = stage.Add<QLineEdit>(QRect(10, 100, 80, 20));
    const QPoint probe(kWidth / 2, 12);  // row 12 takes colour 12 * 63 / 16 = 47
    other->setFocus();

    EXPECT_EQ(At(stage.Shot(button), probe.x(), probe.y()), Rest(47));

    button->setDefault(true);
    EXPECT_EQ(At(stage.Shot(button), probe.x(), probe.y()), Emphasised(47)) << "default, without focus or pointer";
    button->setDefault(false);

    button->setDown(true);
    EXPECT_EQ(At(stage.Shot(button), probe.x(), probe.y()), Emphasised(47)) << "pressed";
    button->setDown(false);

    button->setFocus();
    EXPECT_EQ(At(stage.Shot(button), probe.x(), probe.y()), Emphasised(47)) << "focused";

    stage.PointerTo(button, QPoint(40, 10));
    EXPECT_EQ(At(stage.Shot(button), probe.x(), probe.y()), HoveredEmphasised(47)) << "focused, pointer on it";

    other->setFocus();
    EXPECT_EQ(At(stage.Shot(button), probe.x(), probe.y()), Hovered(47)) << "pointer on it";

    stage.PointerAway();
    EXPECT_EQ(At(stage.Shot(button), probe.x(), probe.y()), Rest(47));
}

TEST(ShadedPushButton, HoverRimIsOrangeFocusRimIsBlueAndDottedNeitherOtherwise) {
    WidgetStage stage;
    auto* button = stage.Add<CShadedPushButton>(QRect(10, 10, kWidth, kHeight), QString());
    auto* other = stage.Add<QLineEdit>(QRect(10, 100, 80, 20));
    const int mid = 10;  // a row and a column well inside the rim's ends
    const int centre = 40;

    // Pointer on an unfocused button: the orange rim, no dots.
    other->setFocus();
    stage.PointerTo(button, QPoint(centre, mid));
    QImage shot = stage.Shot(button);
    EXPECT_EQ(At(shot, kLeft - 1, mid), kHoverLeft);
    EXPECT_EQ(At(shot, kLeft + 1, mid), kHoverLeft);
    EXPECT_EQ(At(shot, kRight - 1, mid), kHoverRight);
    EXPECT_EQ(At(shot, kRight, mid), kHoverRight);
    EXPECT_EQ(At(shot, kRight + 1, mid), QColor(Qt::black)) << "the outline stays outside the rim";
    for (int x = kLeft + 2; x < kRight - 2; ++x) {
        ASSERT_EQ(At(shot, x, kTop), kHoverTop) << x;
        ASSERT_EQ(At(shot, x, kTop - 1), kHoverTop) << x;
        ASSERT_EQ(At(shot, x, kBottom), kHoverBottom) << x;
        ASSERT_EQ(At(shot, x, kBottom - 1), kHoverBottom) << x;
    }
    EXPECT_EQ(At(shot, centre, kTop + 1), Hovered(3 * 63 / 16)) << "two rows of top rim, then shading";

    // Focus under the pointer: still orange, still no dots.
    button->setFocus();
    shot = stage.Shot(button);
    for (int x = kLeft + 2; x < kRight - 2; ++x)
        ASSERT_EQ(At(shot, x, kTop), kHoverTop) << x;

    // The pointer leaves: blue, with every other pixel of the focus rectangle inverted.
    stage.PointerAway();
    shot = stage.Shot(button);
    for (int x = kLeft + 2; x < kRight - 2; ++x) {
        const bool dot = (x + kTop) % 2 == 0;
        ASSERT_EQ(At(shot, x, kTop), dot ? Inverted(kFocusTop) : kFocusTop) << x;
        ASSERT_EQ(At(shot, x, kTop - 1), kFocusTop) << x;
        ASSERT_EQ(At(shot, x, kBottom - 1), (x + kBottom - 1) % 2 == 0 ? Inverted(kFocusBottom) : kFocusBottom) << x;
        ASSERT_EQ(At(shot, x, kBottom), kFocusBottom) << x;
    }
    EXPECT_EQ(At(shot, kLeft, mid), (kLeft + mid) % 2 == 0 ? Inverted(kFocusLeft) : kFocusLeft);
    EXPECT_EQ(At(shot, kLeft, mid + 1), (kLeft + mid + 1) % 2 == 0 ? Inverted(kFocusLeft) : kFocusLeft);
    EXPECT_EQ(At(shot, kLeft - 1, mid), kFocusLeft);
    EXPECT_EQ(At(shot, kRight - 1, mid), (kRight - 1 + mid) % 2 == 0 ? Inverted(kFocusRight) : kFocusRight);
    EXPECT_EQ(At(shot, kRight, mid), kFocusRight);

    // Focus gone, pointer away: no rim at all, the shading reaches the white ring.
    other->setFocus();
    shot = stage.Shot(button);
    for (int y = kTop; y <= kBottom; ++y) {
        const QColor shade = Rest(std::min(63, y * 63 / 16));
        ASSERT_EQ(At(shot, kLeft, y), shade) << y;
        ASSERT_EQ(At(shot, kRight - 1, y), shade) << y;
        ASSERT_EQ(At(shot, kLeft - 1, y), QColor(Qt::white)) << y;
    }
}

TEST(ShadedPushButton, RoundedOutlineLeavesTheCornersToTheWindow) {
    WidgetStage stage;
    auto* button = stage.Add<CShadedPushButton>(QRect(10, 10, kWidth, kHeight), QString("&Update"));
    const QImage shot = stage.Shot(button);
    const QColor window = PaletteColour(&stage.window, QPalette::Window);
    for (QPoint corner : {QPoint(0, 0), QPoint(kWidth - 1, 0), QPoint(0, kHeight - 1), QPoint(kWidth - 1, kHeight - 1)})
        EXPECT_EQ(At(shot, corner.x(), corner.y()), window) << corner.x() << "," << corner.y();
    for (int x = 1; x < kWidth - 1; ++x) {
        ASSERT_EQ(At(shot, x, 0), QColor(Qt::black)) << x;
        ASSERT_EQ(At(shot, x, kHeight - 1), QColor(Qt::black)) << x;
    }
    for (int y = 1; y < kHeight - 1; ++y) {
        ASSERT_EQ(At(shot, 0, y), QColor(Qt::black)) << y;
        ASSERT_EQ(At(shot, kWidth - 1, y), QColor(Qt::black)) << y;
    }
    EXPECT_EQ(At(shot, 1, 1), QColor(Qt::white));
}

TEST(ShadedPushButton, CaptionMovesOnePixelRightAndDownWhilePressed) {
    WidgetStage stage;
    auto* button = stage.Add<CShadedPushButton>(QRect(10, 10, kWidth, kHeight), QString("&Update"));
    const auto resting = CaptionInk(stage.Shot(button));
    ASSERT_GT(resting.size(), 20u);

    button->setDown(true);
    const auto pressed = CaptionInk(stage.Shot(button));

    std::set<std::pair<int, int>> shifted;
    for (auto [x, y] : resting)
        shifted.insert({x + 1, y + 1});
    EXPECT_EQ(pressed, shifted);

}

TEST(ShadedPushButton, CaptionCentresOnItsTextWithTheAmpersandAndUnderlinesTheMnemonic) {
    WidgetStage stage;
    auto* marked = stage.Add<CShadedPushButton>(QRect(10, 10, kWidth, kHeight), QString("&Update"));
    auto* plain = stage.Add<CShadedPushButton>(QRect(10, 40, kWidth, kHeight), QString("Update"));
    const auto markedInk = CaptionInk(stage.Shot(marked));
    const auto plainInk = CaptionInk(stage.Shot(plain));

    // The same letters, moved left by half the ampersand the caption is measured with.
    const QFontMetrics metrics(marked->font());
    const int shift = metrics.horizontalAdvance("Update") / 2 - metrics.horizontalAdvance("&Update") / 2;
    ASSERT_LT(shift, 0);
    std::set<std::pair<int, int>> movedPlain;
    for (auto [x, y] : plainInk)
        movedPlain.insert({x + shift, y});
    std::set<std::pair<int, int>> extra;
    std::set_difference(markedInk.begin(), markedInk.end(), movedPlain.begin(), movedPlain.end(),
                        std::inserter(extra, extra.begin()));
    EXPECT_TRUE(std::includes(markedInk.begin(), markedInk.end(), movedPlain.begin(), movedPlain.end()));

    // What the ampersand adds is the underline: one row under the U, no glyph of its own.
    ASSERT_FALSE(extra.empty());
    std::set<int> rows, columns;
    for (auto [x, y] : extra) {
        rows.insert(y);
        columns.insert(x);
    }
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_GE(columns.size(), 4u);
    EXPECT_LT(*columns.rbegin() - *columns.begin(), metrics.horizontalAdvance("U") + 1);
}

TEST(ShadedPushButton, DisabledCaptionIsEmbossedInTheShadowAndHighlightColours) {
    WidgetStage stage;
    auto* button = stage.Add<CShadedPushButton>(QRect(10, 10, kWidth, kHeight), QString("&Update"));
    button->setEnabled(false);
    const QImage shot = stage.Shot(button);
    const QColor shadow = PaletteColour(button, QPalette::Dark);
    const auto shadowInk = PixelsWhere(shot, [&](QColor c) { return c == shadow; });
    EXPECT_GT(shadowInk.size(), 10u);
    const auto black = PixelsWhere(shot, [](QColor c) { return c.lightness() < 40; });
    for (auto [x, y] : black)
        ASSERT_TRUE(x == 0 || y == 0 || x == kWidth - 1 || y == kHeight - 1) << "black only in the outline: " << x << "," << y;
}
