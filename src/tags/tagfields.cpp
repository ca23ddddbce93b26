// SPDX-License-Identifier: GPL-3.0-or-later
// The fields of each tag format the tag layer reads and writes: ID3 version 2, Vorbis comments, RIFF INFO
// and ASF. An edit changes only the fields it names.
#include "tagfields.h"

#include "shell/genres.h"

#include <asftag.h>
#include <attachedpictureframe.h>
#include <commentsframe.h>
#include <id3v1genres.h>
#include <id3v2tag.h>
#include <infotag.h>
#include <textidentificationframe.h>
#include <xiphcomment.h>

TagLib::String tagText(const QString &text)
{
    return TagLib::String(text.toUtf8().constData(), TagLib::String::UTF8);
}

// A text as read: without the byte-order marks a damaged frame may hold as its only "text".
QString qText(const TagLib::String &text)
{
    QString s = QString::fromUtf8(text.toCString(true));
    s.remove(QChar(0xFEFF));
    if (s == QStringLiteral("\u00FE\u00FF") || s == QStringLiteral("\u00FF\u00FE"))
        s.clear();
    return s.trimmed();
}

// --- ID3 version 2 (MP3 files, and the "id3 " chunk of WAV files) ---

static QString frameText(const TagLib::ID3v2::Tag &tag, const char *id)
{
    const TagLib::ID3v2::FrameList &frames = tag.frameList(id);
    return frames.isEmpty() ? QString() : qText(frames.front()->toString());
}

// The user's comment: the first COMM frame without a description (others belong to other programs).
TagLib::ID3v2::CommentsFrame *userComment(const TagLib::ID3v2::Tag &tag)
{
    for (TagLib::ID3v2::Frame *frame : tag.frameList("COMM")) {
        auto *comment = dynamic_cast<TagLib::ID3v2::CommentsFrame *>(frame);
        if (comment && comment->description().isEmpty())
            return comment;
    }
    return nullptr;
}

void readId3v2(const TagLib::ID3v2::Tag &tag, TFileTags &tags)
{
    tags.Kind = QStringLiteral("ID3v2");
    tags.Title = frameText(tag, "TIT2");
    tags.Artist = frameText(tag, "TPE1");
    tags.AlbumArtist = frameText(tag, "TPE2");
    tags.Album = frameText(tag, "TALB");
    tags.Year = frameText(tag, "TDRC");
    if (tags.Year.isEmpty())
        tags.Year = frameText(tag, "TYER"); // a version 2.3 frame some programs put into 2.4 tags
    tags.Genre = qText(tag.genre());
    if (const TagLib::ID3v2::CommentsFrame *comment = userComment(tag))
        tags.Comment = qText(comment->text());
    const QString track = frameText(tag, "TRCK");
    tags.Track = track.section(QLatin1Char('/'), 0, 0).trimmed().toInt();
    tags.TrackTotal = track.section(QLatin1Char('/'), 1, 1).trimmed().toInt();
}

static void setFrame(TagLib::ID3v2::Tag &tag, const char *id, const QString &value)
{
    tag.removeFrames(id);
    if (value.isEmpty())
        return;
    auto *frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
    frame->setText(tagText(value));
    tag.addFrame(frame);
}

static QString genreName(const QString &genre)
{
    bool number = false;
    const int n = genre.toInt(&number);
    return number && n >= 0 && n <= 255 ? qText(TagLib::ID3v1::genre(n)) : genre;
}

static QString trackText(int track, int total)
{
    if (track <= 0)
        return QString();
    return total > 0 ? QStringLiteral("%1/%2").arg(track).arg(total) : QString::number(track);
}

