// SPDX-License-Identifier: GPL-3.0-or-later
// Tag edits on files other programs made and tagged, judged by the field's own readers (mutagen, ffprobe)
// and decoders (flac, ogginfo, opusinfo, sox): the file still plays, the new title is read back, and every
// other field, comment and picture is as it was.
#include "clirun.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool run(const QString &program, const QStringList &arguments)
{
    QByteArray output;
    const bool ok = RunProgram(program, arguments, &output, 60000) == 0;
    if (!ok)
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(' ').toStdString() << ": "
                      << output.toStdString();
    return ok;
}

struct TaggedFile {
    const char *name;
    const char *titleKey; // the judge's key of the title
    // Makes the file from `wav` (2 s of sound) and `cover` (a JPEG) in `dir`; its path.
    std::function<QString(const QString &dir, const QString &wav, const QString &cover)> make;
    // A decoder that fails on a damaged file; FILE stands for the file.
    QStringList decode;
};

void PrintTo(const TaggedFile &file, std::ostream *os)
{
    *os << file.name;
}

class TagsOfOtherPrograms : public DiscImageTest, public ::testing::WithParamInterface<TaggedFile> {};

TEST_P(TagsOfOtherPrograms, ATitleEditKeepsEverythingElse)
{
    const TaggedFile &c = GetParam();
    const QString wav = home.root() + "/sound.wav";
    const QString cover = home.root() + "/cover.jpg";
    ASSERT_TRUE(run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "2", "sine", "440"}));
    ASSERT_TRUE(run("ffmpeg",
                    {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=32x32", "-frames:v", "1", cover}));
    const QString file = c.make(home.root(), wav, cover);
    ASSERT_FALSE(file.isEmpty());
    QJsonObject before = JudgedTags(file);
    ASSERT_FALSE(before.contains("error")) << before.value("error").toString().toStdString();

    // Its permissions stay as they were: read-only stays read-only where we may write it at all (root).
    const mode_t mode = ::geteuid() == 0 ? 0444 : 0604;
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), mode), 0);

    const QString title = QString::fromUtf8("Новое имя — 新しい名前");
    const CliRun set = runCli({"tag", "set", file, "--title", title});
    ASSERT_EQ(set.code, 0) << set.err.toStdString();
    struct stat edited {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &edited), 0);
    EXPECT_EQ(edited.st_mode & 07777, mode);
    QStringList decode = c.decode.mid(1);
    decode.replaceInStrings(QRegularExpression("^FILE$"), file);
    ASSERT_TRUE(run(c.decode.first(), decode)) << "the file no longer decodes";

    QJsonObject after = JudgedTags(file);
    QJsonObject tagsBefore = before.value("tags").toObject();
    QJsonObject tagsAfter = after.value("tags").toObject();
    EXPECT_EQ(tagsAfter.value(c.titleKey).toArray().at(0).toString(), title)
        << QJsonDocument(after).toJson().toStdString();
    tagsBefore.remove(c.titleKey);
    tagsAfter.remove(c.titleKey);
    EXPECT_EQ(tagsAfter, tagsBefore) << QJsonDocument(before).toJson().toStdString() << "\n---\n"
                                     << QJsonDocument(after).toJson().toStdString();
    EXPECT_EQ(after.value("pictures"), before.value("pictures"));
    // What our own reader says agrees.
    const CliRun show = runCli({"tag", "show", file});
    EXPECT_TRUE(show.out.contains("title: " + title + "\n")) << show.out.toStdString();
}

