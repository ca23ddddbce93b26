// SPDX-License-Identifier: GPL-3.0-or-later
// The lane of a conversion: one file at a time through its steps. Private to the conversion job.
#pragma once

#include "audio/audioconverter.h"
#include "audio/encoderprocess.h"
#include "convertjob.h"
#include "encodestep.h"
#include "replaygain.h"
#include "shell/childprocess.h"
#include "shell/workingfile.h"
#include "tracksequence.h"
#include "waveout.h"

#include <QFileInfo>
#include <QObject>
#include <atomic>
#include <memory>
#include <thread>

// One file at a time through its steps, in a TTrackSequence: the source (claimed target, and WMA or MP4
// decoded to a WAV), the 16-bit WAV an encoder program reads (when one does), the encoding, and the finish
// (tags and track loudness, then the name). Its encoder programs report to it as to a job window.
class TConvertJob::Lane final : public QObject {
public:
    Lane(TConvertJob &job, int slot) : m_job(job), m_slot(slot), m_encoding(m_mp3, m_wma)
    {
        m_sequence.SetSteps({[this](int) { guarded([this] { prepareSource(); }); },
                             [this](int) { guarded([this] { makeProgramWav(); }); },
                             [this](int) { guarded([this] { encode(); }); }, [this](int) { finishFile(); }});
        m_sequence.OnItemEnded = [this](int, bool made) { end(made, std::exchange(m_skipped, false)); };
        const auto progress = [this](TAuOutput *sink) { showPercent(sink->Progress()); };
        const auto failure = [this](TAuOutput *sink) { m_problem = sink->ExceptionMessage(); };
        connect(&m_encoding, &TEncodeStep::progress, this, [this](const TProcessInfo &info) {
            if (info.Percent >= 0 && info.Percent <= 100)
                showPercent(info.Percent);
        });
        connect(&m_encoding, &TEncodeStep::finished, this, [this](const TEncodeEnd &end) { encoded(end); });
        m_waveOut.SetWavType(wtPCM);
        m_waveOut.FileMode = foRewrite;
        m_waveOut.OnProgress = progress;
        m_waveOut.OnThreadException = failure;
        m_waveOut.OnDone = [this](TAuOutput *) {
            if (m_temporary.isEmpty())
                wavWritten(&m_waveOut);
            else
                temporaryMade();
        };
        m_decoder.OnLines = [this](TChildProcess::Stream, const QStringList &lines) {
            for (const QString &line : lines)
                if (line.startsWith(QLatin1String("Decoding: ")))
                    showPercent(line.mid(10).chopped(1).toInt());
        };
        m_decoder.OnFinished = [this](int exitCode, int) { decoded(exitCode); };
    }
    ~Lane() override { stop(); }

    bool Busy() const { return m_index >= 0; }

    void Start(int index);
    // Ends whatever runs; nothing it was making is left.
    void stop();

private:
    const TConvertItem &item() const { return m_job.m_items[size_t(m_index)]; }
    QString caption() const { return QFileInfo(item().Source).fileName(); }
    void showPercent(int percent) { m_job.m_presenter.SetEncoding(m_slot, caption(), percent); }
    // Runs a step's start; a failure to start is said and ends the step.
    void guarded(const std::function<void()> &start);
    // A step's failure: said, and the step ended.
    void fail(const QString &message);
    // The steps. The source: the target claimed, and WMA and MP4 files decoded to a WAV first by the WMA
    // program (FFmpeg's decoders).
    void prepareSource();
    void decoded(int exitCode);
    void openSource(const QString &path);
    // The encoder programs read a 16-bit WAV file: made beside the target unless the source is one.
    void makeProgramWav();
    void temporaryMade();
    // The encoding, into the target's working file.
    void encode();
    // The encoding of the item from `source` (the file read, or the WAV an encoder program reads).
    TEncodeRequest encodeRequest(const QString &source) const;
    void wavWritten(TAuFileOut *sink);
    void encoded(const TEncodeEnd &end);
    // The file is complete under its working name: its tags and its track loudness go in on a worker
    // thread, and only then does it take its name. A file under its name is finished, never half so.
    void finishFile();
    void fileFinished(const QString &working, const QString &error, const QString &warning,
                      const std::shared_ptr<TFileLoudness> &loudness);
    void joinFinisher();
    // skipped: left to another run, which is making the same file.
    void end(bool made, bool skipped = false);
    // A hidden file of this run beside the target, for a WAV made on the way.
    QString workFileOf(const QString &suffix) const;
    // Closes the source and removes the WAVs made on the way.
    void dropWorkFiles();

    TConvertJob &m_job;
    const int m_slot;
    int m_index = -1;
    TMp3EncodeProcess m_mp3;
    TWMAEncodeProcess m_wma;
    TEncodeStep m_encoding;
    TTrackSequence m_sequence;
    TWaveOut m_waveOut;
    TAudioConverter m_converter;
    TChildProcess m_decoder;
    std::unique_ptr<TAuInput> m_source;
    QString m_sourcePath;   // what is read: the item's source, or its decoded WAV
    QString m_decoded;      // the WAV the WMA program decoded the source into, while there is one
    QString m_temporary;    // the 16-bit WAV an encoder program reads, while there is one
    QString m_problem;      // why the running step failed
    QString m_working;      // the encoded file under its working name, once complete
    bool m_skipped = false; // the item ends as left to another run
    std::thread m_finisher;
    std::atomic<bool> m_stopFinishing{false};
    TFileIdentity m_sourceIdentity; // the source as it was when its conversion started
    int m_redone = 0;               // how often it changed under the conversion
};
