#include "station/StationTile.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <fstream>
#include <sstream>

#include "console/DialogWidgets.h"
#include "console/Resources.h"
#include "engine/StationWords.h"
#include "trace/TraceReader.h"

namespace {

// A device path too long for its tile is cut in the middle, where a by-path name is
// alike from port to port; the whole path is in its tooltip.
class DeviceLabel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return QSize(fontMetrics().averageCharWidth() * 8, QLabel::minimumSizeHint().height()); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width()));
    }
};

// The last verdict's colour, read from across the bench.
QColor VerdictColour(BoardOutcome outcome) {
    switch (outcome) {
    case BoardOutcome::Passed: return QColor(0, 128, 0);
    case BoardOutcome::Cancelled: return QColor(128, 96, 0);
    default: return QColor(192, 0, 0);
    }
}

// The last boards' logs kept for the operator; older ones are in the log folder.
constexpr size_t kLogKept = 256 * 1024;

}  // namespace

StationTile::StationTile(const StationPortEntry& p, QWidget* parent) : QFrame(parent), port(p) {
    setFrameShape(QFrame::StyledPanel);
    // Wide enough for "flashing: section BITMAP block 10 of 12" on one line.
    setMinimumWidth(fontMetrics().averageCharWidth() * 42);
    setObjectName(QString::fromStdString("tile-" + port.name));
    tick = new QCheckBox(QString::fromStdString(port.name), this);
    tick->setChecked(port.armed);
    QFont bold = tick->font();
    bold.setBold(true);
    tick->setFont(bold);
    device = new DeviceLabel(QString::fromStdString(port.device), this);
    device->setToolTip(device->text());
    lamp = MakeLampButton(this);
    lamp->setEnabled(false);  // it only shows the port's state
    ShowLampImage(lamp, IDB_LAMP_CLOSED);
    lamp->setFocusPolicy(Qt::NoFocus);
    bar = MakeProgressBar(this);
    bar->SetRange(0, 100);
    bar->SetStep(1);
    bar->SetPos(0);
    bar->SetStartColor(QColor(128, 213, 136));
    bar->SetEndColor(QColor(80, 160, 190));
    bar->SetTextColor(QColor(75, 43, 189));
    // The part still to come shows as a track of its own beside the tile's face.
    bar->SetBackgroundColor(palette().color(QPalette::Base));
    bar->SetShowText(true);
    bar->setMinimumHeight(fontMetrics().height() + 6);
    state = new QLabel(QStringLiteral("off"), this);
    state->setWordWrap(true);
    // Two lines of state always fit, so tiles do not jump as the words change.
    state->setFixedHeight(fontMetrics().lineSpacing() * 2 + 2);
    state->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    verdict = new QLabel(this);
    QFont large = font();
    large.setPointSizeF(large.pointSizeF() * 2.2);
    large.setBold(true);
    verdict->setFont(large);
    verdict->setAlignment(Qt::AlignCenter);
    verdict->setFixedHeight(QFontMetrics(large).height() + 4);
    verdict->setAccessibleName(QStringLiteral("last verdict"));
    counters = new QLabel(this);
    counters->setFixedHeight(fontMetrics().lineSpacing() + 2);
    logButton = new QPushButton(QStringLiteral("Log"), this);
    traceButton = new QPushButton(QStringLiteral("Trace"), this);
    for (QPushButton* b : {logButton, traceButton}) {
        b->setAutoDefault(false);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    logButton->setEnabled(false);
    traceButton->setEnabled(false);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->addWidget(lamp, 0, 0);
    grid->addWidget(tick, 0, 1);
    grid->addWidget(device, 0, 2);
    auto* openers = new QHBoxLayout;
    openers->addWidget(logButton);
    openers->addWidget(traceButton);
    grid->addLayout(openers, 0, 3);
    grid->addWidget(bar, 1, 0, 1, 4);
    grid->addWidget(verdict, 2, 0, 1, 4);
    grid->addWidget(state, 3, 0, 1, 4);
    grid->addWidget(counters, 4, 0, 1, 4);
    grid->setColumnStretch(2, 1);
    Reset();
    connect(logButton, &QPushButton::clicked, this, [this] { OpenLog(); });
    connect(traceButton, &QPushButton::clicked, this, [this] { OpenTrace(); });
}

bool StationTile::Armed() const { return tick->isChecked(); }
void StationTile::SetArmed(bool armed) { tick->setChecked(armed); }
void StationTile::SetTickable(bool tickable) { tick->setEnabled(tickable); }

bool StationTile::Busy() const {
    return viewSeen && (view.state == PortView::State::Flashing || view.state == PortView::State::Checking);
}

void StationTile::Reset() {
    view = PortView{};
    view.device = port.device;
    viewSeen = false;
    bar->SetPos(0);
    state->setText(Armed() ? QStringLiteral("off: not started") : QStringLiteral("off: not ticked"));
    counters->setText(QStringLiteral("no boards yet"));
    ShowLampImage(lamp, IDB_LAMP_CLOSED);
}

void StationTile::Show(const PortView& v) {
    view = v;
    viewSeen = true;
    const bool open = v.state != PortView::State::Off && v.state != PortView::State::Stopped;
    if ((lamp->property("bitmapId").toInt() == IDB_LAMP_OPEN) != open)
        ShowLampImage(lamp, open ? IDB_LAMP_OPEN : IDB_LAMP_CLOSED);
    bar->SetPos(v.state == PortView::State::Flashing ? v.percent : 0);
    Refresh(std::chrono::system_clock::now());
}

void StationTile::Refresh(std::chrono::system_clock::time_point now) {
    if (!viewSeen)
        return;
    const QString text = QString::fromStdString(DescribePortBriefly(view, now));
    if (state->text() != text)
        state->setText(text);
}

void StationTile::BoardEnded(const StationEvent& e, const std::string& tracePath) {
    const BoardResult& r = e.result;
    const QString word = QString::fromStdString(VerdictWord(r.outcome));
    verdict->setText(word);
    verdict->setToolTip(QString::fromStdString(r.message));
    QPalette p = verdict->palette();
    p.setColor(QPalette::WindowText, VerdictColour(r.outcome));
    verdict->setPalette(p);
    const CounterFigures& f = e.portCounters;
    counters->setText(QStringLiteral("%1 %2: %3 passed, %4 failed")
                          .arg(f.boards)
                          .arg(f.boards == 1 ? QStringLiteral("board") : QStringLiteral("boards"))
                          .arg(f.passed)
                          .arg(f.failed));
    // The port's own count of boards, and the record's number in the results file.
    log += "board " + std::to_string(f.boards) + " " + BoardOutcomeName(r.outcome) + " (record " + std::to_string(r.board) +
           ")\n" + e.log + "\n";
    if (log.size() > kLogKept)
        log.erase(0, log.size() - kLogKept);
    logButton->setEnabled(true);
    lastTrace = tracePath;
    traceButton->setEnabled(!lastTrace.empty());
}

QString StationTile::StateText() const { return state->text(); }
QString StationTile::VerdictText() const { return verdict->text(); }
QString StationTile::CountersText() const { return counters->text(); }

void StationTile::ShowText(const QString& caption, const QString& text) {
    QDialog box(window());
    box.setWindowTitle(caption);
    auto* layout = new QVBoxLayout(&box);
    auto* edit = new QPlainTextEdit(&box);
    edit->setReadOnly(true);
    edit->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    edit->setPlainText(text);
    edit->moveCursor(QTextCursor::End);
    layout->addWidget(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &box);
    connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    layout->addWidget(buttons);
    box.resize(fontMetrics().averageCharWidth() * 100, fontMetrics().lineSpacing() * 30);
    box.exec();
}

void StationTile::OpenLog() {
    ShowText(QString::fromStdString("Kestrel Station: log of " + port.name + " " + port.device), QString::fromStdString(log));
}

void StationTile::OpenTrace() {
    std::ifstream in(lastTrace, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string explained = in ? FormatExplanation(ExplainTrace(text.str())) : "The trace " + lastTrace + " cannot be read.";
    ShowText(QString::fromStdString("Kestrel Station: wire trace " + lastTrace), QString::fromStdString(explained));
}
