// SPDX-License-Identifier: GPL-3.0-or-later
// The cue sheet of a rip, for its track files or for the image of the whole disc.
#include "ripreport.h"
#include "shell/helpers.h"

#include <QFileInfo>
#include <algorithm>

namespace {

// A cue sheet's quoted text: it has no way to escape a quote, so quotes become apostrophes; control
// characters go.
QString cueText(const QString &text)
{
    QString out = WithoutControlChars(text);
    out.replace(QLatin1Char('"'), QLatin1Char('\''));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

} // namespace

std::vector<TImageTrack> ImageLayout(const TRipSession &session)
{
    std::vector<TImageTrack> layout;
    int64_t at = 0;
    const TTrackRip *before = nullptr;
    for (const TTrackRip &track : session.Tracks) {
        if (!track.Hidden()) {
            TImageTrack place{track.Track, -1, at};
            // The pregap at the end of the file before, when that file is the track before's (or hidden).
            if (before && before->Pregap > 0 && before->Track + 1 == track.Track)
                place.Index0 = std::max<int64_t>(at - before->Pregap, 0);
            layout.push_back(place);
        }
        at += track.Frames / 588;
        before = &track;
    }
    return layout;
}

int64_t ImageSectors(const TRipSession &session)
{
    int64_t sectors = 0;
    for (const TTrackRip &track : session.Tracks)
        sectors += track.Frames / 588;
    return sectors;
}

QString CueSheetText(const TRipSession &session, const QString &image)
{
    QStringList out;
    if (!session.Mcn.isEmpty())
        out << QStringLiteral("CATALOG ") + session.Mcn;
    out << QStringLiteral("PERFORMER ") + cueText(session.Artist);
    out << QStringLiteral("TITLE ") + cueText(session.Album);
    const auto header = [&](const TTrackRip &track) {
        out << QStringLiteral("  TRACK %1 AUDIO").arg(TwoDigits(track.Track));
        out << QStringLiteral("    TITLE ") + cueText(track.Title);
        out << QStringLiteral("    PERFORMER ") +
                   cueText(track.Performer.isEmpty() ? session.Artist : track.Performer);
        if (track.PreEmphasis && !session.Deemphasis) // a file de-emphasised is flat
            out << QStringLiteral("    FLAGS PRE");
        if (!track.Isrc.isEmpty())
            out << QStringLiteral("    ISRC ") + track.Isrc;
    };
    if (!image.isEmpty()) {
        out << QStringLiteral("FILE %1 %2").arg(cueText(image), QStringLiteral("WAVE"));
        for (const TImageTrack &place : ImageLayout(session)) {
            header(*std::find_if(session.Tracks.begin(), session.Tracks.end(),
                                 [&](const TTrackRip &t) { return t.Track == place.Track; }));
            if (place.Index0 >= 0)
                out << QStringLiteral("    INDEX 00 ") + SectorTime(place.Index0);
            out << QStringLiteral("    INDEX 01 ") + SectorTime(place.Index1);
        }
        out << QString();
        return out.join(QStringLiteral("\r\n"));
    }
    bool begun = false; // the track's lines came with its pregap, in the file before
    for (size_t i = 0; i < session.Tracks.size(); ++i) {
        const TTrackRip &track = session.Tracks[i];
        const QString name = QFileInfo(track.File).fileName();
        const QString type = name.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive)
                                 ? QStringLiteral("MP3")
                                 : QStringLiteral("WAVE");
        out << QStringLiteral("FILE %1 %2").arg(cueText(name), type);
        if (!track.Hidden()) { // the hidden track is the next track's pregap, a file of its own
            if (!begun)
                header(track);
            out << QStringLiteral("    INDEX 01 00:00:00");
        }
        // The pregap of the next track lies at the end of this file: the next track begins here.
        begun = i + 1 < session.Tracks.size() && track.Pregap > 0 &&
                session.Tracks[i + 1].Track == track.Track + 1;
        if (begun) {
            const int64_t sectors = track.Frames / 588;
            header(session.Tracks[i + 1]);
            out << QStringLiteral("    INDEX 00 ") + SectorTime(std::max<int64_t>(sectors - track.Pregap, 0));
        }
    }
    out << QString();
    return out.join(QStringLiteral("\r\n"));
}