QString lameMp3(const QString &dir, const QString &wav, const QStringList &options)
{
    const QString mp3 = dir + "/in.mp3";
    return run("lame", QStringList{"--quiet"} + options + QStringList{wav, mp3}) ? mp3 : QString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, TagsOfOtherPrograms,
    ::testing::Values(
        TaggedFile{"LameWithCoverArt",
                   "TIT2",
                   [](const QString &dir, const QString &wav, const QString &cover) {
                       return lameMp3(dir, wav,
                                      {"--ti", cover, "--tt", "Old", "--ta", "Artist", "--tl", "Album",
                                       "--ty", "2010", "--tc", "mine", "--tg", "Rock"});
                   },
                   {"ffmpeg", "-v", "error", "-xerror", "-i", "FILE", "-f", "null", "-"}},
        TaggedFile{"Eyed3LyricsTxxxTwoCommentsAndAFullDate",
                   "TIT2",
                   [](const QString &dir, const QString &wav, const QString &cover) {
                       const QString mp3 = lameMp3(dir, wav, {});
                       WriteFileText(dir + "/lyrics.txt", "la la la\n");
                       return run("eyeD3",
                                  {"--quiet", "--to-v2.3", "--title", "Old", "--artist", "Artist",
                                   "--recording-date", "2010-04-03", "--comment", "mine", "--add-comment",
                                   "0000 0001:iTunNORM", "--add-lyrics", dir + "/lyrics.txt",
                                   "--user-text-frame", "MusicBrainz Album Id:6f1e2d3c", "--add-image",
                                   cover + ":FRONT_COVER", mp3})
                                  ? mp3
                                  : QString();
                   },
                   {"ffmpeg", "-v", "error", "-xerror", "-i", "FILE", "-f", "null", "-"}},
        TaggedFile{"Kid3TaggedMp3",
                   "TIT2",
                   [](const QString &dir, const QString &wav, const QString &) {
                       const QString mp3 = lameMp3(dir, wav, {});
                       return run("kid3-cli", {"-c", "set title Old", "-c", "set artist 'One'", "-c",
                                               "set comment mine", "-c", "set album Album", "-c",
                                               "set 'REPLAYGAIN_TRACK_GAIN' '-3.10 dB'", mp3})
                                  ? mp3
                                  : QString();
                   },
                   {"ffmpeg", "-v", "error", "-xerror", "-i", "FILE", "-f", "null", "-"}},
        TaggedFile{"FlacWithAPicture",
                   "title",
                   [](const QString &dir, const QString &wav, const QString &cover) {
                       const QString flac = dir + "/in.flac";
                       return run("flac", {"-s", "-f", "-T", "TITLE=Old", "-T", "ARTIST=Artist", "-T",
                                           "REPLAYGAIN_TRACK_GAIN=-3.10 dB", "-T", "ARTIST=Second",
                                           "--picture", cover, "-o", flac, wav})
                                  ? flac
                                  : QString();
                   },
                   {"flac", "-t", "-s", "FILE"}},
        TaggedFile{"OggencComments",
                   "title",
                   [](const QString &dir, const QString &wav, const QString &) {
                       const QString ogg = dir + "/in.ogg";
                       return run("oggenc", {"-Q", "-t", "Old", "-a", "Artist", "-c", "COMMENT=mine", "-c",
                                             "MUSICBRAINZ_TRACKID=abc", "-o", ogg, wav})
                                  ? ogg
                                  : QString();
                   },
                   {"ogginfo", "-q", "FILE"}},
        TaggedFile{"OpusencComments",
                   "title",
                   [](const QString &dir, const QString &wav, const QString &cover) {
                       const QString opus = dir + "/in.opus";
                       return run("opusenc", {"--quiet", "--title", "Old", "--artist", "Artist", "--comment",
                                              "COMMENT=mine", "--picture", cover, wav, opus})
                                  ? opus
                                  : QString();
                   },
                   {"opusinfo", "-q", "FILE"}},
        TaggedFile{"WavWithAnInfoList",
                   "title",
                   [](const QString &dir, const QString &wav, const QString &) {
                       const QString tagged = dir + "/in.wav";
                       return run("ffmpeg",
                                  {"-v", "error", "-y", "-i", wav, "-metadata", "title=Old", "-metadata",
                                   "artist=Artist", "-metadata", "comment=mine", tagged})
                                  ? tagged
                                  : QString();
                   },
                   {"sox", "-V1", "FILE", "-n", "stat"}},
        TaggedFile{"WmaByFfmpeg",
                   "title",
                   [](const QString &dir, const QString &wav, const QString &) {
                       const QString wma = dir + "/in.wma";
                       return run("ffmpeg",
                                  {"-v", "error", "-y", "-i", wav, "-c:a", "wmav2", "-metadata", "title=Old",
                                   "-metadata", "artist=Artist", "-metadata", "album=Album", wma})
                                  ? wma
                                  : QString();
                   },
                   {"ffmpeg", "-v", "error", "-xerror", "-i", "FILE", "-f", "null", "-"}}),
    [](const ::testing::TestParamInfo<TaggedFile> &param) { return std::string(param.param.name); });

