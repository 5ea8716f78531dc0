#pragma once
// The console's typed commands, one line at a time from a file descriptor (a
// terminal, a pipe, a file), read by a thread of its own so that the board's text
// keeps showing while nothing is typed. The thread touches only this object and the
// descriptor, and the destructor stops and joins it: nothing it uses can go away
// under it, whatever the input is doing.
#include <deque>
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

private:
    void Read();
    void Keep(std::string line);

    int fd;
    int stopEvent = -1;
    std::mutex mutex;
    std::deque<std::string> lines;
    bool ended = false;
    std::thread reader;
};
