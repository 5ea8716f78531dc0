#pragma once
// The board's console text as a terminal may show it: a board's escape sequences,
// title changes and clear-screens would otherwise act on the operator's terminal.
#include <string>

// `text` with every control byte but tab, CR and LF written out as \xHH: the C0
// bytes, DEL, and the C1 controls a UTF-8 terminal takes from their two-byte form
// (C2 80 .. C2 9F).
// Everything else, UTF-8 text included, stays as it is.
std::string VisibleControls(const std::string& text);
