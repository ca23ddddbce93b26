// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/encoderprocess.h"
#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/settings.h"
#include "shell/userprompt.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

struct FakePrompt final : TUserPrompt {
    bool answer = false;
    QStringList questions;
    QStringList notices;
    bool Question(const QString &caption, const QString &text) override
    {
        questions << caption + "|" + text;
        return answer;
    }
    void Information(const QString &caption, const QString &text) override
    {
        notices << caption + "|" + text;
    }
};

class EncoderTest : public ::testing::Test {
protected:
    // Script lines of stand-in encoders that write their output file (lame: the last argument; WM8EUTIL:
    // the value of -output).
    const QString writesLastArgument = StandInEncoder::WritesLastArgument;
    const QString writesOutputOption = StandInEncoder::WritesOutputOption;

    TestHome home;
    FakePrompt prompt;
    MessageCollector window;

    // A stand-in program in the (test's) program folder.
    void fakeProgram(const QString &name, const QString &script)
    {
        const QString path = home.programFolder() + name;
        WriteFileText(path, "#!/bin/sh\n" + script);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    template <typename Process>
    void prepare(Process &p, const QString &input, const QString &output, JobKind jobKind, bool encode = true)
    {
        p.Active = true;
        p.InputFile = input;
        p.OutputFile = output;
        p.Window = &window;
        p.Encode = encode;
        p.JobKind = jobKind;
        p.Prompt = &prompt;
    }

    bool waitForNotice(int percent, int timeoutMs = 60000)
    {
        return WaitFor([&] { return !window.notices(percent).empty(); }, timeoutMs);
    }

    // The index of the first message with this Percent, or -1.
    int indexOf(int percent) const
    {
        for (size_t i = 0; i < window.received.size(); ++i) {
            if (window.received[i].info.Percent == percent)
                return int(i);
        }
        return -1;
    }
};

// "     0/767    " fills columns 1 to 14; the percentage takes 15 to 17, then "%)|", the elapsed time 21 to
// 28, "/" and the estimated time 30 to 37, as lame prints them.
QString LameLine(const QString &percent, const QString &elapsed = "    0:01",
                 const QString &estimated = "    0:05")
{
    return "     0/767    " + percent + "%)|" + elapsed + "/" + estimated + "|    0:00/    0:00|";
}

TEST_F(EncoderTest, Mp3CommandLines)
{
    TMp3Options o;
    const auto line = [&o] {
        return TMp3EncodeProcess::BuildCommandLine(o, true, "/in/a b.wav", "/out/a b.mp3");
    };
    EXPECT_EQ(line(), "lame -b 128 -m j \"/in/a b.wav\" \"/out/a b.mp3\"");
    o.IsVBRHead = true;
    EXPECT_EQ(line(), "lame -b 128 -m j \"/in/a b.wav\" \"/out/a b.mp3\""); // no -V, -B or -t without VBR
    o.IsSelectVBR = true;
    EXPECT_EQ(line(), "lame -b 128 -m j -V 4 -B 320 -t \"/in/a b.wav\" \"/out/a b.mp3\"");
    o.IsVBRHead = false;
    o.StereoMode = 7;
    o.MpegQuality = 2;
    EXPECT_EQ(line(), "lame -b 128 -h -V 4 -B 320 \"/in/a b.wav\" \"/out/a b.mp3\"");
    o.StereoMode = -1;
    o.MpegQuality = 1;
    o.IsSelectVBR = false;
    EXPECT_EQ(line(), "lame -b 128 -f \"/in/a b.wav\" \"/out/a b.mp3\"");
    o.StereoMode = 4;
    o.MpegQuality = 0;
    EXPECT_EQ(line(), "lame -b 128 -m m \"/in/a b.wav\" \"/out/a b.mp3\"");
    EXPECT_EQ(TMp3EncodeProcess::BuildCommandLine(o, false, "x.mp3", "y.wav"),
              "lame --decode \"x.mp3\" \"y.wav\"");
    // The arguments themselves: the files are whole, whatever they hold, and never taken for options.
    EXPECT_EQ(TMp3EncodeProcess::Arguments(o, true, "/in/say \"hi\".wav", "-o.mp3"),
              QStringList({"-b", "128", "-m", "m", "/in/say \"hi\".wav", "./-o.mp3"}));
}

TEST_F(EncoderTest, EncodeParser)
{
    TMp3EncodeProcess p;
    p.Window = &window;
    p.ParseEncodeOutput(TEncoderProcess::Lines("LAME 3.100\r\n    Frame          |  CPU time/estim\r" +
                                               LameLine("( 5") + "\r" + LameLine("(0 ") + "\n" +
                                               LameLine("100") + "\r\n   kbps      %     %\n"));
    QCoreApplication::processEvents();
    const auto progress = window.progress();
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_EQ(progress[0].Percent, 5);
    EXPECT_EQ(progress[0].Elapsed, "0:01");
    EXPECT_EQ(progress[0].Estimated, "0:05");
    EXPECT_EQ(progress[1].Percent, 100);
    EXPECT_EQ(p.PercentColumn, 15);
}

TEST_F(EncoderTest, DecodeParser)
{
    TMp3EncodeProcess p;
    p.Window = &window;
    p.StartTime = QDateTime::currentDateTime().addSecs(-30);
    p.ParseDecodeOutput(TEncoderProcess::Lines(
        "input:  x.mp3\nFrame#   100/   200  128 kbps\rFrame#     5/     0\rFrame#     5/   abc\r"));
    QCoreApplication::processEvents();
    const auto progress = window.progress();
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0].Percent, 50);
    EXPECT_EQ(progress[0].Elapsed, "00:30");
    EXPECT_EQ(progress[0].Estimated, "01:00");
}

