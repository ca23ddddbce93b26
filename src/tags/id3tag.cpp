// SPDX-License-Identifier: GPL-3.0-or-later
#include "id3tag.h"

#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int tagSize = 128;

// The ID3 number of each genre list position 1 to 148 (index 0 is the empty entry).
const uint8_t id3Numbers[149] = {
    255, 123, 34, 74,  73,  99,  40,  20,  26,  145, 90,  116, 41,  135, 85,  96,  138, 89,  0,
    107, 132, 65, 88,  104, 102, 97,  136, 61,  141, 1,   32,  112, 128, 57,  140, 2,   139, 58,
    3,   125, 50, 22,  4,   55,  127, 122, 120, 98,  52,  48,  54,  124, 25,  84,  80,  81,  115,
    119, 5,   30, 36,  59,  126, 38,  49,  91,  6,   79,  129, 137, 7,   35,  100, 131, 19,  33,
    46,  47,  8,  29,  146, 63,  86,  71,  45,  142, 9,   77,  82,  64,  133, 10,  66,  39,  11,
    103, 12,  75, 134, 13,  62,  53,  109, 117, 23,  108, 92,  67,  93,  43,  121, 14,  15,  68,
    16,  76,  87, 118, 17,  78,  143, 114, 110, 69,  21,  111, 95,  105, 42,  37,  24,  56,  44,
    101, 83,  94, 106, 147, 113, 18,  51,  130, 144, 60,  70,  31,  72,  27,  28};

QString zeros(int n)
{
    return QString(n, QChar(0));
}

// Latin-1 bytes of the text, "?" for characters outside it, padded with 0 bytes (or cut) to the size.
QByteArray field(const QString &text, int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size && i < text.size(); ++i) {
        const ushort u = text[i].unicode();
        bytes[i] = char(u < 256 ? u : '?');
    }
    return bytes;
}

// A field as read: trailing bytes 0, 32 and 255 are padding.
QString fromField(const char *data, int size)
{
    int end = size;
    while (end > 0) {
        const uint8_t b = uint8_t(data[end - 1]);
        if (b != 0 && b != 32 && b != 255)
            break;
        --end;
    }
    return QString::fromLatin1(data, end);
}

// The read-only attribute: a file we cannot write (no write permission for its owner, or none for us). A
// name that starts with a dot is nothing special: "...And Justice for All.mp3" gets its tag.
bool protectedFile(const QString &path)
{
    const QFileInfo info(path);
    return !(info.permissions() & QFileDevice::WriteOwner) ||
           ::access(QFile::encodeName(path).constData(), W_OK) != 0;
}

} // namespace

Tid3tag::Tid3tag() : Title(zeros(30)), Artist(zeros(30)), Album(zeros(30)), Year(zeros(4)), Comment(zeros(30))
{
}

void Tid3tag::SetTitle(const QString &text)
{
    Title = text.left(30);
}

void Tid3tag::SetArtist(const QString &text)
{
    Artist = text.left(30);
}

void Tid3tag::SetAlbum(const QString &text)
{
    Album = text.left(30);
}

void Tid3tag::SetYear(const QString &text)
{
    Year = text.left(4);
}

void Tid3tag::SetComment(const QString &text)
{
    Comment = text.left(30);
}

void Tid3tag::SetTrack(uint8_t n)
{
    Track = n;
    HasTrack = n != 0;
}

uint16_t Tid3tag::ReadTag(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return CannotOpen;
    ReadOnly = protectedFile(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return CannotOpen;
    FileName = path;
    if (file.size() < tagSize)
        return NoTag;
    if (!file.seek(file.size() - tagSize))
        return ReadFailed;
    const QByteArray block = file.read(tagSize);
    if (block.size() != tagSize)
        return ReadFailed;
    if (!block.startsWith("TAG"))
        return NoTag;
    const char *b = block.constData();
    Title = fromField(b + 3, 30);
    Artist = fromField(b + 33, 30);
    Album = fromField(b + 63, 30);
    Year = fromField(b + 93, 4);
    const char *comment = b + 97;
    if (comment[28] == 0 && comment[29] != 0) {
        Track = uint8_t(comment[29]);
        HasTrack = true;
        Comment = fromField(comment, 28);
    } else {
        Track = 0;
        HasTrack = false;
        Comment = fromField(comment, 30);
    }
    Genre = uint8_t(b[127]);
    return Genre > 147 && Genre != 255 ? OddGenre : 0;
}

uint16_t Tid3tag::WriteTag(const QString &path)
{
    const QString target = path == QLatin1String("=") ? FileName : path;
    if (!QFileInfo(target).isFile())
        return CannotOpen;
    if (protectedFile(target))
        return ReadOnlyFile;
    QFile file(target);
    if (!file.open(QIODevice::ReadWrite))
        return CannotOpen;
    qint64 position = file.size();
    if (file.size() >= tagSize) {
        if (!file.seek(file.size() - tagSize))
            return ReadFailed;
        if (file.read(3) == "TAG")
            position = file.size() - tagSize;
    }
    QByteArray block("TAG");
    block += field(Title, 30) + field(Artist, 30) + field(Album, 30) + field(Year, 4);
    if (HasTrack && Track != 0)
        block += field(Comment, 28) + '\0' + char(Track);
    else
        block += field(Comment, 30);
    block += char(Genre);
    if (!file.seek(position) || file.write(block) != tagSize || !file.flush())
        return WriteFailed;
    file.close();
    FileName = target;
    return 0;
}

void Tid3tag::RemoveTag()
{
    if (!QFileInfo(FileName).isFile() || protectedFile(FileName))
        return;
    QFile file(FileName);
    if (!file.open(QIODevice::ReadWrite) || file.size() < tagSize || !file.seek(file.size() - tagSize))
        return;
    if (file.read(3) != "TAG")
        return;
    file.resize(file.size() - tagSize);
}

uint8_t Tid3tag::GenreToId3(uint8_t position)
{
    return position >= 1 && position <= 148 ? id3Numbers[position] : 255;
}

uint8_t Tid3tag::Id3ToGenre(uint8_t number)
{
    if (number > 147)
        return 0;
    for (int p = 1; p <= 148; ++p) {
        if (id3Numbers[p] == number)
            return uint8_t(p);
    }
    return 0;
}
