// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ripjob.h"

#include <QElapsedTimer>
#include <QObject>
#include <memory>
#include <vector>

class TReplayGainJob;
struct TFileLoudness;
class TUserPrompt;

// One file of a conversion: the file read and the file made (its extension the output format's).
struct TConvertItem {
    QString Source;
    QString Target;
    QString TagSource = {}; // where the tags come from, when not from Source
    // A disc track's WAV (its number and file base): its tags come from the disc information, as a rip writes
    // them (when the settings' tags are on), not from a file. -1: tags are copied from the file.
    int Track = -1;
    QString TrackBase = {};
};

// Converts audio files of any kind the program reads (TDecodedFileIn, and the WMA program) into one output
// format, several at once. Each lane takes the next file and runs its steps: the source decoded; for the
// encoder programs (MP3, WMA) a 16-bit WAV made first beside the target and removed after; the encoding;
// then the source's tags (every field the target's format holds, and the front cover) carried over. A target
// that is there already is replaced only when the prompt says yes; with Update, one newer than its source
// is kept without asking. Progress is the files done of all, with the time; each running file has its own
// encoding line. Every file made is complete or absent; a failure names the file and the reason, and the
// others go on.
class TConvertJob final : public QObject, public TJobRun {
    Q_OBJECT
public:
    TConvertJob(std::vector<TConvertItem> items, int32_t format, const TOptionsSetting &settings,
                TRipJobPresenter &presenter, TUserPrompt *prompt, int lanes, QObject *parent = nullptr);
    ~TConvertJob() override;

    void Start() override;
    void Stop() override;
    void CleanUp() override;
    bool Finished() const override { return m_finished; }

    bool Update = false;
    // ReplayGain values written at the end into the files made, those of one folder an album.
    bool ReplayGain = false;

    int Made() const { return m_made; }
    int Kept() const { return m_kept; }
    int Failed() const { return m_failed; }

private:
    class Lane;

    void startNext(Lane &lane);
    // Before any lane starts: an item whose target another item makes already, or that would write over
    // another item's source, is refused by name (two lanes would otherwise write the same file).
    void planTargets();
    // Whether the item is to be converted: its target is not there, or may be replaced.
    bool wanted(size_t index);
    void itemEnded(Lane &lane, bool made, bool skipped);
    void showProgress();
    void finish(int result);
    // The end once every file is done: ReplayGain measured on a worker thread first when asked for.
    void wholeDone();

    const std::vector<TConvertItem> m_items;
    const int32_t m_format;
    const TOptionsSetting m_settings;
    TRipJobPresenter &m_presenter;
    TUserPrompt *m_prompt;
    std::vector<std::unique_ptr<Lane>> m_lanes;
    QElapsedTimer m_clock;
    size_t m_next = 0;
    int m_done = 0;
    int m_made = 0;
    int m_kept = 0;
    int m_failed = 0;
    bool m_finished = false;
    std::vector<bool> m_refused;                            // by item: planned away
    std::vector<std::shared_ptr<TFileLoudness>> m_loudness; // by item: measured as it was made
    std::unique_ptr<TReplayGainJob> m_replayGain;
};
