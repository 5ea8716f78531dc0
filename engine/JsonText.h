#pragma once
// The little JSON the results files need: a string as a JSON string literal, and a
// number of seconds. Text from the board or from file names is bytes, not always
// UTF-8: every byte that does not belong to a well-formed UTF-8 sequence becomes
// U+FFFD, so that each record stays valid JSON whatever the board printed.
#include <string>
#include <string_view>

// "\"text\"" with quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view text);
// A finite number with up to three decimals ("0.25", "58.104"); 0 for anything else.
std::string JsonSeconds(double seconds);
