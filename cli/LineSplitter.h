#pragma once
// A stream buffer that hands each whole line written to it (without its newline) to
// a function, so that a board's session can write as it always does while the
// factory run sorts its lines. A last unfinished line is handed over on destruction.
#include <functional>
#include <streambuf>
#include <string>

class LineSplitter : public std::streambuf {
public:
    explicit LineSplitter(std::function<void(const std::string&)> take) : take(std::move(take)) {}
    ~LineSplitter() override {
        if (!pending.empty())
            take(pending);
    }

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof())
            Put(static_cast<char>(c));
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        for (std::streamsize i = 0; i < n; ++i)
            Put(s[i]);
        return n;
    }

private:
    void Put(char c) {
        if (c != '\n') {
            pending += c;
            return;
        }
        std::string line;
        line.swap(pending);
        take(line);
    }

    std::function<void(const std::string&)> take;
    std::string pending;
};