// An ID3v2.4 tag built frame by frame, as other programs (and broken ones) leave them.
QByteArray synchsafe(uint32_t n)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((n >> (21 - 7 * i)) & 0x7F);
    return b;
}

QByteArray frame(const char *id, const QByteArray &data, uint16_t flags = 0)
{
    return QByteArray(id, 4) + synchsafe(uint32_t(data.size())) + char(flags >> 8) + char(flags & 0xFF) +
           data;
}

QByteArray textFrame(const char *id, const QByteArray &latin1)
{
    return frame(id, '\0' + latin1);
}

QByteArray id3v24(const QList<QByteArray> &frames)
{
    QByteArray body;
    for (const QByteArray &f : frames)
        body += f;
    return QByteArray("ID3\x04\x00\x00", 6) + synchsafe(uint32_t(body.size())) + body;
}

// An MP3 of lame's with the tag put in front of it; empty when it could not be made.
QString mp3WithTag(const QString &dir, const QByteArray &tag)
{
    const QString wav = dir + "/sound.wav", plain = dir + "/plain.mp3", mp3 = dir + "/odd.mp3";
    if (!run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}) ||
        !run("lame", {"--quiet", wav, plain}))
        return QString();
    QFile file(mp3);
    if (!file.open(QIODevice::WriteOnly) || file.write(tag + ReadFileBytes(plain)) < 0)
        return QString();
    return mp3;
}

struct OddTag {
    const char *name;
    QByteArray tag;
    const char *field; // in tag show --json
    QString expected;
};

void PrintTo(const OddTag &c, std::ostream *os)
{
    *os << c.name;
}

class TolerantReading : public DiscImageTest, public ::testing::WithParamInterface<OddTag> {};

