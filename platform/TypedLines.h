#pragma once
// The console's typed commands, one line at a time from a file descriptor (a
// terminal, a pipe, a file), read by a thread of its own so that the board's text
// keeps showing while nothing is typed. The thread touches only the lines it shares
// with this object and the descriptor. The destructor stops the thread and waits for
// it; where the system cannot break off a read that waits for typing (a Windows
// console), the thread is left to end with the program, holding its own share of
// the lines, so nothing it uses can go away under it.
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class TypedLines {
public:
    explicit TypedLines(int fd);
    ~TypedLines();
    TypedLines(const TypedLines&) = delete;
    TypedLines& operator=(const TypedLines&) = delete;

    // The next whole line (without its CR LF or LF), if one has been typed.
    std::optional<std::string> Next();
    // The input has ended and every line of it has been taken.
    bool Ended();

    // What the reader and this object share: the lines read so far.
    struct Lines {
        std::mutex mutex;
        std::deque<std::string> lines;
        bool ended = false;
        // Cuts what was read into lines; an unfinished last line counts once the
        // input ends.
        void Take(std::string& partial, const char* bytes, size_t count);
        void End(std::string& partial);
    };
    struct Reader;  // the platform's half: how the thread waits and is stopped

private:
    std::shared_ptr<Lines> shared;
    std::shared_ptr<Reader> reader;
};
