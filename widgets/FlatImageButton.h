#pragma once
#include <QColor>
#include <QImage>
#include <QPushButton>

// A flat push button that shows an image with one colour left transparent, and its
// caption if it has one. The face is the desktop's button face in every state; a thin
// raised border shows while the pointer is over an enabled button and a sunken one
// while it is pressed. The main window uses one, disabled, as the port lamp: the image
// keeps its own colours when the button is disabled.
//
// Qt's own properties carry the rest: isFlat() (true from construction), isDefault(),
// and isCheckable()/isChecked() for the check-box mode, where a checked button looks
// pressed and each click toggles it.
class CFlatImageButton : public QPushButton {
    Q_OBJECT
public:
    enum ImageResult {
        ImageLoaded = 0,
        ImageUnreadable = 1,   // no image could be read, or it has no size
        ImageMaskFailed = 2,   // the transparent colour could not be masked out
    };

    explicit CFlatImageButton(QWidget* parent = nullptr);
    explicit CFlatImageButton(const QString& text, QWidget* parent = nullptr);

    // Replaces the image and repaints. On failure the button is left without an image.
    int LoadImageResource(const QImage& image, const QColor& transparentColor = Qt::white);
    // The same from an image file or a Qt resource path (":/...").
    int LoadImageResource(const QString& fileName, const QColor& transparentColor = Qt::white);
    bool HasImage() const { return !image.isNull(); }
    // Size of the image in widget pixels (0 x 0 without one).
    QSize ImageSize() const { return QSize(imageWidth, imageHeight); }
    QColor TransparentColor() const { return transparentColor; }

    // In flat mode: show the thin border on hover and press (default true).
    void SetDrawBorder(bool on);
    bool DrawBorder() const { return drawBorder; }
    // In flat mode: draw the dotted focus rectangle too (default false).
    void SetDrawFlatFocus(bool on);
    bool DrawFlatFocus() const { return drawFlatFocus; }
    // Highlight on hover even while no window of the application is active (default true).
    void SetTrackWhenInactive(bool on) { trackWhenInactive = on; }
    bool TrackWhenInactive() const { return trackWhenInactive; }

    // Check state as numbers: 1 (checked) and 2 (indeterminate) check a checkable
    // button, anything else unchecks it; a button that is not checkable ignores it.
    void SetCheck(int state);
    int GetCheck() const { return isCheckable() && isChecked() ? 1 : 0; }

    bool IsHovering() const { return hovering; }

    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Init();
    void TrackPointer(const QPoint& globalPos, Qt::MouseButtons buttons);
    void EndHover();
    void MoveFocusOnward();

    bool hovering = false;
    bool drawBorder = true;
    bool drawFlatFocus = false;
    bool trackWhenInactive = true;
    QImage image;  // premultiplied, the transparent colour masked out
    int imageWidth = 0;
    int imageHeight = 0;
    QColor transparentColor = Qt::white;
};
