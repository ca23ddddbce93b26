// SPDX-License-Identifier: GPL-3.0-or-later
#include "filetags.h"

#include "id3frames.h"
#include "id3tag.h"
#include "shell/genres.h"
#include "shell/helpers.h"
#include "tagfields.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <asffile.h>
#include <asftag.h>
#include <attachedpictureframe.h>
#include <cerrno>
#include <commentsframe.h>
#include <cstring>
#include <flacfile.h>
#include <functional>
#include <id3v1genres.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <infotag.h>
#include <memory>
#include <mpegfile.h>
#include <mutex>
#include <opusfile.h>
#include <tbytevectorstream.h>
#include <tdebuglistener.h>
#include <textidentificationframe.h>
#include <unistd.h>
#include <vorbisfile.h>
#include <wavfile.h>
#include <xiphcomment.h>

namespace {

// TagLib says what it skipped of a damaged tag on standard error; the program reads on without it.
class SilentListener final : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String &) override {}
};

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

// --- reading and writing whole files ---

// The fields of a file whose one tag is its tag() (Ogg Vorbis, Opus, ASF); false for a file TagLib cannot
// read.
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

// The file's ID3v2 tag with the frames TagLib would stop at taken out (id3frames.h); empty when it has none.
QByteArray repairedId3v2(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const int64_t bytes = Id3v2TagBytes(file.peek(10));
    if (bytes <= 10 || bytes > file.size())
        return QByteArray();
    int dropped = 0;
    const QByteArray repaired = WithoutUnreadableId3v2Frames(file.read(bytes), &dropped);
    return dropped > 0 ? repaired : QByteArray();
}

// Writes the repaired tag over the old one in the copy (the same size, so nothing else moves).
bool repairId3v2(const QString &original, const QString &copy)
{
    const QByteArray repaired = repairedId3v2(original);
    if (repaired.isEmpty())
        return true;
    QFile file(copy);
    return file.open(QIODevice::ReadWrite) && file.write(repaired) == repaired.size() && file.flush();
}

