// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "accuraterip.h"
#include "ctdb.h"
#include "tags/tracktags.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

struct TOptionsSetting;
struct TCDInfo;

// One track of a rip as its log, its cue sheet and its verification see it.
struct TTrackRip {
    int Track = 0; // the disc's track number
    QString File;  // the file made, with its folder
    QString Title;
    QString Performer;
    QString Isrc;             // as the disc carries it; empty when it does not
    bool PreEmphasis = false; // the table flags the track's audio as pre-emphasised
    int32_t Pregap = 0;       // sectors of the next track's pregap at this file's end; 0 when not known
    bool Read = false;        // the audio was read to its end
    QString Problem;          // why it was not, when known
    int64_t Frames = 0;
    int Peak = 0; // 0 to 32768
    uint32_t CopyCrc = 0;
    bool Tested = false;
    uint32_t TestCrc = 0;
    // Test & copy, when the test and the first copy differed: that copy's CRC and those of the reads after
    // it, the last being the file's (CopyCrc). The copy stands when it agrees with an earlier read.
    uint32_t FirstCopyCrc = 0;
    QList<uint32_t> Rereads;
    // Test & copy: the sectors whose reads differed (counted as the table counts them), and the track's
    // first.
    QList<int32_t> Suspicious;
    int32_t FirstSector = 0;
    int32_t JitterFrom = -1;   // where reads began to land off; -1 when they did not
    QList<int32_t> Unreadable; // sectors that could not be read: silence in the file
    // Sectors the drive flagged with C2 error pointers, read again until clean; those still flagged.
    QList<int32_t> C2Flagged;
    QList<int32_t> C2Left;
    TAccurateRipSums Sums;
    int ReadErrors = 0;
    int Repairs = 0;     // paranoia's
    QString AccurateRip; // the verdict (both databases'); empty when the track was not verified
    QString Ctdb;        // the CUETools database's verdict alone; empty when it was not asked
    bool Accurate = false;
    bool InDatabase = false;

    bool CrcMismatch() const
    {
        if (!Tested || TestCrc == CopyCrc)
            return false;
        if (Rereads.isEmpty())
            return true;
        return !(FirstCopyCrc == CopyCrc || Rereads.mid(0, Rereads.size() - 1).contains(CopyCrc));
    }
    bool Damaged() const { return !Unreadable.isEmpty(); }
    bool Failed() const { return !Read || Damaged() || CrcMismatch(); }
    // The audio hidden before the first track (track 0): in no database by definition.
    bool Hidden() const { return Track == 0; }
    // A track of the disc with its title and performer from the disc's fields, made into this file.
    static TTrackRip Of(const TCDInfo &disc, int track, const QString &base, const QString &file);
    // The checks of a read's audio.
    void TakeCheck(const TAudioCheck &check);
};

// A track of the disc's table of contents as the log shows it.
struct TTocRow {
    int Track = 0;
    int32_t Start = 0; // sector, from the start of the disc (LBA)
    int32_t Sectors = 0;
    bool Audio = true;
};

// A track an earlier rip read well, kept by a resumed rip: its number, its file's name in the folder and
// its entry in the earlier log (the lines after "Track NN").
struct TKeptTrack {
    int Track = 0;
    QString File;
    QStringList Lines;
};

// The tracks an earlier rip's log (its text) says were read well ("Status: copied") whose files are in
// `folder`. The log is read as untrusted text: a file it names must be a plain name in the folder.
std::vector<TKeptTrack> TracksReadWell(const QByteArray &logText, const QString &folder);
// The newest rip log in the folder; empty when there is none.
QString EarlierRipLog(const QString &folder);

// What an earlier rip left in a folder: its newest log and the tracks that log says were read well, their
// files there with the extension given. Problem says why a log that is there is not one to go on from (it
// could not be read, or its files are all of another format); then nothing is kept.
struct TEarlierRip {
    QString Log;
    QString Problem;
    std::vector<TKeptTrack> ReadWell;
};
TEarlierRip EarlierRip(const QString &folder, const QString &extension);
// A rip set up to go on from the earlier one: its log is written, carrying the kept tracks' entries.
void ResumeFrom(TOptionsSetting &settings, const QString &earlierLog);
// "track 03", "tracks 01, 03", "no track".
QString TrackNumbersText(const QList<int> &tracks);

