#pragma once
// What the worker tells its session at the moment it acts: which reply it answered,
// what it sent and whether whole, why a run could not start or stopped. The session
// builds its events and the run's verdict from these facts alone, never from the log
// texts the worker posts for the operator. Every call comes on the worker's thread, in
// the order the worker acts, interleaved with its window messages.
#include <array>
#include <cstdint>
#include <string>

#include "protocol/ExchangeProgress.h"

// Why an update or an erase did not start: nothing was sent to the board.
enum class StartRefusal { NoCrystal, Layout, LoaderFiles };

class IWorkerFacts {
public:
    virtual ~IWorkerFacts() = default;

    // An update (or an erase) passed its checks; the wake-up goes out next.
    virtual void RunStarted(ExchangeProgress::Kind kind, uint32_t crystalIndex) = 0;
    // It did not pass them; `why` is what the operator was shown.
    virtual void RunRefused(StartRefusal cause, const std::string& why) = 0;
    // The wake-up is out and the line listens at the boot speed (opened: the reopen worked).
    virtual void ListeningForBoard(bool opened) = 0;
    // A reply the worker is about to answer (read alone, in an armed step).
    virtual void ReplyAnswered(uint8_t reply) = 0;
    // Bytes read in an armed step that are no reply the worker answers.
    virtual void RepliesIgnored(const uint8_t* bytes, uint32_t count) = 0;
    // A write of the exchange as handed to the line (loader blocks, header, sections).
    virtual void Sent(const uint8_t* bytes, uint32_t count) = 0;
    // Loader 1 or 2 went out, whole or stopped part way (or could not be read).
    virtual void LoaderSent(int which, bool whole) = 0;
    virtual void HeaderSent(const std::array<uint32_t, 10>& words) = 0;
    // Block i (from 1) of n of the section asked for by `letter` is out.
    virtual void SectionBlock(uint8_t letter, uint32_t block, uint32_t blocks) = 0;
    virtual void SectionSent(uint8_t letter, bool whole) = 0;
    // The board's programming report k of 16.
    virtual void ProgrammingReport(uint8_t sixteenths) = 0;
    // The board said 'D'; the worker has disarmed.
    virtual void FinishReported() = 0;
    // The line could not be opened in the middle of a run (the reopen after 'W').
    virtual void PortOpenFailed(const std::string& why) = 0;
    // The line hung up.
    virtual void LineLost(const std::string& why) = 0;
    // One update file was taken, or refused.
    virtual void FileLoaded(const std::string& path, bool taken) = 0;
    // The image was saved to `path` (saved: the file, and its header if any, written).
    virtual void ImageSaved(const std::string& path, bool saved) = 0;
    // A console command has been carried out: its writes (and, for "initflash", the
    // wake-up and its pauses) are done.
    virtual void ConsoleCommandDone() = 0;
};
