// The main dialog's controls: created in the order of the dialog's tab order, the
// visible ones where the operator has always found them, the engineering controls
// hidden below them.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
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
    log = new QListWidget(this);
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

    baudList = MakeList(this, Items(kBaudChoices));
    parityList = MakeList(this, Items(kParityChoices));
    dataBitsList = MakeList(this, Items(kDataBitsChoices), true);
    stopBitsList = MakeList(this, Items(kStopBitsChoices), true);
    flashStyleList = MakeList(this, Items(kFlashStyleChoices));
    portButton = MakeCommandButton(QStringLiteral("Close&Port"), this);
    lamp = MakeLampButton(this);
    saveAsBinButton = MakeCommandButton(QStringLiteral("&SaveAsBin"), this);
    saveInfoButton = MakeCommandButton(QStringLiteral("Save&Info"), this);
    clearButton = MakeCommandButton(QStringLiteral("C&lear"), this);
    commandButton = MakeCommandButton(QStringLiteral("Comman&d"), this);
    commandText = new QLineEdit(this);
    reserveBox = new QCheckBox(QStringLiteral("Reserve Program"), this);
    consoleList = new QListWidget(this);
    baudLabel = new QLabel(QStringLiteral("BaudRate"), this);
    parityLabel = new QLabel(QStringLiteral("Parity"), this);
    flashStyleLabel = new QLabel(QStringLiteral("FlashStyle"), this);
    engineeringRule = new QFrame(this);
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
    for (const auto& [id, widget] : controls)
        widget->setObjectName(QString::number(id));
}

void CMainDlg::LayOutControls() {
    const DialogUnits du(font());
    for (const auto& [id, place] : kPlaces)
        controls.at(id)->setGeometry(du.Rect(place.x, place.y, place.width, place.height));
    const std::pair<QLabel*, LabelPlace> labels[] = {{portLabel, kPortLabel},
                                                     {crystalLabel, kCrystalLabel},
                                                     {baudLabel, kBaudLabel},
                                                     {parityLabel, kParityLabel},
                                                     {flashStyleLabel, kFlashStyleLabel}};
    for (const auto& [label, place] : labels) {
        label->adjustSize();
        label->move(du.X(place.x), du.Y(place.y) - (label->height() - du.BaseY()) / 2);
    }
    engineeringRule->setGeometry(du.X(8), du.Y(kRuleY), du.X(kClientWidth - 16), 2);
    setFixedSize(du.Size(kClientWidth, engineeringShown ? kEngineeringClientHeight : kClientHeight));
}
