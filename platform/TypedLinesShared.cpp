#include "platform/TypedLines.h"

namespace {

void Keep(std::deque<std::string>& lines, std::string line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    lines.push_back(std::move(line));
}

}  // namespace

void TypedLines::Lines::Take(std::string& partial, const char* bytes, size_t count) {
    partial.append(bytes, count);
    std::lock_guard lock(mutex);
    for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
        Keep(lines, partial.substr(0, end));
        partial.erase(0, end + 1);
    }
}

void TypedLines::Lines::End(std::string& partial) {
    std::lock_guard lock(mutex);
    if (!partial.empty())
        Keep(lines, std::move(partial));
    partial.clear();
    ended = true;
}

std::optional<std::string> TypedLines::Next() {
    std::lock_guard lock(shared->mutex);
    if (shared->lines.empty())
        return std::nullopt;
    std::string line = std::move(shared->lines.front());
    shared->lines.pop_front();
    return line;
}

bool TypedLines::Ended() {
    std::lock_guard lock(shared->mutex);
    return shared->ended && shared->lines.empty();
}
