// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// Reads, writes and removes the ID3 version 1 tag of an MP3 file: the 128-byte block at its very end, in the
// version 1.1 form when it carries a track number. Texts are Latin-1: characters outside it are written as
// "?", and bytes read are taken as Latin-1. Field limits (30, and 4 for the year) count characters.
// User-interface thread; holds no file open between calls.
class Tid3tag {
public:
    // Results of ReadTag and WriteTag; values below 256 are success.
    static constexpr uint16_t OddGenre = 0x80; // ReadTag: the genre byte is above 147 and not 255
    static constexpr uint16_t CannotOpen = 0x100;
    static constexpr uint16_t ReadOnlyFile = 0x200;
    static constexpr uint16_t ReadFailed = 0x300;
    static constexpr uint16_t WriteFailed = 0x400;
    static constexpr uint16_t OtherError = 0x500;
    static constexpr uint16_t NoTag = 0x1000;

    Tid3tag();

    void SetTitle(const QString &text);
    void SetArtist(const QString &text);
    void SetAlbum(const QString &text);
    void SetYear(const QString &text);
    void SetComment(const QString &text);
    void SetTrack(uint8_t n);

    uint16_t ReadTag(const QString &path);
    // The path "=" means FileName.
    uint16_t WriteTag(const QString &path);
    void RemoveTag();

    // Between a position in the genre list (0 none, 1 to 148 GenreNames) and the ID3 genre number (255 none).
    static uint8_t GenreToId3(uint8_t position);
    static uint8_t Id3ToGenre(uint8_t number);

    bool HasTrack = false;
    bool ReadOnly = false;
    QString FileName;
    QString Title;
    QString Artist;
    QString Album;
    QString Year;
    QString Comment;
    uint8_t Genre = 255;
    uint8_t Track = 0;
};
