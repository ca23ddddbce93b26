// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cdrom/cdaccess.h"
#include "extractjob.h"
#include "formatplan.h"
#include "ripjob.h"
#include "shell/settings.h"
#include "shell/userprompt.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TCDIn;
class TMp3EncodeProcess;
class TWMAEncodeProcess;

// The end of one job a front end ran: its result (mrAbort when stopped) and the files it made.
struct TJobEnd {
    int Result = mrCancel;
    QStringList Made;
};

// What a rip needs of the program that shows it (the main window, the terminal): each of its jobs run in
// view to its end, its questions answered, its failures and notices heard. The rest of a rip is the same in
// both and lives in RunRip.
class TRipFrontEnd : public TUserPrompt {
public:
    using MakeJob = std::function<std::unique_ptr<TJobRun>(TRipJobPresenter &)>;
    using MakeExtraction = std::function<std::unique_ptr<TJobRun>(TExtractView &)>;
    // Runs the job `make` gives (it presents on the presenter passed) to its end.
    virtual TJobEnd RunJob(const MakeJob &make) = 0;
    // The same for the extraction that reads from `source` (each read path has its own window).
    virtual TJobEnd RunExtraction(const TReadSource &source, const MakeExtraction &make) = 0;
    virtual void Failure(const QString &text) = 0;
    // What the user should know that is no failure (a file kept as it was).
    virtual void Notice(const QString &text) = 0;
};

// One rip: the tracks, where they go and how they are read.
struct TRipRequest {
    TOptionsSetting Settings; // the run's settings, the disc's titles included
    // The job list ("NN" and the file base of each track) after a name template.
    std::function<QStringList(const QString &nameTemplate)> JobsOf;
    TCdHandle Handle = 0;   // reads through the CD access calls; 0: through Drive
    TCDIn *Drive = nullptr; // the drive component, when Handle is 0
    TMp3EncodeProcess *Mp3 = nullptr;
    TWMAEncodeProcess *Wma = nullptr;
    // A track whose file is there already is read only when the front end says yes (the command line);
    // without, it is replaced (the window).
    bool AskBeforeReplacing = false;
    std::optional<bool> ReplayGain; // asked for this run, over the setting (--replaygain, --no-replaygain)
};

struct TRipResult {
    int Result = mrCancel; // mrAbort when stopped
    bool FolderMade = false;
    QString Folder; // where the main format's files go
    std::vector<TFormatOutput> Outputs;
    QStringList Jobs;   // the main format's job list
    QStringList Ripped; // the entries read: the job list less the tracks kept
    QStringList Made;   // every file made
};

// Runs a rip to its end: the folder and the cover, the reads (with encoding, log, cue sheet and verdicts),
// the ReplayGain values of the album, the extra formats from the WAVs the reads left, and the playlist. A
// stopped rip of several formats leaves no WAV it made that the user did not ask for.
TRipResult RunRip(const TRipRequest &request, TRipFrontEnd &frontEnd);
