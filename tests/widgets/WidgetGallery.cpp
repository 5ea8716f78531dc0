// kestrel-widget-gallery: every owner-drawn widget of the operator's window in each of
// its states, side by side, for a person to look at (and for docs/widgets.png). The
// states that need the keyboard focus or the pointer are staged one at a time in a
// window of their own and shown as pictures; the last row is live.
//
//   kestrel-widget-gallery [--print-live]   (prints where the live widgets are)

#include <QApplication>
#include <QEnterEvent>
#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <functional>

#include "tests/widgets/LampImage.h"
#include "widgets/FlatImageButton.h"
#include "widgets/PercentProgressBar.h"
#include "widgets/ShadedPushButton.h"

namespace {

const QColor kGreen(0, 200, 0), kGrey(150, 150, 150);

// The bar as the main window sets it up.
void SetUpAsWindow(CPercentProgressBar* bar) {
    bar->SetRange(0, 100);
    bar->SetStep(1);
    bar->SetStartColor(QColor(128, 213, 136));
    bar->SetEndColor(QColor(80, 160, 190));
    bar->SetTextColor(QColor(75, 43, 189));
    bar->SetShowText(true);
}

// A window where one widget at a time is put into a state and photographed.
class Stage {
public:
    Stage() {
        window.setGeometry(-1000, -1000, 300, 120);
        window.show();
        QApplication::setActiveWindow(&window);
    }
    template <typename W>
    QPixmap Shoot(W* widget, QSize size, const std::function<void(W*)>& state) {
        widget->setParent(&window);
        widget->setGeometry(QRect(QPoint(20, 20), size));
        widget->show();
        QApplication::setActiveWindow(&window);
        state(widget);
        QApplication::processEvents();
        QPixmap picture = widget->grab();
        delete widget;
        return picture;
    }
    QWidget window;
};

void PointerOn(QWidget* widget) {
    const QPointF inside(widget->width() / 2.0, widget->height() / 2.0);
    QEnterEvent enter(inside, inside, widget->mapToGlobal(inside));
    QApplication::sendEvent(widget, &enter);
}

QLabel* Picture(const QPixmap& pixmap) {
    auto* label = new QLabel;
    label->setPixmap(pixmap);
    return label;
}

QLabel* Heading(const QString& text) {
    auto* label = new QLabel(QStringLiteral("<b>%1</b>").arg(text));
    label->setContentsMargins(0, 10, 0, 2);
    return label;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool printLive = argc > 1 && QString(argv[1]) == "--print-live";

    QWidget gallery;
    gallery.setWindowTitle("Kestrel widgets");
    auto* page = new QVBoxLayout(&gallery);

    // Progress bar ------------------------------------------------------------------
    page->addWidget(Heading("Progress bar (update progress)"));
    auto* bars = new QGridLayout;
    struct BarState {
        const char* label;
        int lower, upper, position;
    };
    const BarState barStates[] = {
        {"0 of 0..100: plain face, no text (bar blank)", 0, 100, 0}, {"1 of 0..100", 0, 100, 1},
        {"50 of 0..100", 0, 100, 50},                     {"2 of 0..3: truncated to 66%", 0, 3, 2},
        {"100 of 0..100: all 54 bands", 0, 100, 100},     {"101 of 0..100: plain face (bar blank)", 0, 100, 101},
    };
    int row = 0;
    for (const BarState& state : barStates) {
        auto* bar = new CPercentProgressBar;
        SetUpAsWindow(bar);
        bar->SetRange(state.lower, state.upper);
        bar->SetPos(state.position);
        bar->setFixedSize(320, 23);
        bars->addWidget(new QLabel(state.label), row, 0);
        bars->addWidget(bar, row, 1);
        ++row;
    }
    page->addLayout(bars);

    // Command buttons ---------------------------------------------------------------
    Stage stage;
    page->addWidget(Heading("Command buttons"));
    auto* buttons = new QGridLayout;
    struct ButtonState {
        const char* label;
        std::function<void(CShadedPushButton*)> apply;
    };
    const ButtonState buttonStates[] = {
        {"at rest", [](CShadedPushButton*) {}},
        {"pointer on it", [](CShadedPushButton* b) { PointerOn(b); }},
        {"focused", [](CShadedPushButton* b) { b->setFocus(); }},
        {"focused,\npointer on it", [](CShadedPushButton* b) { b->setFocus(); PointerOn(b); }},
        {"pressed", [](CShadedPushButton* b) { b->setDown(true); }},
        {"default", [](CShadedPushButton* b) { b->setDefault(true); }},
        {"disabled", [](CShadedPushButton* b) { b->setEnabled(false); }},
    };
    int column = 1;
    for (const ButtonState& state : buttonStates) {
        buttons->addWidget(new QLabel(state.label), 0, column, Qt::AlignBottom);
        buttons->addWidget(Picture(stage.Shoot<CShadedPushButton>(new CShadedPushButton("&Update"), QSize(84, 20), state.apply)),
                           1, column);
        buttons->addWidget(Picture(stage.Shoot<CShadedPushButton>(new CShadedPushButton("Comman&d"), QSize(84, 32), state.apply)),
                           2, column);
        ++column;
    }
    buttons->addWidget(new QLabel("84 x 20"), 1, 0);
    buttons->addWidget(new QLabel("84 x 32"), 2, 0);
    page->addLayout(buttons);

    // Port lamp ---------------------------------------------------------------------
    page->addWidget(Heading("Port lamp and flat image button"));
    auto* lamps = new QGridLayout;
    struct LampState {
        const char* label;
        QColor lamp;
        QString caption;
        std::function<void(CFlatImageButton*)> apply;
    };
    const LampState lampStates[] = {
        {"closed", kGrey, "", [](CFlatImageButton* b) { b->setEnabled(false); }},
        {"open", kGreen, "", [](CFlatImageButton* b) { b->setEnabled(false); }},
        {"enabled", kGreen, "", [](CFlatImageButton*) {}},
        {"pressed", kGreen, "", [](CFlatImageButton* b) { b->setDown(true); }},
        {"checked", kGreen, "", [](CFlatImageButton* b) { b->setCheckable(true); b->SetCheck(1); }},
        {"with caption", kGreen, "&Port", [](CFlatImageButton*) {}},
        {"caption, disabled", kGrey, "&Port", [](CFlatImageButton* b) { b->setEnabled(false); }},
        {"3D frame, focused", kGreen, "", [](CFlatImageButton* b) { b->setFlat(false); b->setFocus(); }},
    };
    column = 0;
    for (const LampState& state : lampStates) {
        const QColor colour = state.lamp;
        const QSize size = state.caption.isEmpty() ? QSize(24, 24) : QSize(64, 24);
        lamps->addWidget(new QLabel(state.label), 0, column, Qt::AlignBottom);
        lamps->addWidget(Picture(stage.Shoot<CFlatImageButton>(new CFlatImageButton(state.caption), size,
                                                               [&](CFlatImageButton* b) {
                                                                   b->LoadImageResource(LampImage(colour));
                                                                   state.apply(b);
                                                               })),
                         1, column, Qt::AlignLeft);
        ++column;
    }
    page->addLayout(lamps);
    stage.window.hide();

    // Live ----------------------------------------------------------------------------
    page->addWidget(Heading("Live: point at them, press them, move the slider"));
    auto* live = new QHBoxLayout;
    auto* liveButton = new CShadedPushButton("&OpenFile");
    liveButton->setFixedSize(84, 20);
    auto* liveLamp = new CFlatImageButton;
    liveLamp->setFixedSize(24, 24);
    liveLamp->LoadImageResource(LampImage(kGreen));
    auto* liveBar = new CPercentProgressBar;
    SetUpAsWindow(liveBar);
    liveBar->setFixedSize(320, 23);
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, 101);
    slider->setFixedWidth(120);
    QObject::connect(slider, &QSlider::valueChanged, liveBar, [liveBar](int value) { liveBar->SetPos(value); });
    slider->setValue(37);
    live->addWidget(liveButton);
    live->addWidget(liveLamp);
    live->addWidget(liveBar);
    live->addWidget(slider);
    live->addStretch();
    page->addLayout(live);

    gallery.move(0, 0);
    gallery.show();
    if (printLive) {
        QTimer::singleShot(200, [&] {
            for (QWidget* widget : {static_cast<QWidget*>(liveButton), static_cast<QWidget*>(liveLamp)}) {
                const QPoint centre = widget->mapTo(&gallery, widget->rect().center());
                std::printf("%s %d %d\n", widget->metaObject()->className(), centre.x(), centre.y());
            }
            std::fflush(stdout);
        });
    }
    return app.exec();
}
