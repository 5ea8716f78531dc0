#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QMenu>

#include "tests/widgets/LampImage.h"
#include "tests/widgets/WidgetStage.h"
#include "widgets/FlatImageButton.h"

namespace {

// A lamp button a little larger than its 16 x 16 bitmap: the image stands at (3, 3).
constexpr int kSize = 22;
constexpr int kImageAt = 3;

QColor Face(const QWidget* widget) { return PaletteColour(widget, QPalette::Button); }
QColor Light(const QWidget* widget) { return PaletteColour(widget, QPalette::Light); }
QColor Dark(const QWidget* widget) { return PaletteColour(widget, QPalette::Dark); }

// Every pixel is the lamp's own where the lamp is not white, the face elsewhere; the
// border rows and columns are left out when `withBorder` is false.
void ExpectLampOnFace(const QImage& shot, const QImage& lamp, QPoint at, const QColor& face, bool inner = false) {
    const int from = inner ? 1 : 0, to = kSize - (inner ? 1 : 0);
    for (int y = from; y < to; ++y)
        for (int x = from; x < to; ++x) {
            QColor expected = face;
            const QPoint p(x - at.x(), y - at.y());
            if (lamp.rect().contains(p) && lamp.pixelColor(p) != QColor(Qt::white))
                expected = lamp.pixelColor(p);
            ASSERT_EQ(At(shot, x, y), expected) << x << "," << y;
        }
}

struct BorderColours {
    QColor top, left, bottom, right;
};

BorderColours BorderOf(const QImage& shot) {
    return {At(shot, kSize / 2, 0), At(shot, 0, kSize / 2), At(shot, kSize / 2, kSize - 1), At(shot, kSize - 1, kSize / 2)};
}

bool ShowsRaisedBorder(const QImage& shot, const QWidget* button) {
    const BorderColours b = BorderOf(shot);
    return b.top == Light(button) && b.left == Light(button) && b.bottom == Dark(button) && b.right == Dark(button);
}

bool ShowsNoBorder(const QImage& shot, const QWidget* button) {
    const BorderColours b = BorderOf(shot);
    const QColor face = Face(button);
    return b.top == face && b.left == face && b.bottom == face && b.right == face;
}

}  // namespace

TEST(FlatImageButton, TheLampShowsTheFaceWhereItsBitmapIsWhiteAndKeepsItsColoursWhenDisabled) {
    WidgetStage stage;
    const QImage green = LampImage(QColor(0, 200, 0)), grey = LampImage(QColor(128, 128, 128));
    auto* lamp = stage.Add<CFlatImageButton>(QRect(10, 10, kSize, kSize), QString());

    ASSERT_EQ(lamp->LoadImageResource(grey), CFlatImageButton::ImageLoaded);
    ExpectLampOnFace(stage.Shot(lamp), grey, QPoint(kImageAt, kImageAt), Face(lamp));

    // The window keeps its lamp disabled and swaps the bitmap as the port opens.
    lamp->setEnabled(false);
    ASSERT_EQ(lamp->LoadImageResource(green, Qt::white), CFlatImageButton::ImageLoaded);
    ExpectLampOnFace(stage.Shot(lamp), green, QPoint(kImageAt, kImageAt), Face(lamp));
    EXPECT_EQ(lamp->ImageSize(), QSize(16, 16));
}

TEST(FlatImageButton, AnImageThatCannotBeReadLeavesAPlainFace) {
    WidgetStage stage;
    auto* lamp = stage.Add<CFlatImageButton>(QRect(10, 10, kSize, kSize), QString());
    ASSERT_EQ(lamp->LoadImageResource(LampImage(Qt::green)), CFlatImageButton::ImageLoaded);
    stage.Shot(lamp);

    EXPECT_EQ(lamp->LoadImageResource(QString("/nonexistent/lamp.bmp")), CFlatImageButton::ImageUnreadable);
    EXPECT_FALSE(lamp->HasImage());
    EXPECT_EQ(ColoursIn(stage.Shot(lamp), QRect(0, 0, kSize, kSize)), std::set<QRgb>{Face(lamp).rgb() & RGB_MASK});
}

