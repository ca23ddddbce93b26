// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "convertjob.h"
#include "shell/result.h"

#include <QList>
#include <QMultiMap>
#include <QString>
#include <functional>
#include <vector>

struct TCommonOptions;
struct TOptionsSetting;

// The formats a rip makes besides its main one (OutputFormat): the setting OutputFormats, a list of format
// numbers ("2,5"); unknown numbers, repeats and the main format itself are left out.
QList<int32_t> ExtraFormatsOf(const TCommonOptions &options);
// "flac,mp3,ogg" (command-line keys) into the main format and the extra ones; fails with the reason (an
// unknown key named, or none given) when they cannot be.
TResult<QList<int32_t>> FormatsOfKeys(const QString &keys);

// One format of a rip: the output folder its files go to, and the name template that names them.
struct TFormatOutput {
    int32_t Format = 0;
    QString OutputFolder;
    QString NameTemplate;
};

// Where each format of a rip goes, the main one first. With more than one format, each has a folder of its
// own under the output folder, named after it ("FLAC", "MP3"...), unless the name template holds %format%
// (the format's key then tells the files apart). A single format goes where the settings say.
std::vector<TFormatOutput> FormatOutputs(const TCommonOptions &options, int32_t main,
                                         const QList<int32_t> &extras);

// The conversions that make an extra format from a rip: each WAV the rip left in its folder becomes the
// extra format's file in its own folder, tagged from the main format's file (from the WAV when the main
// format is WAV). Jobs are the rips' job lists ("NN" and the file base), track for track.
// One extra format of a rip: the folder its files go to, and the conversions that make them.
struct TExtraFormatRun {
    int32_t Format = 0;
    QString Folder;
    std::vector<TConvertItem> Items;
};
// The extra formats' runs of a rip (outputs from FormatOutputs, the main one first) from the WAVs in
// mainFolder: the settings give the album folder, jobsOf the job list of a name template; every WAV's
// extra files are added to extraFiles.
std::vector<TExtraFormatRun> ExtraFormatRuns(const TOptionsSetting &settings,
                                             const std::vector<TFormatOutput> &outputs,
                                             const QString &mainFolder, const QStringList &mainJobs,
                                             const std::function<QStringList(const QString &)> &jobsOf,
                                             QMultiMap<QString, QString> &extraFiles);

// Removes each WAV (a key) all of whose extra files (its values) were made.
void RemoveConvertedWavs(const QMultiMap<QString, QString> &extraFiles);

std::vector<TConvertItem> ExtraFormatItems(const QString &mainFolder, const QStringList &mainJobs,
                                           int32_t mainFormat, const QString &extraFolder,
                                           const QStringList &extraJobs, int32_t extraFormat);
