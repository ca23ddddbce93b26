// SPDX-License-Identifier: GPL-3.0-or-later
// The fields of each tag format the tag layer reads and writes: ID3 version 2, Vorbis comments, RIFF INFO
// and ASF. An edit changes only the fields it names.
#include "tagfields.h"

#include "shell/genres.h"

#include <algorithm>
#include <asftag.h>
#include <attachedpictureframe.h>
#include <commentsframe.h>
#include <id3v1genres.h>
#include <id3v2tag.h>
#include <infotag.h>
#include <textidentificationframe.h>
#include <unknownframe.h>
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

// The text of any frame: a text frame's, or that of a frame TagLib keeps unparsed (TDAT and TIME, which
// version 2.4 has no place for): an encoding byte and the text.
static QStringList textsOf(const TagLib::ID3v2::Frame *frame)
{
    QStringList texts;
    if (const auto *text = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame *>(frame)) {
        for (const TagLib::String &value : text->fieldList())
            if (const QString t = qText(value); !t.isEmpty())
                texts << t;
    } else if (const auto *unknown = dynamic_cast<const TagLib::ID3v2::UnknownFrame *>(frame)) {
        const TagLib::ByteVector data = unknown->data();
        if (data.size() > 1 && uchar(data[0]) <= 3)
            if (const QString t = qText(TagLib::String(data.mid(1), TagLib::String::Type(data[0])));
                !t.isEmpty())
                texts << t;
    } else if (const QString t = qText(frame->toString()); !t.isEmpty()) {
        texts << t;
    }
    return texts;
}

// Every value of the frames with this identifier, in order.
static QStringList frameTexts(const TagLib::ID3v2::Tag &tag, const char *id)
{
    QStringList all;
    for (const TagLib::ID3v2::Frame *frame : tag.frameList(id))
        all << textsOf(frame);
    return all;
}

static QString frameText(const TagLib::ID3v2::Tag &tag, const char *id)
{
    const QStringList all = frameTexts(tag, id);
    return all.isEmpty() ? QString() : all.front();
}

