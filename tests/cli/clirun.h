// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

struct CliRun {
    int code = -1; // the exit status; -1 when the tool crashed or did not end within the time
    QString out;
    QString err;
};

// Runs sondrel-cli (the built one, or the program given) with standard input from /dev/null, to its end or
// for at most timeoutMs.
CliRun runCli(const QStringList &arguments, const QString &program = QString(), int timeoutMs = 120000);

// Every tag of the file as the field's reader (mutagen, through tests/judges/tag_judge.py) reads it:
// {"reader", "tags": {key: [values]}, "pictures": [sha1...]}, or {"error": what it said}.
QJsonObject JudgedTags(const QString &file);
