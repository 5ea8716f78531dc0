// The main dialog's controls: created in the order of the dialog's tab order, the
// visible ones where the operator has always found them, the engineering controls
// hidden below them.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QWindow>
#include <cmath>
#include <type_traits>

#include "console/DialogUnits.h"
#include "console/MainDlg.h"
#include "console/PictureLabel.h"
#include "console/Resources.h"
#include "protocol/Crystals.h"
#include "settings/LineChoices.h"

namespace {

// Client area in dialog units, without and with the engineering controls.
constexpr int kClientWidth = 242;
constexpr int kClientHeight = 144;
constexpr int kEngineeringClientHeight = 302;
// Drop-down lists and buttons are one line of text high with a frame.
constexpr int kLineHeight = 12;

struct Place {
    int x, y, width, height;
};

// Where each control sits, in dialog units.
const std::map<int, Place> kPlaces = {
    // What the operator sees.
    {IDC_LOG, {16, 11, 209, 68}},
    {IDC_PORTNO, {42, 86, 52, kLineHeight}},
    {IDC_XTLO, {42, 104, 52, kLineHeight}},
    {IDC_OPENFILE, {119, 86, 56, 12}},
    {IDC_UPDATE, {119, 104, 56, 12}},
    {IDC_PICTURE, {182, 84, 49, 34}},
    {IDC_PROGRESS, {16, 121, 213, 14}},
    // The engineering controls.
    {IDC_BAUDRATE, {54, 152, 48, kLineHeight}},
    {IDC_PARITY, {132, 152, 40, kLineHeight}},
    {IDC_DATABITS, {177, 152, 24, kLineHeight}},
    {IDC_STOPBITS, {205, 152, 24, kLineHeight}},
    {IDC_FLASHSTYLE, {54, 170, 60, kLineHeight}},
    {IDC_OPENCLOSEPORT, {119, 170, 56, 12}},
    {IDC_LAMP, {180, 169, 14, 14}},
    {IDC_SAVEASBIN, {16, 188, 56, 12}},
    {IDC_RESERVE, {80, 189, 90, 10}},
    {IDC_COMMANDTEXT, {16, 206, 150, 12}},
    {IDC_COMMAND, {173, 206, 56, 12}},
    {IDC_CONSOLE, {16, 224, 213, 56}},
    {IDC_CLEAR, {16, 284, 56, 12}},
    {IDC_SAVEINFO, {80, 284, 56, 12}},
};

// Labels: their left edge and the top of their text; as wide as their text.
struct LabelPlace {
    int x, y;
};
constexpr LabelPlace kPortLabel{16, 89}, kCrystalLabel{16, 105}, kBaudLabel{16, 154}, kParityLabel{108, 154},
    kFlashStyleLabel{16, 172};
constexpr int kRuleY = 145;

template <typename List>
QStringList Items(const List& choices) {
    QStringList items;
    for (const auto& c : choices) {
        if constexpr (std::is_same_v<std::decay_t<decltype(c)>, ParityChoice>)
            items << QString::fromLatin1(c.name);
        else
            items << QString::fromLatin1(c);
    }
    return items;
}

// The smallest number of logical pixels that is a whole number of the screen's pixels
// (1 at a whole scale, 2 at 1.5, 4 at 1.25).
int WholePixelStep(qreal ratio) {
    for (int step = 1; step <= 8; ++step)
        if (std::abs(step * ratio - std::round(step * ratio)) < 1e-6)
            return step;
    return 1;
}

// A list box whose frame shows at any scale. At a fractional scale (1.5 at 144 dpi)
// the list's inner part and its scroll bar, one pixel inside the frame, begin and end
// between two screen pixels and are painted over the frame's right and bottom lines:
// the frame is then painted once more, over them.
class FramedList : public QListWidget {
public:
    explicit FramedList(QWidget* parent) : QListWidget(parent), overFrame(new FrameOnTop(this)) {}
    void FitScale(qreal ratio) {
        overFrame->setVisible(WholePixelStep(ratio) > 1);
        overFrame->setGeometry(rect());
        overFrame->raise();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QListWidget::resizeEvent(event);
        overFrame->setGeometry(rect());
        overFrame->raise();
    }

private:
    class FrameOnTop : public QWidget {
    public:
        explicit FrameOnTop(FramedList* list) : QWidget(list), list(list) {
            setAttribute(Qt::WA_TransparentForMouseEvents);
            setAttribute(Qt::WA_NoSystemBackground);
            hide();
        }