void editId3v2(TagLib::ID3v2::Tag &tag, const TTagEdit &edit, const TFileTags &before)
{
    const auto set = [&tag](const char *id, const std::optional<QString> &value) {
        if (value)
            setFrame(tag, id, *value);
    };
    set("TIT2", edit.Title);
    set("TPE1", edit.Artist);
    set("TPE2", edit.AlbumArtist);
    set("TALB", edit.Album);
    if (edit.Year) {
        tag.removeFrames("TYER");
        tag.removeFrames("TDAT");
        setFrame(tag, "TDRC", *edit.Year);
    }
    if (edit.Genre)
        setFrame(tag, "TCON", genreName(*edit.Genre));
    set("TSRC", edit.Isrc);
    const auto setUserText = [&tag](const char *name, const std::optional<QString> &value) {
        if (!value)
            return;
        while (auto *old = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, name))
            tag.removeFrame(old);
        if (!value->isEmpty()) {
            auto *frame = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::UTF8);
            frame->setDescription(name);
            frame->setText(tagText(*value));
            tag.addFrame(frame);
        }
    };
    setUserText("BARCODE", edit.Barcode);
    setUserText("DEEMPHASIS", edit.Deemphasis);
    if (edit.Track || edit.TrackTotal)
        setFrame(tag, "TRCK",
                 trackText(edit.Track.value_or(before.Track), edit.TrackTotal.value_or(before.TrackTotal)));
    if (edit.Comment) {
        TagLib::ID3v2::CommentsFrame *comment = userComment(tag);
        if (edit.Comment->isEmpty()) {
            while ((comment = userComment(tag)))
                tag.removeFrame(comment);
        } else if (comment) {
            comment->setTextEncoding(TagLib::String::UTF8);
            comment->setText(tagText(*edit.Comment));
        } else {
            comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
            comment->setLanguage("eng");
            comment->setText(tagText(*edit.Comment));
            tag.addFrame(comment);
        }
    }
    if (edit.Cover) {
        for (TagLib::ID3v2::Frame *frame : tag.frameList("APIC")) {
            auto *picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame);
            if (picture && picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover)
                tag.removeFrame(picture);
        }
        if (!edit.Cover->isEmpty()) {
            auto *picture = new TagLib::ID3v2::AttachedPictureFrame;
            picture->setMimeType("image/jpeg");
            picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
            picture->setPicture(TagLib::ByteVector(edit.Cover->constData(), uint(edit.Cover->size())));
            tag.addFrame(picture);
        }
    }
}

// --- Vorbis comments (FLAC, Ogg Vorbis, Opus) ---

static QString field(const TagLib::Ogg::XiphComment &x, const char *key)
{
    const TagLib::Ogg::FieldListMap &map = x.fieldListMap();
    const auto it = map.find(key);
    return it == map.end() || it->second.isEmpty() ? QString() : qText(it->second.front());
}

void readXiph(const TagLib::Ogg::XiphComment &x, TFileTags &tags)
{
    tags.Kind = QStringLiteral("Vorbis comments");
    tags.Title = field(x, "TITLE");
    tags.Artist = field(x, "ARTIST");
    tags.AlbumArtist = field(x, "ALBUMARTIST");
    tags.Album = field(x, "ALBUM");
    tags.Year = field(x, "DATE");
    tags.Genre = field(x, "GENRE");
    tags.Comment = field(x, "COMMENT");
    if (tags.Comment.isEmpty())
        tags.Comment = field(x, "DESCRIPTION");
    const QString track = field(x, "TRACKNUMBER");
    tags.Track = track.section(QLatin1Char('/'), 0, 0).toInt();
    tags.TrackTotal = field(x, "TRACKTOTAL").toInt();
    if (tags.TrackTotal == 0)
        tags.TrackTotal = track.section(QLatin1Char('/'), 1, 1).toInt();
}

void editXiph(TagLib::Ogg::XiphComment &x, const TTagEdit &edit)
{
    const auto set = [&x](const char *key, const std::optional<QString> &value) {
        if (!value)
            return;
        x.removeFields(key);
        if (!value->isEmpty())
            x.addField(key, tagText(*value), true);
    };
    set("TITLE", edit.Title);
    set("ARTIST", edit.Artist);
    set("ALBUMARTIST", edit.AlbumArtist);
    set("ALBUM", edit.Album);
    set("DATE", edit.Year);
    if (edit.Genre)
        set("GENRE", genreName(*edit.Genre));
    set("COMMENT", edit.Comment);
    set("ISRC", edit.Isrc);
    set("BARCODE", edit.Barcode);
    set("DEEMPHASIS", edit.Deemphasis);
    if (edit.Track)
        set("TRACKNUMBER", *edit.Track > 0 ? QString::number(*edit.Track) : QString());
    if (edit.TrackTotal)
        set("TRACKTOTAL", *edit.TrackTotal > 0 ? QString::number(*edit.TrackTotal) : QString());
}

