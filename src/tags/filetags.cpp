#include "filetags.h"

#include "id3tag.h"
#include "shell/genres.h"
#include "shell/helpers.h"

#include <QFile>
#include <QFileInfo>
#include <asffile.h>
#include <attachedpictureframe.h>
#include <asftag.h>
#include <commentsframe.h>
#include <flacfile.h>
#include <id3v1genres.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <infotag.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <tdebuglistener.h>
#include <textidentificationframe.h>
#include <vorbisfile.h>
#include <wavfile.h>
#include <xiphcomment.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace {

// TagLib says what it skipped of a damaged tag on standard error; the program reads on without it.
class SilentListener final : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String &) override {}
};

void silenceTagLib()
{
    static SilentListener listener;
    static std::once_flag once;
    std::call_once(once, [] { TagLib::setDebugListener(&listener); });
}

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

QString fail(QString *error, const QString &path, const QString &reason)
{
    if (error)
        *error = path + QStringLiteral(": ") + reason;
    return QString();
}

QString notTaggable()
{
    return QStringLiteral("not a file whose tags can be written");
}

// --- ID3 version 2 (MP3 files, and the "id3 " chunk of WAV files) ---

QString frameText(const TagLib::ID3v2::Tag &tag, const char *id)
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

void setFrame(TagLib::ID3v2::Tag &tag, const char *id, const QString &value)
{
    tag.removeFrames(id);
    if (value.isEmpty())
        return;
    auto *frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
    frame->setText(tagText(value));
    tag.addFrame(frame);
}

QString genreName(const QString &genre)
{
    bool number = false;
    const int n = genre.toInt(&number);
    return number && n >= 0 && n <= 255 ? qText(TagLib::ID3v1::genre(n)) : genre;
}

QString trackText(int track, int total)
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
    if (edit.Track || edit.TrackTotal)
        setFrame(tag, "TRCK", trackText(edit.Track.value_or(before.Track), edit.TrackTotal.value_or(before.TrackTotal)));
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

QString field(const TagLib::Ogg::XiphComment &x, const char *key)
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

