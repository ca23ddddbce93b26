// SPDX-License-Identifier: GPL-3.0-or-later
#include "replaygain.h"

#include "audio/auexception.h"
#include "audio/decoders.h"
#include "audio/samples.h"
#include "ripjob.h"
#include "shell/outputformats.h"
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

QString decibels(double gain)
{
    return QString::number(gain, 'f', 2) + QStringLiteral(" dB");
}

// Whether a file of that name carries R128 gains instead of ReplayGain's.
bool r128(const QString &named)
{
    const TOutputFormatInfo *format = OutputFormatOfFile(named);
    return format && format->Loudness == TLoudnessTags::R128;
}

} // namespace

// The meter keeps a histogram of its blocks' loudness, small and of one size however long the file (as
// loudgain's does): the album's loudness is then that of all its files' blocks together
// (ebur128_loudness_global_multiple), whatever order they are measured in.
struct TLoudnessMeter {
    State Meter;
};

bool MeasuresLoudness(const QString &path)
{
    const TOutputFormatInfo *format = OutputFormatOfFile(path);
    return format && format->Loudness != TLoudnessTags::None;
}

TFileLoudness MeasureLoudness(const QString &file, const QString &named, const std::atomic<bool> *cancel)
{
    std::unique_ptr<TAuInput> source;
    try {
        if (AudioFileKindOf(file) == TFileFormat::Wav) {
            auto wav = std::make_unique<TWaveIn>();
            wav->SetFileName(file);
            if (!wav->TryOpen())
                throw EAuException(wav->OpenError);
            source = std::move(wav);
        } else {
            source = TDecodedFileIn::Open(file);
        }
    } catch (const std::exception &e) {
        QString reason = QString::fromUtf8(e.what());
        if (reason.startsWith(file + QStringLiteral(": ")))
            reason = reason.mid(file.size() + 2);
        throw EAuException(named + QStringLiteral(": ") + reason);
    }
    const int channels = source->GetChannels();
    const int bits = source->GetBitsPerSample();
    State state(ebur128_init(unsigned(channels), unsigned(source->GetSampleRate()),
                             EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK | EBUR128_MODE_HISTOGRAM));
    if (!state || channels < 1)
        throw EAuException(named + QStringLiteral(": the loudness meter does not take this audio"));
    source->Init();
    std::vector<uint8_t> pcm(size_t(channels) * size_t(bits / 8) * 8192);
    std::vector<float> samples;
    const uint32_t frameBytes = uint32_t(channels * bits / 8);
    for (;;) {
        if (cancel && *cancel)
            break;
        const uint32_t got = source->ReadFully(pcm.data(), uint32_t(pcm.size())) / frameBytes;
        if (got == 0)
            break;
        samples.resize(size_t(got) * size_t(channels));
        Samples::ToFloat(pcm.data(), samples.data(), samples.size(), bits);
        ebur128_add_frames_float(state.get(), samples.data(), got);
    }
    source->Flush();
    TFileLoudness result;
    for (int c = 0; c < channels; ++c) {
        double channelPeak = 0;
        ebur128_sample_peak(state.get(), unsigned(c), &channelPeak);
        result.Track.Peak = std::max(result.Track.Peak, channelPeak);
    }
    if (ebur128_loudness_global(state.get(), &result.Track.Lufs) != EBUR128_SUCCESS ||
        !std::isfinite(result.Track.Lufs))
        return result; // silence has no loudness
    // Only its histogram is needed for the album now: a meter of one channel at a low rate keeps it and lets
    // go of the audio window (a quarter of a megabyte a file at 44.1 kHz stereo).
    if (ebur128_change_parameters(state.get(), 1, 16) == EBUR128_ERROR_NOMEM)
        throw EAuException(named + QStringLiteral(": out of memory"));
    result.Blocks = std::make_shared<TLoudnessMeter>(TLoudnessMeter{std::move(state)});
    return result;
}

bool AlbumLoudness(const std::vector<const TFileLoudness *> &files, TLoudness *album)
{
    std::vector<ebur128_state *> all;
    TLoudness together;
    for (const TFileLoudness *file : files) {
        if (!file || !file->Blocks)
            continue;
        all.push_back(file->Blocks->Meter.get());
        together.Peak = std::max(together.Peak, file->Track.Peak);
    }
    if (all.empty() ||
        ebur128_loudness_global_multiple(all.data(), all.size(), &together.Lufs) != EBUR128_SUCCESS ||
        !std::isfinite(together.Lufs))
        return false;
    *album = together;
    return true;
}