// The readable fields of a tag with a damaged or odd frame are shown (what mutagen reads too), numeric
// genres by their names in the published ID3 list, a year from TYER, empty texts empty.
TEST_P(TolerantReading, TheReadableFieldsAreShown)
{
    const OddTag &c = GetParam();
    const QString mp3 = mp3WithTag(home.root(), c.tag);
    ASSERT_FALSE(mp3.isEmpty());
    const CliRun show = runCli({"tag", "show", mp3, "--json"});
    ASSERT_EQ(show.code, 0) << show.err.toStdString();
    const QJsonObject ours = QJsonDocument::fromJson(show.out.toUtf8()).object();
    EXPECT_EQ(ours.value(c.field).toString(), c.expected) << show.out.toStdString();
    // mutagen reads the same title past the damage, and the same genre name.
    const QString frameOf = QString(c.field) == "title" ? "TIT2" : QString(c.field) == "genre" ? "TCON" : "";
    if (!frameOf.isEmpty()) {
        const QJsonObject judge = JudgedTags(mp3);
        EXPECT_EQ(judge.value("tags").toObject().value(frameOf).toArray().at(0).toString(), c.expected)
            << QJsonDocument(judge).toJson().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tags, TolerantReading,
    ::testing::Values(
        OddTag{"DamagedPopularimeter",
               id3v24({textFrame("TIT2", "Title"), frame("POPM", "x"), textFrame("TALB", "Album")}), "title",
               "Title"},
        OddTag{"BadTextEncoding",
               id3v24({textFrame("TIT2", "Title"), frame("TENC", QByteArray("\x09junk", 5)),
                       textFrame("TALB", "Album")}),
               "album", "Album"},
        OddTag{"InvalidCompressedFrame",
               id3v24({textFrame("TIT2", "Title"),
                       frame("TPE1", QByteArray("\x00\x00\x00\x10garbage-not-zlib", 20), 0x0009),
                       textFrame("TALB", "Album")}),
               "title", "Title"},
        OddTag{"AnEmptyFrameFirst",
               id3v24({frame("POPM", ""), textFrame("TIT2", "Title"), textFrame("TALB", "Album")}), "title",
               "Title"},
        OddTag{"BareNumericGenre", id3v24({textFrame("TIT2", "T"), textFrame("TCON", "35")}), "genre",
               "House"},
        OddTag{"ParenthesisedGenre", id3v24({textFrame("TIT2", "T"), textFrame("TCON", "(17)")}), "genre",
               "Rock"},
        OddTag{"ParenthesisedGenreWithName", id3v24({textFrame("TIT2", "T"), textFrame("TCON", "(17)Rock")}),
               "genre", "Rock"},
        OddTag{"YearInATyerFrame", id3v24({textFrame("TIT2", "T"), textFrame("TYER", "1999")}), "year",
               "1999"},
        OddTag{"OnlyAByteOrderMark",
               id3v24({textFrame("TIT2", "T"), frame("TPE1", QByteArray("\x01\xFE\xFF", 3))}), "artist", ""},
        OddTag{"TheUsersCommentNotITunes",
               id3v24({textFrame("TIT2", "T"),
                       frame("COMM", QByteArray("\x00"
                                                "engiTunNORM\x00 0000 0001",
                                                23)),
                       frame("COMM", QByteArray("\x00"
                                                "eng\x00mine",
                                                9))}),
               "comment", "mine"}),
    [](const ::testing::TestParamInfo<OddTag> &param) { return std::string(param.param.name); });

// An ID3v2.2 tag (three-letter frames, sizes of three bytes).
QByteArray id3v22(const QList<std::pair<const char *, QByteArray>> &frames)
{
    QByteArray body;
    for (const auto &[id, text] : frames) {
        const QByteArray data = '\0' + text;
        body +=
            QByteArray(id, 3) + char(data.size() >> 16) + char(data.size() >> 8) + char(data.size()) + data;
    }
    return QByteArray("ID3\x02\x00\x00", 6) + synchsafe(uint32_t(body.size())) + body;
}

struct DamagedTag {
    const char *name;
    QByteArray tag;
    QString year; // what tag show and mutagen read as the date
};

void PrintTo(const DamagedTag &c, std::ostream *os)
{
    *os << c.name;
}

class EditsOfOddTags : public DiscImageTest, public ::testing::WithParamInterface<DamagedTag> {};

// A title edit keeps every frame mutagen reads in the old tag: past an empty or strangely named frame
// (where TagLib stops reading and a save wiped the rest), and the whole date of a version 2.2 tag. Several
// values of one field are all shown.
TEST_P(EditsOfOddTags, EveryOtherFrameStays)
{
    const DamagedTag &c = GetParam();
    const QString mp3 = mp3WithTag(home.root(), c.tag);
    ASSERT_FALSE(mp3.isEmpty());
    const QJsonObject before = JudgedTags(mp3).value("tags").toObject();
    ASSERT_TRUE(before.contains("TPE1")) << QJsonDocument(before).toJson().toStdString();
    EXPECT_EQ(before.value("TDRC").toArray().at(0).toString(), c.year);
    const QJsonObject shown =
        QJsonDocument::fromJson(runCli({"tag", "show", mp3, "--json"}).out.toUtf8()).object();
    EXPECT_EQ(shown.value("year").toString(), c.year);
    EXPECT_EQ(shown.value("artist").toVariant().toStringList(),
              before.value("TPE1").toVariant().toStringList());

    const CliRun set = runCli({"tag", "set", mp3, "--title", "New"});
    ASSERT_EQ(set.code, 0) << set.err.toStdString();
    QJsonObject after = JudgedTags(mp3).value("tags").toObject();
    EXPECT_EQ(after.value("TIT2").toArray().at(0).toString(), "New");
    QJsonObject old = before;
    old.remove("TIT2");
    after.remove("TIT2");
    EXPECT_EQ(after, old) << QJsonDocument(old).toJson().toStdString() << "\n---\n"
                          << QJsonDocument(after).toJson().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Tags, EditsOfOddTags,
    ::testing::Values(
        DamagedTag{"AnEmptyPopularimeterFirst",
                   id3v24({frame("POPM", ""), textFrame("TIT2", "Old"), textFrame("TPE1", "Artist"),
                           textFrame("TALB", "Album"), textFrame("TRCK", "3/12"), textFrame("TDRC", "2001"),
                           textFrame("TCOM", "Composer"), frame("COMM", QByteArray("\x00eng\x00mine", 9))}),
                   "2001"},
        DamagedTag{"AFrameOfStrangeName",
                   id3v24({textFrame("TIT2", "Old"), frame("T?T3", QByteArray("\x00x", 2)),
                           textFrame("TPE1", "Artist"), textFrame("TALB", "Album")}),
                   ""},
        DamagedTag{"Version22Date",
                   id3v22({{"TT2", "Old"}, {"TP1", "Artist"}, {"TYE", "2010"}, {"TDA", "0304"}}),
                   "2010-04-03"},
        DamagedTag{"SeveralArtists",
                   id3v24({textFrame("TIT2", "Old"), textFrame("TPE1", QByteArray("piman\0jzig", 10)),
                           textFrame("TDRC", "2004")}),
                   "2004"}),
    [](const ::testing::TestParamInfo<DamagedTag> &param) { return std::string(param.param.name); });

// A version 1 tag written into an MP3 that had none carries every field the file shows, not only the one
// changed (mutagen reads it).
TEST_F(TagsOfOtherPrograms, ANewVersion1TagHoldsEveryField)
{
    const QString wav = home.root() + "/sound.wav", mp3 = home.root() + "/v2only.mp3";
    ASSERT_TRUE(run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}));
    ASSERT_TRUE(run("lame", {"--quiet", "--id3v2-only", "--tt", "Old", "--ta", "Artist", "--tl", "Album",
                             "--ty", "2010", "--tc", "mine", "--tg", "Rock", "--tn", "3", wav, mp3}));
    const CliRun set = runCli({"tag", "set", mp3, "--title", "New"});
    ASSERT_EQ(set.code, 0) << set.err.toStdString();
    QByteArray output;
    ASSERT_EQ(RunProgram("/usr/bin/python3", {SONDREL_SOURCE_DIR "/tests/judges/tag_judge.py", "--v1", mp3},
                         &output),
              0);
    const QJsonObject v1 = QJsonDocument::fromJson(output).object().value("tags").toObject();
    const std::map<QString, QString> expected = {{"TIT2", "New"},  {"TPE1", "Artist"}, {"TALB", "Album"},
                                                 {"TDRC", "2010"}, {"COMM", "mine"},   {"TRCK", "3"},
                                                 {"TCON", "Rock"}};
    for (const auto &[key, value] : expected)
        EXPECT_EQ(v1.value(key).toArray().at(0).toString(), value)
            << key.toStdString() << " in " << output.toStdString();
}

