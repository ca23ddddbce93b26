// SPDX-License-Identifier: GPL-3.0-or-later
#include "tagcopy.h"

#include "filetags.h"
#include "tagfields.h"

#include <QFile>
#include <asffile.h>
#include <asfpicture.h>
#include <attachedpictureframe.h>
#include <fileref.h>
#include <flacfile.h>
#include <flacpicture.h>
#include <id3v2tag.h>
#include <mp4coverart.h>
#include <mp4file.h>
#include <mp4tag.h>
#include <mpegfile.h>
#include <tpropertymap.h>
#include <wavfile.h>
#include <xiphcomment.h>

namespace {

struct TPicture {
    TagLib::ByteVector Data;
    TagLib::String Mime;
    bool Empty() const { return Data.isEmpty(); }
};

TPicture fromId3(TagLib::ID3v2::Tag *tag)
{
    if (!tag)
        return {};
    TPicture first;
    for (TagLib::ID3v2::Frame *frame : tag->frameList("APIC")) {
        auto *apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frame);
        if (!apic)
            continue;
        TPicture p{apic->picture(), apic->mimeType()};
        if (apic->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover)
            return p;
        if (first.Empty())
            first = p;
    }
    return first;
}

TPicture fromFlacList(const TagLib::List<TagLib::FLAC::Picture *> &pictures)
{
    TPicture first;
    for (const TagLib::FLAC::Picture *picture : pictures) {
        TPicture p{picture->data(), picture->mimeType()};
        if (picture->type() == TagLib::FLAC::Picture::FrontCover)
            return p;
        if (first.Empty())
            first = p;
    }
    return first;
}

TPicture frontCover(TagLib::File *file)
{
    if (auto *mp3 = dynamic_cast<TagLib::MPEG::File *>(file))
        return fromId3(mp3->hasID3v2Tag() ? mp3->ID3v2Tag() : nullptr);
    if (auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(file))
        return fromId3(wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr);
    if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(file))
        return fromFlacList(flac->pictureList());
    if (auto *xiph = dynamic_cast<TagLib::Ogg::XiphComment *>(file->tag())) // every Ogg codec's comments
        return fromFlacList(xiph->pictureList());
    if (auto *asf = dynamic_cast<TagLib::ASF::File *>(file)) {
        if (asf->tag() && asf->tag()->contains("WM/Picture")) {
            const TagLib::ASF::Picture picture = asf->tag()->attribute("WM/Picture").front().toPicture();
            return {picture.picture(), picture.mimeType()};
        }
        return {};
    }
    if (auto *mp4 = dynamic_cast<TagLib::MP4::File *>(file)) {
        if (mp4->tag() && mp4->tag()->contains("covr")) {
            const TagLib::MP4::CoverArtList covers = mp4->tag()->item("covr").toCoverArtList();
            if (!covers.isEmpty()) {
                const TagLib::MP4::CoverArt &art = covers.front();
                return {art.data(), art.format() == TagLib::MP4::CoverArt::PNG ? "image/png" : "image/jpeg"};
            }
        }
    }
    return {};
}

void setId3Cover(TagLib::ID3v2::Tag *tag, const TPicture &cover)
{
    tag->removeFrames("APIC");
    auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
    frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    frame->setMimeType(cover.Mime);
    frame->setPicture(cover.Data);
    tag->addFrame(frame);
}

TagLib::FLAC::Picture *flacPicture(const TPicture &cover)
{
    auto *picture = new TagLib::FLAC::Picture;
    picture->setType(TagLib::FLAC::Picture::FrontCover);
    picture->setMimeType(cover.Mime);
    picture->setData(cover.Data);
    return picture;
}

void setCover(TagLib::File *file, const TPicture &cover)
{
    if (auto *mp3 = dynamic_cast<TagLib::MPEG::File *>(file)) {
        setId3Cover(mp3->ID3v2Tag(true), cover);
    } else if (auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(file)) {
        setId3Cover(wav->ID3v2Tag(), cover);
    } else if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(file)) {
        flac->removePictures();
        flac->addPicture(flacPicture(cover));
    } else if (auto *xiph = dynamic_cast<TagLib::Ogg::XiphComment *>(file->tag())) {
        xiph->removeAllPictures();
        xiph->addPicture(flacPicture(cover));
    } else if (auto *asf = dynamic_cast<TagLib::ASF::File *>(file)) {
        TagLib::ASF::Picture picture;
        picture.setType(TagLib::ASF::Picture::FrontCover);
        picture.setMimeType(cover.Mime);
        picture.setPicture(cover.Data);
        asf->tag()->setAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
    }
}

QString firstValue(const TagLib::PropertyMap &fields, const char *key)
{
    const auto it = fields.find(key);
    return it == fields.end() || it->second.isEmpty() ? QString() : qText(it->second.front());
}

// A number with its total (track or disc), however the source kept them (ID3's "3/12", Vorbis' TRACKNUMBER
// with TRACKTOTAL or TOTALTRACKS, a TXXX frame of the total), written the target's own way: ID3 "3/12",
// Vorbis comments TRACKNUMBER=3 and TRACKTOTAL=12, ASF the number alone (its total set apart).
QString placeNumber(TagLib::PropertyMap &fields, TFileFormat target, const char *number, const char *total,
                    const char *totalAlias)
{
    QString n = firstValue(fields, number);
    QString t = firstValue(fields, total);
    if (t.isEmpty())
        t = firstValue(fields, totalAlias);
    if (n.contains(QLatin1Char('/'))) {
        if (t.isEmpty())
            t = n.section(QLatin1Char('/'), 1).trimmed();
        n = n.section(QLatin1Char('/'), 0, 0).trimmed();
    }
    for (const char *key : {number, total, totalAlias})
        fields.erase(key);
    const bool vorbis = HoldsVorbisComments(target);
    if (!n.isEmpty())
        fields.replace(
            number, TagLib::StringList(
                        tagText(!vorbis && target != TFileFormat::Wma && !t.isEmpty() ? n + u'/' + t : n)));
    if (vorbis && !t.isEmpty())
        fields.replace(total, TagLib::StringList(tagText(t)));
    return t;
}

