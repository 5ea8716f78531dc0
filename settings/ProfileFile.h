#pragma once
#include <optional>
#include <string>
#include <vector>

// The settings file in the library folder, read the way Windows profile files are:
// sections in square brackets, "key=value" lines, names compared without regard to
// case, blanks around names and values ignored, the first occurrence counting.
class ProfileFile {
public:
    // An absent file reads as empty: every key takes its default. A file that is there
    // but cannot be used (a folder, a device, a runaway size) reads as empty too, and
    // `problem` says why, so that the front end can refuse to guess.
    static ProfileFile Load(const std::string& path, std::string& problem);
    static ProfileFile Parse(const std::string& text);

    // The value's text, or nothing when the section or key is absent.
    std::optional<std::string> GetString(const std::string& section, const std::string& key) const;
    // The leading decimal integer of the value. Missing, not a number, or negative: 0
    // (a list index that cannot be negative).
    int GetInt(const std::string& section, const std::string& key) const;
    // GetInt's value, and whether the value was there but read as 0 all the same
    // (empty, not a number, or negative).
    struct IntRead {
        int value = 0;
        bool readAsZero = false;
    };
    IntRead ReadInt(const std::string& section, const std::string& key) const;
    // The keys of a section in the order of the file, each once (as first written).
    std::vector<std::string> Keys(const std::string& section) const;

private:
    struct Entry {
        std::string section, key, value;
    };
    std::vector<Entry> entries;
};

// One list index as the settings file holds it, for words about a value that is not
// what it should be: "[COM] baudrate=99 is not in its list".
struct StoredChoice {
    const char* section;
    const char* key;
    std::string text;     // the value as written; empty when the key is absent
    int index = 0;        // as read
    bool readAsZero = false;  // written, but not a number or negative: read as 0
    bool inList = true;   // the index names an item of its list
    std::vector<std::string> items;  // the list, as the window shows it
    // "[COM] baudrate=99"
    std::string Named() const;
    // "0 = 115200, 1 = 19200, 2 = 57600, 3 = 38400, 4 = 9600"
    std::string ListText() const;
};

// Settings the front ends take from the file: the line ("COM" section, stored as
// list indexes), the crystal ("PLANT"), and which device each COM port number means.
struct OperatorSettings {
    static constexpr const char* kFileName = "M850T.ini";

    std::string lineSettings = "115200,N,8,1";  // empty fields where an index is out of range
    unsigned portNumber = 1;                    // "portno" + 1
    int crystalIndex = 0;                       // "XTLO"; -1 when beyond the list
    ProfileFile profile;
    // The file that was read (it may be absent), and each list index it gives, in
    // the order portno, baudrate, parity, databits, stopbits, XTLO.
    std::string path;
    std::vector<StoredChoice> choices;
    // Why the settings file could not be used ("<path>: is a folder, not a file"); empty
    // when it was read or is absent.
    std::string problem;

    static OperatorSettings Load(const std::string& libFolder);
    // The device of COM port n: "comN" in the [PORTS] section, else /dev/ttyS<n-1>.
    std::string DeviceForPort(unsigned portNumber) const;
    // The stored choice of this key ("portno", "baudrate", ..., "XTLO").
    const StoredChoice& Choice(const std::string& key) const;
};
