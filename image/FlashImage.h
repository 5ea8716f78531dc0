#pragma once
// The flash image that an update sends to the board: the two working buffers, the
// region layout read from the board's flash address assignment file, and the
// operations that load update files into the image and save it again.
//
// Plain single-threaded code: the worker thread owns one CFlashImage and calls it
// from its message handlers; the command-line front end and the tests drive it
// directly. Everything the operator must be told goes through IImageReporter.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

constexpr uint32_t kImageBufSize = 0x100000;  // 1 MiB: the largest flash the board has
constexpr uint32_t kFileBufSize = 0x80000;    // 512 KiB: one update file or code image
constexpr uint32_t kFlashBlockSize = 0x10000; // flash is sized in 64 KiB blocks
constexpr uint32_t kTrailerSize = 12;         // start pointers of font, bitmap, logo
constexpr uint32_t kSmallProgramLimit = 0x4000;  // code images below this are 'P'

enum class MessageIcon { Error, Warning };

class ConflictMap;
class UpdateFile;

// A prepared image as the update sends it: the flash bytes, the layout and the
// section lengths. The files are loaded and checked once into one image; every board
// of a run gets a copy of its snapshot.
struct ImageSnapshot {
    std::vector<uint8_t> imageBuf;
    std::array<uint32_t, 4> bufSizes{};
    uint32_t codeStart = 0, fontStart = 0, bmpStart = 0, logoStart = 0;
    uint32_t codeLen = 0, fontLen = 0, bmpLen = 0, logoLen = 0, flashMapLen = 0;
};

// How the image code reports to the operator. The worker implements it by posting
// STATUS_ERROR_TEXT (for ErrorText) or by showing a blocking message box.
class IImageReporter {
public:
    virtual ~IImageReporter() = default;
    // Constant texts that the dialog shows in its "Warning" box (e.g. "Bitmap section is too large!").
    virtual void ErrorText(const char* constantText) = 0;
    // A message box owned by the main window, blocking until dismissed.
    virtual void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
};

class CFlashImage {
public:
    explicit CFlashImage(IImageReporter& reporter);
    CFlashImage(const CFlashImage&) = delete;
    CFlashImage& operator=(const CFlashImage&) = delete;

    // Reads the four region sizes and derives the region starts. False, with a
    // message naming the file (and the line and why, where it can), when the file
    // is missing, lacks a key, is one that a C compiler would read otherwise than
    // the board's tools do, or gives a layout that does not fit the image; image
    // operations then refuse to run.
    bool ReadFlashAddrAssign(const std::string& path);
    // The same reader over text already in memory; `sourceName` names it in messages.
    bool ReadFlashAddrAssignText(std::string_view text, const std::string& sourceName);
    bool LayoutUsable() const { return layoutUsable; }

    // Starts a new batch: every length 0, ImageBuf erased (0xFF), FileBuf 0x00.
    void ResetImage();

    // The image as it would be sent now, and the same image taken over from another
    // (its layout too: both were read from the same address file).
    ImageSnapshot Snapshot() const;
    void Restore(const ImageSnapshot& snapshot);

    // Takes one update file into the image. True when the file was taken without
    // any problem message. A refused file leaves the image and the section lengths
    // as they were; any file that is not loaded as a complete map ends a map
    // loaded before it (FlashMapLen 0), refused or not.
    bool OnLoadFile(const std::string& path);

    // Saves the flash image (when a data section is placed), a loaded complete map,
    // or the converted code image with, for a small program, "RmPgm.h" beside it.
    // True when the file (and the header, if any) were written; a failed save
    // leaves the old files as they were.
    bool OnSaveFlashMap(const std::string& path);

    // Places the section now in FileBuf (n bytes, or CodeLen for code) into its
    // region. `flashBlocks` is the flash size in 64 KiB blocks. True when placed.
    bool PlaceSection(uint32_t n, uint8_t letter, uint8_t flashBlocks);

