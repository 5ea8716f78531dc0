#pragma once
// Whole files that replace the old ones in one step: every save of the tool (flash
// maps, code images and their headers, settings, console text, logs) ends here.
#include <cstddef>
#include <cstdint>
#include <string>

// Writes `size` bytes to `path` so that the path holds either its old content or
// the whole new content, never a part: the bytes go to a temporary file beside it,
// which is synced and then renamed over the path. A link is followed and its
// target replaced; a device, pipe or folder is refused and left as it is, and so
// is a file the user may not write ("Permission denied"), as cp would. A new
// file gets the mode any program gives (0666 less the umask), a replaced one
// keeps its own. Returns "" on success, else the cause.
std::string WriteFileReplacing(const std::string& path, const uint8_t* data, size_t size);

// Writes two files that belong together (a program and its header) so that both
// are replaced or neither is: a failure leaves both old files as they were.
// Returns "" on success, else the cause, beginning with the path it concerns.
std::string WriteFilePairReplacing(const std::string& firstPath, const uint8_t* firstData, size_t firstSize,
                                   const std::string& secondPath, const uint8_t* secondData, size_t secondSize);

// Why a WriteFileReplacing to `path` could not be made now ("" when it could): the
// same checks of the target, and a trial file beside it that must take a block of
// data and reach the disk (a missing folder, one the user may not write in, or a full
// disk shows here). Nothing at `path` is touched.
std::string ReplacingProblem(const std::string& path);
