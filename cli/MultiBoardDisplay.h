#pragma once
// The output of several boards flashed at once, from their own threads: log lines
// prefixed with the board's name on `out`, problems likewise on `err`, and progress
// on `err` as one line per board redrawn in place on a terminal, or plain
// "NAME progress N%" lines otherwise.
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

class MultiBoardDisplay {
public:
    MultiBoardDisplay(std::ostream& out, std::ostream& err, bool errIsTerminal, std::vector<std::string> names);

    void Log(size_t board, const std::string& line);
    void Problem(size_t board, const std::string& line);
    void Progress(size_t board, long percent);
    // The board's run is over; a terminal shows `result` in place of its bar.
    void Ended(size_t board, const std::string& result);

private:
    struct Row {
        std::string name;
        long percent = -1;
        std::string result;
    };
    void Erase();
    void Draw();

    std::mutex mutex;
    std::ostream& out;
    std::ostream& err;
    bool terminal;
    std::vector<Row> rows;
    size_t nameWidth = 0;
    size_t drawn = 0;  // display lines on the terminal under the cursor's line
};
