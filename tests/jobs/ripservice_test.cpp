// SPDX-License-Identifier: GPL-3.0-or-later
// The rip as both front ends run it, driven here by a front end of the test's own: no window, no terminal.
#include "audio/encoderprocess.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/cdin.h"
#include "jobs/playlist.h"
#include "jobs/ripservice.h"
#include "shell/folders.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

QString entry(const QString &nameTemplate, int track)
{
    TTrackNameFields fields;
    fields.Track = track;
    fields.Title = track == 1 ? "One" : "Two";
    return JobListEntry(nameTemplate, fields);
}

// Presents nothing; remembers the files made and the end.
template <typename View> class TQuietPresenter : public View {
public:
    void ShowError(const QString &text) override { Errors << text; }
    void FileMade(const QString &path) override { Made << path; }
    void Finish(int result) override
    {
        Finished = true;
        Result = result;
    }
    QStringList Errors;
    QStringList Made;
    bool Finished = false;
    int Result = 0;
};

class TQuietJobPresenter final : public TQuietPresenter<TRipJobPresenter> {
public:
    void SetCaption(const QString &) override {}
    void SetStage(const QString &) override {}
    void SetElapsed(const QString &) override {}
    void SetEstimated(const QString &) override {}
    void SetInitializing(const QString &, bool) override {}
    void SetGauge(int, bool) override {}
};

class TQuietExtractView final : public TQuietPresenter<TExtractView> {
public:
    void Begin(int, int32_t) override {}
    void Stage(TExtractStage, int, int, const QString &) override {}
    void Progress(const TProcessInfo &) override {}
};

class TTestFrontEnd final : public TRipFrontEnd {
public:
    bool Answer = false;         // to every question
    bool StopAfterAFile = false; // stops each job when it made its first file
    QStringList Questions, Failures, Notices;
    QStringList Jobs; // "job", "extraction" or "drive extraction", in the order run

    bool Question(const QString &, const QString &text) override
    {
        Questions << text;
        return Answer;
    }
    void Information(const QString &, const QString &) override {}
    TJobEnd RunJob(const MakeJob &make) override
    {
        Jobs << "job";
        return run<TQuietJobPresenter>(make);
    }
    TJobEnd RunExtraction(const TReadSource &source, const MakeExtraction &make) override
    {
        Jobs << (source.Handle != 0 ? "extraction" : "drive extraction");
        return run<TQuietExtractView>(make);
    }
    void Failure(const QString &text) override { Failures << text; }
    void Notice(const QString &text) override { Notices << text; }

private:
    template <typename Presenter, typename Make> TJobEnd run(const Make &make)
    {
        Presenter presenter;
        const auto job = make(presenter);
        job->Start();
        bool stopped = false;
        EXPECT_TRUE(WaitFor(
            [&] {
                if (StopAfterAFile && !stopped && !presenter.Made.isEmpty()) {
                    stopped = true;
                    job->Stop();
                }
                return presenter.Finished;
            },
            60000));
        job->CleanUp();
        Failures += presenter.Errors;
        return {presenter.Result, presenter.Made};
    }
};

class RipServiceTest : public ::testing::Test {
protected:
    TestHome home;
    QString images = DataFolder() + "Disc images/";
    QString out = home.root() + "/out";
    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;
    TTestFrontEnd frontEnd;
    TDriveHandle handle;

    RipServiceTest()
    {
        SetRealCdDrivesEnabled(false);
        QDir().mkpath(images);
        QDir().mkpath(out);
        EXPECT_TRUE(MakeDisc(images + "disc.cue", {"300,tone", "200,noise"}));
        handle = TDriveHandle(OpenFirstDriveHandle());
        mp3.Prompt = &frontEnd;
        wma.Prompt = &frontEnd;
    }
    ~RipServiceTest() override
    {
        handle.reset();
        SetRealCdDrivesEnabled(true);
    }

    TRipRequest request(const QString &formats)
    {
        TRipRequest r;
        r.Settings = AppSettings;
        r.Settings.CommonOptions.OutputFolder = out;
        r.Settings.CommonOptions.OutputFormat = formats.section(',', 0, 0).toInt();
        r.Settings.CommonOptions.OutputFormats = formats.section(',', 1);
        r.Settings.CommonOptions.FileNameTemplate = "%track%";
        r.JobsOf = [](const QString &nameTemplate) {
            return QStringList{entry(nameTemplate, 1), entry(nameTemplate, 2)};
        };
        r.Handle = handle.get();
        r.Mp3 = &mp3;
        r.Wma = &wma;
        return r;
    }
};