// A whole rip: how it was read and what came of each track.
struct TRipSession {
    QString Drive;
    QString ReadMode;
    bool Paranoia = false;
    int Offset = 0;
    QString OffsetSource; // "given", "found for the drive"; empty: the setting
    bool TestAndCopy = false;
    bool Verify = false;
    QString C2; // how the drive's C2 error pointers were used; empty when the read path does not ask
    QString Artist;
    QString Album;
    QString Mcn;             // the disc's catalogue number; empty when it carries none
    bool Deemphasis = false; // pre-emphasised tracks were de-emphasised
    TAccurateRipDisc Disc;
    std::vector<TTocRow> Toc;
    int32_t LeadOut = 0;
    std::vector<TTrackRip> Tracks;
    std::vector<TKeptTrack> Kept; // a resumed rip's tracks from the earlier run
    QString VerifyError;          // why the database could not be asked; empty when it was
    QString CtdbServer;           // the CUETools database asked beside AccurateRip; empty: none
    QString Ctdb;                 // what it said of the disc, for the log; empty: not asked

    // The session of a rip with these settings (folder, disc fields, read settings).
    static TRipSession Of(const TOptionsSetting &settings, const QString &drive, const QString &readMode,
                          bool paranoia);
    // The disc's table of contents: its rows for the log and its AccurateRip ids.
    void TakeToc(const TToc &toc);
};

// "Track 03: damaged: 12 sectors unreadable at 01:02.10–01:02.21": a track read with unreadable sectors.
QString DamagedText(const TTrackRip &track);
// Why a damaged track's file was not made when only verified tracks were asked for.
QString DamagedNotMadeText(const QString &file, qsizetype unreadableSectors);

// How often a sector the drive flagged with C2 error pointers is read again, at most, for a clean read.
constexpr int C2ReadAttempts = 16;

// Judges every track against the database's answer.
void JudgeTracks(TRipSession &session, const std::vector<TAccurateRipBlock> &blocks);

// What the CUETools database said of a rip, found on a worker: the disc's id there, its verdict, and why
// it could not be asked or the rip not be checked.
struct TCtdbRipCheck {
    QString TocId;
    QString Problem;
    bool Answered = false;
    TCtdbVerdict Verdict;
    std::vector<TCtdbEntry> Entries;
};
// Checks a rip's files against the database (every audio track of the disc must have been read; files that
// are not lossless cannot be checked).
TCtdbRipCheck CheckRipWithCtdb(const TRipSession &session, const std::atomic<bool> *cancel);
// Joins the database's verdict to each track's: verified when either database verifies the track and
// neither contradicts it, a mismatch when either does ("verified (AccurateRip confidence 7, v2; CTDB
// confidence 12)"); the disc's line for the log.
void JudgeTracksByCtdb(TRipSession &session, const TCtdbRipCheck &check);

// "Track 01: Accurately ripped (confidence 5, v1)", one line a track (CRC mismatches and failed reads said
// too), and the summary last.
QStringList VerificationLines(const TRipSession &session);

// What became of a track, in one word: "verified", "mismatch", "unknown" (the database does not know the disc
// or could not be asked), "failed" (not read, or its test and copy differ) or "not verified" (no database
// asked).
QString TrackResultWord(const TRipSession &session, const TTrackRip &track);

// "All tracks accurately ripped", or what was not: "2 tracks not verified", "1 track not accurately
// ripped", "1 track failed" (joined with "; ").
QString RipSummary(const TRipSession &session);

QString RipLogText(const TRipSession &session, const QDateTime &when);
// Minutes, seconds and frames of a number of sectors: "MM:SS:FF" as cue sheets count, or with another mark
// before the frames ("MM:SS.FF", a place in a track in the log).
QString SectorTime(int64_t sectors, QChar beforeFrames = QLatin1Char(':'));
// One FILE a track (file names without folders), PERFORMER and TITLE, INDEX 01 at each file's start; a track
// whose pregap is known begins in the file before, with its INDEX 00 there. The hidden track's file is the
// first track's pregap.
// With `image` (a file name), the cue sheet of a single-file image instead: one FILE, each track's indexes at
// its place in it (ImageLayout).
QString CueSheetText(const TRipSession &session, const QString &image = QString());

