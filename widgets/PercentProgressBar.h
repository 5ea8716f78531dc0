#pragma once
#include <QColor>
#include <QWidget>

// The update progress bar: a fixed colour gradient, laid out across the whole width in
// bands, shows from the left up to the position; the rest is background; the
// percentage is printed in the middle. As the position grows, more of the one gradient
// comes into view. Outside (lower, upper] the bar is a plain button face.
//
// Painted and changed on the user-interface thread only.
class CPercentProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit CPercentProgressBar(QWidget* parent = nullptr);

    // Sets the range and moves the position back to `lower`.
    void SetRange(int lower, int upper);
    void GetRange(int& lower, int& upper) const;
    void SetStep(int step);
    int GetStep() const { return step; }
    // Returns the previous position.
    int SetPos(int position);
    int GetPos() const { return position; }

    // The owner's choice of look; each change repaints.
    void SetStartColor(const QColor& colour);
    void SetEndColor(const QColor& colour);
    void SetBackgroundColor(const QColor& colour);
    void SetTextColor(const QColor& colour);
    void SetShowText(bool show);
    QColor StartColor() const { return startColor; }
    QColor EndColor() const { return endColor; }
    QColor BackgroundColor() const { return backgroundColor; }
    QColor TextColor() const { return textColor; }
    bool ShowText() const { return showText; }

    // The printed percentage, or -1 while the bar shows a plain face.
    int Percent() const;

    QSize sizeHint() const override;

signals:
    // The position changed (for owners that follow it, e.g. tests and benchmarks).
    void PositionChanged(int position);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool ShowsProgress() const { return position > lower && position <= upper; }

    int lower = 0;
    int upper = 100;
    int step = 10;
    int position = 0;
    QColor startColor{255, 0, 0};
    QColor endColor{0, 0, 255};
    QColor backgroundColor;  // the button face of the palette at construction
    QColor textColor{255, 255, 255};
    bool showText = false;
};