// Every value of a field is shown, as mutagen reads them: a FLAC file with two ARTIST comments.
TEST_F(TagsOfOtherPrograms, EveryValueOfAFieldIsShown)
{
    const QString wav = home.root() + "/sound.wav", flac = home.root() + "/two.flac";
    ASSERT_TRUE(run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}));
    ASSERT_TRUE(
        run("flac", {"-s", "-T", "ARTIST=piman", "-T", "ARTIST=jzig", "-T", "TITLE=T", "-o", flac, wav}));
    const CliRun show = runCli({"tag", "show", flac, "--json"});
    ASSERT_EQ(show.code, 0) << show.err.toStdString();
    const QStringList ours =
        QJsonDocument::fromJson(show.out.toUtf8()).object().value("artist").toVariant().toStringList();
    EXPECT_EQ(ours, JudgedTags(flac).value("tags").toObject().value("artist").toVariant().toStringList());
    EXPECT_EQ(ours, QStringList({"piman", "jzig"}));
    EXPECT_TRUE(runCli({"tag", "show", flac}).out.contains("artist: piman\nartist: jzig\n"));
}

// A track number and its total, however the source kept them (flac's TRACKNUMBER and TRACKTOTAL, lame's
// "3/12", kid3's TXXX:TRACKTOTAL), come out each format's own way, as the field reads them: ID3 TRCK 3/12
// and nothing else, Vorbis comments TRACKNUMBER=3 with TRACKTOTAL=12, ASF a number and TotalTracks.
TEST_F(TagsOfOtherPrograms, TrackTotalsAreWrittenEachFormatsOwnWay)
{
    const QString wav = home.root() + "/sound.wav", sources = home.root() + "/sources";
    QDir().mkpath(sources);
    ASSERT_TRUE(run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}));
    ASSERT_TRUE(
        run("flac", {"-s", "-T", "TRACKNUMBER=3", "-T", "TRACKTOTAL=12", "-o", sources + "/f.flac", wav}));
    ASSERT_TRUE(run("lame", {"--quiet", "--tn", "3/12", wav, sources + "/l.mp3"}));
    ASSERT_TRUE(run("lame", {"--quiet", wav, sources + "/k.mp3"}));
    ASSERT_TRUE(run("kid3-cli", {"-c", "set tracknumber 3", "-c", "set TRACKTOTAL 12", sources + "/k.mp3"}));
    const std::map<QString, std::map<QString, QStringList>> expected = {
        {"mp3", {{"TRCK", {"3/12"}}, {"TXXX:TRACKTOTAL", {}}}},
        {"flac", {{"tracknumber", {"3"}}, {"tracktotal", {"12"}}}},
        {"opus", {{"tracknumber", {"3"}}, {"tracktotal", {"12"}}}},
        {"wma", {{"track", {"3"}}, {"totaltracks", {"12"}}}},
    };
    for (const auto &[format, keys] : expected) {
        const QString folder = home.root() + "/" + format;
        const CliRun convert = runCli({"convert", "-f", format, sources + "/f.flac", sources + "/l.mp3",
                                       sources + "/k.mp3", "-o", folder, "--quiet"});
        ASSERT_EQ(convert.code, 0) << convert.err.toStdString();
        for (const char *name : {"f", "l", "k"}) {
            const QString made = folder + "/" + name + "." + format;
            SCOPED_TRACE(made.toStdString());
            const QJsonObject tags = JudgedTags(made).value("tags").toObject();
            for (const auto &[key, values] : keys)
                EXPECT_EQ(tags.value(key).toVariant().toStringList(), values)
                    << key.toStdString() << " in " << QJsonDocument(tags).toJson().toStdString();
            EXPECT_TRUE(runCli({"tag", "show", made}).out.contains("track: 3/12\n"));
        }
    }
}

