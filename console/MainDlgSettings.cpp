// The operator's choices in the settings file: read at start, one key written at each
// choice, and the line settings text the port is opened with.
#include <QComboBox>

#include "console/MainDlg.h"
#include "settings/ProfileWriter.h"
#include "engine/PortChoices.h"
#include "settings/LineChoices.h"
#include "settings/ProfileFile.h"
#include "engine/Session.h"
#include "engine/SharedState.h"

void CMainDlg::SelectStored(QComboBox* list, const ProfileFile& p, const char* section, const char* key) {
    const int index = p.GetInt(section, key);
    // A stored index beyond the list leaves the list without a choice.
    list->setCurrentIndex(index < list->count() ? index : -1);
    if (index < list->count())
        unlisted.erase(list);
    else
        unlisted[list] = StoredValue{section, key, p.GetString(section, key).value_or("")};
}

std::string CMainDlg::UnlistedChoice(const QComboBox* list) const {
    const auto found = unlisted.find(list);
    // Only while the list still shows nothing: a choice made since, or a text typed
    // into an editable list, is the operator's.
    if (found == unlisted.end() || list->currentIndex() >= 0 || !list->currentText().isEmpty())
        return "";
    const StoredValue& v = found->second;
    return "[" + v.section + "] " + v.key + "=" + v.value + " in " + SettingsPath() + " is not in its list (0 to " +
           std::to_string(list->count() - 1) + ")";
}

std::string CMainDlg::UnlistedLineSettings() const {
    std::string problem;
    for (const QComboBox* list : {portList, baudList, parityList, dataBitsList, stopBitsList}) {
        const std::string one = UnlistedChoice(list);
        if (one.empty())
            continue;
        if (!problem.empty())
            problem += "\n";
        problem += one;
    }
    if (!problem.empty())
        problem += "\nChoose one in the window, or mend the settings file.";
    return problem;
}

void CMainDlg::ChoiceNotKept(const std::string& why) {
    if (choiceNotKeptSaid)
        return;
    choiceNotKeptSaid = true;
    const std::string file = services.library ? services.library->SettingsFile() : SettingsPath();
    AddLogText("Settings could not be saved to " + file + " (" + why + "): the choices hold until the window closes.");
}

std::string CMainDlg::SettingsPath() const {
    return services.library ? services.library->SettingsFileToRead()
                            : shared.LibraryFolder() + "/" + OperatorSettings::kFileName;
}

std::string CMainDlg::SettingsPathForWrite(std::string* why) const {
    if (!services.library)
        return SettingsPath();
    std::string error;
    if (services.library->PrepareSettingsForWrite(error))
        return services.library->SettingsFile();
    if (why)
        *why = error;
    return {};
}

ProfileFile CMainDlg::ReadSettings() const {
    // A settings file that cannot be read leaves every choice at its default, as an
    // absent one does; the operator is not interrupted.
    std::string problem;
    return ProfileFile::Load(SettingsPath(), problem);
}

void CMainDlg::LoadPortSettings() {
    const ProfileFile p = ReadSettings();
    SelectStored(portList, p, "COM", "portno");
    SelectStored(baudList, p, "COM", "baudrate");
    SelectStored(parityList, p, "COM", "parity");
    SelectStored(dataBitsList, p, "COM", "databits");
    SelectStored(stopBitsList, p, "COM", "stopbits");
}

void CMainDlg::LoadBoardSettings() {
    const ProfileFile p = ReadSettings();
    SelectStored(crystalList, p, "PLANT", "XTLO");
    SelectStored(flashStyleList, p, "PLANT", "flashstyle");
}

void CMainDlg::SaveSetting(const char* section, const char* key, const QComboBox* list) {
    // Without a library folder, or with a file that cannot be written, the choice
    // holds until the window closes; the log says so once, and nothing interrupts.
    std::string why;
    if (const std::string path = SettingsPathForWrite(&why); !path.empty())
        why = WriteProfileString(path, section, key, std::to_string(list->currentIndex()));
    if (!why.empty())
        ChoiceNotKept(why);
}

void CMainDlg::ApplyPortSettings() {
    const uint32_t port = static_cast<uint32_t>(portList->currentIndex() + 1);  // 0: nothing chosen
    const std::string settings = baudList->currentText().toStdString() + "," +
                                 parityList->currentText().left(1).toStdString() + "," +
                                 dataBitsList->currentText().toStdString() + "," +
                                 stopBitsList->currentText().toStdString();
    // A list left empty by a stored value beyond it cannot make a line: the failure
    // names the value instead of blaming the port.
    session->OpenPort(port, settings, UnlistedLineSettings());
    ShowPortDevices();
}

void CMainDlg::ShowPortDevices() {
    // The operator can see which device each port number means.
    const OperatorSettings settings = OperatorSettings::Load(SettingsFolder(SettingsPath()));
    const std::vector<SerialPortInfo> present = ListSerialPorts();
    QString all = QStringLiteral("Devices of the ports ([PORTS] in %1):").arg(QString::fromLatin1(OperatorSettings::kFileName));
    for (int n = 1; n <= kPortChoices; ++n) {
        const QString device = QString::fromStdString(settings.DeviceForPort(static_cast<unsigned>(n)));
        portList->setItemData(n - 1, QString::fromStdString(PortTooltip(static_cast<unsigned>(n), settings, present)),
                              Qt::ToolTipRole);
        all += QStringLiteral("\ncom%1: %2").arg(n).arg(device);
    }
    portList->setToolTip(all);
}
