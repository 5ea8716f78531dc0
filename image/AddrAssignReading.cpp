#include "image/AddrAssignReading.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <vector>

#include "image/HexText.h"

namespace {

// The board's tools keep the key's column in one byte with 255 meaning "absent",
// so a key that starts further right is not seen.
constexpr size_t kKeyColumnLimit = 255;

// An editor's UTF-8 byte-order mark in front of the first line.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A backslash at a line's end (blanks may follow it) joins the next line to it.
bool ContinuesOnNextLine(std::string_view line) {
    while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
    return !line.empty() && line.back() == '\\';
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// The lines as both readings split the text: at each LF, a CR before it dropped.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

// The text after a key as the board's tools take it: blanks trimmed, two characters
// (the "0x") skipped, then hexadecimal digits as far as they go. Values too large
// for 32 bits stay at the largest value.
uint32_t BoardValue(std::string_view rest) {
    rest = Trimmed(rest);
    rest.remove_prefix(std::min<size_t>(2, rest.size()));
    uint64_t value = 0;
    for (char c : rest) {
        const int digit = HexDigitValue(c);
        if (digit < 0) break;
        value = std::min<uint64_t>((value << 4) | static_cast<uint64_t>(digit), 0xFFFFFFFFu);
    }
    return static_cast<uint32_t>(value);
}

// One line as a C compiler sees it: comments become blanks (`code`), and
// `inComment` says which characters were comment. The state carries a block
// comment, and a // comment continued by a trailing backslash, into the next line.
struct CommentState {
    bool inBlock = false;
    bool lineCommentGoesOn = false;
};

struct MaskedLine {
    std::string code;
    std::vector<bool> inComment;
};

MaskedLine MaskComments(std::string_view line, CommentState& state) {
    MaskedLine m{std::string(line), std::vector<bool>(line.size(), false)};
    auto mark = [&](size_t from, size_t to) {
        for (size_t j = from; j < to; ++j) {
            m.code[j] = ' ';
            m.inComment[j] = true;
        }
    };
    bool lineComment = state.lineCommentGoesOn;
    size_t i = 0;
    while (i < line.size()) {
        if (lineComment) {
            mark(i, line.size());
            break;
        }
        if (state.inBlock) {
            const size_t end = line.find("*/", i);
            const size_t stop = end == std::string_view::npos ? line.size() : end + 2;
            mark(i, stop);
            state.inBlock = end == std::string_view::npos;
            i = stop;
            continue;
        }
        const char c = line[i];
        const char next = i + 1 < line.size() ? line[i + 1] : '\0';
        if (c == '/' && next == '/') {
            lineComment = true;
        } else if (c == '/' && next == '*') {
            mark(i, i + 2);
            state.inBlock = true;
            i += 2;
        } else if (c == '"' || c == '\'') {
            // A literal is no comment, and a comment mark inside it starts none.
            ++i;
            while (i < line.size() && line[i] != c) i += line[i] == '\\' ? 2 : 1;
            ++i;
        } else {
            ++i;
        }
    }
    state.lineCommentGoesOn = lineComment && ContinuesOnNextLine(line);
    return m;
}

// "#word rest" on a line of code: the directive's word and where its rest begins.
struct Directive {
    std::string_view word;
    size_t restAt = 0;
};

std::optional<Directive> DirectiveOf(std::string_view code) {
    size_t i = 0;
    while (i < code.size() && IsBlank(code[i])) ++i;
    if (i == code.size() || code[i] != '#') return std::nullopt;
    ++i;
    while (i < code.size() && IsBlank(code[i])) ++i;
    const size_t start = i;
    while (i < code.size() && IsNameChar(code[i])) ++i;
    return Directive{code.substr(start, i - start), i};
}

// The name a directive's rest begins with ("#define NAME ...", "#ifndef NAME").
std::string_view FirstName(std::string_view code, size_t from, size_t& at) {
    at = from;
    while (at < code.size() && IsBlank(code[at])) ++at;
    size_t end = at;
    while (end < code.size() && IsNameChar(code[end])) ++end;
    return code.substr(at, end - at);
}

// A C integer constant: decimal, octal or hexadecimal digits and a u/l suffix.
struct CInteger {
    uint64_t value = 0;
    bool tooLarge = false;
    int base = 10;
};

std::optional<CInteger> ParseCInteger(std::string_view s) {
    if (s.empty() || !IsDigit(s[0])) return std::nullopt;
    CInteger n;
    size_t i = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && HexDigitValue(s[2]) >= 0) {
        n.base = 16;
        i = 2;
    } else if (s[0] == '0') {
        n.base = 8;
    }
    for (; i < s.size(); ++i) {
        int digit = n.base == 16 ? HexDigitValue(s[i]) : IsDigit(s[i]) ? s[i] - '0' : -1;
        if (digit < 0) break;
        if (digit >= n.base) return std::nullopt;  // an 8 or 9 in an octal number
        if (n.value > (UINT64_MAX - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(n.base))
            n.tooLarge = true;
        else
            n.value = n.value * static_cast<uint64_t>(n.base) + static_cast<uint64_t>(digit);
    }
    const std::string_view suffix = s.substr(i);
    if (suffix.size() > 3 || std::count_if(suffix.begin(), suffix.end(), [](char c) { return c == 'u' || c == 'U'; }) > 1 ||
        !std::all_of(suffix.begin(), suffix.end(), [](char c) { return c == 'u' || c == 'U' || c == 'l' || c == 'L'; }))
        return std::nullopt;
    return n;
}

std::string LineText(size_t number, const std::string& why) { return "line " + std::to_string(number) + ": " + why; }

// What is wrong with `body`, the value of a key's #define, when it is not a number
// that both readings take alike; `boardValue` is what the board's tools take.
std::string ValueProblem(const std::string& key, std::string_view body, uint32_t boardValue, uint32_t& value) {
    const std::string shown(body.substr(0, 40));
    const std::string rewrite = "; write it as one hexadecimal number (0x...)";
    if (body.empty()) return key + " is defined without a value";
    const auto n = ParseCInteger(body);
    if (!n) {
        const bool parenthesised = body.find('(') != std::string_view::npos;
        return key + " is " + shown + (parenthesised ? ", an expression in parentheses," : ", an expression,") +
               " which the board's reader takes as " + Hex(boardValue) + rewrite;
    }
    if (n->tooLarge || n->value > 0xFFFFFFFFu) return key + " is " + shown + ", more than 32 bits hold";
    value = static_cast<uint32_t>(n->value);
    if (value == boardValue) return "";
    const std::string both = ": a C compiler reads it as " + Hex(value) + ", the board's reader as " + Hex(boardValue);
    if (n->base == 10) return key + " is " + shown + ", a decimal number" + both + "; write it as " + Hex(value);
    if (n->base == 8) return key + " is " + shown + ", an octal number" + both + "; write it as " + Hex(value);
    return "the board's reader takes " + key + " as " + Hex(boardValue) + " from this line, a C compiler as " + Hex(value);
}

// An open #if, #ifdef, #ifndef (and its #elif/#else): whether a compiler surely
// reads what it holds. Only an #ifndef of a name not defined above is sure to be
// entered, which is how an include guard reads.
struct OpenCondition {
    size_t line;
    bool entered;
};

}  // namespace

AddrAssignReading ReadAsTheBoardTools(std::string_view text) {
    AddrAssignReading r;
    size_t number = 0;
    for (std::string_view line : Lines(text)) {
        ++number;
        if (r.found == 4) break;
        line = line.substr(0, line.find('\0'));  // the line is C text: a NUL ends it
        const std::string_view key = kAddrAssignKeys[r.found];
        const size_t column = line.find(key);
        if (column == std::string_view::npos || column >= kKeyColumnLimit) continue;
        r.sizes[r.found] = BoardValue(line.substr(column + key.size()));
        r.lines[r.found] = number;
        ++r.found;
    }
    return r;
}

std::string WhereACompilerDisagrees(std::string_view text, const AddrAssignReading& reading) {
    std::array<size_t, 4> defineLine{};
    std::array<uint32_t, 4> defined{};
    std::set<std::string, std::less<>> names;  // every macro defined so far
    std::vector<OpenCondition> conditions;
    CommentState comments;
    bool continuedFromAbove = false;
    size_t number = 0;

    for (const std::string_view line : Lines(text)) {
        ++number;
        if (line.find('\0') != std::string_view::npos)
            return LineText(number, "it holds a NUL byte, where the board's reader ends the line and a C compiler does not");
        if (line.find('\r') != std::string_view::npos)
            return LineText(number, "it holds a carriage return, which a C compiler takes for a line end and the "
                                    "board's reader does not");
        MaskedLine masked = MaskComments(line, comments);
        if (number == 1 && masked.code.rfind(kByteOrderMark, 0) == 0)
            masked.code.replace(0, kByteOrderMark.size(), kByteOrderMark.size(), ' ');  // as a compiler skips it
        const bool continued = continuedFromAbove || ContinuesOnNextLine(line);
        continuedFromAbove = ContinuesOnNextLine(line);
        const auto directive = DirectiveOf(masked.code);

        for (size_t k = 0; k < 4; ++k) {
            const std::string key = kAddrAssignKeys[k];
            for (size_t at = line.find(key); at != std::string_view::npos; at = line.find(key, at + 1)) {
                if (masked.inComment[at])
                    return LineText(number, key + " stands in a comment, which a C compiler skips and the board's "
                                                  "reader does not");
                size_t from = at, to = at + key.size();
                while (from > 0 && IsNameChar(line[from - 1])) --from;
                while (to < line.size() && IsNameChar(line[to])) ++to;
                if (to - from != key.size())
                    return LineText(number, std::string(line.substr(from, to - from)) + " is a longer name containing " +
                                                key + ", which the board's reader would take for " + key);
                if (continued)
                    return LineText(number, key + " is on a line continued with a backslash, which the board's reader "
                                                  "does not join");
                size_t nameAt = 0;
                const bool isDefine = directive && directive->word == "define" &&
                                      FirstName(masked.code, directive->restAt, nameAt) == key && nameAt == at &&
                                      nameAt > directive->restAt;
                const uint32_t boardValue = BoardValue(line.substr(at + key.size()));
                if (!isDefine)
                    return LineText(number, key + " stands here outside a #define of it: a C compiler takes no value "
                                                  "from this line, the board's reader " + Hex(boardValue));
                if (defineLine[k] != 0)
                    return LineText(number, key + " is defined a second time (first on line " +
                                                std::to_string(defineLine[k]) +
                                                "): a C compiler takes the last, the board's reader the first");
                if (at >= kKeyColumnLimit)
                    return LineText(number, key + " begins after the first " + std::to_string(kKeyColumnLimit) +
                                                " characters of its line, where the board's reader does not look");
                for (const OpenCondition& c : conditions)
                    if (!c.entered)
                        return LineText(number, key + " is defined inside the condition on line " +
                                                    std::to_string(c.line) +
                                                    ": a C compiler reads it only when that condition holds, the "
                                                    "board's reader always");
                const size_t bodyAt = at + key.size();
                if (bodyAt < masked.code.size() && masked.code[bodyAt] == '(')
                    return LineText(number, key + " is defined as a macro with parameters, which has no value");
                uint32_t value = 0;
                const std::string problem =
                    ValueProblem(key, Trimmed(std::string_view(masked.code).substr(bodyAt)), boardValue, value);
                if (!problem.empty()) return LineText(number, problem);
                defineLine[k] = number;
                defined[k] = value;
            }
        }

        if (!directive || continued) continue;
        size_t nameAt = 0;
        const std::string_view name = FirstName(masked.code, directive->restAt, nameAt);
        if (directive->word == "define") {
            names.emplace(name);
        } else if (directive->word == "undef") {
            if (auto it = names.find(name); it != names.end()) names.erase(it);
        } else if (directive->word == "ifndef") {
            conditions.push_back({number, !name.empty() && names.find(name) == names.end()});
        } else if (directive->word == "if" || directive->word == "ifdef") {
            conditions.push_back({number, false});
        } else if ((directive->word == "else" || directive->word == "elif") && !conditions.empty()) {
            conditions.back() = {number, false};
        } else if (directive->word == "endif" && !conditions.empty()) {
            conditions.pop_back();
        }
    }

    // The board's tools take the keys in their order, each below the one before.
    for (size_t k = 1; k < 4 && defineLine[k - 1] != 0 && defineLine[k] != 0; ++k)
        if (defineLine[k] < defineLine[k - 1])
            return LineText(defineLine[k], std::string(kAddrAssignKeys[k]) + " comes before " + kAddrAssignKeys[k - 1] +
                                               " (line " + std::to_string(defineLine[k - 1]) +
                                               "): the board's reader takes the keys in the order CodeBufSize, "
                                               "FontBufSize, BmpBufSize, EsLogoPicBufSize and would pass over it");
    for (size_t k = 0; k < 4; ++k) {
        const std::string key = kAddrAssignKeys[k];
        if (k >= reading.found && defineLine[k] == 0) break;  // missing in both: the caller says so
        if (k < reading.found && (defineLine[k] != reading.lines[k] || defined[k] != reading.sizes[k]))
            return LineText(reading.lines[k], "the board's reader takes " + key + " as " + Hex(reading.sizes[k]) +
                                                  " from this line, a C compiler " +
                                                  (defineLine[k] ? "as " + Hex(defined[k]) + " from line " +
                                                                       std::to_string(defineLine[k])
                                                                 : std::string("finds no #define of it")));
        if (k >= reading.found && defineLine[k] != 0)
            return LineText(defineLine[k], "the board's reader does not find " + key + " here");
    }
    return "";
}
