// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ripreport.h"
#include "shell/result.h"

#include <QByteArray>
#include <QString>
#include <atomic>

// The disc and files of a rip as its log tells them: the table of contents and each track's file in the
// folder (a plain name of a file there; the log is untrusted text).
TResult<TRipSession> RipSessionOfLog(const QByteArray &logText, const QString &folder);

// Mends the WAV files of the rip in `folder` (its newest log gives the disc) from the recovery record of the
// CUETools database's best entry for the disc: the wrong words found, the mended tracks written under working
// names and checked against the entry's CRC before they take the files' names (the old files kept as
// NAME.wav.damaged unless `keep` is false), and the log told. What was mended ("track 02: 1176 samples"),
// or why nothing was changed.
TResult<QString> RepairRip(const QString &folder, const QString &server, bool keep,
                           const std::atomic<bool> *cancel = nullptr);
