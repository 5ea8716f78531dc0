#pragma once

#include <functional>
#include <string>
#include <vector>

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
    Unplugged,  // the line was pulled in the middle of the exchange
};

// "finished", "faulted", …: how a session ended, in a word.
const char* SessionEndName(SessionEnd end);

// One update or erase, from the board's point of view: it begins when the tool
// has reopened the line after the wake-up and ends with 'D' or when the
// exchange breaks off. Every step checks what the tool did and logs it.
class UpdateSession {
public:
    UpdateSession(BoardIo& io, CheckLog& log, FlashStore& flash, const LoaderImages& loaders,
                  const BoardOptions& options, const Crystal& crystal)
        : io_(io), log_(log), flash_(flash), loaders_(loaders), options_(options), crystal_(crystal) {}

    SessionEnd Run();

    // Called when the tool's answer to 'W' (loader 1's first byte) has arrived.
    void OnAnswered(std::function<void()> answered) { answered_ = std::move(answered); }
    // Every byte the board received from loader 1's first byte to the last section's
    // last byte, in order: what the tool's record of the board must hash to.
    const std::vector<std::uint8_t>& Wire() const { return wire_; }

    // For the banner after 'D': what the update wrote.
    const std::string& Outcome() const { return outcome_; }
    // What the header announced and the board never asked for (skip-sections
    // fault), or empty: a 'D' after it reports work the board never did.
    const std::string& Skipped() const { return skipped_; }

private:
    struct Received {
        WaitResult result;
        std::vector<std::uint8_t> bytes;
        std::size_t surplus = 0;
    };

    // Waits for the tool's speed and the settle time after a reopen, checks the
    // line, and flags bytes the tool sent before the board's `next_reply`.
    // Anything but Done: the board was stopped or the line pulled.
    WaitResult SettleAndCheckLine(unsigned baud, const std::string& check, const char* next_reply);
    // Sends `request` as this board does; Stopped or Unplugged end the exchange.
    WaitResult SendRequest(std::uint8_t request);
    // Sends `request` and takes `count` bytes, then (with `then_gap`) lets the
    // reply gap pass and counts what more arrived in it.
    Received Ask(std::uint8_t request, std::size_t count, bool then_gap = true);
    // The fault modes whose replies the tool must drop: it must stay quiet from
    // `mark` (taken before the faulty reply went out) until it gives up.
    SessionEnd ExpectNoAnswer(const std::string& check, LineMark mark);
    // Waits for the tool to give up: one board goes on until the tool leaves
    // the line; a board of a succession until it leaves, reopens or falls silent.
    WaitResult AwaitGiveUp(LineMark mark);
    SessionEnd Silent();
    // Sends 'D' where the board has not got that far (early-d faults).
    SessionEnd EarlyFinish(const std::string& where);
    // The end of a wait that did not complete because the board was stopped or
    // the line pulled; a pull is noted with `during`.
    SessionEnd EndOf(WaitResult r, const std::string& during);
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
    std::function<void()> answered_;
    std::vector<std::uint8_t> wire_;
    std::string outcome_ = "none";
    std::string skipped_;
};

}  // namespace kestrel::sim