QString attribute(const TagLib::ASF::Tag &tag, const char *name)
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
                if (QString::fromUtf8(key.toCString(true)).compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
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

// --- reading and writing whole files ---

// The fields of a file whose one tag is its tag() (Ogg Vorbis, Opus, ASF); false for a file TagLib cannot read.
template <typename File, typename Tag>
bool readOwnTag(const QByteArray &native, TFileTags &tags, void (*read)(const Tag &, TFileTags &))
{
    File file(native.constData(), false);
    if (!file.isValid())
        return false;
    if (file.tag() && !file.tag()->isEmpty())
        read(*file.tag(), tags);
    return true;
}

bool readTags(const QByteArray &native, TTagFormat format, TFileTags &tags)
{
    switch (format) {
    case TTagFormat::Mp3: {
        TagLib::MPEG::File file(native.constData(), false);
        if (!file.isValid())
            return false;
        if (file.hasID3v2Tag() && !file.ID3v2Tag()->isEmpty()) {
            readId3v2(*file.ID3v2Tag(), tags);
        } else if (file.hasID3v1Tag()) {
            const TagLib::ID3v1::Tag &v1 = *file.ID3v1Tag();
            tags.Kind = QStringLiteral("ID3v1");
            tags.Title = qText(v1.title());
            tags.Artist = qText(v1.artist());
            tags.Album = qText(v1.album());
            tags.Year = v1.year() ? QString::number(v1.year()) : QString();
            tags.Genre = qText(v1.genre());
            tags.Comment = qText(v1.comment());
            tags.Track = int(v1.track());
        }
        return true;
    }
    case TTagFormat::Flac: {
        TagLib::FLAC::File file(native.constData(), false);
        if (!file.isValid())
            return false;
        if (file.hasXiphComment())
            readXiph(*file.xiphComment(), tags);
        return true;
    }
    case TTagFormat::OggVorbis:
        return readOwnTag<TagLib::Ogg::Vorbis::File>(native, tags, readXiph);
    case TTagFormat::Opus:
        return readOwnTag<TagLib::Ogg::Opus::File>(native, tags, readXiph);
    case TTagFormat::Wav: {
        TagLib::RIFF::WAV::File file(native.constData(), false);
        if (!file.isValid())
            return false;
        if (file.hasID3v2Tag() && !file.ID3v2Tag()->isEmpty())
            readId3v2(*file.ID3v2Tag(), tags);
        else if (file.hasInfoTag() && !file.InfoTag()->isEmpty())
            readInfo(*file.InfoTag(), tags);
        return true;
    }
    case TTagFormat::Wma:
        return readOwnTag<TagLib::ASF::File>(native, tags, readAsf);
    case TTagFormat::None:
        break;
    }
    return false;
}

// Applies the edit (or removes every tag) to the file at `native`, a copy the caller owns.
bool writeTags(const QByteArray &native, TTagFormat format, const TTagEdit *edit, const TFileTags &before)
{
    switch (format) {
    case TTagFormat::Mp3: {
        TagLib::MPEG::File file(native.constData(), false);
        if (!file.isValid())
            return false;
        if (!edit)
            return file.strip(TagLib::MPEG::File::AllTags);
        editId3v2(*file.ID3v2Tag(true), *edit, before);
        // The version 1 tag at the end (written before, by the Part's own writer) is kept as it is.
        return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                         TagLib::File::DoNotDuplicate);
    }
    case TTagFormat::Flac: {
        TagLib::FLAC::File file(native.constData(), false);
        if (!file.isValid())
            return false;
        if (!edit) {
            file.xiphComment(true)->removeAllFields();
            return file.save();
        }
        editXiph(*file.xiphComment(true), *edit);
        return file.save();
    }
    case TTagFormat::OggVorbis:
    case TTagFormat::Opus: {
        std::unique_ptr<TagLib::Ogg::File> file;
        TagLib::Ogg::XiphComment *x = nullptr;
        if (format == TTagFormat::Opus) {
            auto opus = std::make_unique<TagLib::Ogg::Opus::File>(native.constData(), false);
            x = opus->tag();
            file = std::move(opus);
        } else {
            auto vorbis = std::make_unique<TagLib::Ogg::Vorbis::File>(native.constData(), false);
            x = vorbis->tag();
            file = std::move(vorbis);
        }
        if (!file->isValid() || !x)
            return false;
        if (edit)
            editXiph(*x, *edit);
        else
            x->removeAllFields();
        return file->save();
    }
    case TTagFormat::Wav: {
        TagLib::RIFF::WAV::File file(native.constData(), false);
        if (!file.isValid())
            return false;
        if (!edit) {
            file.strip(TagLib::RIFF::WAV::File::AllTags);
            return true;
        }
        const bool hadId3 = file.hasID3v2Tag();
        editInfo(*file.InfoTag(), *edit);
        if (hadId3)
            editId3v2(*file.ID3v2Tag(), *edit, before);
        return file.save(hadId3 ? TagLib::RIFF::WAV::File::AllTags : TagLib::RIFF::WAV::File::Info,
                         TagLib::File::StripNone, TagLib::ID3v2::v4);
    }
    case TTagFormat::Wma: {
        TagLib::ASF::File file(native.constData(), false);
        if (!file.isValid() || !file.tag())
            return false;
        if (edit) {
            editAsf(*file.tag(), *edit);
        } else {
            TagLib::ASF::Tag &tag = *file.tag();
            tag.setTitle(TagLib::String());
            tag.setArtist(TagLib::String());
            tag.setComment(TagLib::String());
            for (const char *name : {"WM/AlbumTitle", "WM/AlbumArtist", "WM/Year", "WM/Genre", "WM/TrackNumber"})
                tag.removeItem(name);
        }
        return file.save();
    }
    case TTagFormat::None:
        break;
    }
    return false;
}