QList<QPair<QString, QString>> TrackGainFields(const QString &named, const TLoudness &track)
{
    if (r128(named))
        return {{QStringLiteral("R128_TRACK_GAIN"), QString::number(R128GainOf(track.Lufs))}};
    return {{QStringLiteral("REPLAYGAIN_TRACK_GAIN"), decibels(ReplayGainOf(track.Lufs))},
            {QStringLiteral("REPLAYGAIN_TRACK_PEAK"), QString::number(track.Peak, 'f', 6)}};
}

QList<QPair<QString, QString>> AlbumGainFields(const QString &named, const TLoudness &album)
{
    if (r128(named))
        return {{QStringLiteral("R128_ALBUM_GAIN"), QString::number(R128GainOf(album.Lufs))}};
    return {{QStringLiteral("REPLAYGAIN_ALBUM_GAIN"), decibels(ReplayGainOf(album.Lufs))},
            {QStringLiteral("REPLAYGAIN_ALBUM_PEAK"), QString::number(album.Peak, 'f', 6)}};
}

namespace {

// Which of the file's track and album gains it holds.
std::pair<bool, bool> gainsHeld(const QString &path)
{
    const bool ownGains = r128(path);
    const QStringList held = FileTagFieldNames(path);
    return {
        held.contains(ownGains ? QStringLiteral("R128_TRACK_GAIN") : QStringLiteral("REPLAYGAIN_TRACK_GAIN")),
        held.contains(ownGains ? QStringLiteral("R128_ALBUM_GAIN")
                               : QStringLiteral("REPLAYGAIN_ALBUM_GAIN"))};
}

} // namespace

bool AlbumGainMissing(const QString &path)
{
    const auto [track, album] = gainsHeld(path);
    return track && !album;
}

bool HasAlbumGain(const QString &path)
{
    return gainsHeld(path).second;
}

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
    const TOutputFormatInfo *info = OutputFormatInfo(format);
    return setting && info && info->GainByDefault;
}

QStringList WriteReplayGain(const QStringList &album, const std::atomic<bool> *cancel,
                            const QStringList *only)
{
    QStringList failures;
    QStringList files;
    std::vector<TFileLoudness> measures;
    for (const QString &file : album) {
        if (cancel && *cancel)
            return failures;
        if (!MeasuresLoudness(file))
            continue;
        try {
            TFileLoudness measure = MeasureLoudness(file, file, cancel);
            if (!measure.Blocks)
                continue; // silence has no loudness: no values
            files << file;
            measures.push_back(std::move(measure));
        } catch (const std::exception &e) {
            // A file only measured with the album (kept from an earlier run) is left out of it silently.
            if (!only || only->contains(file))
                failures << QString::fromUtf8(e.what());
        }
    }
    std::vector<const TFileLoudness *> all;
    for (const TFileLoudness &measure : measures)
        all.push_back(&measure);
    TLoudness albumLoudness;
    if (files.isEmpty() || !AlbumLoudness(all, &albumLoudness))
        return failures;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (only && !only->contains(files[i]))
            continue;
        QString error;
        if (!SetFileTagFields(files[i],
                              TrackGainFields(files[i], measures[size_t(i)].Track) +
                                  AlbumGainFields(files[i], albumLoudness),
                              &error))
            failures << error;
    }
    return failures;
}

TReplayGainJob::TReplayGainJob(QList<QStringList> albums, TRipJobPresenter &presenter,
                               std::function<void()> then, QObject *parent)
    : TReplayGainJob(
          [albums = std::move(albums)](const std::atomic<bool> &stop) {
              QStringList failures;
              for (const QStringList &album : albums)
                  failures += WriteReplayGain(album, &stop);
              return failures;
          },
          presenter, std::move(then), parent)
{
}

TReplayGainJob::TReplayGainJob(Work work, TRipJobPresenter &presenter, std::function<void()> then,
                               QObject *parent)
    : QObject(parent), m_work(std::move(work)), m_presenter(presenter), m_then(std::move(then))
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
        const QStringList failures = m_work(m_stop);
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
