// SPDX-License-Identifier: GPL-3.0-or-later
#include "ripservice.h"

#include "audio/decoders.h"
#include "convertjob.h"
#include "jobitem.h"
#include "paralleljob.h"
#include "playlist.h"
#include "replaygain.h"
#include "ripreport.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/outputformats.h"
#include "shell/userprompt.h"
#include "shell/workingfile.h"

#include <QFileInfo>
#include <algorithm>

namespace {

// The rip's question about a file that is there already.
bool mayReplace(const QString &path, TRipFrontEnd &frontEnd)
{
    if (!QFileInfo::exists(path) || frontEnd.Question(QStringLiteral("Sondrel"), ReplaceQuestion(path)))
        return true;
    frontEnd.Notice(QStringLiteral("kept %1 (already there)").arg(path));
    return false;
}

class TRip {
public:
    TRip(const TRipRequest &request, TRipFrontEnd &frontEnd) : m_request(request), m_frontEnd(frontEnd) {}
    TRipResult Run();

private:
    const TRipRequest &m_request;
    TRipFrontEnd &m_frontEnd;
    TOptionsSetting m_settings; // the main format's
    TRipResult m_result;
    // Each extra format's folder and job list.
    std::vector<std::pair<QString, QStringList>> m_extras;

    // The WAVs here are the user's (an earlier rip made them): kept, as if asked to keep the WAVs.
    bool m_earlierWavs = false;

