// The worker's receive step: the board's bytes are console text while no update is
// armed, and one-character requests while one is.
#include <sched.h>

#include <algorithm>

#include "engine/LogTexts.h"
#include "engine/UIThread.h"
#include "protocol/WireProtocol.h"

namespace {

constexpr uint32_t kReadChunk = 1000;
constexpr uint32_t kReadWaitMs = 10;
constexpr uint32_t kConsolePauseMs = 20;


}  // namespace

void CUIThread::OnSerialReceive(uint32_t p) {
    if (p != PortNumber)
        return;
    if (shared.UpdateArmed == 0)
        ConsoleReceive();
    else
        UpdateReceive();
}

void CUIThread::ConsoleReceive() {
    if (!shared.SharedText.IsEmpty()) {
        // The dialog has not taken the last chunk yet. The bytes stay queued in the
        // driver; look again shortly, since the board may not send anything more.
        consoleBytesStalled = Comm->IsOpen();
        return;
    }
    consoleBytesStalled = false;
    std::array<uint8_t, kReadChunk> chunk{};
    const uint32_t n = Comm->ReadAvailable(chunk.data(), kReadChunk, kReadWaitMs);
    // A zero first byte would read as an empty slot, so leading NULs are dropped; the
    // text behind them still reaches the dialog.
    uint32_t skip = 0;
    while (skip < n && chunk[skip] == 0)
        ++skip;
    if (skip == n)
        return;
    shared.SharedText.Publish(chunk.data() + skip, n - skip);
    OwnerWnd.PostWindowMessage(WM_RX_TEXT, n - skip, 0);
    sched_yield();
    sleeper.SleepMs(kConsolePauseMs);
}

void CUIThread::UpdateReceive() {
    // Replies are read into a buffer of their own, so a stray byte during an update can
    // never sit in the console slot and hold up the console afterwards.
    const uint32_t n = Comm->ReadAvailable(ReplyBuf.data(), kReadChunk, kReadWaitMs);
    // The board sends each reply alone and waits for its answer: a read of more than
    // one byte is not a reply that can be trusted, and nothing is answered.
    if (n != 1) {
        if (n > 1)
            Facts().RepliesIgnored(ReplyBuf.data(), n);
        return;
    }
    const uint8_t r = ReplyBuf[0];
    const bool progressReport = r >= kFirstProgress && r <= kLastProgress;
    const bool request = r == kReplyLoader1 || r == kReplyLoader2 || r == kReplyHeader || r == kReplyFlashMap ||
                         r == kReplyCode || r == kReplyFont || r == kReplyBitmap || r == kReplyLogo || r == kReplyDone;
    if (!request && !progressReport) {
        Facts().RepliesIgnored(ReplyBuf.data(), n);
        return;
    }
    Facts().ReplyAnswered(r);
    answeredSinceWake = true;
    auto clearReply = [this] { std::fill(ReplyBuf.begin(), ReplyBuf.begin() + 100, 0); };

    switch (r) {
    case kReplyLoader1:
        SentBytes = 0;
        clearReply();
        Log(kLogLoader1);
        if (!SendLoader1()) {
            Facts().LoaderSent(1, false);
            return;  // stopped: the rest of the row belongs to an update that has ended
        }
        ReopenAtFullSpeed();
        // Loader 1 is out and the line listens at 115200 for the next request.
        Facts().LoaderSent(1, loaderRead);
        PostStatus(STATUS_PROGRESS, 1);
        return;
    case kReplyLoader2: {
        clearReply();
        Log(kLogLoader2);
        const bool sent = SendLoader2();
        Facts().LoaderSent(2, sent && loaderRead);
        if (!sent)
            return;
        PostStatus(STATUS_PROGRESS, 3);
        Log(kLogUpdateData);
        return;
    }
    case kReplyHeader:
        clearReply();
        SendSectionHeader();
        return;
    case kReplyFlashMap:
        clearReply();
        SendSection(kReplyFlashMap, image.FlashMapLen, image.CodeStart);
        return;
    case kReplyCode:
        clearReply();
        SendSection(kReplyCode, image.CodeLen, image.CodeStart);
        return;
    case kReplyFont:
        clearReply();
        SendSection(kReplyFont, image.FontLen, image.FontStart);
        return;
    case kReplyBitmap:
        clearReply();
        SendSection(kReplyBitmap, image.BmpLen, image.BmpStart);
        return;
    case kReplyLogo:
        clearReply();
        SendSection(kReplyLogo, image.LogoLen, image.LogoStart);
        return;
    case kReplyDone:
        Log(kLogFinished);
        clearReply();
        ReopenAtFullSpeed();
        shared.UpdateArmed = 0;
        Facts().FinishReported();
        PostStatus(STATUS_UPDATE_DONE, 0);
        return;
    default:
        break;
    }
    if (r >= kFirstProgress && r <= kLastProgress) {
        // The board programs the flash in sixteenths: 62 … 100.
        Facts().ProgrammingReport(r);
        if (r == kFirstProgress)
            Log(kLogProgramming);
        PostStatus(STATUS_PROGRESS, ((r * 40) >> 4) + 60);
        clearReply();
    }
}