    protected:
        void paintEvent(QPaintEvent*) override {
            QPainter painter(this);
            list->drawFrame(&painter);
        }

    private:
        FramedList* list;
    };
    FrameOnTop* overFrame;
};

QComboBox* MakeList(QWidget* parent, const QStringList& items, bool editable = false) {
    auto* list = new QComboBox(parent);
    list->setEditable(editable);
    if (editable)
        list->setInsertPolicy(QComboBox::NoInsert);  // typing never adds an item
    list->addItems(items);
    return list;
}

}  // namespace

void CMainDlg::CreateControls() {
    log = new FramedList(this);
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QStringList ports;
    for (int n = 1; n <= kPortChoices; ++n)
        ports << QStringLiteral("com%1").arg(n);
    portList = MakeList(this, ports);
    QStringList crystals;
    for (const auto& c : kCrystals)
        crystals << QString::fromLatin1(c.text);
    crystalList = MakeList(this, crystals);
    openFileButton = MakeCommandButton(QStringLiteral("&OpenFile"), this);
    updateButton = MakeCommandButton(QStringLiteral("&Update"), this);
    progress = MakeProgressBar(this);
    picture = new PictureLabel(IDB_PICTURE, this);
    portLabel = new QLabel(QStringLiteral("PortNo"), this);
    crystalLabel = new QLabel(QStringLiteral("XTLO"), this);

    // The engineering controls sit on a panel below the operator's face; where the
    // screen is too low for all of it, the panel scrolls.
    engineeringArea = new QScrollArea(this);
    engineeringArea->setFrameShape(QFrame::NoFrame);
    engineeringArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    engineeringArea->setWidgetResizable(false);
    auto* panel = new QWidget;
    panel->setObjectName(QStringLiteral("engineering"));
    engineeringArea->setWidget(panel);
    baudList = MakeList(panel, Items(kBaudChoices));
    parityList = MakeList(panel, Items(kParityChoices));
    dataBitsList = MakeList(panel, Items(kDataBitsChoices), true);
    stopBitsList = MakeList(panel, Items(kStopBitsChoices), true);
    flashStyleList = MakeList(panel, Items(kFlashStyleChoices));
    portButton = MakeCommandButton(QStringLiteral("Close&Port"), panel);
    lamp = MakeLampButton(panel);
    saveAsBinButton = MakeCommandButton(QStringLiteral("&SaveAsBin"), panel);
    saveInfoButton = MakeCommandButton(QStringLiteral("Save&Info"), panel);
    clearButton = MakeCommandButton(QStringLiteral("C&lear"), panel);
    commandButton = MakeCommandButton(QStringLiteral("Comman&d"), panel);
    commandText = new QLineEdit(panel);
    reserveBox = new QCheckBox(QStringLiteral("Reserve Program"), panel);
    consoleList = new FramedList(panel);
    baudLabel = new QLabel(QStringLiteral("BaudRate"), panel);
    parityLabel = new QLabel(QStringLiteral("Parity"), panel);
    flashStyleLabel = new QLabel(QStringLiteral("FlashStyle"), panel);
    engineeringRule = new QFrame(panel);
    engineeringRule->setFrameShape(QFrame::HLine);
    engineeringRule->setFrameShadow(QFrame::Sunken);

    controls = {
        {IDC_LOG, log},
        {IDC_PORTNO, portList},
        {IDC_XTLO, crystalList},
        {IDC_OPENFILE, openFileButton},
        {IDC_UPDATE, updateButton},
        {IDC_PROGRESS, progress},
        {IDC_PICTURE, picture},
        {IDC_BAUDRATE, baudList},
        {IDC_PARITY, parityList},
        {IDC_DATABITS, dataBitsList},
        {IDC_STOPBITS, stopBitsList},
        {IDC_FLASHSTYLE, flashStyleList},
        {IDC_OPENCLOSEPORT, portButton},
        {IDC_LAMP, lamp},
        {IDC_SAVEASBIN, saveAsBinButton},
        {IDC_SAVEINFO, saveInfoButton},
        {IDC_CLEAR, clearButton},
        {IDC_COMMAND, commandButton},
        {IDC_COMMANDTEXT, commandText},
        {IDC_RESERVE, reserveBox},
        {IDC_CONSOLE, consoleList},
    };
    engineering = {baudList,       parityList,    dataBitsList, stopBitsList, flashStyleList,  portButton,
                   lamp,           saveAsBinButton, saveInfoButton, clearButton, commandButton, commandText,
                   reserveBox,     consoleList,   baudLabel,    parityLabel,  flashStyleLabel, engineeringRule};
    for (QWidget* w : engineering)
        w->hide();
    engineeringArea->hide();
    for (const auto& [id, widget] : controls)
        widget->setObjectName(QString::number(id));
}

