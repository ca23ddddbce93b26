// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/encoderprocess.h"
#include "audio/vorbisin.h"
#include "cddbserver.h"
#include "cdrom/cddrivelist.h"
#include "jobs/wavein.h"
#include "shell/folders.h"
#include "shell/settings.h"
#include "shell/userprompt.h"
#include "tags/id3tag.h"
#include "testsupport.h"
#include "ui/ripform.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <cstring>
#include <gtest/gtest.h>

namespace {

struct ProcessPrompt final : TUserPrompt {
    bool Question(const QString &, const QString &) override { return true; }
    void Information(const QString &, const QString &) override {}
};

class RipFormTest : public ::testing::Test {
protected:
    TestHome home;
    ModalCloser closer;
    ProcessPrompt prompt;
    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;
    QString images = DataFolder() + "Disc images/";
    QString out = home.root() + "/out/";
    TCdHandle handle = 0;
    QStringList captions;
    int result = -1;

    RipFormTest()
    {
        SetRealCdDrivesEnabled(false);
        QDir().mkpath(images);
        QDir().mkpath(out);
        AppSettings.CommonOptions.OutputFolder = out;
        mp3.Prompt = &prompt;
        wma.Prompt = &prompt;
        QFile::copy(BuiltProgram("WM8EUTIL"), home.programFolder() + "WM8EUTIL");
        QFile::setPermissions(home.programFolder() + "WM8EUTIL",
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    ~RipFormTest() override
    {
        CloseDriveHandle(handle);
        SetRealCdDrivesEnabled(true);
    }

    void disc(const QStringList &tracks)
    {
        ASSERT_TRUE(MakeDisc(images + "disc.cue", tracks));
        handle = OpenFirstDriveHandle();
        ASSERT_NE(handle, 0u);
    }

    // Runs the job window to its end (or until stopAt says to press Stop); false when it did not end.
    bool run(int mode, const QStringList &files, const std::function<bool(TRipForm &)> &stopAt = {})
    {
        TRipForm form(nullptr, JobKind(mode), handle, files, AppSettings.CommonOptions.OutputFolder, mp3,
                      wma);
        QObject::connect(&form, &QWidget::windowTitleChanged, [this](const QString &t) { captions << t; });
        QObject::connect(&form, &QDialog::finished, [this](int r) { result = r; });
        form.open();
        bool stopped = false;
        const bool ended = WaitFor(
            [&] {
                if (!stopped && stopAt && result < 0 && stopAt(form)) {
                    stopped = true;
                    form.btStop->click();
                }
                return result >= 0;
            },
            120000);
        return ended;
    }

    bool exists(const QString &name) const { return QFileInfo::exists(out + name); }
};

TEST_F(RipFormTest, ExtractToWav)
{
    disc({"300,music", "200,noise", "100,tone"});
    AppSettings.CommonOptions.OutputFormat = 1;
    ASSERT_TRUE(run(1, {"01One", "02Two", "03Three"}));
    EXPECT_EQ(result, mrCancel);
    EXPECT_EQ(QFileInfo(out + "One.wav").size(), 44 + 300 * 2352);
    EXPECT_EQ(QFileInfo(out + "Two.wav").size(), 44 + 200 * 2352);
    EXPECT_EQ(QFileInfo(out + "Three.wav").size(), 44 + 100 * 2352);
    EXPECT_TRUE(captions.contains("Extracting(01/03): One"));
    EXPECT_TRUE(captions.contains("Extracting(03/03): Three"));
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

// A data track in the job list is skipped with a message; the tracks around it are extracted.
TEST_F(RipFormTest, DataTracksAreSkipped)
{
    disc({"100,music", "data:100", "100,tone"});
    AppSettings.CommonOptions.OutputFormat = 1;
    ASSERT_TRUE(run(1, {"01One", "02Data", "03Three"}));
    EXPECT_EQ(result, mrCancel);
    EXPECT_TRUE(exists("One.wav"));
    EXPECT_FALSE(exists("Data.wav"));
    EXPECT_TRUE(exists("Three.wav"));
    EXPECT_EQ(closer.texts.size(), 1) << closer.texts.join("\n").toStdString();
    EXPECT_TRUE(closer.texts.value(0).contains("Track 02 (Data): Trying to rip a data track"))
        << closer.texts.join("\n").toStdString();
    EXPECT_FALSE(AppSettings.CommonOptions.IsCDHandleZero); // not a read error: the read path stays
}

// A track the drive cannot be set up for is said and skipped; the job goes on to its end.
TEST_F(RipFormTest, ATrackTheDiscLacksIsSaidAndTheJobEnds)
{
    disc({"100,music", "100,tone"});
    AppSettings.CommonOptions.OutputFormat = 1;
    ASSERT_TRUE(run(1, {"09Nine", "02Two"}));
    EXPECT_EQ(result, mrCancel);
    EXPECT_TRUE(exists("Two.wav"));
    EXPECT_FALSE(exists("Nine.wav"));
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_TRUE(closer.texts[0].contains("Error while reading TOC information!"))
        << closer.texts[0].toStdString();
}

TEST_F(RipFormTest, ExtractToMp3WithTags)
{
    disc({"00:03:00,music", "00:02:00,music"});
    AppSettings.CommonOptions.OutputFormat = 0;
    AppSettings.CommonOptions.IsKeepWav = false;
    AppSettings.Use = true;
    AppSettings.DiscInfo.Artist = "The Band";
    AppSettings.DiscInfo.Album = "First";
    AppSettings.DiscInfo.Year = "2024";
    AppSettings.DiscInfo.Genre = 118; // Rock
    // Two encoders at once: each encoding has a line of its own, the caption stays with the reads.
    AppSettings.CommonOptions.EncodersAtOnce = 2;
    QStringList lines;
    ASSERT_TRUE(run(1, {"01Opening", "02Closing"}, [&](TRipForm &form) {
        for (const auto &line : form.Encodings->Lines)
            if (!lines.contains(line.Caption->text()))
                lines << line.Caption->text();
        return false;
    }));
    EXPECT_EQ(result, mrCancel);
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
    ASSERT_TRUE(exists("Opening.mp3"));
    ASSERT_TRUE(exists("Closing.mp3"));
    EXPECT_FALSE(exists("Opening.wav"));
    EXPECT_FALSE(exists("Closing.wav"));
    Tid3tag tag;
    EXPECT_EQ(tag.ReadTag(out + "Closing.mp3"), 0);
    EXPECT_EQ(tag.Title, "Closing");
    EXPECT_EQ(tag.Artist, "The Band");
    EXPECT_EQ(tag.Track, 2);
    EXPECT_EQ(Tid3tag::Id3ToGenre(tag.Genre), 118);
    EXPECT_TRUE(lines.contains("Encoding(02/02): Closing")) << lines.join(", ").toStdString();
    EXPECT_TRUE(captions.contains("Extracting(02/02): Closing"));
    // The MP3 decodes to about the track's length.
    TWaveIn back;
    ASSERT_EQ(RunProgram("lame", {"--silent", "--decode", out + "Closing.mp3", out + "back.wav"}), 0);
    back.SetFileName(out + "back.wav");
    EXPECT_NEAR(double(back.GetTotalSamples()), 2 * 44100, 4410);
}

TEST_F(RipFormTest, ExtractToOggAndWmaKeepingTheWav)
{
    disc({"00:02:00,music"});
    AppSettings.CommonOptions.IsKeepWav = true;
    AppSettings.Use = true;
    AppSettings.DiscInfo.Artist = "Singer";
    AppSettings.CommonOptions.OutputFormat = 2;
    ASSERT_TRUE(run(1, {"01Song"}));
    ASSERT_TRUE(exists("Song.ogg"));
    EXPECT_TRUE(exists("Song.wav"));
    TVorbisIn ogg;
    ogg.SetFileName(out + "Song.ogg");
    EXPECT_EQ(ogg.GetTotalSamples(), 2 * 44100);

    result = -1;
    AppSettings.CommonOptions.OutputFormat = 3;
    AppSettings.WMAOptions.BitRate = 8;
    ASSERT_TRUE(run(1, {"01Song"}));
    ASSERT_TRUE(exists("Song.wma"));
    QByteArray probe;
    RunProgram("ffprobe",
               {"-v", "error", "-show_entries", "format_tags=artist:stream=codec_name", "-of", "csv=p=0",
                out + "Song.wma"},
               &probe);
    EXPECT_TRUE(probe.contains("wmav2")) << probe.toStdString();
    EXPECT_TRUE(probe.contains("Singer")) << probe.toStdString();
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

// Stopped in the middle with "Delete WAV file after processing" ticked: the WAVs go with the stop (they were
// all left, 254 MB for 8 tracks, and a rerun took them for finished tracks); what was made stays.
TEST_F(RipFormTest, StopInTheMiddleLeavesNoWavFiles)
{
    disc({"00:02:00,music", "00:30:00,music", "00:02:00,music"});
    AppSettings.CommonOptions.OutputFormat = 0;
    AppSettings.CommonOptions.IsKeepWav = false;
    AppSettings.CommonOptions.EncodersAtOnce = 1; // one step after the other
    ASSERT_TRUE(
        run(1, {"01A", "02B", "03C"}, [this](TRipForm &) { return exists("A.mp3") && exists("B.wav"); }));
    EXPECT_EQ(result, mrAbort);
    EXPECT_TRUE(exists("A.mp3"));
    EXPECT_FALSE(exists("A.wav"));
    EXPECT_FALSE(exists("B.wav"));
    EXPECT_FALSE(exists("C.wav"));
}

TEST_F(RipFormTest, ReadFailureSkipsTheTrack)
{
    // Nothing of track 2 can be read (sectors 150 to 299): the track is skipped with the reason and the
    // general advice, and the next start uses the other read path.
    disc({"--bad", "150-299", "00:02:00,music", "00:02:00,music", "00:02:00,music"});
    AppSettings.CommonOptions.OutputFormat = 0;
    const bool zero = AppSettings.CommonOptions.IsCDHandleZero;
    ASSERT_TRUE(run(1, {"01A", "02B", "03C"}));
    EXPECT_EQ(result, mrCancel);
    EXPECT_TRUE(exists("A.mp3"));
    EXPECT_FALSE(exists("B.mp3"));
    EXPECT_TRUE(exists("C.mp3"));
    ASSERT_EQ(closer.texts.size(), 1);
    // The track, the image's reason, then the general advice.
    EXPECT_TRUE(closer.texts[0].startsWith("Sondrel|Track 02 (B): Read error at sector 150 of "))
        << closer.texts[0].toStdString();
    EXPECT_TRUE(closer.texts[0].endsWith(
        "disc.cue\r\nError while reading CD information!\r\nPlease exit the software and run again."));
    EXPECT_EQ(AppSettings.CommonOptions.IsCDHandleZero, !zero);
}

// One sector of a track unreadable: the track is made, silence in that sector's place, and said to be
// damaged; the read path stays.
TEST_F(RipFormTest, AnUnreadableSectorDamagesTheTrack)
{
    disc({"--bad", "200", "00:02:00,music", "00:02:00,music", "00:02:00,music"});
    AppSettings.CommonOptions.OutputFormat = 0;
    const bool zero = AppSettings.CommonOptions.IsCDHandleZero;
    ASSERT_TRUE(run(1, {"01A", "02B", "03C"}));
    EXPECT_TRUE(exists("B.mp3"));
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_TRUE(closer.texts[0].startsWith("Sondrel|Track 02: damaged: 1 sector unreadable at 00:00.50 (Read "
                                           "error at sector 200 of "))
        << closer.texts[0].toStdString();
    EXPECT_EQ(AppSettings.CommonOptions.IsCDHandleZero, zero);
}

QString Sox(const QString &path, const QStringList &format, double seconds = 2)
{
    EXPECT_EQ(RunProgram("sox", QStringList{"-n"} + format +
                                    QStringList{path, "synth", QString::number(seconds), "sine", "440"}),
              0);
    return path;
}

// An encoder that fails is a failure of that file in the window too: its message, and no MP3.
TEST_F(RipFormTest, AFailingEncoderIsShownAndLeavesNoFile)
{
    const QString lame = home.programFolder() + "lame";
    WriteFileText(lame, "#!/bin/sh\n" + StandInEncoder::WritesHalfLastArgument +
                            "echo 'Error writing mp3 output' >&2\nexit 1\n");
    QFile::setPermissions(lame, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QString wav = Sox(home.root() + "/in.wav", {"-r", "44100", "-c", "2", "-b", "16"});
    ASSERT_TRUE(run(2, {wav}));
    EXPECT_EQ(result, mrCancel);
    EXPECT_FALSE(exists("in.mp3"));
    EXPECT_EQ(WorkingFilesThere(out + "in.mp3"), QStringList());
    ASSERT_EQ(closer.texts.size(), 1);
    EXPECT_TRUE(
        closer.texts[0].contains(out + "in.mp3: lame ended with exit status 1: Error writing mp3 output"))
        << closer.texts[0].toStdString();
}

// Every file of a list is made ready for lame the same way, not only the first: a 24-bit WAV goes to 16 bits.
TEST_F(RipFormTest, EveryDeepWavIsResampledBeforeLame)
{
    AppSettings.CommonOptions.EncodersAtOnce = 1; // one job for the list (each lane's job has one file)
    const QString first = Sox(home.root() + "/first.wav", {"-r", "44100", "-c", "2", "-b", "24"});
    const QString second = Sox(home.root() + "/second.wav", {"-r", "44100", "-c", "2", "-b", "24"});
    ASSERT_TRUE(run(2, {first, second}));
    EXPECT_EQ(result, mrCancel);
    EXPECT_TRUE(captions.contains("Resampling(01/02): " + first));
    EXPECT_TRUE(captions.contains("Resampling(02/02): " + second)) << captions.join(", ").toStdString();
    EXPECT_TRUE(exists("first.mp3") && exists("second.mp3"));
}

TEST_F(RipFormTest, ConversionModes)
{
    const QString low = Sox(home.root() + "/low rate.wav", {"-r", "22050", "-c", "2", "-b", "16"});
    ASSERT_TRUE(run(2, {low}));
    EXPECT_EQ(result, mrCancel);
    ASSERT_GE(captions.size(), 2);
    EXPECT_TRUE(captions.first().startsWith("Resampling(01/01): "));
    EXPECT_TRUE(captions.contains("Encoding(01/01): " + low));
    EXPECT_TRUE(exists("low rate.mp3"));
    EXPECT_FALSE(exists("MyMP3ReTemp.wav"));

    captions.clear();
    result = -1;
    const QString high = Sox(home.root() + "/high.wav", {"-r", "48000", "-c", "2", "-b", "16"});
    ASSERT_TRUE(run(5, {high}));
    EXPECT_TRUE(exists("high.ogg"));
    for (const QString &c : captions)
        EXPECT_FALSE(c.startsWith("Resampling")) << c.toStdString();

    result = -1;
    ASSERT_TRUE(run(3, {out + "low rate.mp3"}));
    TWaveIn decoded;
    decoded.SetFileName(out + "low rate.wav");
    EXPECT_EQ(decoded.GetSampleRate(), 44100);
    EXPECT_NEAR(double(decoded.GetTotalSamples()), 2 * 44100, 4410);

    result = -1;
    const QString cd = Sox(home.root() + "/cd.wav", {"-r", "44100", "-c", "2", "-b", "16"});
    ASSERT_TRUE(run(6, {cd}));
    EXPECT_TRUE(exists("cd.wma"));
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

// An archival rip in the window: FLAC with Test & copy, verified against a database that does not know the
// disc, with its log; the verdicts come up over the job window. Then WAV to FLAC.
TEST_F(RipFormTest, FlacRipVerifiedAndLoggedThenWavToFlac)
{
    disc({"300,music", "200,noise"});
    CddbTestServer server;
    server.setHandler([](const QString &) { return CddbTestServer::Reply{404, {}, {}}; });
    AppSettings.CommonOptions.OutputFormat = OutputFormat::Flac;
    AppSettings.CommonOptions.TestAndCopy = true;
    AppSettings.CommonOptions.VerifyAccurateRip = true;
    AppSettings.CommonOptions.CtdbServer.clear(); // no test reaches the internet
    AppSettings.CommonOptions.AccurateRipServer = server.url();
    AppSettings.CommonOptions.WriteLog = true;
    ASSERT_TRUE(run(1, {"01One", "02Two"}));
    EXPECT_EQ(result, mrCancel);
    EXPECT_TRUE(exists("One.flac"));
    EXPECT_TRUE(exists("Two.flac"));
    EXPECT_FALSE(exists("One.wav"));
    EXPECT_EQ(RunProgram("flac", {"-t", "-s", out + "Two.flac"}), 0);
    ASSERT_EQ(closer.texts.size(), 1) << closer.texts.join("\n").toStdString();
    EXPECT_EQ(closer.texts[0], "Sondrel|Track 01: unknown (not in the database)\nTrack 02: unknown (not in "
                               "the database)\n2 tracks not verified");
    const QString log = ReadFileText(out + "Unknown Artist - Unknown Album.log");
    EXPECT_TRUE(log.contains("Test & copy: on")) << log.toStdString();
    EXPECT_TRUE(log.contains("  AccurateRip: unknown (not in the database)"));

    closer.texts.clear();
    result = -1;
    const QString wav = Sox(home.root() + "/in.wav", {"-r", "48000", "-c", "2", "-b", "24"});
    ASSERT_TRUE(run(int(JobKind::WavToFlac), {wav}));
    EXPECT_EQ(result, mrCancel);
    EXPECT_EQ(RunProgram("flac", {"-t", "-s", out + "in.flac"}), 0);
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

struct FakePresenter final : TRipJobPresenter {
    QString elapsed, estimated;
    int gauge = 0;
    void SetCaption(const QString &) override {}
    void SetStage(const QString &) override {}
    void SetElapsed(const QString &t) override { elapsed = t; }
    void SetEstimated(const QString &t) override { estimated = t; }
    void SetInitializing(const QString &, bool) override {}
    void SetGauge(int percent, bool) override { gauge = percent; }
    void ShowError(const QString &) override {}
    void Finish(int) override {}
};

TEST_F(RipFormTest, WmaEstimate)
{
    FakePresenter presenter;
    TRipJob job(JobKind::WavToWma, {"a.wav"}, JobSettings(AppSettings, out), presenter, mp3, wma);
    wma.Active = true;
    wma.OutputFile = out + "a.wma";
    job.WmaProgress.SourceSize = 1000000;
    job.WmaProgress.Tick(0.4);
    EXPECT_EQ(presenter.elapsed, "00:00");
    EXPECT_EQ(presenter.estimated, "00:02");
    job.WmaProgress.Tick(1.2);
    EXPECT_EQ(presenter.estimated, "00:02");
    job.WmaProgress.Tick(2.0);
    EXPECT_EQ(presenter.estimated, "00:03");
    job.WmaProgress.Tick(7.0);
    EXPECT_EQ(presenter.estimated, "00:08");
    EXPECT_EQ(presenter.gauge, 88);

    // Larger sources: the output's growth against the size the profile leads to expect.
    job.WmaProgress.SourceSize = 21790000; // profile 8 expects 1,000,000 bytes
    WriteFileText(WorkingFileOf(out + "a.wma"), QString(250000, 'x'));
    job.WmaProgress.Tick(10);
    EXPECT_EQ(presenter.estimated, "00:40");
    wma.Active = false;
    job.WmaProgress.Tick(12);
    EXPECT_EQ(presenter.elapsed, "00:12");
    EXPECT_EQ(presenter.estimated, "00:40");
}

// Converting a WAV to Ogg Vorbis runs on exactly one thread besides the user-interface thread: the Ogg
// writer's worker. The job's other sink never starts one, and events need no dispatcher thread.
TEST_F(RipFormTest, OggConversionRunsOnOneWorker)
{
    const auto threads = [] {
        return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
    };
    struct CountingPresenter final : TRipJobPresenter {
        std::function<qsizetype()> count;
        qsizetype during = -1;
        int finished = -1;
        void SetCaption(const QString &) override {}
        void SetStage(const QString &) override {}
        void SetElapsed(const QString &) override {}
        void SetEstimated(const QString &) override {}
        void SetInitializing(const QString &, bool) override {}
        void SetGauge(int, bool) override { during = std::max(during, count()); }
        void ShowError(const QString &) override {}
        void Finish(int result) override { finished = result; }
    } presenter;
    presenter.count = threads;
    const QString wav = Sox(home.root() + "/long.wav", {"-r", "44100", "-c", "2", "-b", "16"}, 20);
    TRipJob job(JobKind::WavToOgg, {wav}, JobSettings(AppSettings, out), presenter, mp3, wma);
    const qsizetype before = threads();
    job.Start();
    ASSERT_TRUE(WaitFor([&] { return presenter.finished >= 0; }, 60000));
    EXPECT_EQ(presenter.finished, mrCancel);
    EXPECT_EQ(presenter.during, before + 1);
    EXPECT_TRUE(QFileInfo(out + "long.ogg").size() > 0);
}

// A job's many notices repaint its bars at most ten times a second, and the last value always lands.
TEST(GaugeThrottle, FewRepaintsAndTheLastValueLands)
{
    QProgressBar bar;
    bar.setRange(0, 100);
    TGaugeThrottle throttle(&bar);
    int changes = 0;
    QObject::connect(&bar, &QProgressBar::valueChanged, [&changes] { ++changes; });
    for (int value = 1; value < 100; ++value)
        throttle.Set(value);
    EXPECT_LE(changes, 2);
    EXPECT_TRUE(WaitFor([&bar] { return bar.value() == 99; }, 2000));
    throttle.Set(100); // the end at once
    EXPECT_EQ(bar.value(), 100);
}

} // namespace