TEST(FlatImageButton, PressedSinksTheBorderAndMovesTheImageUnlessItIsACheckBox) {
    WidgetStage stage;
    const QImage lampImage = LampImage(QColor(0, 200, 0));
    auto* lamp = stage.Add<CFlatImageButton>(QRect(10, 10, kSize, kSize), QString());
    lamp->LoadImageResource(lampImage);

    lamp->setDown(true);
    QImage shot = stage.Shot(lamp);
    BorderColours b = BorderOf(shot);
    EXPECT_EQ(b.top, Dark(lamp));
    EXPECT_EQ(b.left, Dark(lamp));
    EXPECT_EQ(b.bottom, Light(lamp));
    EXPECT_EQ(b.right, Light(lamp));
    ExpectLampOnFace(shot, lampImage, QPoint(kImageAt + 1, kImageAt + 1), Face(lamp), true);
    lamp->setDown(false);

    // Not a check box: a check request changes nothing.
    lamp->SetCheck(1);
    EXPECT_EQ(lamp->GetCheck(), 0);
    EXPECT_TRUE(ShowsNoBorder(stage.Shot(lamp), lamp));

    // A check box shows checked (indeterminate counts as checked) as pressed, image in place.
    lamp->setCheckable(true);
    lamp->SetCheck(2);
    EXPECT_EQ(lamp->GetCheck(), 1);
    shot = stage.Shot(lamp);
    EXPECT_EQ(BorderOf(shot).top, Dark(lamp));
    ExpectLampOnFace(shot, lampImage, QPoint(kImageAt, kImageAt), Face(lamp), true);

    // Each click toggles it.
    QTest::mouseClick(lamp, Qt::LeftButton, Qt::NoModifier, QPoint(11, 11));
    EXPECT_EQ(lamp->GetCheck(), 0);
    lamp->SetCheck(7);
    EXPECT_EQ(lamp->GetCheck(), 0);
}

TEST(FlatImageButton, HoverBorderComesWithThePointerAndGoesEveryWayThePointerCanBeLost) {
    WidgetStage stage;
    auto* button = stage.Add<CFlatImageButton>(QRect(10, 10, kSize, kSize), QString());
    auto* other = stage.Add<QLineEdit>(QRect(10, 100, 80, 20));
    button->LoadImageResource(LampImage(Qt::green));

    EXPECT_TRUE(ShowsNoBorder(stage.Shot(button), button));
    stage.PointerTo(button, QPoint(11, 11));
    EXPECT_TRUE(ShowsRaisedBorder(stage.Shot(button), button));

    stage.PointerAway();  // the pointer leaves
    EXPECT_TRUE(ShowsNoBorder(stage.Shot(button), button));

    button->setFocus();  // focus loss
    stage.PointerTo(button, QPoint(11, 11));
    ASSERT_TRUE(button->IsHovering());
    other->setFocus();
    EXPECT_TRUE(ShowsNoBorder(stage.Shot(button), button));

    stage.PointerTo(button, QPoint(12, 12));  // the window stops being the active one
    ASSERT_TRUE(button->IsHovering());
    QWidget elsewhere;
    elsewhere.show();
    QApplication::setActiveWindow(&elsewhere);
    EXPECT_TRUE(ShowsNoBorder(stage.Shot(button), button));
    elsewhere.hide();
    QApplication::setActiveWindow(&stage.window);

    stage.PointerTo(button, QPoint(11, 11));  // a pop-up takes the pointer
    ASSERT_TRUE(button->IsHovering());
    QMenu menu;
    menu.addAction("Item");
    menu.popup(QPoint(300, 300));
    QApplication::processEvents();
    EXPECT_FALSE(button->IsHovering());
    menu.close();

    stage.PointerAway();
    stage.PointerTo(button, QPoint(11, 11));  // a modal window opens
    ASSERT_TRUE(button->IsHovering());
    QDialog modal(&stage.window);
    modal.setGeometry(500, 100, 50, 50);
    modal.open();
    QApplication::processEvents();
    EXPECT_FALSE(button->IsHovering());
    modal.close();
    QApplication::setActiveWindow(&stage.window);

    stage.PointerAway();
    stage.PointerTo(button, QPoint(11, 11));  // the button is disabled
    ASSERT_TRUE(button->IsHovering());
    button->setEnabled(false);
    EXPECT_TRUE(ShowsNoBorder(stage.Shot(button), button));
}

TEST(FlatImageButton, ADragFromElsewhereDoesNotLightTheButton) {
    WidgetStage stage;
    auto* button = stage.Add<CFlatImageButton>(QRect(10, 10, kSize, kSize), QString());
    stage.PointerTo(&stage.window, QPoint(200, 150));
    QTest::mousePress(&stage.window, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    stage.PointerTo(button, QPoint(11, 11));
    EXPECT_FALSE(button->IsHovering());
    EXPECT_TRUE(ShowsNoBorder(stage.Shot(button), button));
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, QPoint(11, 11));
}

TEST(FlatImageButton, DisablingHandsTheFocusToTheNextTabStopEvenWithoutHavingIt) {
    WidgetStage stage;
    auto* before = stage.Add<QLineEdit>(QRect(10, 10, 80, 20));
    auto* lamp = stage.Add<CFlatImageButton>(QRect(100, 10, kSize, kSize), QString());
    auto* after = stage.Add<QLineEdit>(QRect(130, 10, 80, 20));
    before->setFocus();
    ASSERT_TRUE(before->hasFocus());
    lamp->setEnabled(false);
    EXPECT_TRUE(after->hasFocus());
}
