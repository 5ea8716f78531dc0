#include "platform/TypedLines.h"

#include <windows.h>
#include <io.h>

#include <chrono>
#include <condition_variable>

struct TypedLines::Reader {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    HANDLE thread = nullptr;  // the reading thread, so that its read can be broken off
    bool stop = false;
    std::thread worker;
};

namespace {

// How long the destructor waits for a read it has broken off to return.
constexpr std::chrono::milliseconds kStopWait{500};

void Read(HANDLE input, TypedLines::Reader& reader, TypedLines::Lines& shared) {
    std::string partial;
    for (;;) {
        {
            std::lock_guard lock(reader.mutex);
            if (reader.stop)
                break;
        }
        char buffer[4096];
        DWORD got = 0;
        // A console hands over a line once Enter is pressed; a pipe or a file whatever
        // it has. A pipe whose writer has gone reports ERROR_BROKEN_PIPE: its end.
        if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0)
            break;
        shared.Take(partial, buffer, got);
    }
    shared.End(partial);
}

}  // namespace

TypedLines::TypedLines(int fd) : shared(std::make_shared<Lines>()), reader(std::make_shared<Reader>()) {
    const HANDLE input = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    std::unique_lock lock(reader->mutex);
    reader->worker = std::thread([input, self = reader, lines = shared] {
        HANDLE me = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &me, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        {
            std::lock_guard hold(self->mutex);
            self->thread = me;
        }
        self->done.notify_all();
        if (input != INVALID_HANDLE_VALUE && input != nullptr)
            Read(input, *self, *lines);
        else {
            std::string nothing;
            lines->End(nothing);  // no input at all: nothing will ever be typed
        }
        std::lock_guard hold(self->mutex);
        self->finished = true;
        self->done.notify_all();
    });
    // The thread's handle is known before anything could need to stop it.
    reader->done.wait(lock, [this] { return reader->thread != nullptr || reader->finished; });
}

TypedLines::~TypedLines() {
    std::unique_lock lock(reader->mutex);
    reader->stop = true;
    if (!reader->finished && reader->thread)
        CancelSynchronousIo(reader->thread);
    const bool ended = reader->done.wait_for(lock, kStopWait, [this] { return reader->finished; });
    lock.unlock();
    if (ended)
        reader->worker.join();
    else
        reader->worker.detach();  // a console read that cannot be broken off ends with the program
    if (reader->thread)
        CloseHandle(reader->thread);
}
