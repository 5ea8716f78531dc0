#include "trace/WireTrace.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>

#include "platform/WriteOnlyFile.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHex(std::string& out, const uint8_t* bytes, size_t length) {
    const size_t at = out.size();
    out.resize(at + 2 * length);
    char* p = out.data() + at;
    for (size_t i = 0; i < length; ++i) {
        *p++ = kHexDigits[bytes[i] >> 4];
        *p++ = kHexDigits[bytes[i] & 0x0F];
    }
}

// "12.345678": whole seconds, a point and six digits of microseconds.
void AppendSeconds(std::string& out, std::chrono::steady_clock::duration since) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(since).count();
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof text, us / 1'000'000);
    *end++ = '.';
    const long long fraction = us % 1'000'000;
    for (long long scale = 100'000; scale > 0; scale /= 10)
        *end++ = static_cast<char>('0' + (fraction / scale) % 10);
    out.append(text, end);
}

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return text;
}

}  // namespace

std::string EscapeTraceNote(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (u < 0x20 || u == 0x7F) {
            out += "\\x";
            out += kHexDigits[u >> 4];
            out += kHexDigits[u & 0x0F];
        } else
            out += c;
    }
    return out;
}

std::shared_ptr<WireTrace> WireTrace::Create(const std::string& path, std::string& error) {
    // Written in place rather than swapped in at the end: the point of a trace is what
    // it holds when the run dies half-way.
    const int fd = OpenWriteOnlyFile(path);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    std::shared_ptr<WireTrace> trace(new WireTrace(fd, path));
    trace->Note("trace began " + UtcNow());
    return trace;
}

WireTrace::WireTrace(int f, std::string p) : fd(f), path(std::move(p)), began(std::chrono::steady_clock::now()) {
    line.reserve(64);
}

WireTrace::~WireTrace() { ::close(fd); }

bool WireTrace::Healthy() const {
    std::lock_guard lock(mutex);
    return healthy;
}

template <typename Fill>
void WireTrace::Record(std::string_view word, size_t restHint, Fill fill) {
    std::lock_guard lock(mutex);
    // The time is taken under the lock, so the lines of the file are in time order.
    const auto since = std::chrono::steady_clock::now() - began;
    line.clear();
    line.reserve(24 + word.size() + restHint);
    AppendSeconds(line, since);
    line += ' ';
    line += word;
    fill(line);
    line += '\n';
    // One write per line: the line is in the file (the kernel's to keep) before the
    // call returns, whatever happens to this process next.
    if (healthy && !WriteAll(fd, line.data(), line.size()))
        healthy = false;
}

void WireTrace::Open(std::string_view device, std::string_view settings) {
    Record("OPEN", device.size() + settings.size() + 2, [&](std::string& out) {
        out += ' ';
        out += device;
        out += ' ';
        out += settings;
    });
}

void WireTrace::Close() {
    Record("CLOSE", 0, [](std::string&) {});
}

void WireTrace::Tx(const uint8_t* bytes, size_t length) {
    Record("TX", 2 * length + 1, [&](std::string& out) {
        out += ' ';
        AppendHex(out, bytes, length);
    });
}

void WireTrace::Rx(const uint8_t* bytes, size_t length) {
    Record("RX", 2 * length + 1, [&](std::string& out) {
        out += ' ';
        AppendHex(out, bytes, length);
    });
}

void WireTrace::Lost() {
    Record("LOST", 0, [](std::string&) {});
}

void WireTrace::Note(std::string_view text) {
    const std::string escaped = EscapeTraceNote(text);
    Record("NOTE", escaped.size() + 1, [&](std::string& out) {
        out += ' ';
        out += escaped;
    });
}
