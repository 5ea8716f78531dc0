#include "engine/BoardLogWriter.h"

#include "engine/StationPlan.h"

BoardLogWriter::BoardLogWriter(std::string f, std::function<void(const std::string&)> w)
    : folder(std::move(f)), warn(std::move(w)), thread([this] { Run(); }) {}

BoardLogWriter::~BoardLogWriter() {
    {
        std::lock_guard lock(mutex);
        leaving = true;
    }
    changed.notify_all();
    thread.join();
}

void BoardLogWriter::Append(const std::string& name, const std::string& device, const StationEvent& ended) {
    {
        std::lock_guard lock(mutex);
        pieces.push_back({name, device, ended});
    }
    changed.notify_all();
}

void BoardLogWriter::Run() {
    for (;;) {
        Piece piece;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return leaving || !pieces.empty(); });
            if (pieces.empty())
                return;
            piece = std::move(pieces.front());
            pieces.pop_front();
        }
        const std::string warning = AppendBoardLog(folder, piece.name, piece.device, piece.ended);
        if (!warning.empty() && warn)
            warn(piece.name + ": " + warning);
    }
}
