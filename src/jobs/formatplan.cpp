// SPDX-License-Identifier: GPL-3.0-or-later
#include "formatplan.h"

#include "jobitem.h"
#include "playlist.h"
#include "shell/helpers.h"
#include "shell/outputformats.h"
#include "shell/settings.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <stdexcept>

QList<int32_t> ExtraFormatsOf(const TCommonOptions &options)
{
    QList<int32_t> extras;
    for (const QString &part : options.OutputFormats.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int32_t format = part.trimmed().toInt(&ok);
        if (ok && OutputFormatInfo(format) && format != options.OutputFormat && !extras.contains(format))
            extras << format;
    }
    return extras;
}

TResult<QList<int32_t>> FormatsOfKeys(const QString &keys)
{
    QList<int32_t> formats;
    for (const QString &key : keys.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const TOutputFormatInfo *format = OutputFormatByKey(key.trimmed());
        if (!format)
            return TFailure{QStringLiteral("unknown format ") + key};
        if (!formats.contains(format->Value))
            formats << format->Value;
    }
    if (formats.isEmpty())
        return TFailure{QStringLiteral("no format given")};
    return formats;
}

std::vector<TFormatOutput> FormatOutputs(const TCommonOptions &options, int32_t main,
                                         const QList<int32_t> &extras)
{
    static const QString marker = QStringLiteral("%format%");
    const bool ownFolders =
        !extras.isEmpty() && !options.FileNameTemplate.contains(marker, Qt::CaseInsensitive);
    std::vector<TFormatOutput> outputs;
    for (const int32_t format : QList<int32_t>{main} + extras) {
        const TOutputFormatInfo *info = OutputFormatInfo(format);
        TFormatOutput output{format, options.OutputFolder, options.FileNameTemplate};
        output.NameTemplate.replace(marker, QLatin1String(info->Key), Qt::CaseInsensitive);
        if (ownFolders)
            output.OutputFolder = WithTrailingBackslash(options.OutputFolder) + QLatin1String(info->Name);
        outputs.push_back(output);
    }
    return outputs;
}

std::vector<TConvertItem> ExtraFormatItems(const QString &mainFolder, const QStringList &mainJobs,
                                           int32_t mainFormat, const QString &extraFolder,
                                           const QStringList &extraJobs, int32_t extraFormat)
{
    std::vector<TConvertItem> items;
    for (qsizetype i = 0; i < mainJobs.size() && i < extraJobs.size(); ++i) {
        const TJobItem main = TJobItem::Of(mainJobs[i]);
        const QString wav = main.File(mainFolder, QStringLiteral(".wav"));
        if (!QFileInfo::exists(wav))
            continue; // its read failed, or it was kept from before
        TConvertItem item{wav,
                          TJobItem::Of(extraJobs[i]).File(extraFolder, OutputFormatExtension(extraFormat)),
                          main.File(mainFolder, OutputFormatExtension(mainFormat))};
        if (mainFormat == OutputFormat::Wav) { // the WAV holds no tags: they come from the disc
            item.TagSource = wav;
            item.Track = main.Track;
            item.TrackBase = main.Base;
        }
        items.push_back(item);
    }
    return items;
}

void RemoveConvertedWavs(const QMultiMap<QString, QString> &extraFiles)
{
    for (const QString &wav : extraFiles.uniqueKeys()) {
        const QStringList made = extraFiles.values(wav);
        if (std::all_of(made.begin(), made.end(),
                        [](const QString &file) { return QFileInfo::exists(file); }))
            QFile::remove(wav);
    }
}

std::vector<TExtraFormatRun> ExtraFormatRuns(const TOptionsSetting &settings,
                                             const std::vector<TFormatOutput> &outputs,
                                             const QString &mainFolder, const QStringList &mainJobs,
                                             const std::function<QStringList(const QString &)> &jobsOf,
                                             QMultiMap<QString, QString> &extraFiles)
{
    std::vector<TExtraFormatRun> runs;
    for (size_t i = 1; i < outputs.size(); ++i) {
        TOptionsSetting extra = settings;
        extra.CommonOptions.OutputFolder = outputs[i].OutputFolder;
        TExtraFormatRun run{outputs[i].Format, ExtractionFolder(extra), {}};
        run.Items = ExtraFormatItems(mainFolder, mainJobs, outputs[0].Format, run.Folder,
                                     jobsOf(outputs[i].NameTemplate), outputs[i].Format);
        for (const TConvertItem &item : run.Items)
            extraFiles.insert(item.Source, item.Target);
        if (!run.Items.empty())
            runs.push_back(std::move(run));
    }
    return runs;
}