// A tag edit on a disk that fills up (a file size limit stands in) fails with the system's reason ("Unknown
// error" before) and leaves the file as it was, with no working copy beside it.
TEST_F(TagsOfOtherPrograms, AFullDiskDuringAnEditSaysWhy)
{
    const QString wav = home.root() + "/sound.wav", mp3 = home.root() + "/full.mp3";
    ASSERT_TRUE(run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "2", "sine", "440"}));
    ASSERT_TRUE(run("lame", {"--quiet", "--tt", "Old", wav, mp3}));
    const QByteArray before = ReadFileBytes(mp3);
    const CliRun set = runCli({"-c", "trap '' XFSZ; ulimit -f 8; exec \"$0\" \"$@\"",
                               BuiltProgram("sondrel-cli"), "tag", "set", mp3, "--title", "New"},
                              "/bin/sh");
    EXPECT_EQ(set.code, 1);
    EXPECT_TRUE(set.err.contains("File too large")) << set.err.toStdString();
    EXPECT_TRUE(ReadFileBytes(mp3) == before);
    EXPECT_EQ(QDir(home.root()).entryList({".*part*"}, QDir::Files | QDir::Hidden), QStringList());
}

// Removing a WMA file's tags removes the copies FFmpeg keeps under names of its own too (the title and
// artist stayed, read by every player, while tag show said there were none).
TEST_F(TagsOfOtherPrograms, RemovingWmaTagsLeavesNoneBehind)
{
    const QString wav = home.root() + "/sound.wav", wma = home.root() + "/in.wma";
    ASSERT_TRUE(run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}));
    ASSERT_TRUE(run("ffmpeg", {"-v", "error", "-y", "-i", wav, "-c:a", "wmav2", "-metadata", "title=Old",
                               "-metadata", "artist=Artist", "-metadata", "album=Album", wma}));
    ASSERT_EQ(runCli({"tag", "remove", wma}).code, 0);
    QJsonObject tags = JudgedTags(wma).value("tags").toObject();
    tags.remove("encoder");
    EXPECT_TRUE(tags.isEmpty()) << QJsonDocument(tags).toJson().toStdString();
    EXPECT_TRUE(runCli({"tag", "show", wma}).out.contains("has no tags"));
    EXPECT_TRUE(run("ffmpeg", {"-v", "error", "-xerror", "-i", wma, "-f", "null", "-"}));
}