// --- RIFF INFO (WAV) ---

void readInfo(const TagLib::RIFF::Info::Tag &info, TFileTags &tags)
{
    tags.Kind = QStringLiteral("RIFF INFO");
    tags.Title = qText(info.fieldText("INAM"));
    tags.Artist = qText(info.fieldText("IART"));
    tags.Album = qText(info.fieldText("IPRD"));
    tags.Year = qText(info.fieldText("ICRD"));
    tags.Genre = qText(info.fieldText("IGNR"));
    tags.Comment = qText(info.fieldText("ICMT"));
    tags.Track = qText(info.fieldText("IPRT")).toInt();
    if (tags.Track == 0)
        tags.Track = qText(info.fieldText("ITRK")).toInt();
}

void editInfo(TagLib::RIFF::Info::Tag &info, const TTagEdit &edit)
{
    const auto set = [&info](const char *id, const std::optional<QString> &value) {
        if (!value)
            return;
        if (value->isEmpty())
            info.removeField(id);
        else
            info.setFieldText(id, tagText(*value));
    };
    set("INAM", edit.Title);
    set("IART", edit.Artist);
    set("IPRD", edit.Album);
    set("ICRD", edit.Year);
    if (edit.Genre)
        set("IGNR", genreName(*edit.Genre));
    set("ICMT", edit.Comment);
    if (edit.Track)
        set("IPRT", *edit.Track > 0 ? QString::number(*edit.Track) : QString());
}

// --- ASF (WMA) ---

static QString attribute(const TagLib::ASF::Tag &tag, const char *name)
{
    const TagLib::ASF::AttributeListMap &map = tag.attributeListMap();
    const auto it = map.find(name);
    return it == map.end() || it->second.isEmpty() ? QString() : qText(it->second.front().toString());
}

void readAsf(const TagLib::ASF::Tag &tag, TFileTags &tags)
{
    tags.Kind = QStringLiteral("ASF");
    tags.Title = qText(tag.title());
    tags.Artist = qText(tag.artist());
    tags.AlbumArtist = attribute(tag, "WM/AlbumArtist");
    tags.Album = qText(tag.album());
    tags.Year = attribute(tag, "WM/Year");
    tags.Genre = qText(tag.genre());
    tags.Comment = qText(tag.comment());
    tags.Track = attribute(tag, "WM/TrackNumber").toInt();
}

void editAsf(TagLib::ASF::Tag &tag, const TTagEdit &edit)
{
    const auto set = [&tag](const char *name, const std::optional<QString> &value) {
        if (!value)
            return;
        if (value->isEmpty())
            tag.removeItem(name);
        else
            tag.setAttribute(name, TagLib::ASF::Attribute(tagText(*value)));
    };
    // Some writers (FFmpeg) keep the title, artist and comment as extended attributes of their own names too,
    // which readers then prefer: those change with the field.
    const auto alsoAttributes = [&tag](std::initializer_list<const char *> names, const QString &value) {
        std::vector<TagLib::String> keys;
        for (const auto &[key, values] : tag.attributeListMap()) {
            for (const char *name : names) {
                if (QString::fromUtf8(key.toCString(true))
                        .compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                    keys.push_back(key);
            }
        }
        for (const TagLib::String &key : keys) {
            if (value.isEmpty())
                tag.removeItem(key);
            else
                tag.setAttribute(key, TagLib::ASF::Attribute(tagText(value)));
        }
    };
    if (edit.Title) {
        tag.setTitle(tagText(*edit.Title));
        alsoAttributes({"title"}, *edit.Title);
    }
    if (edit.Artist) {
        tag.setArtist(tagText(*edit.Artist));
        alsoAttributes({"author", "artist"}, *edit.Artist);
    }
    if (edit.Comment) {
        tag.setComment(tagText(*edit.Comment));
        alsoAttributes({"description", "comment"}, *edit.Comment);
    }
    set("WM/AlbumTitle", edit.Album);
    set("WM/AlbumArtist", edit.AlbumArtist);
    set("WM/Year", edit.Year);
    if (edit.Genre)
        set("WM/Genre", genreName(*edit.Genre));
    if (edit.Track)
        set("WM/TrackNumber", *edit.Track > 0 ? QString::number(*edit.Track) : QString());
}
