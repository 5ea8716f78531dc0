#pragma once

#include <string>

#include "sim/board_io.h"
#include "sim/board_options.h"
#include "sim/check_log.h"
#include "sim/crystal.h"
#include "sim/flash_store.h"
#include "sim/loader_files.h"
#include "sim/section_header.h"

namespace kestrel::sim {

enum class SessionEnd {
    Finished,   // 'D' sent
    Abandoned,  // the tool stopped sending, or sent something the board cannot go on from
    Refused,    // the section header announced data the board cannot take
    Faulted,    // a fault mode ended it as the fault asks (no 'D' of its own on purpose)
    HungUp,     // the board closed the line (hangup fault)
    Stopped,    // the board was asked to stop
};

// One update or erase, from the board's point of view: it begins when the tool
// has reopened the line after the wake-up and ends with 'D' or when the
// exchange breaks off. Every step checks what the tool did and logs it.
class UpdateSession {
public:
    UpdateSession(BoardIo& io, CheckLog& log, FlashStore& flash, const LoaderImages& loaders,
                  const BoardOptions& options, const Crystal& crystal)
        : io_(io), log_(log), flash_(flash), loaders_(loaders), options_(options), crystal_(crystal) {}

    SessionEnd Run();

    // For the banner after 'D': what the update wrote.
    const std::string& Outcome() const { return outcome_; }

private:
    struct Received {
        WaitResult result;
        std::vector<std::uint8_t> bytes;
        std::size_t surplus = 0;
    };

    // Waits for the tool's speed and the settle time after a reopen, checks the
    // line, and flags bytes the tool sent before the board's `next_reply`.
    bool SettleAndCheckLine(unsigned baud, const std::string& check, const char* next_reply);
    // Sends `request` as this board does; false when the board was asked to stop.
    bool SendRequest(std::uint8_t request);
    // Sends `request` and takes `count` bytes, then (with `then_gap`) lets the
    // reply gap pass and counts what more arrived in it.
    Received Ask(std::uint8_t request, std::size_t count, bool then_gap = true);
    // The fault modes whose replies the tool must drop: it must stay quiet.
    SessionEnd ExpectNoAnswer(const std::string& check);
    SessionEnd Silent();
    struct ReceivedSection {
        SectionRequest request;
        std::vector<std::uint8_t> bytes;
    };
    // Writes what came into the flash, reports progress 1 … 16 and 'D'.
    SessionEnd Program(const SectionHeader& header, const std::vector<ReceivedSection>& sections);
    std::string Shortfall(const Received& r, std::size_t count) const;

    BoardIo& io_;
    CheckLog& log_;
    FlashStore& flash_;
    const LoaderImages& loaders_;
    const BoardOptions& options_;
    const Crystal& crystal_;
    std::string outcome_ = "none";
};

}  // namespace kestrel::sim