static bool digits(const QString &text, int count)
{
    return text.size() == count && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

// The date as one ISO 8601 text. Tags before version 2.4 keep the year (TYER, TYE in 2.2) apart from the day
// and month (TDAT, "DDMM") and the time (TIME, "HHMM"): TYE 2010 with TDA 0304 is 2010-04-03.
static QString id3Date(const TagLib::ID3v2::Tag &tag)
{
    QString date = frameText(tag, "TDRC");
    if (date.isEmpty())
        date = frameText(tag, "TYER"); // also a version 2.3 frame some programs put into 2.4 tags
    if (!digits(date, 4))
        return date;
    // TagLib keeps version 2.2's TDA and TIM under their own names.
    const auto either = [&tag](const char *id, const char *id22) {
        const QString text = frameText(tag, id);
        return text.isEmpty() ? frameText(tag, id22) : text;
    };
    if (const QString dayMonth = either("TDAT", "TDA"); digits(dayMonth, 4)) {
        date += QLatin1Char('-') + dayMonth.mid(2, 2) + QLatin1Char('-') + dayMonth.left(2);
        if (const QString time = either("TIME", "TIM"); digits(time, 4))
            date += QLatin1Char('T') + time.left(2) + QLatin1Char(':') + time.mid(2, 2);
    }
    return date;
}

// A field's first value, and every value of a field that holds more than one.
static void takeValues(TFileTags &tags, QString &field, const char *name, const QStringList &values)
{
    field = values.isEmpty() ? QString() : values.front();
    if (values.size() > 1)
        tags.Values[QLatin1String(name)] = values;
}

static QString genreName(const QString &genre);

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
    takeValues(tags, tags.Title, "title", frameTexts(tag, "TIT2"));
    takeValues(tags, tags.Artist, "artist", frameTexts(tag, "TPE1"));
    takeValues(tags, tags.AlbumArtist, "album artist", frameTexts(tag, "TPE2"));
    takeValues(tags, tags.Album, "album", frameTexts(tag, "TALB"));
    tags.Year = id3Date(tag);
    QStringList genres;
    for (const QString &genre : frameTexts(tag, "TCON"))
        if (const QString name = genreName(genre); !genres.contains(name))
            genres << name;
    takeValues(tags, tags.Genre, "genre", genres);
    if (const TagLib::ID3v2::CommentsFrame *comment = userComment(tag))
        tags.Comment = qText(comment->text());
    const QString track = frameText(tag, "TRCK");
    tags.Track = track.section(QLatin1Char('/'), 0, 0).trimmed().toInt();
    tags.TrackTotal = track.section(QLatin1Char('/'), 1, 1).trimmed().toInt();
    // Some programs keep the total in a TXXX frame of the Vorbis comment's name.
    for (const TagLib::ID3v2::Frame *frame : tag.frameList("TXXX")) {
        const auto *user = dynamic_cast<const TagLib::ID3v2::UserTextIdentificationFrame *>(frame);
        const QString name = user ? qText(user->description()).toUpper() : QString();
        if (tags.TrackTotal == 0 && (name == u"TRACKTOTAL" || name == u"TOTALTRACKS") &&
            user->fieldList().size() > 1)
            tags.TrackTotal = qText(user->fieldList()[1]).toInt();
    }
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
    // Version 2.4 has one date frame: an older tag's year, day and time move into it whole on any edit.
    const QString date = edit.Year ? *edit.Year : id3Date(tag);
    static const char *const older[] = {"TYER", "TDAT", "TIME", "TDA", "TIM"};
    if (edit.Year || std::any_of(std::begin(older), std::end(older),
                                 [&tag](const char *id) { return !tag.frameList(id).isEmpty(); })) {
        for (const char *old : older)
            tag.removeFrames(old);
        setFrame(tag, "TDRC", date);
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

// --- Vorbis comments (FLAC and the Ogg codecs) ---

static QStringList fields(const TagLib::Ogg::XiphComment &x, const char *key)
{
    QStringList all;
    const TagLib::Ogg::FieldListMap &map = x.fieldListMap();
    if (const auto it = map.find(key); it != map.end())
        for (const TagLib::String &value : it->second)
            if (const QString t = qText(value); !t.isEmpty())
                all << t;
    return all;
}

static QString field(const TagLib::Ogg::XiphComment &x, const char *key)
{
    const QStringList all = fields(x, key);
    return all.isEmpty() ? QString() : all.front();
}

void readXiph(const TagLib::Ogg::XiphComment &x, TFileTags &tags)
{
    tags.Kind = QStringLiteral("Vorbis comments");
    takeValues(tags, tags.Title, "title", fields(x, "TITLE"));
    takeValues(tags, tags.Artist, "artist", fields(x, "ARTIST"));
    takeValues(tags, tags.AlbumArtist, "album artist", fields(x, "ALBUMARTIST"));
    takeValues(tags, tags.Album, "album", fields(x, "ALBUM"));
    tags.Year = field(x, "DATE");
    takeValues(tags, tags.Genre, "genre", fields(x, "GENRE"));
    tags.Comment = field(x, "COMMENT");
    if (tags.Comment.isEmpty())
        tags.Comment = field(x, "DESCRIPTION");
    const QString track = field(x, "TRACKNUMBER");
    tags.Track = track.section(QLatin1Char('/'), 0, 0).toInt();
    tags.TrackTotal = field(x, "TRACKTOTAL").toInt();
    if (tags.TrackTotal == 0)
        tags.TrackTotal = field(x, "TOTALTRACKS").toInt();
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
    // "3", or "3/12" as some writers keep it, with the total apart in TotalTracks.
    const QString track = attribute(tag, "WM/TrackNumber");
    tags.Track = track.section(QLatin1Char('/'), 0, 0).trimmed().toInt();
    tags.TrackTotal = attribute(tag, "TotalTracks").toInt();
    if (tags.TrackTotal == 0)
        tags.TrackTotal = track.section(QLatin1Char('/'), 1, 1).trimmed().toInt();
    // An ASF header keeps attributes of its encoder too: without a field of ours, the file has no tags.
    if (tags.Title.isEmpty() && tags.Artist.isEmpty() && tags.AlbumArtist.isEmpty() && tags.Album.isEmpty() &&
        tags.Year.isEmpty() && tags.Genre.isEmpty() && tags.Comment.isEmpty() && tags.Track == 0)
        tags.Kind.clear();
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
