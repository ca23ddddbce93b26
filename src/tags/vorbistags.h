// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "autags.h"

// The Vorbis comments an Ogg Vorbis file carries; all values are text, unassigned at first.
class TVorbisTags final : public TAuTags {
public:
    TVorbisTags();

    QString Album() const { return AsWideText(QStringLiteral("album")); }
    void SetAlbum(const QString &v) { SetValue(QStringLiteral("album"), v); }
    QString Artist() const { return AsWideText(QStringLiteral("artist")); }
    void SetArtist(const QString &v) { SetValue(QStringLiteral("artist"), v); }
    QString Date() const { return AsWideText(QStringLiteral("date")); }
    void SetDate(const QString &v) { SetValue(QStringLiteral("date"), v); }
    QString Genre() const { return AsWideText(QStringLiteral("genre")); }
    void SetGenre(const QString &v) { SetValue(QStringLiteral("genre"), v); }
    QString Title() const { return AsWideText(QStringLiteral("title")); }
    void SetTitle(const QString &v) { SetValue(QStringLiteral("title"), v); }
    QString Track() const { return AsWideText(QStringLiteral("tracknumber")); }
    void SetTrack(const QString &v) { SetValue(QStringLiteral("tracknumber"), v); }
    QString Disc() const { return AsWideText(QStringLiteral("discnumber")); }
    void SetDisc(const QString &v) { SetValue(QStringLiteral("discnumber"), v); }
    QString Reference() const { return AsWideText(QStringLiteral("replaygain_reference_loudness")); }
    void SetReference(const QString &v) { SetValue(QStringLiteral("replaygain_reference_loudness"), v); }
    QString TrackGain() const { return AsWideText(QStringLiteral("replaygain_track_gain")); }
    void SetTrackGain(const QString &v) { SetValue(QStringLiteral("replaygain_track_gain"), v); }
    QString TrackPeak() const { return AsWideText(QStringLiteral("replaygain_track_peak")); }
    void SetTrackPeak(const QString &v) { SetValue(QStringLiteral("replaygain_track_peak"), v); }
    QString AlbumGain() const { return AsWideText(QStringLiteral("replaygain_album_gain")); }
    void SetAlbumGain(const QString &v) { SetValue(QStringLiteral("replaygain_album_gain"), v); }
    QString AlbumPeak() const { return AsWideText(QStringLiteral("replaygain_album_peak")); }
    void SetAlbumPeak(const QString &v) { SetValue(QStringLiteral("replaygain_album_peak"), v); }
};
