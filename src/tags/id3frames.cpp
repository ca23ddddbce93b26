// SPDX-License-Identifier: GPL-3.0-or-later
#include "id3frames.h"

#include <algorithm>
#include <cstdint>

namespace {

uint32_t syncsafe(const uchar *b)
{
    return uint32_t(b[0] & 0x7F) << 21 | uint32_t(b[1] & 0x7F) << 14 | uint32_t(b[2] & 0x7F) << 7 |
           uint32_t(b[3] & 0x7F);
}

uint32_t plain(const uchar *b, int bytes)
{
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | b[i];
    return v;
}

bool frameId(const uchar *b, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        if (!((b[i] >= 'A' && b[i] <= 'Z') || (b[i] >= '0' && b[i] <= '9')))
            return false;
    return true;
}

} // namespace

QByteArray WithoutUnreadableId3v2Frames(const QByteArray &tag, int *dropped)
{
    *dropped = 0;
    if (tag.size() < 10 || !tag.startsWith("ID3"))
        return tag;
    const auto *b = reinterpret_cast<const uchar *>(tag.constData());
    const int version = b[3];
    const uchar flags = b[5];
    if (version < 2 || version > 4 || (version < 4 && (flags & 0x80)) || (flags & 0x10))
        return tag;
    const qsizetype end = std::min<qsizetype>(10 + qsizetype(syncsafe(b + 6)), tag.size());
    qsizetype at = 10;
    if (version >= 3 && (flags & 0x40)) { // an extended header
        if (end < 14)
            return tag;
        at += version == 4 ? qsizetype(syncsafe(b + 10)) : 4 + qsizetype(plain(b + 10, 4));
    }
    const int idBytes = version == 2 ? 3 : 4;
    const int headerBytes = version == 2 ? 6 : 10;
    QByteArray kept = tag.left(at);
    while (at + headerBytes <= end && b[at] != 0) {
        const uint32_t size = version == 2   ? plain(b + at + 3, 3)
                              : version == 4 ? syncsafe(b + at + 4)
                                             : plain(b + at + 4, 4);
        if (at + headerBytes + qsizetype(size) > end)
            break; // a frame running past the tag ends the frames for every reader
        if (size == 0 || !frameId(b + at, idBytes))
            ++*dropped;
        else
            kept += tag.mid(at, headerBytes + qsizetype(size));
        at += headerBytes + qsizetype(size);
    }
    if (*dropped == 0)
        return tag;
    kept += tag.mid(at, end - at);
    kept.append(QByteArray(end - kept.size(), '\0'));
    return kept + tag.mid(end);
}