// The ID3 version 1 tag of an MP3 file, as the Part's writer keeps it: what fits of the edit, on the copy.
bool editId3v1(const QString &original, const QString &copy, const TTagEdit *edit)
{
    Tid3tag tag;
    const uint16_t read = tag.ReadTag(original);
    if (!edit) {
        if (read == Tid3tag::NoTag)
            return true;
        Tid3tag onCopy;
        if (onCopy.ReadTag(copy) >= 256)
            return false;
        onCopy.RemoveTag();
        return true;
    }
    if (const auto &title = edit->Id3v1Title ? edit->Id3v1Title : edit->Title)
        tag.SetTitle(*title);
    if (const auto &artist = edit->Id3v1Artist ? edit->Id3v1Artist : edit->Artist)
        tag.SetArtist(*artist);
    if (edit->Album)
        tag.SetAlbum(*edit->Album);
    if (edit->Year)
        tag.SetYear(edit->Year->left(4));
    if (edit->Comment)
        tag.SetComment(*edit->Comment);
    if (edit->Track)
        tag.SetTrack(uint8_t(std::clamp(*edit->Track, 0, 255)));
    if (edit->Genre) {
        bool number = false;
        const int n = edit->Genre->toInt(&number);
        const int position = GenreIndex(*edit->Genre);
        tag.Genre = number && n >= 0 && n <= 255 ? uint8_t(n)
                    : position >= 0               ? Tid3tag::GenreToId3(uint8_t(position + 1))
                                                  : uint8_t(255);
    }
    return tag.WriteTag(copy) < 256;
}

// Makes the change on a copy under the file's working name, which replaces the file when complete.
bool onWorkingCopy(const QString &path, const std::function<bool(const QString &)> &change, QString *error)
{
    const QString working = WorkingFileOf(path);
    if (working == path) {
        fail(error, path, notTaggable());
        return false;
    }
    QFile::remove(working);
    QFile source(path);
    if (!source.copy(working)) {
        fail(error, path, source.errorString());
        QFile::remove(working);
        return false;
    }
    if (!change(working)) {
        QFile::remove(working);
        if (error && error->isEmpty())
            fail(error, path, QStringLiteral("the tags could not be written"));
        return false;
    }
    {
        QFile written(working);
        if (!written.open(QIODevice::ReadWrite) || ::fsync(written.handle()) != 0) {
            fail(error, path, QString::fromLocal8Bit(std::strerror(errno)));
            QFile::remove(working);
            return false;
        }
    }
    return CommitWorkingFile(working, path, error);
}

// The checks before any write: a file some format claims, whose ID3v2 tag is no larger than the file.
TTagFormat writableFormat(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, path, file.errorString());
        return TTagFormat::None;
    }
    const int64_t claimed = Id3v2TagBytes(file.read(10));
    if (claimed > file.size()) {
        fail(error, path,
             QStringLiteral("its ID3v2 tag claims %1 bytes, more than the file's %2; nothing was written")
                 .arg(claimed)
                 .arg(file.size()));
        return TTagFormat::None;
    }
    const TTagFormat format = TagFormatOf(path);
    if (format == TTagFormat::None)
        fail(error, path, notTaggable());
    return format;
}

bool change(const QString &path, const TTagEdit *edit, QString *error)
{
    silenceTagLib();
    const TTagFormat format = writableFormat(path, error);
    if (format == TTagFormat::None)
        return false;
    TFileTags before;
    readTags(QFile::encodeName(path), format, before);
    return onWorkingCopy(
        path,
        [&](const QString &working) {
            if (format == TTagFormat::Mp3 && !editId3v1(path, working, edit))
                return false;
            return writeTags(QFile::encodeName(working), format, edit, before);
        },
        error);
}

} // namespace

int MpegFrameBytes(const uint8_t *h)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    const int version = (h[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = (h[1] >> 1) & 3;   // 1: III, 2: II, 3: I
    const int rateIndex = h[2] >> 4;
    const int sampleIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3)
        return 0;
    static const std::array<std::array<int, 15>, 5> kbps = {{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // V1 L1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // V1 L2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // V1 L3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // V2 L1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // V2 L2, L3
    }};
    static const std::array<int, 3> rates = {44100, 48000, 32000};
    const bool v1 = version == 3;
    const int table = v1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const int bitrate = kbps[size_t(table)][size_t(rateIndex)] * 1000;
    const int rate = rates[size_t(sampleIndex)] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int padding = (h[2] >> 1) & 1;
    if (layer == 3)
        return (12 * bitrate / rate + padding) * 4;
    const int perFrame = (layer == 1 && !v1) ? 72 : 144;
    return perFrame * bitrate / rate + padding;
}

