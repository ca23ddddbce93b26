// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "mainwindow/mainform.h"
#include "shell/folders.h"
#include "shell/inifile.h"
#include "shell/settings.h"
#include "testsupport.h"
#include "ui/applylanguage.h"
#include "ui/ripform.h"
#include "ui/singleinstance.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeView>
#include <csignal>
#include <gtest/gtest.h>

namespace {

class CommandsTest : public ::testing::Test {
protected:
    TestHome home;
    ModalCloser closer;
    QString images = DataFolder() + "Disc images/";
    QString out = home.root() + "/out";

    CommandsTest()
    {
        SetRealCdDrivesEnabled(false);
        QDir().mkpath(images);
        QDir().mkpath(out);
        WriteFileText(SettingsFolder() + "options.ini",
                      "[CommonOptions]\nOutputFolder=" + out + "\nOutputFormat=1\nIsCreateM3U=1\n");
    }
    ~CommandsTest() override { SetRealCdDrivesEnabled(true); }

    void setTitles(TMainForm &form, const QStringList &titles)
    {
        for (int i = 0; i < titles.size(); ++i)
            form.ListView1->model()->setData(form.ListView1->model()->index(i, 1), titles[i]);
    }
};

TEST_F(CommandsTest, JobListFromTheCheckedRows)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100", "100", "100", "100"}));
    TMainForm form;
    form.show();
    setTitles(form, {"Intro", "Skipped", "A/B", ""});
    form.ListView1->model()->setData(form.ListView1->model()->index(1, 0), Qt::Unchecked, Qt::CheckStateRole);
    const QStringList jobs = form.JobList();
    ASSERT_EQ(jobs.size(), 3);
    EXPECT_EQ(jobs[0], "01Intro");
    EXPECT_EQ(jobs[1], "03AB");
    EXPECT_TRUE(QRegularExpression("^04File_\\d{8}_\\d{6}_4$").match(jobs[2]).hasMatch())
        << jobs[2].toStdString();

    form.ActionNoSelectExecute();
    EXPECT_FALSE(form.AnyTrackChecked());
    EXPECT_FALSE(form.ActionExtract->isEnabled());
    form.ActionExtractExecute();
    EXPECT_TRUE(closer.texts.contains("Sondrel|Please select a track at least!"));
    form.ActionSelectAllExecute();
    EXPECT_EQ(form.JobList().size(), 4);
    EXPECT_TRUE(form.ActionExtract->isEnabled());
}

TEST_F(CommandsTest, ExtractIntoTheAlbumFolderWithAPlaylist)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100,music", "100,music", "100,music"}));
    WriteFileText(SettingsFolder() + "options.ini",
                  "[CommonOptions]\nOutputFolder=" + out +
                      "\nOutputFormat=1\nIsCreateM3U=1\nIsCreateAlbumFolder=1\n");
    TMainForm form;
    form.show();
    AppSettings.DiscInfo.Artist = "AC/DC";
    AppSettings.DiscInfo.Album = "Live: 2001";
    setTitles(form, {"One", "Two", "Three"});
    form.ActionExtractExecute();
    const QString album = out + "/Live 2001/";
    EXPECT_TRUE(QFileInfo::exists(album + "One.wav"));
    EXPECT_TRUE(QFileInfo::exists(album + "Three.wav"));
    EXPECT_EQ(ReadFileText(album + "ACDC - Live 2001.m3u"), "One.wav\r\nTwo.wav\r\nThree.wav\r\n");
    EXPECT_EQ(AppSettings.CommonOptions.OutputFolder, out); // restored

    // "." names no album folder of its own: the files go to the output folder itself.
    AppSettings.DiscInfo.Album = ".";
    form.ActionExtractExecute();
    EXPECT_TRUE(QFileInfo::exists(out + "/One.wav"));
    EXPECT_TRUE(QFileInfo::exists(out + "/ACDC - ..m3u"));
}