TEST_F(EncoderTest, OverwriteQuestion)
{
    const QString out = home.root() + "/exists.mp3";
    WriteFileText(out, "old");
    TMp3EncodeProcess p;
    prepare(p, home.root() + "/in.wav", out, JobKind::WavToMp3);
    p.Start();
    EXPECT_FALSE(p.IsRunning());
    ASSERT_EQ(prompt.questions.size(), 1);
    EXPECT_EQ(prompt.questions[0], "Sondrel|" + out + " has existed,overite it?");
    EXPECT_TRUE(window.received.empty()); // posted, not sent
    QCoreApplication::processEvents();
    ASSERT_EQ(window.notices(2000).size(), 1u);
    EXPECT_EQ(window.notices(2000)[0].ResultCode, 0);

    // Yes, but someone holds the file.
    prompt.answer = true;
    const int fd = ::open(QFile::encodeName(out).constData(), O_RDWR);
    ASSERT_TRUE(LockOpenFile(fd, true));
    p.Start();
    QCoreApplication::processEvents();
    ::close(fd);
    ASSERT_EQ(window.notices(2000).size(), 2u);
    EXPECT_EQ(window.notices(2000)[1].ResultCode, 1);

    // Extraction and the recorder overwrite without asking.
    fakeProgram("lame", writesLastArgument);
    prompt.questions.clear();
    for (JobKind kind : {JobKind::ExtractTracks, JobKind::RecordingToMp3}) {
        prepare(p, home.root() + "/in.wav", out, kind);
        p.Start();
        ASSERT_TRUE(WaitFor(
            [&] { return window.notices(2000).size() == size_t(kind == JobKind::ExtractTracks ? 3 : 4); }));
    }
    EXPECT_TRUE(prompt.questions.isEmpty());
    EXPECT_EQ(window.notices(2000).back().ResultCode, 2);
}

