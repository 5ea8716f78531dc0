#pragma once
// A call onto the thread this object lives in (the UI thread), asked for from any
// thread: the engine's threads say "events wait" and the UI thread takes them up in
// its own time. Asks that come while a call is pending make no second call, so a
// burst of events from many ports posts one call, not a flood.
//
// The call is posted by name: the queued event is made and read inside Qt alone, and
// the data the call then reads was made on this thread, which keeps the hand-over
// clear to a thread sanitizer that cannot see Qt's own locks.
#include <QObject>
#include <atomic>
#include <functional>

class CThreadWake : public QObject {
    Q_OBJECT
public:
    explicit CThreadWake(std::function<void()> call, QObject* parent = nullptr);

    // From any thread.
    void Wake();

private:
    Q_INVOKABLE void Deliver();

    std::function<void()> call;
    std::atomic<bool> pending{false};
};
