#pragma once
// The operator's choices of line settings, in the order of the window's lists: the
// settings file stores each as its index in these lists, and the settings text the
// line is opened with ("115200,N,8,1") is built from the chosen items.
#include <array>
#include <string>

struct ParityChoice {
    const char* name;  // as the list shows it
    char letter;       // as the settings text has it
};

inline constexpr std::array<const char*, 5> kBaudChoices = {"115200", "19200", "57600", "38400", "9600"};
inline constexpr std::array<ParityChoice, 3> kParityChoices = {{{"None", 'N'}, {"Even", 'E'}, {"Odd", 'O'}}};
inline constexpr std::array<const char*, 1> kDataBitsChoices = {"8"};
inline constexpr std::array<const char*, 1> kStopBitsChoices = {"1"};
inline constexpr std::array<const char*, 1> kFlashStyleChoices = {"SPI_FLASH"};
// COM port numbers the window offers (com1 ... com6).
inline constexpr int kPortChoices = 6;

// The item at a stored index, or "" when the index is beyond the list.
template <typename List>
std::string ChoiceAt(const List& list, int index) {
    return index >= 0 && index < static_cast<int>(list.size()) ? std::string(list[static_cast<size_t>(index)]) : std::string();
}

// The settings text of four stored indexes; a field whose index is beyond its list is
// empty (the open then fails, naming the settings).
inline std::string LineSettingsText(int baud, int parity, int dataBits, int stopBits) {
    const std::string parityLetter =
        parity >= 0 && parity < static_cast<int>(kParityChoices.size()) ? std::string(1, kParityChoices[static_cast<size_t>(parity)].letter) : "";
    return ChoiceAt(kBaudChoices, baud) + "," + parityLetter + "," + ChoiceAt(kDataBitsChoices, dataBits) + "," +
           ChoiceAt(kStopBitsChoices, stopBits);
}
