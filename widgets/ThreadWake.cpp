#include "widgets/ThreadWake.h"

CThreadWake::CThreadWake(std::function<void()> c, QObject* parent) : QObject(parent), call(std::move(c)) {}

void CThreadWake::Wake() {
    if (!pending.exchange(true))
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
}

void CThreadWake::Deliver() {
    // Cleared before the call: whatever arrives while it runs asks for the next one.
    pending.store(false);
    call();
}
