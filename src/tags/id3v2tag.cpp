#include "id3v2tag.h"

#include "shell/helpers.h"

#include <QFile>
#include <attachedpictureframe.h>
#include <commentsframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>

namespace {

TagLib::String tagText(const QString &text)
{
    return TagLib::String(text.toUtf8().constData(), TagLib::String::UTF8);
}

QString qText(const TagLib::String &text)
{
    return QString::fromUtf8(text.toCString(true));
}

// Runs a change on a copy of the file under its working name, which then replaces the file.
template <typename Change> bool changeCopy(const QString &path, Change change, QString *error)
{
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = path + QStringLiteral(": ") + reason;
        return false;
    };
    const QString working = WorkingFileOf(path);
    if (working == path)
        return fail(QStringLiteral("not a file"));
    QFile::remove(working);
    QFile source(path);
    if (!source.copy(working))
        return fail(source.errorString());
    bool changed = false;
    {
        TagLib::MPEG::File file(QFile::encodeName(working).constData(), false);
        if (!file.isValid()) {
            QFile::remove(working);
            return fail(QStringLiteral("not an MP3 file"));
        }
        changed = change(file);
    }
    if (!changed) {
        QFile::remove(working);
        return fail(QStringLiteral("the tag could not be written"));
    }
    return CommitWorkingFile(working, path, error);
}

void setText(TagLib::ID3v2::Tag &tag, const char *id, const QString &value)
{
    tag.removeFrames(id);
    if (value.isEmpty())
        return;
    auto *frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
    frame->setText(tagText(value));
    tag.addFrame(frame);
}

QString frameText(const TagLib::ID3v2::Tag &tag, const char *id)
{
    const TagLib::ID3v2::FrameList &frames = tag.frameList(id);
    return frames.isEmpty() ? QString() : qText(frames.front()->toString());
}

} // namespace

bool WriteId3v2Tag(const QString &path, const TTrackTags &tags, QString *error)
{
    return changeCopy(
        path,
        [&tags](TagLib::MPEG::File &file) {
            TagLib::ID3v2::Tag &tag = *file.ID3v2Tag(true);
            setText(tag, "TIT2", tags.Title);
            setText(tag, "TPE1", tags.Artist);
            setText(tag, "TPE2", tags.AlbumArtist);
            setText(tag, "TALB", tags.Album);
            setText(tag, "TDRC", tags.Year);
            setText(tag, "TCON", tags.Genre);
            setText(tag, "TRCK",
                    tags.Track <= 0       ? QString()
                    : tags.TrackTotal > 0 ? QStringLiteral("%1/%2").arg(tags.Track).arg(tags.TrackTotal)
                                          : QString::number(tags.Track));
            tag.removeFrames("COMM");
            if (!tags.Comment.isEmpty()) {
                auto *comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
                comment->setLanguage("eng");
                comment->setText(tagText(tags.Comment));
                tag.addFrame(comment);
            }
            tag.removeFrames("APIC");
            if (!tags.Cover.isEmpty()) {
                auto *picture = new TagLib::ID3v2::AttachedPictureFrame;
                picture->setMimeType("image/jpeg");
                picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
                picture->setPicture(TagLib::ByteVector(tags.Cover.constData(), uint(tags.Cover.size())));
                tag.addFrame(picture);
            }
            return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4,
                             TagLib::File::DoNotDuplicate);
        },
        error);
}

bool ReadId3v2Tag(const QString &path, TTrackTags &tags)
{
    TagLib::MPEG::File file(QFile::encodeName(path).constData(), false);
    if (!file.isValid() || !file.hasID3v2Tag())
        return false;
    const TagLib::ID3v2::Tag &tag = *file.ID3v2Tag();
    tags = TTrackTags();
    tags.Title = frameText(tag, "TIT2");
    tags.Artist = frameText(tag, "TPE1");
    tags.AlbumArtist = frameText(tag, "TPE2");
    tags.Album = frameText(tag, "TALB");
    tags.Year = frameText(tag, "TDRC");
    tags.Genre = frameText(tag, "TCON");
    const QString track = frameText(tag, "TRCK");
    tags.Track = track.section(QLatin1Char('/'), 0, 0).toInt();
    tags.TrackTotal = track.section(QLatin1Char('/'), 1, 1).toInt();
    const TagLib::ID3v2::FrameList &comments = tag.frameList("COMM");
    if (!comments.isEmpty())
        tags.Comment = qText(comments.front()->toString());
    return true;
}

bool RemoveId3v2Tag(const QString &path, QString *error)
{
    {
        TagLib::MPEG::File file(QFile::encodeName(path).constData(), false);
        if (file.isValid() && !file.hasID3v2Tag())
            return true;
    }
    return changeCopy(
        path, [](TagLib::MPEG::File &file) { return file.strip(TagLib::MPEG::File::ID3v2); }, error);
}
