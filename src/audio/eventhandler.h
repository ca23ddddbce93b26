#pragma once

#include "autoresetevent.h"

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TAuOutput;
class TAuThread;

// The one dispatcher thread that all sinks share. Workers queue events here; the dispatcher hands them to
// the sinks' handlers on the user-interface thread (synchronised calls), in order. Created by the first sink
// and ended with the last.
class TEventHandler final {
public:
    enum Kind : uint8_t { Progress = 0, DoneEvent = 1, ThreadException = 2, DirectCall = 3 };

    static TEventHandler &Acquire();
    static void Release();
    // The dispatcher while any sink exists, else null.
    static TEventHandler *Instance();

    // Dropped when the sender is blocked. A direct call runs on the dispatcher thread itself.
    void Queue(Kind kind, TAuOutput *sender, TAuThread *thread = nullptr, std::function<void()> call = {});
    // Drops the sender's queued events and every event it queues until Unblock.
    void Block(TAuOutput *sender);
    void Unblock();
    // True while the dispatcher is handling one of the sender's events.
    bool Handling(TAuOutput *sender);
    void RemoveEvents(TAuOutput *sender);

private:
    struct Record {
        Kind kind;
        TAuOutput *sender;
        TAuThread *thread;
        std::function<void()> call;
    };

    TEventHandler();
    ~TEventHandler();
    void Execute();
    void handle(const Record &record);
    void removeLocked(TAuOutput *sender);
    bool isBlocked(TAuOutput *sender);

    std::deque<Record> Events;
    std::mutex EventLock;
    AutoResetEvent Signal;
    TAuOutput *CurrentSender = nullptr; // sender of the event being handled
    TAuOutput *BlockedSender = nullptr;
    std::atomic<bool> m_terminated{false};
    std::thread m_thread;
};
