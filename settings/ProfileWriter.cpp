#include "settings/ProfileWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "atomicfile/AtomicFile.h"

namespace {

struct Line {
    std::string content;  // without its line end
    std::string end;      // "\r\n", "\n" or "" for an unfinished last line
};

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t lf = text.find('\n', start);
        if (lf == std::string::npos) {
            lines.push_back({text.substr(start), ""});
            break;
        }
        const bool cr = lf > start && text[lf - 1] == '\r';
        lines.push_back({text.substr(start, lf - start - (cr ? 1 : 0)), cr ? "\r\n" : "\n"});
        start = lf + 1;
    }
    return lines;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The section a header line opens, or nothing when the line is no header.
bool SectionName(const std::string& content, std::string& name) {
    const std::string t = Trim(content);
    if (t.empty() || t[0] != '[')
        return false;
    const auto close = t.find(']');
    name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// The key of a "key=value" line; comments and lines without '=' have none.
bool KeyName(const std::string& content, std::string& name) {
    const std::string t = Trim(content);
    if (t.empty() || t[0] == ';')
        return false;
    const auto eq = t.find('=');
    if (eq == std::string::npos)
        return false;
    name = Trim(t.substr(0, eq));
    return true;
}

}  // namespace

std::string SetProfileString(const std::string& text, const std::string& section, const std::string& key,
                             const std::string& value) {
    std::vector<Line> lines = SplitLines(text);
    // New lines take the file's own line ends; a new file gets the platform's CR LF.
    std::string eol = "\r\n";
    if (!lines.empty() && !lines.front().end.empty())
        eol = lines.front().end;

    // The first section of that name counts, as it does for the reader.
    size_t header = lines.size();
    std::string name;
    for (size_t i = 0; i < lines.size() && header == lines.size(); ++i)
        if (SectionName(lines[i].content, name) && SameName(name, section))
            header = i;

    std::string out;
    auto append = [&out](const Line& l) { out += l.content + l.end; };
    if (header == lines.size()) {
        for (const auto& l : lines)
            append(l);
        if (!out.empty() && out.back() != '\n')
            out += eol;
        if (!out.empty())
            out += eol;  // a blank line before the new section, as the shipped file has
        return out + "[" + section + "]" + eol + key + "=" + value + eol;
    }

    size_t sectionEnd = header + 1;
    while (sectionEnd < lines.size() && !SectionName(lines[sectionEnd].content, name))
        ++sectionEnd;
    for (size_t i = header + 1; i < sectionEnd; ++i) {
        if (KeyName(lines[i].content, name) && SameName(name, key)) {
            lines[i].content = name + "=" + value;
            for (const auto& l : lines)
                append(l);
            return out;
        }
    }
    // A new key goes after the section's last non-blank line, so the blank lines that
    // part it from the next section stay where they are.
    size_t insertAfter = header;
    for (size_t i = header + 1; i < sectionEnd; ++i)
        if (!Trim(lines[i].content).empty())
            insertAfter = i;
    if (lines[insertAfter].end.empty())
        lines[insertAfter].end = eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1, Line{key + "=" + value, eol});
    for (const auto& l : lines)
        append(l);
    return out;
}

std::string WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                               const std::string& value) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // A settings file reached through a link is changed where it lives.
    std::string target = path;
    if (fs::is_symlink(path, ec)) {
        const fs::path resolved = fs::canonical(path, ec);
        if (ec)
            return "the link " + path + " leads nowhere";
        target = resolved.string();
    }
    std::string text;
    if (fs::exists(target, ec)) {
        // A folder or a device in the settings file's place is left alone (and reading
        // a folder would throw).
        if (!fs::is_regular_file(target, ec))
            return "it is not a regular file";
        // The file is replaced by renaming, which its own permissions would not stop.
        if (::access(target.c_str(), W_OK) != 0)
            return std::strerror(errno);
        std::ifstream in(target, std::ios::binary);
        if (in)
            text.assign(std::istreambuf_iterator<char>(in), {});
        if (!in.is_open() || in.bad())
            return "cannot be read";
    }
    const std::string updated = SetProfileString(text, section, key, value);
    return WriteFileReplacing(target, reinterpret_cast<const uint8_t*>(updated.data()), updated.size());
}