// With the setting on, audio hidden before track 1 (found when the disc loads) is ripped with it as track 0.
TEST_F(CommandsTest, TheHiddenTrackGoesWithTheFirst)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"300,music", "100,music"}));
    WriteFileText(images + "disc.cue",
                  ReadFileText(images + "disc.cue")
                      .replace("TRACK 01 AUDIO\n    INDEX 01 00:00:00",
                               "TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:02:00"));
    WriteFileText(SettingsFolder() + "options.ini",
                  "[CommonOptions]\nOutputFolder=" + out +
                      "\nOutputFormat=1\nIsCreateM3U=1\nRipHiddenTrack=1\n");
    TMainForm form;
    form.show();
    setTitles(form, {"One", "Two"});
    EXPECT_EQ(form.JobList(), QStringList({"0000 - Hidden Track", "01One", "02Two"}));
    form.ActionExtractExecute();
    EXPECT_EQ(ReadFileBytes(out + "/00 - Hidden Track.wav").mid(44),
              ReadFileBytes(images + "disc.bin").left(150 * 2352));
    EXPECT_EQ(QFileInfo(out + "/One.wav").size(), 44 + 150 * 2352);
    form.ListView1->model()->setData(form.ListView1->model()->index(0, 0), Qt::Unchecked, Qt::CheckStateRole);
    EXPECT_EQ(form.JobList(), QStringList({"02Two"}));
}

TEST_F(CommandsTest, AnAbortedJobWritesNoPlaylist)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"00:30:00,music", "00:30:00,music"}));
    TMainForm form;
    form.show();
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [] {
        if (auto *job = qobject_cast<TRipForm *>(QApplication::activeModalWidget()))
            job->btStop->click();
    });
    stopper.start(10);
    form.ActionExtractExecute();
    EXPECT_TRUE(QDir(out).entryList({"*.m3u"}).isEmpty());
}

TEST_F(CommandsTest, LanguageMenu)
{
    TMainForm form;
    form.show();
    form.LanguageClick("miGerman");
    EXPECT_EQ(AppSettings.Lan, "English");
    // (The window may also have shown its no-drive hint meanwhile.)
    EXPECT_EQ(closer.texts.filter("CLan_German.ini can not be found.").size(), 1)
        << closer.texts.join("\n").toStdString();
    EXPECT_TRUE(form.findChild<QAction *>("miEnglish")->isChecked());
    EXPECT_FALSE(form.findChild<QAction *>("miGerman")->isChecked());
    EXPECT_EQ(form.miLanguage->actions().size(), 24); // 23 items and a separator

    WriteFileText(home.programFolder() + "CLan_German.ini", "[MainForm]\nMainForm=Sondrel auf Deutsch\n"
                                                            "ListView1_Column1=Titel\n"
                                                            "[Menu_MainForm]\nFile1=&Datei\n");
    form.LanguageClick("miGerman");
    EXPECT_EQ(AppSettings.Lan, "German");
    // Qt's own buttons speak it too (Qt's translations of the system).
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Ja");
    EXPECT_TRUE(form.findChild<QAction *>("miGerman")->isChecked());
    EXPECT_FALSE(form.findChild<QAction *>("miEnglish")->isChecked());
    EXPECT_EQ(form.ListView1->model()->headerData(1, Qt::Horizontal).toString(), "Titel");
    // The caption is the product's name and version, the same in every language.
    EXPECT_EQ(form.windowTitle(), "Sondrel 5.6");
    EXPECT_EQ(form.findChild<QMenu *>("File1")->title(), "&Datei");
    EXPECT_FALSE(LoadQtTranslations("English")); // Qt's own English again
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Yes");
}

TEST_F(CommandsTest, ClearHistoryOfRealPlayerUnderWine)
{
    const QString prefix = home.root() + "/wine";
    QString reg = "WINE REGISTRY Version 2\n\n";
    for (int n = 1; n <= 3; ++n)
        reg += QString("[Software\\\\RealNetworks\\\\RealPlayer\\\\6.0\\\\Preferences\\\\MostRecentClips%1] "
                       "1\n@=\"x\"\n\n")
                   .arg(n);
    WriteFileText(prefix + "/user.reg", reg);
    qputenv("WINEPREFIX", QFile::encodeName(prefix));
    TMainForm form;
    form.show();
    form.ClearHistory(true);
    qunsetenv("WINEPREFIX");
    EXPECT_TRUE(closer.texts.contains("Sondrel|3 list records are deleted!"))
        << closer.texts.join("\n").toStdString();
    EXPECT_FALSE(ReadFileText(prefix + "/user.reg").contains("MostRecentClips"));
}

