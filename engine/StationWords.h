#pragma once
// A station's state in the operator's words, the same on a terminal and in the window.
#include <chrono>
#include <string>

#include "engine/Station.h"

// "0:58", "12:03", "1:02:03"
std::string ClockTime(double seconds);
// "3 boards, 2 passed, 1 failed, yield 66.7 %, median 0:58 a board, 41.2 boards an hour"
std::string DescribeCounters(const CounterFigures& figures);
// The port's state in words, as its line shows it at `now`.
std::string DescribePort(const PortView& view, bool severalPorts, std::chrono::system_clock::time_point now);
// The same for a tile beside its own percentage bar: "off", "waiting for a board since
// 0:12", "flashing: section FONT block 3 of 12", "PASS 0:58", "FAIL: why".
std::string DescribePortBriefly(const PortView& view, std::chrono::system_clock::time_point now);
// "passed", "failed", ... in capitals, for a verdict read at arm's length.
std::string VerdictWord(BoardOutcome outcome);