bool readMp3(const QByteArray &native, TFileTags &tags)
{
    // A tag with a frame TagLib cannot read is read from memory with that frame taken out.
    std::unique_ptr<TagLib::ByteVectorStream> stream;
    std::unique_ptr<TagLib::MPEG::File> opened;
    if (const QByteArray repaired = repairedId3v2(QFile::decodeName(native)); !repaired.isEmpty()) {
        QFile whole(QFile::decodeName(native));
        if (!whole.open(QIODevice::ReadOnly))
            return false;
        QByteArray bytes = whole.readAll();
        bytes.replace(0, repaired.size(), repaired);
        stream = std::make_unique<TagLib::ByteVectorStream>(
            TagLib::ByteVector(bytes.constData(), uint(bytes.size())));
        opened = std::make_unique<TagLib::MPEG::File>(stream.get(), TagLib::ID3v2::FrameFactory::instance(),
                                                      false);
    } else {
        opened = std::make_unique<TagLib::MPEG::File>(native.constData(), false);
    }
    TagLib::MPEG::File &file = *opened;
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

bool readTags(const QByteArray &native, TFileFormat format, TFileTags &tags)
{
    switch (format) {
    case TFileFormat::Mp3:
        return readMp3(native, tags);
    case TFileFormat::Flac: {
        TagLib::FLAC::File file(native.constData(), false);
        if (!file.isValid())
            return false;
        if (file.hasXiphComment())
            readXiph(*file.xiphComment(), tags);
        return true;
    }
    case TFileFormat::OggVorbis:
        return readOwnTag<TagLib::Ogg::Vorbis::File>(native, tags, readXiph);
    case TFileFormat::Opus:
        return readOwnTag<TagLib::Ogg::Opus::File>(native, tags, readXiph);
    case TFileFormat::Wav: {
        TagLib::RIFF::WAV::File file(native.constData(), false);
        if (!file.isValid())
            return false;
        if (file.hasID3v2Tag() && !file.ID3v2Tag()->isEmpty())
            readId3v2(*file.ID3v2Tag(), tags);
        else if (file.hasInfoTag() && !file.InfoTag()->isEmpty())
            readInfo(*file.InfoTag(), tags);
        return true;
    }
    case TFileFormat::Wma:
        return readOwnTag<TagLib::ASF::File>(native, tags, readAsf);
    case TFileFormat::None:
    case TFileFormat::Mp4:
        break;
    }
    return false;
}

// An Ogg Vorbis or Opus file: its Vorbis comments.
bool writeOgg(const QByteArray &native, bool isOpus, const TTagEdit *edit)
{
    std::unique_ptr<TagLib::Ogg::File> file;
    TagLib::Ogg::XiphComment *x = nullptr;
    if (isOpus) {
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

// A WAV file: its INFO list, and its "id3 " chunk when it has one.
bool writeWav(const QByteArray &native, const TTagEdit *edit, const TFileTags &before)
{
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

bool writeWma(const QByteArray &native, const TTagEdit *edit)
{
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
        for (const char *name : {"WM/AlbumTitle", "WM/AlbumArtist", "WM/Year", "WM/Genre", "WM/TrackNumber",
                                 "TotalTracks", "TotalDiscs"})
            tag.removeItem(name);
        // Some writers (FFmpeg) keep the title, artist and comment as extended attributes of their own
        // names too, which readers then show: those go as well.
        std::vector<TagLib::String> own;
        for (const auto &[key, values] : tag.attributeListMap()) {
            const QString name = QString::fromUtf8(key.toCString(true)).toLower();
            if (name == u"title" || name == u"author" || name == u"artist" || name == u"description" ||
                name == u"comment" || name == u"album")
                own.push_back(key);
        }
        for (const TagLib::String &key : own)
            tag.removeItem(key);
    }
    return file.save();
}

// Applies the edit (or removes every tag) to the file at `native`, a copy the caller owns.
bool writeTags(const QByteArray &native, TFileFormat format, const TTagEdit *edit, const TFileTags &before)
{
    switch (format) {
    case TFileFormat::Mp3: {
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
    case TFileFormat::Flac: {
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
    case TFileFormat::OggVorbis:
    case TFileFormat::Opus:
        return writeOgg(native, format == TFileFormat::Opus, edit);
    case TFileFormat::Wav:
        return writeWav(native, edit, before);
    case TFileFormat::Wma:
        return writeWma(native, edit);
    case TFileFormat::None:
    case TFileFormat::Mp4:
        break;
    }
    return false;
}

// An MP3 cut short ends inside its last frame: a version 1 tag put after it would sit in that frame's data
// (decoders read it as audio, a click, and complain). The copy loses the cut frame, which no decoder can play
// anyway: the audio then ends on its last whole frame. False when the copy cannot be changed.
bool trimCutFrame(const QString &copy)
{
    QFile file(copy);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray bytes = file.readAll();
    const auto *b = reinterpret_cast<const uint8_t *>(bytes.constData());
    int64_t at = Id3v2TagBytes(bytes.left(10));
    const int64_t size = bytes.size();
    if (size >= 128 && bytes.mid(size - 128, 3) == "TAG")
        return true; // a version 1 tag ends the file already
    int64_t lastWhole = -1;
    while (at + 4 <= size) {
        const int frame = MpegFrameBytes(b + at);
        if (frame <= 0)
            return true; // something else follows the frames (another tag): left as it is
        if (at + frame > size)
            break;
        at += frame;
        lastWhole = at;
    }
    if (lastWhole < 0 || lastWhole == size || at + 4 > size)
        return true;
    return file.resize(lastWhole);
}

// The ID3 version 1 tag of an MP3 file, as the Part's writer keeps it: what fits of the edit, on the copy.
bool editId3v1(const QString &original, const QString &copy, const TTagEdit *edit, const TFileTags &before)
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
    if (read == Tid3tag::NoTag && !trimCutFrame(copy))
        return false;
    if (read == Tid3tag::NoTag && before.HasTag()) {
        // A new version 1 tag carries every field the file shows, not only those changed.
        tag.SetTitle(before.Title);
        tag.SetArtist(before.Artist);
        tag.SetAlbum(before.Album);
        tag.SetYear(before.Year.left(4));
        tag.SetComment(before.Comment);
        tag.SetTrack(uint8_t(std::clamp(before.Track, 0, 255)));
        if (!edit->Genre && !before.Genre.isEmpty()) {
            const int position = GenreIndex(before.Genre);
            tag.Genre = position >= 0 ? Tid3tag::GenreToId3(uint8_t(position + 1)) : uint8_t(255);
        }
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
                    : position >= 0              ? Tid3tag::GenreToId3(uint8_t(position + 1))
                                                 : uint8_t(255);
    }
    return tag.WriteTag(copy) < 256;
}

// The checks before any write: a file some format claims, whose ID3v2 tag is no larger than the file.
TFileFormat writableFormat(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, path, file.errorString());
        return TFileFormat::None;
    }
    const int64_t claimed = Id3v2TagBytes(file.read(10));
    if (claimed > file.size()) {
        fail(error, path,
             QStringLiteral("its ID3v2 tag claims %1 bytes, more than the file's %2; nothing was written")
                 .arg(claimed)
                 .arg(file.size()));
        return TFileFormat::None;
    }
    const TFileFormat format = TagFormatOf(path);
    if (format == TFileFormat::None)
        fail(error, path, notTaggable());
    return format;
}

bool change(const QString &path, const TTagEdit *edit, QString *error)
{
    SilenceTagLib();
    const TFileFormat format = writableFormat(path, error);
    if (format == TFileFormat::None)
        return false;
    TFileTags before;
    readTags(QFile::encodeName(path), format, before);
    return OnWorkingCopy(
        path,
        [&](const QString &working) {
            if (format == TFileFormat::Mp3 &&
                (!repairId3v2(path, working) || !editId3v1(path, working, edit, before)))
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
    const uint32_t size = uint32_t(b[6] & 0x7F) << 21 | uint32_t(b[7] & 0x7F) << 14 |
                          uint32_t(b[8] & 0x7F) << 7 | uint32_t(b[9] & 0x7F);
    return 10 + int64_t(size) + ((b[5] & 0x10) ? 10 : 0);
}

bool TTagEdit::Empty() const
{
    return !Title && !Artist && !AlbumArtist && !Album && !Year && !Genre && !Comment && !Track &&
           !TrackTotal && !Cover && !Isrc && !Barcode && !Deemphasis;
}

TFileFormat TagFormatOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return TFileFormat::None;
    QByteArray head = file.read(4096);
    const int64_t id3 = Id3v2TagBytes(head);
    if (id3 > 0) {
        // An ID3v2 tag in front: FLAC files may carry one too.
        if (!file.seek(id3))
            return TFileFormat::None;
        head = file.read(4096);
        if (head.startsWith("fLaC"))
            return TFileFormat::Flac;
        return head.size() >= 4 && MpegFrameBytes(reinterpret_cast<const uint8_t *>(head.constData())) > 0
                   ? TFileFormat::Mp3
                   : TFileFormat::None;
    }
    if (head.startsWith("fLaC"))
        return TFileFormat::Flac;
    if (head.startsWith("OggS")) {
        if (head.contains("\x01vorbis"))
            return TFileFormat::OggVorbis;
        if (head.contains("OpusHead"))
            return TFileFormat::Opus;
        return TFileFormat::None;
    }
    if ((head.startsWith("RIFF") || head.startsWith("RF64")) && head.mid(8, 4) == "WAVE")
        return TFileFormat::Wav;
    if (head.startsWith(QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c")))
        return TFileFormat::Wma;
    if (head.size() >= 4 && MpegFrameBytes(reinterpret_cast<const uint8_t *>(head.constData())) > 0)
        return TFileFormat::Mp3;
    return TFileFormat::None;
}

bool HoldsVorbisComments(TFileFormat format)
{
    return format == TFileFormat::Flac || format == TFileFormat::OggVorbis || format == TFileFormat::Opus;
}

QString TagFormatName(TFileFormat format)
{
    switch (format) {
    case TFileFormat::Mp3:
        return QStringLiteral("MP3");
    case TFileFormat::Flac:
        return QStringLiteral("FLAC");
    case TFileFormat::OggVorbis:
        return QStringLiteral("Ogg Vorbis");
    case TFileFormat::Opus:
        return QStringLiteral("Opus");
    case TFileFormat::Wav:
        return QStringLiteral("WAV");
    case TFileFormat::Wma:
        return QStringLiteral("WMA");
    case TFileFormat::None:
    case TFileFormat::Mp4:
        break;
    }
    return QString();
}

bool ReadFileTags(const QString &path, TFileTags &tags, QString *error)
{
    SilenceTagLib();
    tags = TFileTags();
    if (const QString reason = UnreadableReason(path); !reason.isEmpty()) {
        fail(error, path, reason);
        return false;
    }
    tags.Format = TagFormatOf(path);
    if (tags.Format == TFileFormat::None) {
        fail(error, path, QStringLiteral("not a file whose tags can be read"));
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

void SilenceTagLib()
{
    static SilentListener listener;
    static std::once_flag once;
    std::call_once(once, [] { TagLib::setDebugListener(&listener); });
}

bool OnWorkingCopy(const QString &path, const std::function<bool(const QString &)> &change, QString *error)
{
    // The file is found once: a link is followed here, and the edit replaces only the file found then (a
    // link swapped in meanwhile must not make the copy land on whatever it points at).
    const QFileInfo info(path);
    const QString real = info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
    const TFileIdentity identity = RegularFileIdentity(real);
    if (!identity.Valid()) {
        fail(error, path,
             QFileInfo::exists(real) ? notTaggable() : QString::fromLocal8Bit(std::strerror(ENOENT)));
        return false;
    }
    const QString working = WorkingFileOf(real);
    const auto discard = [&](const QString &reason) {
        if (!reason.isEmpty())
            fail(error, path, reason);
        DiscardWorkingFile(working, real);
        return false;
    };
    // Copied into the working file as made (truncated, never removed: the claim is held on it).
    if (!CopyFileBytes(real, working, error))
        return discard(QString());
    if (!change(working)) {
        if (error && error->isEmpty())
            fail(error, path, QStringLiteral("the tags could not be written"));
        return discard(QString());
    }
    {
        QFile written(working);
        if (!written.open(QIODevice::ReadWrite) || ::fsync(written.handle()) != 0)
            return discard(QString::fromLocal8Bit(std::strerror(errno)));
        // The file keeps its permissions (a read-only one stays read-only), owner and group.
        if (!TakeFileAttributes(written.handle(), real))
            return discard(QString::fromLocal8Bit(std::strerror(errno)));
    }
    return CommitWorkingFileOver(working, real, identity, error);
}