TEST_F(EncoderTest, MissingEncoderRaises)
{
    TMp3EncodeProcess p;
    prepare(p, "in.wav", home.root() + "/new.mp3", JobKind::WavToMp3);
    qputenv("PATH_SAVED", qgetenv("PATH"));
    qputenv("PATH", QFile::encodeName(home.root()));
    try {
        p.Start();
        FAIL() << "no exception";
    } catch (const EAuException &e) {
        EXPECT_STREQ(e.what(),
                     "Error while creating mp3 encoding process!2 (lame was not found; the lame package "
                     "provides it)");
    }
    qputenv("PATH", qgetenv("PATH_SAVED"));
    EXPECT_FALSE(p.IsRunning());
}

TEST_F(EncoderTest, OutputAfterTheEndIsParsedBeforeTheCompletion)
{
    // The last line has no line end: it is parsed all the same, before the completion.
    fakeProgram("lame", writesLastArgument + "printf '%s\\r%s' '" + LameLine("( 5") + "' '" +
                            LameLine("100") + "'\n");
    TMp3EncodeProcess p;
    prepare(p, "in.wav", home.root() + "/new.mp3", JobKind::WavToMp3);
    p.Start();
    ASSERT_TRUE(waitForNotice(2000));
    const int done = indexOf(2000);
    EXPECT_EQ(window.notices(2000).size(), 1u);
    EXPECT_EQ(window.notices(2000)[0].ResultCode, 2);
    ASSERT_EQ(window.progress().size(), 2u);
    EXPECT_LT(indexOf(100), done);
    EXPECT_TRUE(QFileInfo(home.root() + "/new.mp3").isFile());
    EXPECT_EQ(WorkingFilesThere(home.root() + "/new.mp3"), QStringList());
}

TEST_F(EncoderTest, StopEndsTheChildWithoutAReport)
{
    const QString pidFile = home.root() + "/pid";
    fakeProgram("lame",
                "echo $$ > '" + pidFile + "'\nprintf '%s\\n' '" + LameLine("( 5") + "'\nexec sleep 600\n");
    TMp3EncodeProcess p;
    prepare(p, "in.wav", home.root() + "/new.mp3", JobKind::WavToMp3);
    p.Start();
    ASSERT_TRUE(waitForNotice(5));
    const pid_t child = ReadFileText(pidFile).trimmed().toInt();
    ASSERT_GT(child, 0);
    p.Stop(0);
    EXPECT_FALSE(p.Active);
    ASSERT_TRUE(WaitFor([&] { return ::kill(child, 0) != 0; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.notices(2000).empty());
}

TEST_F(EncoderTest, RealLameEncodesAndDecodes)
{
    const QString wav = home.root() + "/in.wav";
    const QString mp3 = home.root() + "/out.mp3";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "20", "sine", "440"}),
        0);
    TMp3EncodeProcess p;
    prepare(p, wav, mp3, JobKind::WavToMp3);
    p.Start();
    ASSERT_TRUE(waitForNotice(2000));
    auto progress = window.progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().Percent, 100);
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i].Percent, progress[i - 1].Percent);
    EXPECT_TRUE(progress.back().Elapsed.contains(':'));
    EXPECT_TRUE(progress.back().Estimated.contains(':'));
    EXPECT_EQ(window.notices(2000).size(), 1u);
    EXPECT_EQ(window.notices(2000)[0].ResultCode, 2);
    EXPECT_EQ(window.received.back().info.Percent, 2000);
    EXPECT_GT(QFileInfo(mp3).size(), 100000);

    window.received.clear();
    const QString back = home.root() + "/back.wav";
    prepare(p, mp3, back, JobKind::Mp3ToWav, false);
    p.Start();
    ASSERT_TRUE(waitForNotice(2000));
    progress = window.progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().Percent, 100);
    EXPECT_EQ(progress.back().Elapsed.size(), 5); // computed, "mm:ss"
    EXPECT_EQ(window.notices(2000).size(), 1u);
    EXPECT_EQ(window.received.back().info.Percent, 2000);
    EXPECT_NEAR(double(QFileInfo(back).size()), 44 + 20 * 44100 * 4, 44100 * 4 / 10);
}