int64_t Id3v2TagBytes(const QByteArray &head)
{
    if (head.size() < 10 || !head.startsWith("ID3"))
        return 0;
    const auto *b = reinterpret_cast<const uchar *>(head.constData());
    const uint32_t size = uint32_t(b[6] & 0x7F) << 21 | uint32_t(b[7] & 0x7F) << 14 | uint32_t(b[8] & 0x7F) << 7 |
                          uint32_t(b[9] & 0x7F);
    return 10 + int64_t(size) + ((b[5] & 0x10) ? 10 : 0);
}

bool TTagEdit::Empty() const
{
    return !Title && !Artist && !AlbumArtist && !Album && !Year && !Genre && !Comment && !Track && !TrackTotal &&
           !Cover;
}

TTagFormat TagFormatOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return TTagFormat::None;
    QByteArray head = file.read(4096);
    const int64_t id3 = Id3v2TagBytes(head);
    if (id3 > 0) {
        // An ID3v2 tag in front: FLAC files may carry one too.
        if (!file.seek(id3))
            return TTagFormat::None;
        head = file.read(4096);
        if (head.startsWith("fLaC"))
            return TTagFormat::Flac;
        return head.size() >= 4 && MpegFrameBytes(reinterpret_cast<const uint8_t *>(head.constData())) > 0
                   ? TTagFormat::Mp3
                   : TTagFormat::None;
    }
    if (head.startsWith("fLaC"))
        return TTagFormat::Flac;
    if (head.startsWith("OggS")) {
        if (head.contains("\x01vorbis"))
            return TTagFormat::OggVorbis;
        if (head.contains("OpusHead"))
            return TTagFormat::Opus;
        return TTagFormat::None;
    }
    if ((head.startsWith("RIFF") || head.startsWith("RF64")) && head.mid(8, 4) == "WAVE")
        return TTagFormat::Wav;
    if (head.startsWith(QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c")))
        return TTagFormat::Wma;
    if (head.size() >= 4 && MpegFrameBytes(reinterpret_cast<const uint8_t *>(head.constData())) > 0)
        return TTagFormat::Mp3;
    return TTagFormat::None;
}

QString TagFormatName(TTagFormat format)
{
    switch (format) {
    case TTagFormat::Mp3:
        return QStringLiteral("MP3");
    case TTagFormat::Flac:
        return QStringLiteral("FLAC");
    case TTagFormat::OggVorbis:
        return QStringLiteral("Ogg Vorbis");
    case TTagFormat::Opus:
        return QStringLiteral("Opus");
    case TTagFormat::Wav:
        return QStringLiteral("WAV");
    case TTagFormat::Wma:
        return QStringLiteral("WMA");
    case TTagFormat::None:
        break;
    }
    return QString();
}

bool ReadFileTags(const QString &path, TFileTags &tags, QString *error)
{
    silenceTagLib();
    tags = TFileTags();
    if (!QFileInfo(path).isFile()) {
        fail(error, path, QFileInfo::exists(path) ? notTaggable() : QStringLiteral("no such file"));
        return false;
    }
    tags.Format = TagFormatOf(path);
    if (tags.Format == TTagFormat::None) {
        fail(error, path, notTaggable());
        return false;
    }
    if (!readTags(QFile::encodeName(path), tags.Format, tags)) {
        fail(error, path, QStringLiteral("its %1 data cannot be read").arg(TagFormatName(tags.Format)));
        return false;
    }
    return true;
}

bool EditFileTags(const QString &path, const TTagEdit &edit, QString *error)
{
    return change(path, &edit, error);
}

bool RemoveFileTags(const QString &path, QString *error)
{
    return change(path, nullptr, error);
}
