// SPDX-License-Identifier: GPL-3.0-or-later
#include "replaygain.h"

#include "audio/auexception.h"
#include "audio/decoders.h"
#include "audio/samples.h"
#include "ripjob.h"
#include "shell/settings.h"
#include "tags/tagcopy.h"
#include "wavein.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <ebur128.h>
#include <memory>
#include <vector>

namespace {

struct StateDeleter {
    void operator()(ebur128_state *state) const { ebur128_destroy(&state); }
};
using State = std::unique_ptr<ebur128_state, StateDeleter>;

// The file's audio through libebur128; throws EAuException "PATH: reason". The meter keeps a histogram of
// its blocks' loudness, small and of one size however long the file (as loudgain's does): the album's
// loudness is then that of all its files' blocks together (ebur128_loudness_global_multiple), whatever
// order they are measured in.
State measure(const QString &path, double &peak)
{
    std::unique_ptr<TAuInput> source;
    if (AudioFileKindOf(path) == TAudioFileKind::Wav) {
        auto wav = std::make_unique<TWaveIn>();
        wav->SetFileName(path);
        if (!wav->TryOpen())
            throw EAuException(path + QStringLiteral(": ") + wav->OpenError);
        source = std::move(wav);
    } else {
        source = TDecodedFileIn::Open(path);
    }
    const int channels = source->GetChannels();
    const int bits = source->GetBitsPerSample();
    State state(ebur128_init(unsigned(channels), unsigned(source->GetSampleRate()),
                             EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_HISTOGRAM));
    if (!state || channels < 1)
        throw EAuException(path + QStringLiteral(": the loudness meter does not take this audio"));
    source->Init();
    std::vector<uint8_t> pcm(size_t(channels) * size_t(bits / 8) * 8192);
    std::vector<float> samples;
    const uint32_t frameBytes = uint32_t(channels * bits / 8);
    for (;;) {
        const uint32_t got = source->ReadFully(pcm.data(), uint32_t(pcm.size())) / frameBytes;
        if (got == 0)
            break;
        samples.resize(size_t(got) * size_t(channels));
        Samples::ToFloat(pcm.data(), samples.data(), samples.size(), bits);
        ebur128_add_frames_float(state.get(), samples.data(), got);
    }
    source->Flush();
    peak = 0;
    for (int c = 0; c < channels; ++c) {
        double channelPeak = 0;
        ebur128_sample_peak(state.get(), unsigned(c), &channelPeak);
        peak = std::max(peak, channelPeak);
    }
    return state;
}

QString decibels(double gain)
{
    return QString::number(gain, 'f', 2) + QStringLiteral(" dB");
}

} // namespace

double ReplayGainOf(double lufs)
{
    return -18.0 - lufs;
}

int R128GainOf(double lufs)
{
    return std::clamp(int(std::lround((-23.0 - lufs) * 256.0)), -32768, 32767);
}

bool WantsReplayGain(bool setting, int32_t format, std::optional<bool> given)
{
    if (given)
        return *given;
    return setting &&
           (format == OutputFormat::Flac || format == OutputFormat::Ogg || format == OutputFormat::Opus);
}

QStringList WriteReplayGain(const QStringList &album, const std::atomic<bool> *cancel,
                            const QStringList *only)
{
    QStringList failures;
    QStringList files;
    std::vector<State> states;
    std::vector<TLoudness> tracks;
    for (const QString &file : album) {
        if (cancel && *cancel)
            return failures;
        const TAudioFileKind kind = AudioFileKindOf(file);
        if (kind == TAudioFileKind::Asf || kind == TAudioFileKind::Mp4)
            continue;
        try {
            TLoudness track;
            State state = measure(file, track.Peak);
            if (ebur128_loudness_global(state.get(), &track.Lufs) != EBUR128_SUCCESS ||
                !std::isfinite(track.Lufs))
                continue; // silence has no loudness: no values
            // Only its histogram is needed for the album now: a meter of one channel at a low rate keeps it
            // and lets go of the audio window (a quarter of a megabyte a file at 44.1 kHz stereo).
            if (ebur128_change_parameters(state.get(), 1, 16) == EBUR128_ERROR_NOMEM)
                throw EAuException(file + QStringLiteral(": out of memory"));
            files << file;
            tracks.push_back(track);
            states.push_back(std::move(state));
        } catch (const std::exception &e) {
            // A file only measured with the album (kept from an earlier run) is left out of it silently.
            if (!only || only->contains(file))
                failures << QString::fromUtf8(e.what());
        }
    }
    if (files.isEmpty())
        return failures;
    double albumLufs = 0;
    std::vector<ebur128_state *> all;
    for (const State &state : states)
        all.push_back(state.get());
    if (ebur128_loudness_global_multiple(all.data(), all.size(), &albumLufs) != EBUR128_SUCCESS ||
        !std::isfinite(albumLufs))
        return failures;
    double albumPeak = 0;
    for (const TLoudness &track : tracks)
        albumPeak = std::max(albumPeak, track.Peak);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (only && !only->contains(files[i]))
            continue;
        const TLoudness &track = tracks[size_t(i)];
        QList<QPair<QString, QString>> fields;
        if (AudioFileKindOf(files[i]) == TAudioFileKind::Opus)
            fields = {{QStringLiteral("R128_TRACK_GAIN"), QString::number(R128GainOf(track.Lufs))},
                      {QStringLiteral("R128_ALBUM_GAIN"), QString::number(R128GainOf(albumLufs))}};
        else
            fields = {{QStringLiteral("REPLAYGAIN_TRACK_GAIN"), decibels(ReplayGainOf(track.Lufs))},
                      {QStringLiteral("REPLAYGAIN_TRACK_PEAK"), QString::number(track.Peak, 'f', 6)},
                      {QStringLiteral("REPLAYGAIN_ALBUM_GAIN"), decibels(ReplayGainOf(albumLufs))},
                      {QStringLiteral("REPLAYGAIN_ALBUM_PEAK"), QString::number(albumPeak, 'f', 6)}};
        QString error;
        if (!SetFileTagFields(files[i], fields, &error))
            failures << error;
    }
    return failures;
}

TReplayGainJob::TReplayGainJob(QList<QStringList> albums, TRipJobPresenter &presenter,
                               std::function<void()> then, QObject *parent)
    : QObject(parent), m_albums(std::move(albums)), m_presenter(presenter), m_then(std::move(then))
{
}

TReplayGainJob::~TReplayGainJob()
{
    CleanUp();
}

void TReplayGainJob::Start()
{
    m_presenter.SetStage(QStringLiteral("Measuring loudness"));
    m_presenter.SetCaption(QStringLiteral("ReplayGain"));
    m_presenter.SetInitializing(QString(), false);
    m_worker = std::thread([this] {
        QStringList failures;
        for (const QStringList &album : m_albums)
            failures += WriteReplayGain(album, &m_stop);
        QMetaObject::invokeMethod(
            this,
            [this, failures] {
                for (const QString &failure : failures)
                    m_presenter.ShowError(failure);
                m_finished = true;
                if (m_then)
                    m_then();
                else
                    m_presenter.Finish(mrCancel);
            },
            Qt::QueuedConnection);
    });
}

void TReplayGainJob::Stop()
{
    CleanUp();
    if (!m_finished) {
        m_finished = true;
        m_presenter.Finish(mrAbort);
    }
}

void TReplayGainJob::CleanUp()
{
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
}