TEST_F(EncoderTest, WmaCommandLines)
{
    TWmaEncodeOptions o;
    o.Profile = WmaProfileIndex(40);
    EXPECT_EQ(o.Profile, 8);
    EXPECT_EQ(TWMAEncodeProcess::BuildCommandLine("/p/WM8EUTIL", o, "/a.wav", "/a.wma"),
              "/p/WM8EUTIL -input \"/a.wav\" -output \"/a.wma\" -a_setting 64_44_2");
    o.Profile = 0;
    o.Tags = true;
    o.Comment = "Live at Pompeii";
    const QString line = TWMAEncodeProcess::BuildCommandLine("/p/WM8EUTIL", o, "/a.wav", "/a.wma");
    EXPECT_EQ(line, "/p/WM8EUTIL -input \"/a.wav\" -output \"/a.wma\" -a_setting 192_48_2 -description "
                    "\"Live at Pompeii\"");
    o.Artist = "x\" -output \"/some/file";
    EXPECT_EQ(TWMAEncodeProcess::Arguments(o, "a", "b"),
              QStringList({"-input", "a", "-output", "b", "-a_setting", "192_48_2", "-author",
                           "x\" -output \"/some/file", "-description", "Live at Pompeii"}));
    o.Tags = false;
    EXPECT_EQ(TWMAEncodeProcess::Arguments(o, "a", "b").size(), 6);
    EXPECT_STREQ(WmaProfiles[8].text, "44.100 kHz,  64 kbit/s, Stereo");
    EXPECT_EQ(WmaProfiles[32].sizeRatio, 261485);
}

TEST_F(EncoderTest, WmaMissingEncoder)
{
    TWMAEncodeProcess p;
    prepare(p, "a.wav", home.root() + "/a.wma", JobKind::WavToWma);
    p.Start();
    ASSERT_EQ(prompt.notices.size(), 1);
    EXPECT_TRUE(
        prompt.notices[0].startsWith("Sondrel|Can not find WMA encoder,please contact with https://"));
    EXPECT_TRUE(prompt.notices[0].endsWith("/issues")) << prompt.notices[0].toStdString();
    ASSERT_EQ(window.notices(5000).size(), 1u); // sent: here already
    EXPECT_EQ(window.notices(5000)[0].ResultCode, 0);
    EXPECT_FALSE(p.IsRunning());
}

