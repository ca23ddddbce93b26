// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "autags.h"

// The format-neutral tags every tagged file source fills when it opens a file; empty texts at first.
class TCommonTags final : public TAuTags {
public:
    TCommonTags();

    QString Title() const { return AsWideText(QStringLiteral("Title")); }
    void SetTitle(const QString &v) { SetValue(QStringLiteral("Title"), v); }
    QString Album() const { return AsWideText(QStringLiteral("Album")); }
    void SetAlbum(const QString &v) { SetValue(QStringLiteral("Album"), v); }
    QString Artist() const { return AsWideText(QStringLiteral("Artist")); }
    void SetArtist(const QString &v) { SetValue(QStringLiteral("Artist"), v); }
    QString Genre() const { return AsWideText(QStringLiteral("Genre")); }
    void SetGenre(const QString &v) { SetValue(QStringLiteral("Genre"), v); }
    QString Year() const { return AsText(QStringLiteral("Year")); }
    void SetYear(const QString &v) { SetValue(QStringLiteral("Year"), v); }
    QString Track() const { return AsText(QStringLiteral("Track")); }
    void SetTrack(const QString &v) { SetValue(QStringLiteral("Track"), v); }
};
