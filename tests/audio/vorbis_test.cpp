// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/auexception.h"
#include "audio/vorbisin.h"
#include "audio/vorbisout.h"
#include "memoryaudio.h"
#include "shell/settings.h"
#include "tags/tracktags.h"
#include "tags/vorbistags.h"
#include "testsupport.h"

#include <QFileInfo>
#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(VorbisSettings, BitRateSettersKeepTheRatesConsistent)
{
    TVorbisOut out;
    out.SetDesiredNominalBitrate(bitrate128);
    EXPECT_EQ(out.MinimumBitrate(), brAutoSelect);
    EXPECT_EQ(out.DesiredMaximumBitrate(), bitrate128); // a lower maximum follows the nominal up
    out.SetDesiredMaximumBitrate(bitrate64);            // below the nominal: ignored
    EXPECT_EQ(out.DesiredMaximumBitrate(), bitrate128);
    out.SetDesiredMaximumBitrate(bitrate192);
    EXPECT_EQ(out.DesiredMaximumBitrate(), bitrate192);
    out.SetMinimumBitrate(bitrate160); // above the nominal: ignored
    EXPECT_EQ(out.MinimumBitrate(), brAutoSelect);
    out.SetMinimumBitrate(bitrate96);
    EXPECT_EQ(out.MinimumBitrate(), bitrate96);
    out.SetDesiredNominalBitrate(bitrate64); // the minimum follows it down
    EXPECT_EQ(out.MinimumBitrate(), bitrate64);
    out.SetDesiredNominalBitrate(brAutoSelect);
    EXPECT_EQ(out.DesiredMaximumBitrate(), brAutoSelect);
    out.SetDesiredMaximumBitrate(bitrate320); // quality mode takes no maximum
    EXPECT_EQ(out.DesiredMaximumBitrate(), brAutoSelect);
    EXPECT_EQ(VorbisBitsPerSecond(bitrate45), 45000);
    EXPECT_EQ(VorbisBitsPerSecond(brAutoSelect), -1);
    EXPECT_EQ(VorbisBitsPerSecond(99), -1);
}

TEST(VorbisSettings, ApplyOggSettings)
{
    TestHome home;
    TVorbisOut out;
    AppSettings.OggOptions.IsUseCompress = true;
    AppSettings.OggOptions.CompressPosition = 30;
    ApplyOggSettings(out, AppSettings);
    EXPECT_FLOAT_EQ(out.Compression, 0.2f);
    AppSettings.OggOptions.CompressPosition = 100;
    ApplyOggSettings(out, AppSettings);
    EXPECT_FLOAT_EQ(out.Compression, 0.9f);
    EXPECT_EQ(out.DesiredNominalBitrate(), brAutoSelect);

    AppSettings.OggOptions.IsUseCompress = false;
    AppSettings.OggOptions.MaxBitRate = 14;  // 320, given while the nominal is still automatic: ignored
    AppSettings.OggOptions.NomalBitRate = 8; // 128
    AppSettings.OggOptions.MinBitRate = 1;   // 45
    ApplyOggSettings(out, AppSettings);
    EXPECT_EQ(out.DesiredNominalBitrate(), bitrate128);
    EXPECT_EQ(out.DesiredMaximumBitrate(), bitrate128);
    EXPECT_EQ(out.MinimumBitrate(), bitrate45);
    EXPECT_FLOAT_EQ(out.Compression, 0.2f);
}

