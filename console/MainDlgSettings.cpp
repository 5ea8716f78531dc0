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

namespace {


// A stored index beyond the list leaves the list without a choice.
void Select(QComboBox* list, int index) { list->setCurrentIndex(index < list->count() ? index : -1); }

}  // namespace

std::string CMainDlg::SettingsPath() const {
    return services.library ? services.library->SettingsFileToRead()
                            : shared.LibraryFolder() + "/" + OperatorSettings::kFileName;
}

std::string CMainDlg::SettingsPathForWrite() const {
    if (!services.library)
        return SettingsPath();
    std::string error;
    return services.library->PrepareSettingsForWrite(error) ? services.library->SettingsFile() : std::string();
}

ProfileFile CMainDlg::ReadSettings() const {
    // A settings file that cannot be read leaves every choice at its default, as an
    // absent one does; the operator is not interrupted.
    std::string problem;
    return ProfileFile::Load(SettingsPath(), problem);
}

void CMainDlg::LoadPortSettings() {
    const ProfileFile p = ReadSettings();
    Select(portList, p.GetInt("COM", "portno"));
    Select(baudList, p.GetInt("COM", "baudrate"));
    Select(parityList, p.GetInt("COM", "parity"));
    Select(dataBitsList, p.GetInt("COM", "databits"));
    Select(stopBitsList, p.GetInt("COM", "stopbits"));
}

void CMainDlg::LoadBoardSettings() {
    const ProfileFile p = ReadSettings();
    Select(crystalList, p.GetInt("PLANT", "XTLO"));
    Select(flashStyleList, p.GetInt("PLANT", "flashstyle"));
}

void CMainDlg::SaveSetting(const char* section, const char* key, const QComboBox* list) {
    // Without a library folder, or with a file that cannot be written, the choice
    // holds until the window closes and the operator is not interrupted.
    const std::string path = SettingsPathForWrite();
    if (!path.empty())
        WriteProfileString(path, section, key, std::to_string(list->currentIndex()));
}

void CMainDlg::ApplyPortSettings() {
    const uint32_t port = static_cast<uint32_t>(portList->currentIndex() + 1);  // 0: nothing chosen
    const std::string settings = baudList->currentText().toStdString() + "," +
                                 parityList->currentText().left(1).toStdString() + "," +
                                 dataBitsList->currentText().toStdString() + "," +
                                 stopBitsList->currentText().toStdString();
    session->OpenPort(port, settings);
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
