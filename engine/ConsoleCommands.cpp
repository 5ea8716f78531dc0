// Starting an update and the console commands the operator can type.
#include <array>

#include "protocol/Crystals.h"
#include "engine/LogTexts.h"
#include "engine/UIThread.h"
#include "protocol/WireProtocol.h"

namespace {

constexpr uint32_t kDrainLimitMs = 3000;

constexpr std::array<uint8_t, kWakeUpLength> Pattern(uint8_t byte) {
    std::array<uint8_t, kWakeUpLength> p{};
    p.fill(byte);
    return p;
}
constexpr auto kResetPattern = Pattern(kWakeUpByte);
constexpr auto kDemoPattern = Pattern(kDemoByte);

}  // namespace

bool CUIThread::ReadyToWake(uint32_t crystalIndex, const std::string& noCrystalWhy) {
    // Everything the update will need from the library is checked before the board is
    // woken: a board woken for an update the tool cannot carry out waits in its boot
    // code, and an erase with an unknown layout would erase areas of size 0.
    if (crystalIndex >= kCrystalCount) {
        // A list without a choice arrives as an index past every table.
        Refuse(StartRefusal::NoCrystal, "No crystal is chosen: " +
                                            (noCrystalWhy.empty() ? std::string("pick 4M, 8M, 13.5M, 16M or 27M and start again.")
                                                                  : noCrystalWhy));
        return false;
    }
    if (!image.LayoutUsable()) {
        Refuse(StartRefusal::Layout, "The board was not woken: the flash address file " +
                                         shared.LibraryFile("FlashAddrAssign.h") +
                                         " could not be used (see the message at start-up).\n"
                                         "Mend the file and start Kestrel again.");
        return false;
    }
    return LoaderFilesUsable(crystalIndex);
}

void CUIThread::Refuse(StartRefusal cause, const std::string& text) {
    boxes.ShowMessageBox(text, "Error", BoxIcon::Warning);
    Facts().RunRefused(cause, text);
}

void CUIThread::OnStartUpdate(uint32_t crystalIndex, const std::string& noCrystalWhy) {
    if (!ReadyToWake(crystalIndex, noCrystalWhy)) {
        shared.UpdateArmed = 0;  // the update never began; the board's bytes stay console text
        return;
    }
    Facts().RunStarted(ExchangeProgress::Kind::Update, crystalIndex);
    WakeBoard(crystalIndex);
}

void CUIThread::OnWakeAgain(uint32_t crystalIndex) {
    // The update under way wakes its board again (a board powered since the last
    // wake-up heard nothing it could answer). A board that has answered is awake and
    // in its exchange: a wake-up now would break into it. A reply that has come
    // meanwhile is taken first, so that it is answered rather than talked over.
    if (shared.UpdateArmed == 0 || answeredSinceWake || crystalIndex != CrystalIndex)
        return;
    OnSerialReceive(PortNumber);
    if (shared.UpdateArmed == 0 || answeredSinceWake)
        return;
    WakeBoard(crystalIndex);
}

void CUIThread::WakeBoard(uint32_t crystalIndex) {
    CrystalIndex = crystalIndex;
    answeredSinceWake = false;

    // Wake the board at the line settings in use, then listen at its boot speed.
    Comm->WriteBytes(kResetPattern.data(), kResetPattern.size());
    sleeper.SleepMs(kWakeUpPauseMs);
    const std::string settings = kCrystals[crystalIndex].BootSettings();
    if (Comm->IsOpen()) {
        // At 9600 baud the 16 bytes need 17 ms; the close must not cut them off.
        Comm->DrainOutput(kDrainLimitMs);
        Comm->ClosePort();
    }
    Facts().ListeningForBoard(OpenLine(settings));
}

void CUIThread::OnConsoleCommand(const std::string& command, uint32_t crystalIndex) {
    if (command == "reset") {
        Comm->WriteBytes(kResetPattern.data(), kResetPattern.size());
    } else if (command == "initflash") {
        // Refused before anything changes: the loaded image keeps its lengths.
        if (!ReadyToWake(crystalIndex))
            return;
        // An erase is an update of nothing: the board is told the whole map is
        // 0xFFFFFFFF bytes and programs it erased.
        image.CodeLen = image.FontLen = image.BmpLen = image.LogoLen = 0;
        image.FlashMapLen = kEraseLength;
        shared.UpdateArmed = 1;
        Facts().RunStarted(ExchangeProgress::Kind::Erase, crystalIndex);
        Log(kLogErase);
        WakeBoard(crystalIndex);
    } else if (command == "pcdemo") {
        Comm->WriteBytes(kDemoPattern.data(), kDemoPattern.size());
    }
}