TEST(VorbisSettings, TrackCommentsFromTheDisc)
{
    TCDInfo disc;
    disc.Artist = "Various";
    disc.Album = "Pastel";
    disc.Year = "1964";
    disc.Genre = 78; // Jazz
    disc.Comment = "Live";
    disc.TrackNumber = 12;
    disc.Tracks[3] = "Sinnerman";
    disc.TrackArtists[3] = "Nina";
    TVorbisTags comments;
    comments.SetValue("discnumber", QString("1"));
    SetVorbisComments(comments, TrackTagsOf(disc, 3, "03 - Sinnerman"));
    EXPECT_EQ(comments.Title(), "Sinnerman");
    EXPECT_EQ(comments.Artist(), "Nina");
    EXPECT_EQ(comments.AsText("albumartist"), "Various");
    EXPECT_EQ(comments.Album(), "Pastel");
    EXPECT_EQ(comments.Date(), "1964");
    EXPECT_EQ(comments.Genre(), "Jazz");
    EXPECT_EQ(comments.Track(), "3");
    EXPECT_EQ(comments.AsText("tracktotal"), "12");
    EXPECT_EQ(comments.AsText("comment"), "Live");
    EXPECT_EQ(comments.Disc(), ""); // replaced, not added to
    // Not a compilation: no album artist beside the artist; an unknown length gives no total.
    disc.TrackArtists[3].clear();
    disc.TrackNumber = 100;
    SetVorbisComments(comments, TrackTagsOf(disc, 3, ""));
    EXPECT_EQ(comments.Artist(), "Various");
    EXPECT_EQ(comments.AsText("albumartist"), "");
    EXPECT_EQ(comments.AsText("tracktotal"), "");
}

class VorbisFiles : public ::testing::Test {
protected:
    TestHome home;
    QString ogg = home.root() + "/out.ogg";

    QByteArray run(const QString &program, const QStringList &arguments)
    {
        QByteArray output;
        EXPECT_EQ(RunProgram(program, arguments, &output), 0)
            << program.toStdString() << output.toStdString();
        return output;
    }
};

TEST_F(VorbisFiles, WrittenFilesAreValidForTheUsersTools)
{
    const int frames = 44100 * 2 + 123;
    MemoryFileIn in(
        MakePcm(frames, 2, 16, [](int i, int c) { return 0.5 * std::sin(i * (0.03 + 0.01 * c)); }), 16, 2,
        44100);
    TVorbisOut out;
    out.SetInput(&in);
    out.SetFileName(ogg);
    out.Comments.SetArtist(QString::fromUtf8("Björk"));
    out.Comments.SetTitle("Jóga");
    out.Comments.SetTrack("3");
    ASSERT_TRUE(RunToCompletion(out));
    ASSERT_EQ(out.ExceptionMessage(), "");
    EXPECT_TRUE(out.Comments.Empty()); // cleared when done

    const QString info = QString::fromUtf8(run("ogginfo", {ogg}));
    EXPECT_FALSE(info.contains("WARNING")) << info.toStdString();
    EXPECT_FALSE(info.contains("ERROR")) << info.toStdString();
    EXPECT_EQ(QString::fromUtf8(run("vorbiscomment", {"-l", ogg})),
              QString::fromUtf8("artist=Björk\ntitle=Jóga\ntracknumber=3\n"));
    run("oggdec", {"-Q", "-o", home.root() + "/back.wav", ogg});
    EXPECT_EQ(QFileInfo(home.root() + "/back.wav").size(), 44 + frames * 4);

    TVorbisIn reader;
    reader.SetFileName(ogg);
    EXPECT_EQ(reader.GetChannels(), 2);
    EXPECT_EQ(reader.GetSampleRate(), 44100);
    EXPECT_EQ(reader.VorbisComments().Artist(), QString::fromUtf8("Björk"));
    EXPECT_EQ(reader.CommonTags.Track(), "3");
    EXPECT_EQ(Drain(reader).size(), frames * 4);
}

TEST_F(VorbisFiles, ManagedModeAndEightBitMono)
{
    MemoryFileIn in(MakePcm(22050, 1, 8, [](int i, int) { return 0.3 * std::sin(i * 0.05); }), 8, 1, 22050);
    TVorbisOut out;
    out.SetInput(&in);
    out.SetFileName(ogg);
    out.SetDesiredNominalBitrate(bitrate64);
    ASSERT_TRUE(RunToCompletion(out));
    ASSERT_EQ(out.ExceptionMessage(), "");
    TVorbisIn reader;
    reader.SetFileName(ogg);
    EXPECT_EQ(reader.GetChannels(), 1);
    EXPECT_EQ(reader.NominalBitrate(), 64000);
    EXPECT_EQ(Drain(reader).size(), 22050 * 2);

    // A rate the codec cannot do at that bit rate is refused with the codec's message.
    MemoryFileIn odd(MakePcm(100, 2, 16, [](int, int) { return 0.0; }), 16, 2, 8000);
    out.SetInput(&odd);
    out.SetDesiredNominalBitrate(bitrate499);
    ASSERT_TRUE(RunToCompletion(out));
    EXPECT_EQ(out.ExceptionMessage(),
              "Vorbis codec setup with the requested bitrate failed. Try a lower bitrate.");
}

