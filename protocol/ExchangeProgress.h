#pragma once
// What an update (or an erase) exchange has reached, seen from the tool's side: the
// loaders sent, the section header sent and what it announced, each section the board
// asked for and whether it went out whole, the programming reports, and 'D'. The board
// leads the exchange and may say 'D' at any moment; only an exchange that reached all
// it had to reach is a flashed board. The worker's session and the wire-trace reader
// both judge a run by this one tally.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

class ExchangeProgress {
public:
    enum class Kind { Update, Erase };
    // The sections a header can announce, in the header's order, and the flash map.
    enum Section { kCode, kFont, kBitmap, kLogo, kFlashMap, kSectionCount };

    ExchangeProgress() : kind(Kind::Update) {}
    explicit ExchangeProgress(Kind kind) : kind(kind) {}

    Kind RunKind() const { return kind; }

    void Loader1Sent(bool whole) { loader1 = loader1 || whole; }
    void Loader2Sent(bool whole) { loader2 = loader2 || whole; }
    // The ten words of the section header as sent (little-endian on the wire).
    void HeaderSent(const std::array<uint32_t, 10>& words);
    // A request letter ('A', 'C', 'F', 'B', 'E') answered; whole when every byte of
    // its run went out.
    void SectionSent(uint8_t letter, bool whole);
    void ProgrammingReport(uint8_t sixteenths);
    void Finished() { finished = true; }

    bool LoaderOneSent() const { return loader1; }
    bool LoaderTwoSent() const { return loader2; }
    bool HeaderWasSent() const { return header; }
    bool ReportedFinished() const { return finished; }
    int LastReport() const { return lastReport; }
    int Reports() const { return reports; }
    // Sections the header announced (a length other than 0; for an erase none).
    bool Announced(Section s) const { return announced[s]; }
    bool SentWhole(Section s) const { return sentWhole[s]; }

    // Everything the board had to be given before its 'D' means a flashed (or erased)
    // board: both loaders, the header, and every announced section whole; for an
    // erase, its programming reports through to 16 of 16.
    bool Complete() const { return Missing().empty(); }
    // What is missing, in the operator's words: "loader 2", "the section header",
    // "FONT", ... (sections asked for but not sent whole are listed apart).
    std::vector<std::string> Missing() const;
    // "the board reported finished, but it never asked for FONT, BITMAP and LOGO";
    // empty when the exchange is complete.
    std::string EarlyFinishText() const;

    // The operator's name of a section: "CODE", "FONT", "BITMAP", "LOGO", "the flash map".
    static const char* SectionName(Section s);
    // The section a request letter asks for; false
    // when the letter asks for none.
    static bool SectionOfRequest(uint8_t letter, Section& s);

private:
    Kind kind;
    bool loader1 = false, loader2 = false, header = false, finished = false;
    bool erased = false;  // the board reported 16 of 16
    std::array<bool, kSectionCount> announced{};
    std::array<bool, kSectionCount> asked{};
    std::array<bool, kSectionCount> sentWhole{};
    int lastReport = 0;
    int reports = 0;
};