TEST_F(EncoderTest, WmaReportsAndQuestions)
{
    // An ERROR line ends the file: one report 8 with the line, the rest of the output is not parsed, the
    // child is ended and nothing follows.
    fakeProgram("WM8EUTIL", writesOutputOption +
                                "printf 'ERROR: cannot read a.wav\\nEncoding: 100%%\\n'\nexec sleep 600\n");
    TWMAEncodeProcess p;
    prepare(p, "a.wav", home.root() + "/a.wma", JobKind::WavToWma);
    p.Start();
    ASSERT_TRUE(WaitFor([&] { return window.notices(5000).size() == 1; }));
    EXPECT_FALSE(p.IsRunning());
    QCoreApplication::processEvents();
    ASSERT_EQ(window.notices(5000).size(), 1u);
    EXPECT_EQ(window.notices(5000)[0].ResultCode, 8);
    EXPECT_EQ(window.notices(5000)[0].Elapsed, "ERROR: cannot read a.wav");
    EXPECT_TRUE(window.notices(100).empty());
    EXPECT_FALSE(QFileInfo::exists(home.root() + "/a.wma"));
    EXPECT_EQ(WorkingFilesThere(home.root() + "/a.wma"), QStringList());

    window.received.clear();
    fakeProgram("WM8EUTIL", writesOutputOption + "printf 'Encoding: 100%%\\n'\n");
    WriteFileText(home.root() + "/a.wma", "old");
    prompt.answer = true;
    prepare(p, "a.wav", home.root() + "/a.wma", JobKind::RecordingToMp3); // only kind 1 skips the question
    p.Start();
    EXPECT_EQ(prompt.questions.size(), 1);
    ASSERT_TRUE(WaitFor([&] { return window.notices(5000).size() == 1; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(window.notices(100).size(), 1u);
    EXPECT_EQ(window.notices(100)[0].Elapsed, "00:01");
    EXPECT_EQ(window.notices(100)[0].Estimated, "00:01");
}

TEST_F(EncoderTest, RealWmaEncoder)
{
    ASSERT_TRUE(QFile::copy(BuiltProgram("WM8EUTIL"), home.programFolder() + "WM8EUTIL"));
    QFile::setPermissions(home.programFolder() + "WM8EUTIL",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString wav = home.root() + "/in.wav";
    const QString wma = home.root() + "/out.wma";
    ASSERT_EQ(
        RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "3", "sine", "440"}), 0);
    TWMAEncodeProcess p;
    p.Options.Profile = 20; // 22.050 kHz, 20 kbit/s, mono
    p.Options.Tags = true;
    p.Options.Artist = "Pink Floyd";
    prepare(p, wav, wma, JobKind::WavToWma);
    p.Start();
    ASSERT_TRUE(WaitFor([&] { return !window.notices(5000).empty(); }, 60000));
    EXPECT_EQ(window.notices(5000)[0].ResultCode, 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.notices(100).size(), 1u);

    QByteArray output;
    ASSERT_EQ(
        RunProgram("ffprobe", {"-v", "error", "-show_streams", "-show_format", "-of", "json", wma}, &output),
        0);
    const QJsonObject json = QJsonDocument::fromJson(output).object();
    const QJsonObject stream = json["streams"].toArray().first().toObject();
    EXPECT_EQ(stream["codec_name"].toString(), "wmav2");
    EXPECT_EQ(stream["sample_rate"].toString(), "22050");
    EXPECT_EQ(stream["channels"].toInt(), 1);
    // The file's timeline holds the encoder's one frame of priming (2048 samples) besides the audio.
    EXPECT_NEAR(stream["duration"].toString().toDouble(), 3.0, 2048.0 / 22050 + 0.002);
    EXPECT_EQ(json["format"].toObject()["tags"].toObject()["artist"].toString(), "Pink Floyd");
}

} // namespace

namespace {

// Every way an encoder can fail leaves no file under the output name (an old file there stays as it was),
// no working file, and one failure report that names the file and the cause.
TEST_F(EncoderTest, FailedEncodingsLeaveNoPartialFile)
{
    struct Case {
        bool wma;
        QString script;
        QString cause;
    };
    const QString partialLame = StandInEncoder::WritesHalfLastArgument;
    const QString partialWma = StandInEncoder::WritesHalfOutputOption;
    const std::vector<Case> cases{
        {false, partialLame + "echo 'Error writing mp3 output' >&2\nexit 1\n",
         "lame ended with exit status 1: Error writing mp3 output"},
        {false, partialLame + "kill -9 $$\n", "lame was killed by signal 9"},
        {true, partialWma + "kill -9 $$\n", "WM8EUTIL was killed by signal 9"},
        {true, "printf 'Encoding: 100%%\\n'\n",
         "WM8EUTIL ended normally, but the encoder wrote an empty file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cause.toStdString());
        window.received.clear();
        const QString output = home.root() + (c.wma ? "/old.wma" : "/old.mp3");
        WriteFileText(output, "old");
        fakeProgram(c.wma ? "WM8EUTIL" : "lame", c.script);
        TMp3EncodeProcess mp3;
        TWMAEncodeProcess wma;
        TEncoderProcess &p = c.wma ? static_cast<TEncoderProcess &>(wma) : mp3;
        prepare(p, home.root() + "/in.wav", output, JobKind::ExtractTracks); // overwrites without asking
        p.Start();
        const int event = c.wma ? ProcessEvent::WmaEncoded : ProcessEvent::Mp3Encoded;
        ASSERT_TRUE(WaitFor([&] { return !window.notices(event).empty(); }));
        QCoreApplication::processEvents();
        ASSERT_EQ(window.notices(event).size(), 1u);
        const TProcessInfo report = window.notices(event)[0];
        EXPECT_EQ(report.ResultCode, ProcessResult::EncoderFailed);
        EXPECT_TRUE(report.Elapsed.startsWith(output + ": ")) << report.Elapsed.toStdString();
        EXPECT_TRUE(report.Elapsed.contains(c.cause)) << report.Elapsed.toStdString();
        EXPECT_EQ(ReadFileText(output), "old");
        EXPECT_EQ(WorkingFilesThere(output), QStringList());
    }
}

// Stop kills the child and takes its working file with it; the output name is never touched.
TEST_F(EncoderTest, StopRemovesTheWorkingFile)
{
    fakeProgram("lame", writesLastArgument + "printf '%s\\n' '" + LameLine("( 5") + "'\nexec sleep 600\n");
    TMp3EncodeProcess p;
    const QString output = home.root() + "/new.mp3";
    prepare(p, "in.wav", output, JobKind::WavToMp3);
    p.Start();
    ASSERT_TRUE(waitForNotice(5));
    ASSERT_TRUE(QFileInfo::exists(p.WorkingFile()));
    p.Stop(0);
    EXPECT_EQ(WorkingFilesThere(output), QStringList());
    EXPECT_FALSE(QFileInfo::exists(output));
}

// A name that begins with a dash, quotes, $(...) and backticks reach lame as the very names.
TEST_F(EncoderTest, FileNamesReachTheEncoderWhole)
{
    const QString record = home.root() + "/argv";
    fakeProgram("lame", "for a; do printf '%s\\0' \"$a\"; done > '" + record + "'\n" + writesLastArgument);
    const QString folder = home.root() + "/My \"Best\" $(rips) `x`";
    QDir().mkpath(folder);
    TMp3EncodeProcess p;
    prepare(p, "-say \"hi\".wav", folder + "/-say \"hi\".mp3", JobKind::WavToMp3);
    p.Start();
    ASSERT_TRUE(waitForNotice(2000));
    EXPECT_EQ(window.notices(2000)[0].ResultCode, ProcessResult::Ended);
    const QList<QByteArray> args = ReadFileBytes(record).split('\0');
    ASSERT_GE(args.size(), 3);
    EXPECT_EQ(QString::fromUtf8(args[args.size() - 3]), "./-say \"hi\".wav");
    EXPECT_TRUE(IsWorkingFileOf(QString::fromUtf8(args[args.size() - 2]), folder + "/-say \"hi\".mp3"));
    EXPECT_TRUE(QFileInfo::exists(folder + "/-say \"hi\".mp3"));
    EXPECT_EQ(p.CommandLine(), "lame -b 128 -m j \"-say \"hi\".wav\" \"" + folder + "/-say \"hi\".mp3\"");
}

} // namespace

namespace {

// WM8EUTIL removes only a file it wrote itself in this run.
TEST(Wm8eutil, AFailedRunRemovesOnlyItsOwnOutput)
{
    TestHome home;
    const QString existing = home.root() + "/existing.txt";
    WriteFileText(existing, "precious");
    QByteArray output;
    EXPECT_EQ(
        RunProgram(BuiltProgram("WM8EUTIL"),
                   {"-input", home.root() + "/nonexistent.wav", "-output", existing, "-a_setting", "64_44_2"},
                   &output),
        1);
    EXPECT_TRUE(output.contains("ERROR")) << output.toStdString();
    EXPECT_EQ(ReadFileText(existing), "precious");
}

} // namespace
