#include "settings/SettingsChecks.h"

namespace {

std::string ReadAsZeroWhy(const StoredChoice& c) {
    if (c.text.empty())
        return "which is empty";
    if (c.text[0] == '-')
        return "which is negative";
    return "which is not a number";
}

bool Used(const StoredChoice& c, const SettingsUse& use) {
    const std::string key = c.key;
    return key == "portno" ? use.port : key == "XTLO" ? use.crystal : use.line;
}

std::string NotInList(const OperatorSettings& settings, const StoredChoice& c) {
    return "the settings file " + settings.path + " holds " + c.Named() + ", which is not in its list (" +
           c.ListText() + ")";
}

}  // namespace

SettingsWords CheckSettingsChoices(const OperatorSettings& settings, const SettingsUse& use) {
    SettingsWords words;
    for (const StoredChoice& c : settings.choices) {
        if (!Used(c, use))
            continue;
        if (c.readAsZero) {
            words.warnings.push_back("Warning: the settings file " + settings.path + " holds " + c.Named() + ", " +
                                     ReadAsZeroWhy(c) + "; it is read as 0 (" + c.items.front() + ")");
        } else if (!c.inList) {
            words.error += (words.error.empty() ? "Error: " : "\nError: ") + NotInList(settings, c);
        }
    }
    if (!words.error.empty())
        words.error += "\n" + use.remedy;
    return words;
}

std::string CrystalChoiceProblem(const OperatorSettings& settings) {
    const StoredChoice& c = settings.Choice("XTLO");
    if (c.inList)
        return "";
    return "Error: " + NotInList(settings, c) + "\nName the crystal with --crystal, or mend the file.";
}
