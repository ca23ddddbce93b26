// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's conversions of any audio files, and the extra formats of a rip.
#include "jobs/convertjob.h"
#include "jobs/formatplan.h"
#include "jobs/paralleljob.h"
#include "jobs/playlist.h"
#include "jobs/replaygain.h"
#include "jobs/ripform.h"
#include "mainform.h"
#include "shell/helpers.h"
#include "shell/outputformats.h"
#include "shell/settings.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>

int TMainForm::ExtractExtraFormats(const std::vector<TFormatOutput> &outputs, const QString &mainFolder,
                                   const QStringList &mainJobs)
{
    QMultiMap<QString, QString> wanted; // the extra files of each WAV
    const auto jobsOf = [this](const QString &nameTemplate) { return JobList(nameTemplate); };
    for (const TExtraFormatRun &run :
         ExtraFormatRuns(AppSettings, outputs, mainFolder, mainJobs, jobsOf, wanted)) {
        if (!QDir().mkpath(run.Folder)) {
            message(run.Folder + QStringLiteral(": cannot create the folder"), true);
            return mrAbort;
        }
        const TOptionsSetting settings = JobSettings(AppSettings, run.Folder);
        TRipForm job(this, [&](TRipJobPresenter &presenter) -> std::unique_ptr<TJobRun> {
            auto conversion = std::make_unique<TConvertJob>(run.Items, run.Format, settings, presenter, this,
                                                            EncodersAtOnce(settings));
            conversion->ReplayGain =
                WantsReplayGain(settings.CommonOptions.ReplayGain, run.Format, std::nullopt);
            return conversion;
        });
        if (job.exec() == mrAbort)
            return mrAbort;
    }
    if (!AppSettings.CommonOptions.IsKeepWav && outputs[0].Format != OutputFormat::Wav) {
        RemoveConvertedWavs(wanted);
    }
    return mrCancel;
}

void TMainForm::ConvertAnyFiles(const QStringList &files, int32_t format)
{
    if (files.isEmpty() || !CheckOutputFolder())
        return;
    const TOptionsSetting settings = JobSettings(AppSettings, AppSettings.CommonOptions.OutputFolder);
    std::vector<TConvertItem> items;
    for (const QString &file : files)
        items.push_back({file, WithTrailingBackslash(settings.CommonOptions.OutputFolder) +
                                   QFileInfo(file).completeBaseName() + OutputFormatExtension(format)});
    TRipForm job(this, [&](TRipJobPresenter &presenter) -> std::unique_ptr<TJobRun> {
        auto conversion =
            std::make_unique<TConvertJob>(items, format, settings, presenter, this, EncodersAtOnce(settings));
        conversion->ReplayGain = WantsReplayGain(settings.CommonOptions.ReplayGain, format, std::nullopt);
        return conversion;
    });
    job.exec();
}

void TMainForm::ChooseAndConvertAny()
{
    const QStringList files = QFileDialog::getOpenFileNames(
        this, QString(), QString(),
        QStringLiteral("Audio files (*.wav *.flac *.ogg *.oga *.opus *.mp3);;All files (*)"));
    if (files.isEmpty())
        return;
    QStringList formats;
    for (const TOutputFormatInfo &format : OutputFormats())
        formats << QLatin1String(format.Filter);
    bool chosen = false;
    const QString format =
        QInputDialog::getItem(this, QStringLiteral("Convert audio files"), QStringLiteral("Output format:"),
                              formats, AppSettings.CommonOptions.OutputFormat, false, &chosen);
    if (chosen)
        ConvertAnyFiles(files, int32_t(formats.indexOf(format)));
}
