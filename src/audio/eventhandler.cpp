#include "eventhandler.h"

#include "auoutput.h"
#include "authread.h"
#include "shell/synchronize.h"

#include <chrono>

namespace {

std::mutex instanceMutex;
TEventHandler *instance = nullptr;
int useCount = 0;

} // namespace

TEventHandler &TEventHandler::Acquire()
{
    std::lock_guard lock(instanceMutex);
    if (useCount++ == 0)
        instance = new TEventHandler;
    return *instance;
}

void TEventHandler::Release()
{
    TEventHandler *last = nullptr;
    {
        std::lock_guard lock(instanceMutex);
        if (--useCount == 0) {
            last = instance;
            instance = nullptr;
        }
    }
    delete last;
}

TEventHandler *TEventHandler::Instance()
{
    std::lock_guard lock(instanceMutex);
    return instance;
}

TEventHandler::TEventHandler() : m_thread([this] { Execute(); }) {}

TEventHandler::~TEventHandler()
{
    m_terminated = true;
    Signal.set();
    m_thread.join();
}

void TEventHandler::Queue(Kind kind, TAuOutput *sender, TAuThread *thread, std::function<void()> call)
{
    {
        std::lock_guard lock(EventLock);
        if (sender == BlockedSender)
            return;
        Events.push_back(Record{kind, sender, thread, std::move(call)});
    }
    Signal.set();
}

void TEventHandler::removeLocked(TAuOutput *sender)
{
    std::erase_if(Events, [sender](const Record &r) { return r.sender == sender; });
}

void TEventHandler::Block(TAuOutput *sender)
{
    std::lock_guard lock(EventLock);
    BlockedSender = sender;
    removeLocked(sender);
}

void TEventHandler::Unblock()
{
    std::lock_guard lock(EventLock);
    BlockedSender = nullptr;
}

bool TEventHandler::isBlocked(TAuOutput *sender)
{
    std::lock_guard lock(EventLock);
    return BlockedSender == sender;
}

bool TEventHandler::Handling(TAuOutput *sender)
{
    std::lock_guard lock(EventLock);
    return CurrentSender == sender;
}

void TEventHandler::RemoveEvents(TAuOutput *sender)
{
    std::lock_guard lock(EventLock);
    removeLocked(sender);
}

void TEventHandler::Execute()
{
    while (!m_terminated) {
        Record record{};
        bool have = false;
        {
            std::lock_guard lock(EventLock);
            if (!Events.empty()) {
                record = std::move(Events.front());
                Events.pop_front();
                CurrentSender = record.sender;
                have = true;
            }
        }
        if (!have) {
            Signal.waitFor(std::chrono::milliseconds(100));
            continue;
        }
        handle(record);
        std::lock_guard lock(EventLock);
        CurrentSender = nullptr;
    }
}

void TEventHandler::handle(const Record &record)
{
    TAuOutput *sink = record.sender;
    switch (record.kind) {
    case DoneEvent: {
        TAuThread *thread = record.thread;
        while (!thread->Sleeping && !thread->Terminated())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sink->Busy = false;
        RemoveEvents(sink);
        if (sink->OnDone && thread->SendDone) {
            const TAuOutput::Handler handler = sink->OnDone;
            Synchronize([&] {
                if (!isBlocked(sink))
                    handler(sink);
            });
        }
        break;
    }
    case DirectCall:
        if (record.call)
            record.call();
        break;
    case Progress:
    case ThreadException: {
        const TAuOutput::Handler handler =
            record.kind == Progress ? sink->OnProgress : sink->OnThreadException;
        // A synchronous Stop may block the sink while this call waits for the user-interface thread;
        // it then runs the call from its wait loop, and the event is dropped like the queued ones.
        if (handler)
            Synchronize([&] {
                if (!isBlocked(sink))
                    handler(sink);
            });
        break;
    }
    }
}
