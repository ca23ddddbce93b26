// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// One entry of a job list, as the lists hold it ("NN" and the base of the track's file names, "03Song" or
// "03Album/Song"), taken apart once.
struct TJobItem {
    int Track = 0;
    QString Base;

    static TJobItem Of(const QString &entry) { return {entry.left(2).toInt(), entry.mid(2)}; }
    // The entry for a job list.
    QString Entry() const { return QStringLiteral("%1").arg(Track, 2, 10, QLatin1Char('0')) + Base; }
    // Its file of that extension in the folder.
    QString File(const QString &folder, const QString &extension) const
    {
        return (folder.isEmpty() || folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')) +
               Base + extension;
    }
};
