// SPDX-License-Identifier: GPL-3.0-or-later
// The FLAC writer against the flac tools: exact samples in every bit depth it takes, tags and the cover,
// refusals and an unwritable target.
#include "audio/flacout.h"
#include "memoryaudio.h"
#include "tags/tracktags.h"
#include "testsupport.h"

#include <QFileInfo>
#include <cmath>
#include <gtest/gtest.h>

namespace {

class FlacFiles : public ::testing::Test {
protected:
    TestHome home;
    QString flac = home.root() + "/out.flac";

    // The samples flac -d gives back, raw and little-endian.
    QByteArray decoded()
    {
        const QString raw = home.root() + "/back.raw";
        QFile::remove(raw);
        QByteArray output;
        EXPECT_EQ(RunProgram("flac",
                             {"-d", "-s", "-f", "--force-raw-format", "--endian=little", "--sign=signed",
                              "-o", raw, flac},
                             &output),
                  0)
            << output.toStdString();
        return ReadFileBytes(raw);
    }
};

TEST_F(FlacFiles, ExactSamplesInEveryDepthItTakes)
{
    for (const int bits : {16, 24, 8}) {
        SCOPED_TRACE(bits);
        const int channels = bits == 8 ? 1 : 2;
        const QByteArray pcm = MakePcm(30000 + bits, channels, bits,
                                       [](int i, int c) { return 0.9 * std::sin(i * (0.01 + 0.003 * c)); });
        MemoryFileIn in(pcm, bits, channels, 48000);
        TFlacOut out;
        out.SetInput(&in);
        out.SetFileName(flac);
        out.CompressionLevel = bits == 16 ? 8 : 0;
        ASSERT_TRUE(RunToCompletion(out));
        ASSERT_EQ(out.ExceptionMessage(), "");
        EXPECT_EQ(RunProgram("flac", {"-t", "-s", flac}), 0);
        QByteArray back = decoded();
        if (bits == 8) // flac gives signed 8-bit samples back; WAV's are unsigned
            for (char &b : back)
                b = char(uint8_t(b) ^ 0x80);
        EXPECT_EQ(back, pcm);
    }
}

TEST_F(FlacFiles, CommentsAndTheCoverAsAPictureBlock)
{
    MemoryFileIn in(MakePcm(4410, 2, 16, [](int i, int) { return 0.2 * std::sin(i * 0.1); }), 16, 2, 44100);
    TFlacOut out;
    out.SetInput(&in);
    out.SetFileName(flac);
    TTrackTags tags;
    tags.Title = QString::fromUtf8("Jóga");
    tags.Artist = "Guest";
    tags.AlbumArtist = "Various";
    tags.Album = "Hits";
    tags.Track = 2;
    tags.TrackTotal = 9;
    tags.Cover = QByteArray::fromHex("ffd8ffe0") + QByteArray(16, 'j'); // 20 bytes
    out.SetTags(tags);
    ASSERT_TRUE(RunToCompletion(out));
    ASSERT_EQ(out.ExceptionMessage(), "");
    QByteArray listing;
    ASSERT_EQ(RunProgram("metaflac", {"--list", flac}, &listing), 0);
    const QString text = QString::fromUtf8(listing);
    for (const char *line :
         {"TITLE=Jóga", "ARTIST=Guest", "ALBUMARTIST=Various", "ALBUM=Hits", "TRACKNUMBER=2", "TRACKTOTAL=9",
          "type: 3 (Cover (front))", "MIME type: image/jpeg", "data length: 20"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(line))) << line << "\n" << text.toStdString();
    // The picture is a block of its own, not a comment as in Ogg files.
    EXPECT_FALSE(text.contains("METADATA_BLOCK_PICTURE"));
}

TEST_F(FlacFiles, RefusalsAndAnUnwritableTargetAreReportedWithTheFile)
{
    MemoryFileIn wide(MakePcm(100, 9, 16, [](int, int) { return 0.1; }), 16, 9, 44100);
    TFlacOut out;
    out.SetInput(&wide);
    out.SetFileName(flac);
    ASSERT_TRUE(RunToCompletion(out));
    EXPECT_EQ(out.ExceptionMessage(), "FLAC files take 1 to 8 channels, not 9");

    MemoryFileIn in(MakePcm(44100 * 4, 2, 16, [](int i, int) { return std::sin(i * 0.37); }), 16, 2, 44100);
    out.SetInput(&in);
    out.SetFileName("/dev/full");
    ASSERT_TRUE(RunToCompletion(out));
    EXPECT_TRUE(out.ExceptionMessage().contains("/dev/full")) << out.ExceptionMessage().toStdString();
}

} // namespace
