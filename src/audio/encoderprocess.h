// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "auexception.h"
#include "shell/messages.h"
#include "shell/settings.h"
#include "shell/workingfile.h"

#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <stdexcept>

class TChildProcess;
class TUserPrompt;
struct TProcessInfo;

// The shared machinery of the MP3 and WMA encoder processes: one child program at a time, started from an
// argument vector built from the values (a path or a tag value is one argument whatever it holds). The
// command-line text of CommandLine() is built too, for display and logs only; it is never split again.
//
// The child writes to a hidden working file beside the output (see WorkingFileOf), which becomes the
// output file only when the child exited with status 0 and left it there. Any other end (a non-zero status,
// a signal, no file, Stop) removes the working file: a file under the output name is always complete.
//
// Output is read as it arrives and parsed on the user-interface thread, as whole lines. Reports go to
// Window as WM_PROCESSINFO messages: progress, then exactly one completion report per started file
// (none after Stop). Start, Stop and destruction happen on the user-interface thread.
class TEncoderProcess {
public:
    virtual ~TEncoderProcess();
    TEncoderProcess(const TEncoderProcess &) = delete;
    TEncoderProcess &operator=(const TEncoderProcess &) = delete;

    // Returns at once; reports follow. Raises EAuException when the process cannot be made (a fixed phrase,
    // then the system's error number and its reason).
    virtual void Start() = 0;
    // Sets up one job's file (active, reporting to the window) and starts it.
    void StartFile(const QString &input, const QString &output, QObject *window, JobKind jobKind,
                   bool encode = true);
    // Ends the child (when Active) without a completion report; its working file is removed.
    void Stop(uint32_t exitCode);

    bool IsRunning() const;
    // Text cut into the lines a child's output arrives as (CR, LF or CR LF; blank lines dropped).
    static QStringList Lines(const QString &text);
    // The command line of the last start, as built (what is shown and logged).
    const QString &CommandLine() const { return m_commandLine; }
    // The file the child writes for OutputFile.
    QString WorkingFile() const { return OutputFile.isEmpty() ? QString() : ClaimedWorkingFileOf(OutputFile); }

    int32_t PercentColumn = 0;
    QDateTime StartTime;
    QPointer<QObject> Window;
    QString InputFile;
    QString OutputFile;
    bool Active = false;
    bool Encode = true;
    ::JobKind JobKind = ::JobKind::WavToMp3;
    // A complete output stays under its working name, claimed, for the caller to settle.
    bool LeaveWorking = false;
    // Answers the overwrite question and shows notices; without one, an existing file is not overwritten.
    TUserPrompt *Prompt = nullptr;

protected:
    TEncoderProcess();

    // The overwrite question of a start: true to go on. Otherwise the completion report was given.
    bool confirmOverwrite(bool ask);
    // Starts the program; the arguments name the working file where the output file goes.
    void launch(const QString &program, const QString &programName, const QStringList &arguments,
                const QString &commandLine, const QString &creationError);
    // Whole lines of the child's output, on the user-interface thread.
    virtual void ParseOutput(const QStringList &lines) = 0;
    virtual void ReportDone(int32_t resultCode, const QString &message = QString()) = 0;
    // The current file failed: its working file goes, and one report carries the message.
    void failRun(const QString &message);

    static QString secondsText(int64_t seconds);

    QString m_commandLine;
    QString m_workingFile;

private:
    void processEnded(int exitCode, int signal);
    void endRun();

    std::unique_ptr<TChildProcess> m_child;
    QString m_programName;
};

// lame: encodes WAV to MP3 or decodes MP3 to WAV.
class TMp3EncodeProcess final : public TEncoderProcess {
public:
    TMp3EncodeProcess() = default;
    ~TMp3EncodeProcess() override;

    void Start() override;

    // The options of the command line; the job sets them from its settings before each start.
    TMp3Options Options;

    // The arguments after the program: the options, then the input and output files.
    static QStringList Arguments(const TMp3Options &options, bool encode, const QString &input,
                                 const QString &output);
    // The command-line text of those arguments, for display.
    static QString BuildCommandLine(const TMp3Options &options, bool encode, const QString &input,
                                    const QString &output);
    // The lame program: in the program folder, else on the search path; empty when there is none.
    static QString Executable();

    // lame's progress lines, encoding and decoding.
    void ParseEncodeOutput(const QStringList &lines);
    void ParseDecodeOutput(const QStringList &lines);

protected:
    void ParseOutput(const QStringList &lines) override;
    void ReportDone(int32_t resultCode, const QString &message = QString()) override;

private:
    void post(const TProcessInfo &info);
};

struct TWmaProfile {
    const char *text;  // as the options dialog shows it
    const char *name;  // passed after -a_setting
    int32_t sizeRatio; // WAV size / WMA size × 1000
};
extern const TWmaProfile WmaProfiles[33];
// The profile row a settings value stands for: 8 for a value outside 0 to 32.
int32_t WmaProfileIndex(int32_t bitRate);

// What WM8EUTIL is told besides the files; the job sets it from its settings before each start.
struct TWmaEncodeOptions {
    int32_t Profile = 8; // row of WmaProfiles
    bool Tags = false;   // the ID3 "Use" setting
    QString Artist;
    QString Comment;
    // A track's own tags, known when a disc is extracted.
    QString Title;
    QString Album;
    QString AlbumArtist;
    QString Year;
    QString Genre;
    int Track = 0;
};

// The options a job's settings give WM8EUTIL: the profile row (8 when out of range) and, when tags are on,
// the track's tags when it is a track of the disc, else the disc's artist and comment.
struct TTrackTags;
TWmaEncodeOptions WmaEncodeOptionsOf(const TOptionsSetting &settings, const TTrackTags *track = nullptr);

// WM8EUTIL: encodes WAV to WMA. Its completion reports are sent, not posted: the window has handled one
// when the call that produced it returns.
class TWMAEncodeProcess final : public TEncoderProcess {
public:
    TWMAEncodeProcess() = default;
    ~TWMAEncodeProcess() override;

    void Start() override;

    TWmaEncodeOptions Options;

    static QStringList Arguments(const TWmaEncodeOptions &options, const QString &input,
                                 const QString &output);
    static QString BuildCommandLine(const QString &executable, const TWmaEncodeOptions &options,
                                    const QString &input, const QString &output);
    // The program folder (the build tree) or ../libexec/sondrel/ beside it (where an installation puts it),
    // whichever holds WM8EUTIL; empty if none.
    static QString Executable();

    // Whole lines of WM8EUTIL's output: "ERROR" ends the file, "100%" is the one progress report.
    void ParseOutput(const QStringList &lines) override;

protected:
    void ReportDone(int32_t resultCode, const QString &message = QString()) override;
};