TEST_F(VorbisFiles, EmptyInputGivesHeadersAndAnEndOnly)
{
    MemoryFileIn in(QByteArray(), 16, 2, 44100);
    TVorbisOut out;
    out.SetInput(&in);
    out.SetFileName(ogg);
    ASSERT_TRUE(RunToCompletion(out));
    ASSERT_EQ(out.ExceptionMessage(), "");
    // The header pages, then one page that ends the stream.
    const QByteArray bytes = ReadFileBytes(ogg);
    const qsizetype last = bytes.lastIndexOf("OggS");
    ASSERT_GT(last, 0);
    EXPECT_EQ(bytes.count("OggS"), 3);
    EXPECT_TRUE(bytes[last + 5] & 0x04); // the end-of-stream flag
    TVorbisIn reader;
    reader.SetFileName(ogg);
    EXPECT_EQ(reader.GetChannels(), 2);
    EXPECT_EQ(Drain(reader).size(), 0);
}

TEST_F(VorbisFiles, ReadsWhatOggencWrites)
{
    const QString wav = home.root() + "/in.wav";
    run("sox", {"-n", "-r", "32000", "-c", "2", "-b", "16", wav, "synth", "1.5", "sine", "500"});
    run("oggenc", {"-Q", "-q", "2", "-a", "Some Artist", "-t", "Some Title", "-G", "Jazz", "-d", "2020", "-c",
                   "TRACKNUMBER=7", "-c", "COMMENT=not stored", "-o", ogg, wav});
    TVorbisIn reader;
    reader.SetFileName(ogg);
    EXPECT_EQ(reader.GetSampleRate(), 32000);
    EXPECT_EQ(reader.VorbisComments().Artist(), "Some Artist");
    EXPECT_EQ(reader.VorbisComments().Title(), "Some Title");
    EXPECT_EQ(reader.VorbisComments().Genre(), "Jazz");
    EXPECT_EQ(reader.VorbisComments().Date(), "2020");
    EXPECT_EQ(reader.CommonTags.Year(), "2020");
    EXPECT_EQ(reader.CommonTags.Track(), "7");
    EXPECT_EQ(Drain(reader).size(), 48000 * 4);

    // Seeking to a sample.
    reader.Init();
    EXPECT_TRUE(reader.Seek(40000));
    uint8_t *buffer = nullptr;
    uint32_t bytes = 1 << 20;
    qsizetype rest = 0;
    do {
        bytes = 1 << 20;
        reader.GetData(buffer, bytes);
        rest += bytes;
    } while (bytes);
    reader.Flush();
    EXPECT_EQ(rest, (48000 - 40000) * 4);
}

TEST_F(VorbisFiles, NotAnOggFile)
{
    WriteFileText(ogg, "this is text, not audio");
    TVorbisIn reader;
    reader.SetFileName(ogg);
    EXPECT_FALSE(reader.TryOpen());
    try {
        reader.Init();
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_TRUE(e.message().startsWith("Failed to open an ogg file: ")) << e.message().toStdString();
    }
    TVorbisIn missing;
    missing.SetFileName(home.root() + "/none.ogg");
    try {
        missing.Init();
        FAIL() << "no exception";
    } catch (const EAuException &e) { // with the system's reason (whoever shows it names the file)
        EXPECT_EQ(e.message(), "Failed to open stream: No such file or directory");
    }
}

} // namespace
