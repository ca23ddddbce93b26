// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QEvent>
#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>

// The program's window messages. A message travels as a TMessageEvent whose event type is derived from the
// message number; "posting" queues it for the receiver's thread, "sending" delivers it before returning.
// A receiver is any QObject (normally a window); events for a receiver that is destroyed are dropped.

constexpr int WM_USER = 0x400;
constexpr int WM_RIPERROR = WM_USER + 101;         // 1125: lParam 1 parameters not set, 2 TOC unreadable
constexpr int WM_PROCESSINFO = WM_USER + 102;      // 1126: carries a TProcessInfo
constexpr int WM_RESTORE_INSTANCE = WM_USER + 105; // 1129: a second start asks this one to come forward

// Progress codes and events carried in TProcessInfo::Percent besides 0 to 100.
namespace ProcessEvent {
enum Code : int32_t {
    NormalizeBegins = 999, // normalisation of a read track begins
    TrackRead = 1000,      // a CD track read ended
    Mp3Encoded = 2000,     // the MP3 encoder process ended
    FileWritten = 3000,    // one of our own writers finished
    WmaEncoded = 5000,     // the WMA encoder process ended
};
} // namespace ProcessEvent

// TProcessInfo::ResultCode of the events above.
namespace ProcessResult {
enum Code : int32_t {
    Done = 0,          // 1000: the track was read
    Declined = 0,      // 2000/5000: the user kept the existing file (or no WMA encoder was found)
    InUse = 1,         // 2000/5000: the existing output file is in use
    Ended = 2,         // 2000/5000: the encoder ended and its file is complete
    ReadError = 3,     // 1000: the track could not be read
    SourceFailed = 4,  // 2000/3000/5000: skipped because its source failed
    WavNotCreated = 5, // 1000: the WAV file could not be created
    EncoderFailed = 8, // 2000/5000: the encoder failed; Elapsed carries its message
};
} // namespace ProcessResult

// The kinds of job a job window runs.
enum class JobKind : uint8_t {
    ExtractTracks = 1, // read CD tracks and encode them
    WavToMp3 = 2,
    Mp3ToWav = 3,
    RecordingToMp3 = 4, // the recorder's WAV to MP3
    WavToOgg = 5,
    WavToWma = 6,
    WavToFlac = 7,
    WavToOpus = 8,
};

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
// The seconds since a moment of the steady clock, for ProgressNotice.
inline double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

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
bool SendProcessInfo(QObject *receiver, const TProcessInfo &info);
