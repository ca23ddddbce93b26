// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's conversions of any audio files, and the extra formats of a rip.
#include "jobs/convertjob.h"
#include "jobs/formatplan.h"
#include "jobs/jobitem.h"
#include "jobs/paralleljob.h"
#include "jobs/playlist.h"
#include "jobs/replaygain.h"
#include "jobs/ripservice.h"
#include "mainform.h"
#include "shell/helpers.h"
#include "shell/outputformats.h"
#include "shell/settings.h"
#include "ui/cdripform.h"
#include "ui/ripform.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>

TWindowFrontEnd::TWindowFrontEnd(TMainForm &window) : m_window(window) {}

bool TWindowFrontEnd::Question(const QString &caption, const QString &text)
{
    return m_window.Question(caption, text);
}

void TWindowFrontEnd::Information(const QString &caption, const QString &text)
{
    m_window.Information(caption, text);
}

TJobEnd TWindowFrontEnd::RunJob(const MakeJob &make)
{
    TRipForm job(&m_window, make);
    const int result = job.exec();
    return {result, job.Made()};
}

TJobEnd TWindowFrontEnd::RunExtraction(const TReadSource &source, const MakeExtraction &make)
{
    if (source.Handle != 0) {
        TRipForm job(&m_window, make);
        const int result = job.exec();
        return {result, job.Made()};
    }
    TfrmCDRip job(&m_window, make);
    const int result = job.exec();
    return {result, job.Made()};
}

void TWindowFrontEnd::Failure(const QString &text)
{
    m_window.message(text, true);
}

void TWindowFrontEnd::Notice(const QString &text)
{
    m_window.message(text, false);
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
        QStringLiteral("Audio files (%1 *.oga);;All files (*)").arg(OutputFormatPatterns()));
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

void TMainForm::ShowRipOutcome(const std::vector<TFormatOutput> &outputs, const QString &folder)
{
    // Where the files went: every format's files of this rip, counted where they are.
    int saved = 0;
    for (const TFormatOutput &output : outputs) {
        TOptionsSetting settings = AppSettings;
        settings.CommonOptions.OutputFolder = output.OutputFolder;
        const QString place = WithTrailingBackslash(ExtractionFolder(settings));
        for (const QString &entry : JobList(output.NameTemplate))
            saved += QFileInfo::exists(TJobItem::Of(entry).File(place, OutputFormatExtension(output.Format)))
                         ? 1
                         : 0;
    }
    const QString log =
        AlbumFileName(AppSettings.DiscInfo.Artist, AppSettings.DiscInfo.Album, QStringLiteral(".log"));
    ShowSavedFiles(outputs.size() > 1 ? AppSettings.CommonOptions.OutputFolder : folder, saved,
                   AppSettings.CommonOptions.WriteLog &&
                           QFileInfo::exists(WithTrailingBackslash(folder) + log)
                       ? log
                       : QString());
}