void CMainDlg::LayOutControls() {
    const DialogUnits du(font());
    const qreal ratio = devicePixelRatioF();
    QWidget* panel = engineeringArea->widget();
    for (const auto& [id, place] : kPlaces) {
        QWidget* control = controls.at(id);
        // The engineering controls are placed on their panel, which begins where the
        // operator's face ends.
        const int y = control->parentWidget() == panel ? place.y - kClientHeight : place.y;
        control->setGeometry(du.Rect(place.x, y, place.width, place.height));
        if (auto* list = dynamic_cast<FramedList*>(control))
            list->FitScale(ratio);
    }
    const std::pair<QLabel*, LabelPlace> labels[] = {{portLabel, kPortLabel},
                                                     {crystalLabel, kCrystalLabel},
                                                     {baudLabel, kBaudLabel},
                                                     {parityLabel, kParityLabel},
                                                     {flashStyleLabel, kFlashStyleLabel}};
    for (const auto& [label, place] : labels) {
        label->adjustSize();
        const int y = label->parentWidget() == panel ? place.y - kClientHeight : place.y;
        label->move(du.X(place.x), du.Y(y) - (label->height() - du.BaseY()) / 2);
    }
    engineeringRule->setMinimumWidth(0);
    engineeringRule->setMaximumWidth(QWIDGETSIZE_MAX);
    engineeringRule->setGeometry(du.X(8), du.Y(kRuleY - kClientHeight), du.X(kClientWidth - 16), 2);

    const QSize face = du.Size(kClientWidth, kClientHeight);
    const QSize whole = du.Size(kClientWidth, kEngineeringClientHeight);
    if (!engineeringShown) {
        engineeringArea->hide();
        setFixedSize(face);
        return;
    }
    // As much of the panel as the screen has room for below the face, the window's
    // frame included; the rest scrolls.
    int room = whole.height();
    if (const QScreen* shown = screen()) {
        const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
        const int frameHeight = std::max(frame.top() + frame.bottom(), style()->pixelMetric(QStyle::PM_TitleBarHeight) +
                                                                           2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
        room = std::max(face.height() + du.Y(kLineHeight), shown->availableGeometry().height() - frameHeight);
    }
    const int clientHeight = std::min(whole.height(), room);
    const bool scrolls = clientHeight < whole.height();
    const int panelHeight = whole.height() - face.height();
    const int scrollBar =
        scrolls ? engineeringArea->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, engineeringArea) : 0;
    panel->resize(face.width() - scrollBar, panelHeight);
    engineeringRule->setFixedWidth(panel->width() - 2 * du.X(8));
    engineeringArea->setGeometry(0, face.height(), face.width(), clientHeight - face.height());
    engineeringArea->show();
    setFixedSize(face.width(), clientHeight);
}