// A Wine registry on a full disk: the entries are not said to be deleted, and the file keeps them.
TEST_F(CommandsTest, ClearHistoryOnAFullDiskSaysWhy)
{
    const QString prefix = home.root() + "/wine";
    TinyFileSystem disk(prefix);
    if (!disk.available())
        GTEST_SKIP() << "no permission to mount a small file system";
    const QString reg = "WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\MediaPlayer\\\\Player\\\\"
                        "RecentFileList] 1\n\"File0\"=\"a.mp3\"\n\"File1\"=\"b.mp3\"\n\n";
    WriteFileText(prefix + "/user.reg", reg);
    disk.fill();
    qputenv("WINEPREFIX", QFile::encodeName(prefix));
    TMainForm form;
    form.show();
    form.ClearHistory(false);
    qunsetenv("WINEPREFIX");
    EXPECT_TRUE(closer.texts.join("\n").contains(prefix + "/user.reg: No space left on device"))
        << closer.texts.join("\n").toStdString();
    EXPECT_FALSE(closer.texts.join("\n").contains("list records are deleted"));
    EXPECT_EQ(ReadFileText(prefix + "/user.reg"), reg);
}

TEST_F(CommandsTest, OptionsOpenBesideTheWindowEveryTime)
{
    closer.findChild<QTimer *>()->stop(); // this test closes the dialog itself, after looking at it
    TMainForm form;
    form.show();
    QList<QPoint> seen;
    QTimer looker;
    QObject::connect(&looker, &QTimer::timeout, [&seen] {
        if (auto *modal = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            if (modal->objectName() == "OptionSetForm") // not the no-drive hint
                seen << modal->pos();
            modal->reject();
        }
    });
    looker.start(5);
    const QList<QPoint> places = {{120, 80}, {120, 80}, {400, 300}, {400, 300}};
    for (const QPoint &place : places) {
        form.move(place);
        form.ActionOptionSetExecute();
    }
    ASSERT_EQ(seen.size(), places.size());
    for (qsizetype i = 0; i < places.size(); ++i)
        EXPECT_EQ(seen[i], places[i] + QPoint(50, 50)) << "opening " << i + 1;
}

TEST_F(CommandsTest, ClosingStoresTitlesAndSettings)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100", "100"}));
    {
        TMainForm form;
        form.show();
        setTitles(form, {"First", "Second"});
        AppSettings.Mp3Options.BitRate = 192;
        form.close();
    }
    const IniFile cache(DataFolder() + "cdinfo.dat");
    const QString key = DiscKey();
    EXPECT_EQ(cache.readString(key, "1", ""), "First");
    EXPECT_EQ(cache.readString(key, "2", ""), "Second");
    EXPECT_EQ(cache.readInteger(key, "TrackNumber", 0), 2);
    EXPECT_EQ(IniFile(SettingsFolder() + "options.ini").readInteger("Mp3Options", "BitRate", 0), 192);
}

TEST_F(CommandsTest, TerminationSignalClosesTheWindowTheNormalWay)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100", "100", "100"}));
    QProcess sondrel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    sondrel.setProcessEnvironment(env);
    sondrel.start(BuiltProgram("sondrel"), {});
    ASSERT_TRUE(sondrel.waitForStarted());
    // The running program has read the disc once the instance socket answers.
    ASSERT_TRUE(WaitFor([] { return QFileInfo::exists(SingleInstance::socketPath()); }, 20000));
    ASSERT_TRUE(WaitFor(
        [&] {
            SignalProcess(sondrel, SIGTERM);
            return sondrel.waitForFinished(200);
        },
        20000));
    EXPECT_EQ(sondrel.exitStatus(), QProcess::NormalExit);
    EXPECT_TRUE(QFileInfo::exists(SettingsFolder() + "options.ini"));
    EXPECT_EQ(IniFile(DataFolder() + "cdinfo.dat").readInteger(DiscKey(), "TrackNumber", 0), 3);
}

} // namespace

// File > Convert audio files: files of other programs into the chosen format in the job window, a file that
// cannot be read named, ReplayGain at the end.
TEST_F(CommandsTest, ConvertAudioFilesOfAnyKind)
{
    const QString source = home.root() + "/in.flac";
    ASSERT_EQ(RunProgram("sox", {"-n", "-r", "44100", "-b", "16", "-c", "2", home.root() + "/in.wav", "synth",
                                 "1", "sine", "440"}),
              0);
    ASSERT_EQ(RunProgram("flac", {"-s", "-T", "TITLE=Uno", "-o", source, home.root() + "/in.wav"}), 0);
    TMainForm form;
    form.show();
    form.ConvertAnyFiles({source, home.root() + "/missing.mp3"}, OutputFormat::Opus);
    QByteArray info;
    EXPECT_EQ(RunProgram("opusinfo", {out + "/in.opus"}, &info), 0) << info.toStdString();
    EXPECT_TRUE(info.contains("Playback length: 0m:01.000s")) << info.toStdString();
    EXPECT_EQ(closer.texts.filter(home.root() + "/missing.mp3: ").size(), 1)
        << closer.texts.join("\n").toStdString();
    EXPECT_TRUE(info.contains("R128_TRACK_GAIN=")) << info.toStdString(); // ReplayGain is on for Opus
}

