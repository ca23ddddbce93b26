// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Whether a file an encoder says it made is what its name promises: it exists, is not empty, and begins as
// that format begins (an MP3's first frame, after any ID3v2 tag, followed by a second frame; the ASF header
// object of a WMA; "OggS" of an Ogg file; "fLaC" of FLAC; RIFF/RF64 WAVE of a WAV): the container the format
// table gives for the target's extension; other extensions are only checked for being non-empty. An empty
// result means the file may replace the target; otherwise the reason, for a message after the target's
// name. Thread-safe.
QString EncodedFileProblem(const QString &made, const QString &target);

// SettleWorkingFile for what an encoder or writer made: a run that says it is complete still makes the
// target only when EncodedFileProblem finds nothing; otherwise the working file goes and *error says
// "TARGET: reason". True when the target is now the new file.
bool SettleEncodedFile(const QString &working, const QString &target, bool complete,
                       QString *error = nullptr);
// The same check for a complete file its job finishes before it takes its name: true when it may go on under
// its working name; otherwise the working file goes and *error says "TARGET: reason".
bool KeepEncodedFile(const QString &working, const QString &target, QString *error = nullptr);
