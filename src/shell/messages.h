#pragma once

#include <QEvent>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

// The program's window messages. A message travels as a TMessageEvent whose event type is derived from the
// message number; "posting" queues it for the receiver's thread, "sending" delivers it before returning.
// A receiver is any QObject (normally a window); events for a receiver that is destroyed are dropped.

constexpr int WM_USER = 0x400;
constexpr int WM_RIPERROR = WM_USER + 101;         // 1125: lParam 1 parameters not set, 2 TOC unreadable
constexpr int WM_PROCESSINFO = WM_USER + 102;      // 1126: carries a TProcessInfo
constexpr int WM_CDDBQUERY = WM_USER + 104;        // 1128: wParam 6 no match, 7 finished
constexpr int WM_RESTORE_INSTANCE = WM_USER + 105; // 1129: a second start asks this one to come forward

// Progress codes and events carried in TProcessInfo::Percent besides 0 to 100.
namespace ProcessEvent {
constexpr int32_t NormalizeBegins = 999;
constexpr int32_t TrackRead = 1000;
constexpr int32_t Mp3Encoded = 2000;
constexpr int32_t OggWritten = 3000;
constexpr int32_t Resampled = 4000;
constexpr int32_t WmaEncoded = 5000;
} // namespace ProcessEvent

constexpr QEvent::Type MessageEventType(int message)
{
    return static_cast<QEvent::Type>(QEvent::User + message);
}

struct TProcessInfo {
    int32_t Percent = 0; // 0 to 100 progress, otherwise one of ProcessEvent
    QString Elapsed;     // "mm:ss"
    QString Estimated;   // "mm:ss"
    int32_t ResultCode = 0;
};

// "mm:ss": minutes and seconds, each with at least two digits (minutes may take more).
QString MinutesSeconds(int64_t seconds);

// A progress notice: Percent, and when it is not 0 the elapsed time and the estimated whole time computed
// from it (elapsed × 100 / Percent); both texts stay empty at 0 per cent.
TProcessInfo ProgressNotice(int32_t percent, double elapsedSeconds);

class TMessageEvent final : public QEvent {
public:
    TMessageEvent(int message, intptr_t wParam, intptr_t lParam);
    // A WM_PROCESSINFO message; the event owns the notice until the receiver takes it.
    explicit TMessageEvent(std::unique_ptr<TProcessInfo> info);

    int message() const { return m_message; }
    intptr_t wParam() const { return m_wParam; }
    intptr_t lParam() const { return m_lParam; }
    const TProcessInfo *processInfo() const { return m_info.get(); }
    std::unique_ptr<TProcessInfo> takeProcessInfo() { return std::move(m_info); }

    // The message number when the event is one of ours, else 0.
    static int messageOf(const QEvent *event);

private:
    int m_message;
    intptr_t m_wParam;
    intptr_t m_lParam;
    std::unique_ptr<TProcessInfo> m_info;
};

// Queues a message for the receiver; safe from any thread. False (and nothing queued) without a receiver.
bool PostMessage(QObject *receiver, int message, intptr_t wParam = 0, intptr_t lParam = 0);
bool PostProcessInfo(QObject *receiver, const TProcessInfo &info);

// Delivers a message to the receiver and returns when it was handled. From another thread the call blocks
// until the receiver's thread has handled it, so the receiver's thread must not wait for the caller.
bool SendMessage(QObject *receiver, int message, intptr_t wParam = 0, intptr_t lParam = 0);
bool SendProcessInfo(QObject *receiver, const TProcessInfo &info);