// An Extract into a folder where an earlier rip read some tracks well offers to keep them and read only the
// others: the kept files stay as they are, the log carries their entries.
TEST_F(CommandsTest, ExtractGoesOnFromAnEarlierRip)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue",
                         {"--damage", "unreadable=150-160", "100,music", "100,music", "100,music"}));
    WriteFileText(SettingsFolder() + "options.ini",
                  "[CommonOptions]\nOutputFolder=" + out + "\nOutputFormat=1\nWriteLog=1\n");
    const auto extract = [&] {
        TMainForm form;
        form.show();
        setTitles(form, {"One", "Two", "Three"});
        form.ActionExtractExecute();
    };
    extract();
    const QStringList logs = QDir(out).entryList({"*.log"});
    ASSERT_EQ(logs.size(), 1);
    const QString log = out + "/" + logs[0];
    ASSERT_TRUE(ReadFileText(log).contains("  Status: damaged")) << ReadFileText(log).toStdString();
    QFile::remove(images + "disc.cue.damage"); // a cleaned disc
    const QDateTime one = QFileInfo(out + "/One.wav").lastModified();
    closer.texts.clear();

    extract();
    EXPECT_EQ(closer.texts.filter("well, and their files are there: 01, 03.").size(), 1)
        << closer.texts.join("\n").toStdString();
    EXPECT_EQ(QFileInfo(out + "/One.wav").lastModified(), one);
    const QString text = ReadFileText(log);
    EXPECT_TRUE(text.contains("Resumed: tracks kept from the earlier run: 01, 03\r\n")) << text.toStdString();
    EXPECT_EQ(text.count("  Status: copied"), 3) << text.toStdString();
}

// A rip to FLAC in the window ends with the tracks' ReplayGain values (the setting is on by default).
TEST_F(CommandsTest, AFlacRipGetsReplayGain)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100,music", "100,noise"}));
    WriteFileText(SettingsFolder() + "options.ini",
                  "[CommonOptions]\nOutputFolder=" + out + "\nOutputFormat=4\n");
    TMainForm form;
    form.show();
    setTitles(form, {"One", "Two"});
    form.ActionExtractExecute();
    for (const char *name : {"/One.flac", "/Two.flac"}) {
        QByteArray gains;
        ASSERT_EQ(
            RunProgram("metaflac",
                       {"--show-tag=REPLAYGAIN_TRACK_GAIN", "--show-tag=REPLAYGAIN_ALBUM_GAIN", out + name},
                       &gains),
            0);
        EXPECT_EQ(gains.count(" dB\n"), 2) << gains.toStdString();
    }
}

// Extra formats in the window: each from the same read, in a folder of its own; the WAVs go at the end.
TEST_F(CommandsTest, ExtraFormatsFromOneRead)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100,music", "100,noise"}));
    WriteFileText(SettingsFolder() + "options.ini",
                  "[CommonOptions]\nOutputFolder=" + out +
                      "\nOutputFormat=4\nOutputFormats=5,4,99\nReplayGain=0\n[ID3]\nUse=1\n");
    TMainForm form;
    form.show();
    setTitles(form, {"One", "Two"});
    form.ActionExtractExecute();
    EXPECT_EQ(QDir(out + "/FLAC").entryList(QDir::Files | QDir::Hidden),
              QStringList({"One.flac", "Two.flac"}));
    EXPECT_EQ(QDir(out + "/OPUS").entryList(QDir::Files | QDir::Hidden),
              QStringList({"One.opus", "Two.opus"}));
    QByteArray info;
    EXPECT_EQ(RunProgram("opusinfo", {out + "/OPUS/Two.opus"}, &info), 0) << info.toStdString();
    EXPECT_TRUE(info.contains("TITLE=Two")) << info.toStdString(); // from the FLAC's tags
    // Where they went: said under the list, with a button that opens the folder.
    EXPECT_EQ(form.StatusText(), "4 files saved in " + out);
    EXPECT_FALSE(form.bOpenSaved->isHidden());
}