    const TCommonOptions &asked() const { return m_request.Settings.CommonOptions; }
    bool keepsWavs() const { return asked().IsKeepWav || m_earlierWavs; }
    QString mainFile(const QString &entry, int32_t format) const
    {
        return TJobItem::Of(entry).File(m_result.Folder, OutputFormatExtension(format));
    }
    bool prepare();
    void findEarlierWavs();
    QStringList toRip();
    bool extraMissing(qsizetype k) const;
    int extract(const QStringList &jobs);
    void removeStepWavs();
    void writeReplayGain();
    void encodeExtraFormats();
};

bool TRip::prepare()
{
    // Several formats: the main one is ripped first, its WAVs kept for the others.
    m_result.Outputs = FormatOutputs(asked(), asked().OutputFormat, ExtraFormatsOf(asked()));
    const std::vector<TFormatOutput> &outputs = m_result.Outputs;
    m_settings = m_request.Settings;
    m_settings.CommonOptions.OutputFolder = outputs[0].OutputFolder;
    m_settings.CommonOptions.FileNameTemplate = outputs[0].NameTemplate;
    m_settings.CommonOptions.IsKeepWav = asked().IsKeepWav || outputs.size() > 1;
    m_result.Jobs = m_request.JobsOf(outputs[0].NameTemplate);
    m_result.Folder = ExtractionFolder(m_settings);
    if (QString error; !MakeFolder(m_result.Folder, &error)) {
        m_frontEnd.Failure(error);
        return false;
    }
    m_result.FolderMade = true;
    findEarlierWavs();
    if (const auto saved = SaveDiscCover(m_result.Folder, m_settings); !saved)
        m_frontEnd.Failure(saved.Error());
    for (size_t i = 1; i < outputs.size(); ++i) {
        TOptionsSetting extra = m_settings;
        extra.CommonOptions.OutputFolder = outputs[i].OutputFolder;
        m_extras.emplace_back(WithTrailingBackslash(ExtractionFolder(extra)),
                              m_request.JobsOf(outputs[i].NameTemplate));
    }
    return true;
}

// A rip to another format writes each track's WAV first and removes it after; where an earlier rip to WAV
// left its files (its log in the folder names them), they are the user's, not steps of a run that was cut
// short, and are neither removed nor replaced without the question a kept file gets.
void TRip::findEarlierWavs()
{
    if (keepsWavs() || asked().OutputFormat == OutputFormat::Wav)
        return;
    const QString wav = OutputFormatExtension(OutputFormat::Wav);
    const TEarlierRip earlier = EarlierRip(m_result.Folder, wav);
    for (const QString &job : m_result.Jobs) {
        const QString name = QFileInfo(mainFile(job, OutputFormat::Wav)).fileName();
        if (std::any_of(earlier.ReadWell.begin(), earlier.ReadWell.end(),
                        [&](const TKeptTrack &track) { return track.File == name; })) {
            m_earlierWavs = true;
            m_settings.CommonOptions.IsKeepWav = true;
            m_frontEnd.Notice(QStringLiteral("the WAVs in %1 are kept: an earlier rip made them (%2)")
                                  .arg(m_result.Folder, earlier.Log));
            return;
        }
    }
}

bool TRip::extraMissing(qsizetype k) const
{
    for (size_t i = 1; i < m_result.Outputs.size(); ++i) {
        const auto &[place, names] = m_extras[i - 1];
        if (!QFileInfo::exists(
                TJobItem::Of(names.value(k)).File(place, OutputFormatExtension(m_result.Outputs[i].Format))))
            return true;
    }
    return false;
}

// The tracks to read. Asked about, a track whose file is there already is read only when the answer is yes;
// a WAV the user did not ask to keep is only a step on the way (one a killed run left): the track is there
// when its file of the format asked for is. A track with a file of another format missing is read again for
// it. An image is the output: every track is read again unless the image is kept.
QStringList TRip::toRip()
{
    const QStringList &jobs = m_result.Jobs;
    if (!m_request.AskBeforeReplacing)
        return jobs;
    const TCommonOptions &options = m_settings.CommonOptions;
    if (options.ImageFormat >= 0) {
        const QString image = WithTrailingBackslash(m_result.Folder) +
                              AlbumFileName(m_settings.DiscInfo.Artist, m_settings.DiscInfo.Album,
                                            OutputFormatExtension(options.ImageFormat));
        return mayReplace(image, m_frontEnd) ? jobs : QStringList();
    }
    QStringList rip;
    for (qsizetype k = 0; k < jobs.size(); ++k) {
        QString existing = mainFile(jobs[k], options.OutputFormat);
        if (!QFileInfo::exists(existing) && options.OutputFormat != OutputFormat::Wav && keepsWavs())
            existing = mainFile(jobs[k], OutputFormat::Wav);
        if (extraMissing(k) || mayReplace(existing, m_frontEnd))
            rip << jobs[k];
    }
    return rip;
}

int TRip::extract(const QStringList &jobs)
{
    const TOptionsSetting settings = JobSettings(m_settings, m_result.Folder);
    const TReadSource source{m_request.Handle, m_request.Handle != 0 ? nullptr : m_request.Drive};
    const TJobEnd end = m_frontEnd.RunExtraction(source, [&](TExtractView &view) {
        return MakeExtractJob(source, jobs, settings, view, *m_request.Mp3, *m_request.Wma);
    });
    m_result.Made += end.Made;
    return end.Result;
}

// A stopped rip of several formats leaves no WAV the user did not ask for (they were kept for the others).
void TRip::removeStepWavs()
{
    if (m_result.Outputs.size() < 2 || keepsWavs() || m_result.Outputs[0].Format == OutputFormat::Wav)
        return;
    for (const QString &job : m_result.Ripped)
        RemoveMadeFile(mainFile(job, OutputFormat::Wav));
}

// In the disc's order, whichever track's encoding ended first. The tracks kept from an earlier run are
// measured with the album (its value is the whole album's) and left as they are, but for those a run that was
// stopped or killed named before their values were written.
void TRip::writeReplayGain()
{
    const int32_t format = m_settings.CommonOptions.OutputFormat;
    if (!WantsReplayGain(asked().ReplayGain, format, m_request.ReplayGain))
        return;
    QStringList album;
    QStringList written = m_result.Made;
    for (const QString &job : m_result.Jobs) {
        const QString file = mainFile(job, format);
        if (!m_result.Made.contains(file) && !QFileInfo::exists(file))
            continue;
        album << file;
        if (!written.contains(file) && MeasuresLoudness(file) && AudioFileKindOf(file) != TFileFormat::None &&
            !HasAlbumGain(file))
            written << file;
    }
    if (written.isEmpty())
        return;
    m_frontEnd.RunJob([&](TRipJobPresenter &presenter) {
        return std::make_unique<TReplayGainJob>(
            [album, written](const std::atomic<bool> &stop) {
                return WriteReplayGain(album, &stop, &written);
            },
            presenter);
    });
}

// The extra formats, made from the WAVs the main rip left: each into its own folder, tagged from the main
// format's files; the WAVs then go unless they were to be kept (or a format's file of theirs is missing).
void TRip::encodeExtraFormats()
{
    QMultiMap<QString, QString> wanted; // the extra files of each WAV
    for (const TExtraFormatRun &run : ExtraFormatRuns(m_request.Settings, m_result.Outputs, m_result.Folder,
                                                      m_result.Jobs, m_request.JobsOf, wanted)) {
        if (QString error; !MakeFolder(run.Folder, &error)) {
            m_frontEnd.Failure(error);
            continue;
        }
        const TOptionsSetting settings = JobSettings(m_request.Settings, run.Folder);
        const TJobEnd end = m_frontEnd.RunJob([&](TRipJobPresenter &presenter) {
            auto job = std::make_unique<TConvertJob>(run.Items, run.Format, settings, presenter, &m_frontEnd,
                                                     EncodersAtOnce(settings));
            job->ReplayGain = WantsReplayGain(asked().ReplayGain, run.Format, m_request.ReplayGain);
            return job;
        });
        m_result.Made += end.Made;
        if (end.Result == mrAbort) {
            m_result.Result = mrAbort;
            return;
        }
    }
    if (!keepsWavs() && m_result.Outputs[0].Format != OutputFormat::Wav)
        RemoveConvertedWavs(wanted);
}

TRipResult TRip::Run()
{
    if (!prepare()) {
        m_result.Result = mrAbort;
        return m_result;
    }
    m_result.Ripped = toRip();
    m_result.Result = m_result.Ripped.isEmpty() ? mrCancel : extract(m_result.Ripped);
    if (m_result.Result == mrAbort) {
        removeStepWavs();
        return m_result;
    }
    writeReplayGain();
    if (m_result.Outputs.size() > 1)
        encodeExtraFormats();
    if (asked().IsCreateM3U && m_result.Result != mrAbort) {
        const auto written = WriteExtractionPlaylist(m_result.Folder, m_result.Jobs, m_settings, &m_frontEnd);
        if (!written && !written.Error().isEmpty())
            m_frontEnd.Failure(written.Error());
    }
    return m_result;
}

} // namespace

TRipResult RunRip(const TRipRequest &request, TRipFrontEnd &frontEnd)
{
    return TRip(request, frontEnd).Run();
}
