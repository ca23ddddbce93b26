#pragma once

#include "accuraterip.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

struct TOptionsSetting;

// One track of a rip as its log, its cue sheet and its verification see it.
struct TTrackRip {
    int Track = 0; // the disc's track number
    QString File;  // the file made, with its folder
    QString Title;
    QString Performer;
    int32_t Pregap = 0; // sectors of the next track's pregap at this file's end; 0 when not known
    bool Read = false;  // the audio was read to its end
    int64_t Frames = 0;
    int Peak = 0; // 0 to 32768
    uint32_t CopyCrc = 0;
    bool Tested = false;
    uint32_t TestCrc = 0;
    TAccurateRipSums Sums;
    int ReadErrors = 0;
    int Repairs = 0;     // paranoia's
    QString AccurateRip; // the verdict; empty when the track was not verified
    bool Accurate = false;
    bool InDatabase = false;

    bool CrcMismatch() const { return Tested && TestCrc != CopyCrc; }
    bool Failed() const { return !Read || CrcMismatch(); }
    // The checks of a read's audio.
    void TakeCheck(const TAudioCheck &check);
};

// A whole rip: how it was read and what came of each track.
struct TRipSession {
    QString Drive;
    QString ReadMode;
    bool Paranoia = false;
    int Offset = 0;
    bool TestAndCopy = false;
    bool Verify = false;
    QString Artist;
    QString Album;
    TAccurateRipDisc Disc;
    std::vector<TTrackRip> Tracks;
    QString VerifyError; // why the database could not be asked; empty when it was

    // The session of a rip with these settings (folder, disc fields, read settings).
    static TRipSession Of(const TOptionsSetting &settings, const QString &drive, const QString &readMode,
                          bool paranoia);
};

// Judges every track against the database's answer.
void JudgeTracks(TRipSession &session, const std::vector<TAccurateRipBlock> &blocks);

// "Track 01: Accurately ripped (confidence 5, v1)", one line a track (CRC mismatches and failed reads said
// too), and the summary last.
QStringList VerificationLines(const TRipSession &session);

// "All tracks accurately ripped", or what was not: "2 tracks not verified", "1 track not accurately
// ripped", "1 track failed" (joined with "; ").
QString RipSummary(const TRipSession &session);

QString RipLogText(const TRipSession &session, const QDateTime &when);
// One FILE a track (file names without folders), PERFORMER and TITLE, INDEX 01 at each file's start and
// INDEX 00 of a known pregap at the end of the file before.
QString CueSheetText(const TRipSession &session);

// Runs the end of a rip: asks AccurateRip when the settings say so (on a worker thread), judges the
// tracks, writes "ARTIST - ALBUM.log" and ".cue" into the folder when asked for, then calls the handler on
// the thread that started it with the failures (each naming the file and the reason).
class TRipReporter final : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const QStringList &failures)>;
    // Whether the session's verdicts are worth showing (verified or tested).
    bool HasVerdicts() const { return Session.Verify || Session.TestAndCopy; }
    TRipReporter(const TOptionsSetting &settings, const QString &folder, QObject *parent = nullptr);
    ~TRipReporter() override;

    TRipSession Session;
    // Whether the settings ask for anything at the end.
    bool Wanted() const;
    void Run(Done done);
    // Ends a database request at once; the handler is not called.
    void Cancel();
    // The log and cue sheet written.
    const QStringList &Written() const { return m_written; }

private:
    void finish();

    QString m_folder;
    QString m_server;
    bool m_log = false;
    bool m_cue = false;
    Done m_done;
    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    std::vector<TAccurateRipBlock> m_blocks;
    QStringList m_written;
};