// An MP3 cut short in its last frame gets its version 1 tag after its last whole frame: mpg123 reads it
// without an error (the tag sat inside the cut frame, decoded as a click).
TEST_F(TagsOfOtherPrograms, ATagAfterACutFrameIsNotInIt)
{
    const QString wav = home.root() + "/sound.wav", whole = home.root() + "/whole.mp3",
                  cut = home.root() + "/cut.mp3";
    ASSERT_TRUE(run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}));
    ASSERT_TRUE(run("lame", {"--quiet", wav, whole}));
    const QByteArray bytes = ReadFileBytes(whole);
    QFile file(cut);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.left(bytes.size() - 150));
    file.close();
    ASSERT_EQ(runCli({"tag", "set", cut, "--title", "Cut"}).code, 0);
    QProcess mpg123;
    mpg123.start("mpg123", {"-t", cut});
    ASSERT_TRUE(mpg123.waitForFinished(60000));
    const QString said = QString::fromUtf8(mpg123.readAllStandardError());
    EXPECT_FALSE(said.contains("error", Qt::CaseInsensitive)) << said.toStdString();
    EXPECT_EQ(JudgedTags(cut).value("tags").toObject().value("TIT2").toArray().at(0).toString(), "Cut");
}

// What cannot be tagged is refused and left as it was: a file no format claims, and an MP3 whose ID3v2
// size claims more than the file holds. A FLAC file named .mp3 is tagged as the FLAC it is.
TEST_F(TagsOfOtherPrograms, RefusalsAndFilesJudgedByContent)
{
    const QString text = home.root() + "/notes.mp3";
    WriteFileText(text, "just some notes, no audio");
    CliRun set = runCli({"tag", "set", text, "--title", "X"});
    EXPECT_EQ(set.code, 1);
    EXPECT_TRUE(set.err.contains(text + ": not a file whose tags can be written")) << set.err.toStdString();
    EXPECT_EQ(ReadFileText(text), "just some notes, no audio");

    const QString wav = home.root() + "/sound.wav", plain = home.root() + "/plain.mp3";
    ASSERT_TRUE(run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "1", "sine", "440"}));
    ASSERT_TRUE(run("lame", {"--quiet", wav, plain}));
    const QString liar = home.root() + "/liar.mp3";
    QByteArray bytes = id3v24({textFrame("TIT2", "Title")});
    bytes.replace(6, 4, synchsafe(50'000'000));
    bytes += ReadFileBytes(plain);
    QFile file(liar);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    set = runCli({"tag", "set", liar, "--title", "X"});
    EXPECT_EQ(set.code, 1);
    EXPECT_TRUE(set.err.contains(liar + ": its ID3v2 tag claims 50000010 bytes, more than the file's"))
        << set.err.toStdString();
    EXPECT_EQ(ReadFileBytes(liar), bytes);

    const QString flac = home.root() + "/misnamed.mp3";
    ASSERT_TRUE(run("flac", {"-s", "-f", "-T", "TITLE=Old", "-o", flac, wav}));
    set = runCli({"tag", "set", flac, "--title", "New"});
    ASSERT_EQ(set.code, 0) << set.err.toStdString();
    EXPECT_TRUE(run("flac", {"-t", "-s", flac}));
    QByteArray listing;
    RunProgram("metaflac", {"--show-tag=TITLE", flac}, &listing);
    EXPECT_EQ(listing, "TITLE=New\n");
    EXPECT_FALSE(ReadFileBytes(flac).startsWith("ID3"));
}