// Where each track lies in a single-file image of a rip: its INDEX 01 and, when its pregap is known, its
// INDEX 00 (sectors from the image's start; -1 for none). The tracks' files follow one another in the
// session's order; the hidden track (track 0) is the first track's pregap.
struct TImageTrack {
    int Track = 0;
    int64_t Index0 = -1;
    int64_t Index1 = 0;
};
std::vector<TImageTrack> ImageLayout(const TRipSession &session);
// The image's sectors in all.
int64_t ImageSectors(const TRipSession &session);

// What an extraction tells of its outcome, whichever job state machine ran it. Called on the
// user-interface thread.
class TRipOutcomeView {
public:
    virtual ~TRipOutcomeView() = default;
    virtual void ShowError(const QString &text) = 0;
    // Something the user should know that did not stop the file (a damaged source decoded as far as it goes).
    virtual void ShowWarning(const QString &text) { ShowError(text); }
    // A file the job made is complete under its name (an encoded file, a WAV, the rip log or cue sheet).
    virtual void FileMade(const QString &path) { Q_UNUSED(path) }
    // A file that was there already stays as it was: replacing it was declined.
    virtual void FileKept(const QString &path) { Q_UNUSED(path) }
    // At the end of an extraction that was verified or tested: what each track gave (VerificationLines).
    virtual void ShowVerification(const TRipSession &session) { Q_UNUSED(session) }
    // The job is over; result mrCancel (2) when it ended by itself, mrAbort (3) when stopped.
    virtual void Finish(int result) = 0;
    // Jobs with several encoders at once: the line of one running encoding (its caption and percent), and
    // its end. What the window shows besides stays with the read (or, for conversions, the latest file).
    virtual void SetEncoding(int slot, const QString &caption, int percent)
    {
        Q_UNUSED(slot)
        Q_UNUSED(caption)
        Q_UNUSED(percent)
    }
    virtual void EndEncoding(int slot) { Q_UNUSED(slot) }
};

// Runs the end of a rip: joins the tracks' WAVs into one image "ARTIST - ALBUM.flac" (or .wav) with its cue
// sheet when the settings' ImageFormat asks for it, asks AccurateRip when the settings say so (both on a
// worker thread), judges the tracks, writes "ARTIST - ALBUM.log" and ".cue" into the folder when asked for,
// tells the view (failures, each naming the file and the reason; the files written; the verdicts when the
// tracks were verified or tested), then calls `then`, on the thread that started it.
class TRipReporter final : public QObject {
    Q_OBJECT
public:
    TRipReporter(const TOptionsSetting &settings, const QString &folder, QObject *parent = nullptr);
    ~TRipReporter() override;

    TRipSession Session;
    // Whether the settings ask for anything at the end.
    bool Wanted() const;
    // A track read: its place in the session; a CRC mismatch of Test & copy is said at once.
    void Record(const TTrackRip &track, const QString &base, TRipOutcomeView &view);
    void Run(TRipOutcomeView &view, std::function<void()> then);
    // Ends a database request at once; nothing more is told.
    void Cancel();

private:
    void finish();
    // The single-file image's end: the image said (or why there is none), the tracks' WAVs gone once it is
    // made, the tracks' files the image.
    void finishImage(TRipOutcomeView &view);
    // Where the single-file image goes: "ARTIST - ALBUM.flac" (or .wav) in the folder.
    QString imagePath() const;

    QString m_folder;
    int32_t m_imageFormat = -1; // a single-file image is made of this format (rip --image); -1 for none
    int m_flacLevel = 5;
    bool m_keepWav = false;
    TTrackTags m_imageTags; // the disc's, for the image
    bool m_imageMade = false;
    QString m_imageError;
    QString m_server;
    bool m_log = false;
    bool m_cue = false;
    TRipOutcomeView *m_view = nullptr;
    std::function<void()> m_then;
    std::thread m_worker;
    std::atomic<bool> m_cancel{false};
    std::vector<TAccurateRipBlock> m_blocks;
    TCtdbRipCheck m_ctdb;
};
