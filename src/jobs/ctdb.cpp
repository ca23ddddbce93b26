// SPDX-License-Identifier: GPL-3.0-or-later
#include "ctdb.h"

#include <QCryptographicHash>
#include <QStringList>

QString CtdbTocIdOf(const std::vector<int32_t> &audioStarts, int32_t audioEnd)
{
    if (audioStarts.empty() || audioStarts.size() > 99 || audioEnd <= audioStarts.back())
        return QString(); // a data track with no gap between the sessions: where the audio ends is not known
    const int32_t origin = audioStarts.front();
    QByteArray text;
    const auto add = [&](int32_t sector) {
        text += QByteArray::number(uint32_t(sector - origin), 16).toUpper().rightJustified(8, '0');
    };
    for (size_t i = 1; i < audioStarts.size(); ++i)
        add(audioStarts[i]);
    add(audioEnd);
    text = text.leftJustified(100 * 8, '0');
    QByteArray id = QCryptographicHash::hash(text, QCryptographicHash::Sha1).toBase64();
    id.replace('+', '.').replace('/', '_').replace('=', '-');
    return QString::fromLatin1(id);
}

QString CtdbTocId(const TToc &toc)
{
    TAudioSession audio;
    if (!AudioSessionOf(toc, audio))
        return QString();
    std::vector<int32_t> starts;
    for (int t = audio.First; t <= audio.Last; ++t)
        starts.push_back(TocEntryFrames(toc.tracks[t - toc.firstTrack]));
    return CtdbTocIdOf(starts, audio.LeadOut);
}

QString CtdbLookupToc(const TToc &toc)
{
    if (toc.firstTrack < 1 || toc.lastTrack < toc.firstTrack || toc.lastTrack > 99)
        return QString();
    const int count = toc.lastTrack - toc.firstTrack + 1;
    const int32_t origin = TocEntryFrames(toc.tracks[0]);
    QStringList entries;
    for (int i = 0; i <= count; ++i) {
        const bool data = i < count && (toc.tracks[i].ADR & 4) != 0;
        entries << (data ? QStringLiteral("-") : QString()) +
                       QString::number(TocEntryFrames(toc.tracks[i]) - origin);
    }
    return entries.join(QLatin1Char(':'));
}

QString CtdbLookupPath(const TToc &toc)
{
    return QStringLiteral("/lookup2.php?version=3&ctdb=1&fuzzy=1&toc=") + CtdbLookupToc(toc);
}