// Two formats through the CD access calls: FLAC first, its WAVs kept for the Ogg Vorbis files, then gone;
// every file made is told, the album's loudness written into the FLAC files.
TEST_F(RipServiceTest, TwoFormatsFromOneRead)
{
    const QString flac = QString::number(OutputFormat::Flac), ogg = QString::number(OutputFormat::Ogg);
    const TRipResult rip = RunRip(request(flac + "," + ogg), frontEnd);
    EXPECT_EQ(rip.Result, mrCancel);
    EXPECT_TRUE(frontEnd.Failures.isEmpty()) << frontEnd.Failures.join('\n').toStdString();
    EXPECT_EQ(frontEnd.Jobs,
              QStringList({"extraction", "job", "job"})); // the reads, ReplayGain, the Ogg files
    const QStringList files{out + "/FLAC/01.flac", out + "/FLAC/02.flac", out + "/OGG/01.ogg",
                            out + "/OGG/02.ogg"};
    for (const QString &file : files) {
        EXPECT_TRUE(rip.Made.contains(file)) << file.toStdString();
        EXPECT_TRUE(QFileInfo(file).size() > 0) << file.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(out + "/FLAC/01.wav"));
    QByteArray gain;
    ASSERT_EQ(RunProgram("metaflac", {"--show-tag=REPLAYGAIN_ALBUM_GAIN", files[0]}, &gain), 0);
    EXPECT_TRUE(gain.startsWith("REPLAYGAIN_ALBUM_GAIN=")) << gain.toStdString();
}

// Asked before replacing: a track whose file is there is kept when the answer is no, and only the other is
// read; unasked (the window), both are read again.
TEST_F(RipServiceTest, KeptFilesAreNotReadAgain)
{
    const QString wav = QString::number(OutputFormat::Wav);
    ASSERT_EQ(RunRip(request(wav), frontEnd).Made.size(), 2);
    QFile::remove(out + "/02.wav");
    TRipRequest asking = request(wav);
    asking.AskBeforeReplacing = true;
    const TRipResult again = RunRip(asking, frontEnd);
    EXPECT_EQ(again.Ripped, QStringList{entry("%track%", 2)});
    EXPECT_EQ(frontEnd.Questions.size(), 1);
    EXPECT_TRUE(frontEnd.Notices.value(0).contains(out + "/01.wav"))
        << frontEnd.Notices.join('\n').toStdString();
    EXPECT_EQ(RunRip(request(wav), frontEnd).Ripped.size(), 2);
    EXPECT_EQ(frontEnd.Questions.size(), 1);
}

// A stop ends the rip at once: no ReplayGain, no extra format, no WAV it made left (the first track's was
// made), on both read paths.
TEST_F(RipServiceTest, AStoppedRipLeavesNoStepWavs)
{
    const QString flac = QString::number(OutputFormat::Flac), mp3Format = QString::number(OutputFormat::Mp3);
    frontEnd.StopAfterAFile = true;
    TRipRequest library = request(flac + "," + mp3Format);
    TCDIn drive;
    drive.SetCurrentDrive(0);
    TRipRequest component = library;
    component.Handle = 0;
    component.Drive = &drive;
    for (const TRipRequest &r : {library, component}) {
        const TRipResult rip = RunRip(r, frontEnd);
        EXPECT_EQ(rip.Result, mrAbort);
        // The file made before the stop stays (which one comes first is the encoders' race).
        EXPECT_FALSE(rip.Made.filter(QRegularExpression("/FLAC/0[12]\\.flac$")).isEmpty())
            << rip.Made.join(' ').toStdString();
        EXPECT_TRUE(
            QDir(out + "/FLAC").entryList(QStringList{"*.wav"}, QDir::Files | QDir::Hidden).isEmpty());
        EXPECT_FALSE(QFileInfo::exists(out + "/MP3"));
    }
    EXPECT_EQ(frontEnd.Jobs, QStringList({"extraction", "drive extraction"}));
}

} // namespace
