#include "protocol/ExchangeProgress.h"

#include "protocol/WireProtocol.h"

namespace {

// An erase holds the board's programming reports up to the last: the flash is erased
// only once it has said so.
constexpr const char* kEraseReport = "reported the erase through to 16 of 16";

// "A", "A and B", "A, B and C".
std::string JoinedList(const std::vector<std::string>& items) {
    std::string text;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += i + 1 == items.size() ? " and " : ", ";
        text += items[i];
    }
    return text;
}

}  // namespace

void ExchangeProgress::HeaderSent(const std::array<uint32_t, 10>& words) {
    header = true;
    if (kind == Kind::Erase)
        return;  // an erase announces the whole map as 0xFFFFFFFF bytes and asks for nothing
    for (int s = kCode; s <= kLogo; ++s)
        announced[s] = words[4 + s] != 0;
    // A flash map is sent only when no section is: the board then asks for 'A'.
    announced[kFlashMap] = words[8] != 0 && words[8] != kEraseLength && !announced[kCode] && !announced[kFont] &&
                           !announced[kBitmap] && !announced[kLogo];
}

void ExchangeProgress::SectionSent(uint8_t letter, bool whole) {
    Section s;
    if (!SectionOfRequest(letter, s))
        return;
    asked[s] = true;
    sentWhole[s] = sentWhole[s] || whole;
}

void ExchangeProgress::ProgrammingReport(uint8_t sixteenths) {
    lastReport = sixteenths;
    ++reports;
    erased = erased || sixteenths == kLastProgress;
}

std::vector<std::string> ExchangeProgress::Missing() const {
    std::vector<std::string> missing;
    if (!loader1)
        missing.push_back("loader 1");
    if (!loader2)
        missing.push_back("loader 2");
    if (!header)
        missing.push_back("the section header");
    for (int s = kCode; s < kSectionCount; ++s)
        if (announced[s] && !sentWhole[s])
            missing.push_back(SectionName(static_cast<Section>(s)));
    if (kind == Kind::Erase && !erased)
        missing.push_back(kEraseReport);
    return missing;
}

std::string ExchangeProgress::EarlyFinishText() const {
    std::vector<std::string> neverAsked, notWhole;
    if (!loader1)
        neverAsked.push_back("loader 1");
    if (!loader2)
        neverAsked.push_back("loader 2");
    if (!header)
        neverAsked.push_back("the section header");
    for (int s = kCode; s < kSectionCount; ++s) {
        if (!announced[s] || sentWhole[s])
            continue;
        (asked[s] ? notWhole : neverAsked).push_back(SectionName(static_cast<Section>(s)));
    }
    const bool unerased = kind == Kind::Erase && !erased;
    if (neverAsked.empty() && notWhole.empty() && !unerased)
        return {};
    std::string text = "the board reported finished, but ";
    if (!neverAsked.empty())
        text += "it never asked for " + JoinedList(neverAsked);
    if (!notWhole.empty())
        text += std::string(neverAsked.empty() ? "" : ", and ") + JoinedList(notWhole) +
                (notWhole.size() == 1 ? " was" : " were") + " not sent whole";
    if (unerased)
        text += std::string(neverAsked.empty() && notWhole.empty() ? "it never " : ", and it never ") + kEraseReport;
    return text;
}

const char* ExchangeProgress::SectionName(Section s) {
    switch (s) {
    case kCode: return "CODE";
    case kFont: return "FONT";
    case kBitmap: return "BITMAP";
    case kLogo: return "LOGO";
    case kFlashMap: return "the flash map";
    default: return "?";
    }
}

bool ExchangeProgress::SectionOfRequest(uint8_t letter, Section& s) {
    switch (letter) {
    case kReplyCode: s = kCode; return true;
    case kReplyFont: s = kFont; return true;
    case kReplyBitmap: s = kBitmap; return true;
    case kReplyLogo: s = kLogo; return true;
    case kReplyFlashMap: s = kFlashMap; return true;
    default: return false;
    }
}