    // True when the file was loaded whole as a complete flash map.
    bool LoadFlashMap(const std::string& path);

    // Converts Motorola S-record text into the code image in FileBuf and CodeLen
    // and stores its section letter ('C' or 'P'). False when the file was refused
    // before anything changed: a line that is no sound record (type, digits, byte
    // count, checksum), a record outside the code image, or no code data at all.
    // True when a code image was built (also when an overlap stopped the
    // conversion early, which is reported).
    bool ConvertSRecordFile(const std::string& path, uint8_t& letter);
    bool ConvertSRecordText(std::string_view text, const std::string& sourceName, uint8_t& letter);

    // Takes one S-record line into FileBuf. False stops the conversion (a line
    // that is no sound record, an address claimed twice, or a record outside the
    // code image, each reported).
    bool ParseSRecordLine(std::string_view line, uint32_t& runningEnd, ConflictMap& conflictMap);

    // Flash size in 64 KiB blocks for the logo placed so far, at full width.
    uint32_t FlashBlocks() const;

    static void WriteBigEndian32(uint8_t* dst, uint32_t value);
    static uint32_t ReadBigEndian32(const uint8_t* src);

    // Read by the update engine. The buffers are allocated once and never resized.
    std::vector<uint8_t> ImageBuf;  // kImageBufSize bytes, 0xFF = erased
    std::vector<uint8_t> FileBuf;   // kFileBufSize bytes
    std::array<uint32_t, 4> BufSizes{};  // CodeBufSize, FontBufSize, BmpBufSize, EsLogoPicBufSize
    uint32_t CodeStart = 0;
    uint32_t FontStart = 0;
    uint32_t BmpStart = 0;
    uint32_t LogoStart = 0;
    uint32_t CodeLen = 0;   // code image length L, its 4-byte header included
    uint32_t FontLen = 0;
    uint32_t BmpLen = 0;
    uint32_t LogoLen = 0;
    uint32_t FlashMapLen = 0;  // 0xFFFFFFFF while an erase is armed

private:
    const char* SectionRefusal(uint32_t n, uint8_t letter, uint32_t flashBlocks, uint32_t codeLen) const;
    enum class MapOutcome { NoCandidate, Loaded, WrongSize, Unreadable };
    MapOutcome LoadFlashMapFrom(UpdateFile& file, const std::string& path);
    bool LoadSectionFile(UpdateFile& file, const std::string& path);
    // True when the file was loaded whole as a complete flash map.
    bool TakeUpdateFile(const std::string& path, bool sRecordText);
    bool SaveCodeImage(const std::string& path);
    bool WriteReplacing(const std::string& path, const uint8_t* data, size_t size);
    // Calls the visitor with each line (without its line end) and its number until
    // the visitor answers false; false when the text could not be read.
    using LineVisitor = std::function<bool(std::string_view line, size_t number)>;
    using LineSource = std::function<bool(const LineVisitor&)>;
    bool ConvertSRecordLines(const LineSource& lines, const std::string& sourceName, uint8_t& letter);
    bool RefuseWithoutLayout();
    // True, with a message blaming the address file, when the region that a section
    // of this letter goes into has size 0; `what` names the file for the message.
    bool RefuseEmptyRegion(uint8_t letter, const std::string& what);

    // Every report goes through these, so that a caller can tell whether an
    // operation raised any problem.
    void Report(const char* constantText);
    void Report(const std::string& text, const char* caption, MessageIcon icon);

    IImageReporter& reporter;
    std::string lastRefusedFile;  // since the last reset, for a save that has nothing to write
    bool layoutUsable = false;
    std::string layoutProblem;  // why the layout is unusable, for the refusals
    std::string layoutSource;   // the address file the layout was read from
    std::array<size_t, 4> layoutLines{};  // the line of each key in it
    unsigned problemCount = 0;
};
