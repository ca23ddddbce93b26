// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "filewriters.h"
#include "shell/messages.h"
#include "shell/settings.h"
#include "wavein.h"

#include <QObject>
#include <chrono>

class TAuInput;
class TMp3EncodeProcess;
class TWMAEncodeProcess;

// One file to make from one source with the encoder of its format.
struct TEncodeRequest {
    int32_t Format = 0;        // the output format
    QString Source;            // the WAV an encoder program reads (lame decodes an MP3 with Decode)
    TAuInput *Input = nullptr; // what our own writers read instead of the WAV Source, when given
    QString Target;            // the file made (under its working name until it is complete)
    JobKind Kind = JobKind::ExtractTracks; // as the encoder programs are told
    bool Decode = false;                   // lame decodes the MP3 Source to the WAV Target
    // A disc track (its number, 0 for the audio hidden before the first, and its file base): our writers and
    // the WMA program write its tags when the settings' tags are on; with TagMp3 an MP3 gets its ID3 tags
    // once the file is complete. -1: not a disc track.
    int Track = -1;
    QString TrackBase;
    bool TagMp3 = false;
    TOggSetup Ogg = TOggSetup::FromSettings;
    QString ErrorName; // names the file in a writer's failure; the Source when empty
    // The complete file is left under its working name, still claimed (TEncodeEnd::Working), for the job to
    // finish (tags, loudness) and settle; otherwise it takes the Target's name at once.
    bool LeaveWorking = false;
};

// How an encoding ended. Event: the notice of the encoder that ran (ProcessEvent::Mp3Encoded, WmaEncoded or
// FileWritten); Result: ProcessResult::Ended when Made is complete, else why not (Declined, InUse,
// EncoderFailed, SourceFailed). Message: what to show, the file named (empty when nothing went wrong or the
// encoder said nothing).
struct TEncodeEnd {
    int32_t Event = 0;
    int32_t Result = 0;
    QString Message;
    QString Made;
    QString Kept;      // the target that was there already, when replacing it was declined
    bool Busy = false; // refused: another run is writing the target
    QString Working;   // with LeaveWorking: the complete file, still under its working name (Made is empty)
};

// The encoding step of a job: runs lame, the WMA program or one of our own writers (TFileWriters) for one
// file, tags an MP3 after it when asked, and ends with exactly one finished() (none after
// Stop). A failure to start ends it too, from the event loop. Progress of the encoders arrives as
// progress() in the order they report it, always before the end. User-interface thread only.
class TEncodeStep final : public QObject {
    Q_OBJECT
public:
    TEncodeStep(TMp3EncodeProcess &mp3, TWMAEncodeProcess &wma, QObject *parent = nullptr);
    ~TEncodeStep() override;

    void Start(const TOptionsSetting &settings, const TEncodeRequest &request);
    // Ends the running encoder; what it was writing goes, and no end is reported.
    void Stop();
    bool Running() const { return m_running; }
    const TEncodeRequest &Request() const { return m_request; }

    TFileWriters Writers;
    TWaveIn Input; // the WAV our writers read when the request gives no input

signals:
    void progress(const TProcessInfo &info);
    void finished(const TEncodeEnd &end);

protected:
    bool event(QEvent *event) override;

private:
    void startWriter();
    void writerDone(TAuFileOut *writer);
    void ended(const TProcessInfo &info);
    // Ends the step from the event loop: a start that failed.
    void failLater(int32_t event, const QString &message, int32_t result = ProcessResult::SourceFailed);

    TMp3EncodeProcess &m_mp3;
    TWMAEncodeProcess &m_wma;
    TEncodeRequest m_request;
    TOptionsSetting m_settings;
    QString m_writerProblem;
    std::chrono::steady_clock::time_point m_start;
    bool m_running = false;
    bool m_busy = false;      // the target's working file is another run's
    bool m_tagsFirst = false; // an MP3 tagged under its working name, then settled here
};
