#pragma once
// The operator-facing texts of the image code. The first group is shown by the
// dialog exactly as written and travels by pointer, so each is a constant that
// lives for the whole process.

inline constexpr const char* kTextBitmapTooLarge = "Bitmap section is too large!";
inline constexpr const char* kTextCodeTooLarge = "Code section is too large!";
inline constexpr const char* kTextLogoTooLarge = "Logo section is too large!";
inline constexpr const char* kTextFontTooLarge = "Font section is too large!";
inline constexpr const char* kTextWrongFileType = "The open file is not the right type!";
inline constexpr const char* kTextWrongFlashMap = "The flashmap is not the right type!";
inline constexpr const char* kTextUnexpectedSaveSize = "Unexpected save file size!";
inline constexpr const char* kTextSectionConflicted = "Section conflicted!";

inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionWarning = "Warning";

// Name of the C header written beside a saved small program.
inline constexpr const char* kPgmHeaderName = "RmPgm.h";