// A change made on a working copy of `to`, or, for a file not yet under its name, on the file itself (a
// failure then leaves it to its writer to discard).
bool changeFile(const QString &to, const QString &named, bool inPlace,
                const std::function<bool(const QString &)> &change, QString *error)
{
    if (!inPlace)
        return OnWorkingCopy(to, change, error);
    if (change(to))
        return true;
    if (error && error->isEmpty())
        *error = named + QStringLiteral(": the tags could not be written");
    return false;
}

bool copyTags(const QString &from, const QString &to, const QString &named, bool inPlace, QString *error,
              QString *warning)
{
    SilenceTagLib();
    TagLib::PropertyMap fields;
    TPicture cover;
    {
        const TagLib::FileRef source(QFile::encodeName(from).constData(), false);
        if (source.isNull() || !source.file()->isValid()) {
            if (error)
                *error = from + QStringLiteral(": not a file whose tags can be read");
            return false;
        }
        fields = source.file()->properties();
        cover = frontCover(source.file());
    }
    // What the source's encoder said of itself is no longer true of the copy, and loudness values belong to
    // the file measured: a lossy copy plays at its own loudness (and some formats keep only R128 gains), so
    // each format's gains are measured on it or not written at all.
    for (const char *own : {"ENCODER", "ENCODING", "ENCODERSETTINGS", "REPLAYGAIN_TRACK_GAIN",
                            "REPLAYGAIN_TRACK_PEAK", "REPLAYGAIN_ALBUM_GAIN", "REPLAYGAIN_ALBUM_PEAK",
                            "REPLAYGAIN_REFERENCE_LOUDNESS", "R128_TRACK_GAIN", "R128_ALBUM_GAIN"})
        fields.erase(own);
    fields.removeEmpty();
    const TFileFormat format = TagFormatOf(to);
    // A FLAC metadata block's length has 24 bits: a larger picture would make the file unreadable.
    if (format == TFileFormat::Flac && qsizetype(cover.Data.size()) > FlacPictureLimit) {
        if (warning)
            *warning = named + QStringLiteral(
                                   ": the cover of %1 (%2 bytes) is larger than a FLAC file holds; left out")
                                   .arg(from)
                                   .arg(cover.Data.size());
        cover = TPicture();
    }
    const QString tracks = placeNumber(fields, format, "TRACKNUMBER", "TRACKTOTAL", "TOTALTRACKS");
    const QString discs = placeNumber(fields, format, "DISCNUMBER", "DISCTOTAL", "TOTALDISCS");
    if (fields.isEmpty() && cover.Empty())
        return true;
    return changeFile(
        to, named, inPlace,
        [&](const QString &working) {
            TagLib::FileRef target(QFile::encodeName(working).constData(), false);
            if (target.isNull() || !target.file()->isValid())
                return false;
            target.file()->setProperties(fields);
            if (!cover.Empty())
                setCover(target.file(), cover);
            // ASF keeps the totals in attributes of their own, as Windows Media Player's tag editors do.
            if (auto *asf = dynamic_cast<TagLib::ASF::File *>(target.file())) {
                if (!tracks.isEmpty())
                    asf->tag()->setAttribute("TotalTracks", TagLib::ASF::Attribute(tagText(tracks)));
                if (!discs.isEmpty())
                    asf->tag()->setAttribute("TotalDiscs", TagLib::ASF::Attribute(tagText(discs)));
            }
            return target.save();
        },
        error);
}

bool setFields(const QString &path, const QString &named, bool inPlace,
               const QList<QPair<QString, QString>> &fields, QString *error)
{
    SilenceTagLib();
    return changeFile(
        path, named, inPlace,
        [&](const QString &working) {
            TagLib::FileRef file(QFile::encodeName(working).constData(), false);
            if (file.isNull() || !file.file()->isValid())
                return false;
            TagLib::PropertyMap properties = file.file()->properties();
            for (const auto &[name, value] : fields)
                properties.replace(tagText(name), TagLib::StringList(tagText(value)));
            file.file()->setProperties(properties);
            return file.save();
        },
        error);
}

} // namespace

bool CopyFileTags(const QString &from, const QString &to, QString *error, QString *warning)
{
    return copyTags(from, to, to, false, error, warning);
}

bool CopyFileTagsInto(const QString &from, const QString &file, const QString &named, QString *error,
                      QString *warning)
{
    return copyTags(from, file, named, true, error, warning);
}

bool SetFileTagFields(const QString &path, const QList<QPair<QString, QString>> &fields, QString *error)
{
    return setFields(path, path, false, fields, error);
}

bool SetFileTagFieldsIn(const QString &file, const QString &named,
                        const QList<QPair<QString, QString>> &fields, QString *error)
{
    return setFields(file, named, true, fields, error);
}

QStringList FileTagFieldNames(const QString &path)
{
    SilenceTagLib();
    QStringList names;
    const TagLib::FileRef file(QFile::encodeName(path).constData(), false);
    if (file.isNull() || !file.file()->isValid())
        return names;
    const TagLib::PropertyMap properties = file.file()->properties();
    for (const auto &property : properties)
        names << qText(property.first).toUpper();
    return names;
}