// Killed at any moment of an edit, the file is the old one or the new one, both tags of a kind: never the
// new ID3v1 title with the old ID3v2 one, never a damaged file.
TEST_F(TagsOfOtherPrograms, AKilledEditLeavesTheOldFileOrTheNew)
{
    // Thirty seconds of MP3 frames thirty times over (about 35 MB: long enough to copy that a kill lands
    // in the middle), tagged by the tool itself.
    const QString wav = home.root() + "/short.wav", piece = home.root() + "/piece.mp3",
                  mp3 = home.root() + "/song.mp3";
    ASSERT_TRUE(run("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "30", "sine", "440"}));
    ASSERT_TRUE(run("lame", {"--quiet", "-b", "320", wav, piece}));
    QFile big(mp3);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    for (int i = 0; i < 30; ++i)
        big.write(ReadFileBytes(piece));
    big.close();
    ASSERT_EQ(runCli({"tag", "set", mp3, "--title", "Old"}).code, 0);
    const auto copying = [&] {
        const QStringList working = WorkingFilesThere(mp3);
        return !working.isEmpty() && QFileInfo(working[0]).size() > 0;
    };
    for (int attempt = 0; attempt < 4; ++attempt) {
        const QString title = QString("New %1").arg(attempt);
        QProcess cli;
        cli.setStandardInputFile(QProcess::nullDevice());
        cli.start(BuiltProgram("sondrel-cli"), {"tag", "set", mp3, "--title", title});
        ASSERT_TRUE(cli.waitForStarted());
        // Killed at once, or once the copy is under way.
        if (attempt % 2)
            WaitFor([&] { return copying() || cli.state() == QProcess::NotRunning; });
        SignalProcess(cli, SIGKILL);
        cli.waitForFinished();
        const QJsonObject after = JudgedTags(mp3);
        const QString v2 = after.value("tags").toObject().value("TIT2").toArray().at(0).toString();
        const QByteArray v1 = ReadFileBytes(mp3).right(128).mid(3, 30);
        EXPECT_TRUE(v2 == "Old" || v2.startsWith("New")) << v2.toStdString();
        EXPECT_TRUE(v1.startsWith(v2.toLatin1() + '\0')) << v1.toStdString() << " / " << v2.toStdString();
        EXPECT_TRUE(run("ffmpeg", {"-v", "error", "-xerror", "-i", mp3, "-t", "1", "-f", "null", "-"}));
    }
    // What a kill left of the copy goes with the next edit.
    ASSERT_EQ(runCli({"tag", "set", mp3, "--title", "Last"}).code, 0);
    EXPECT_EQ(WorkingFilesThere(mp3), QStringList());
}

} // namespace
