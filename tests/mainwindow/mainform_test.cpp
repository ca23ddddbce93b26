// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/authread.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "mainwindow/mainform.h"
#include "mainwindow/nodevicehint.h"
#include "mainwindow/toolicons.h"
#include "mainwindow/tracklistmodel.h"
#include "shell/folders.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <cstring>
#include <gtest/gtest.h>

namespace {

class MainFormTest : public ::testing::Test {
protected:
    TestHome home;
    ModalCloser closer;
    QString images = DataFolder() + "Disc images/";

    MainFormTest()
    {
        SetRealCdDrivesEnabled(false);
        QDir().mkpath(images);
    }
    ~MainFormTest() override { SetRealCdDrivesEnabled(true); }

    static QStringList row(const QTreeView *list, int i)
    {
        QStringList texts;
        for (int column = 0; column < 4; ++column)
            texts << list->model()->index(i, column).data().toString();
        return texts;
    }
};

TEST_F(MainFormTest, RowTexts)
{
    EXPECT_EQ(TTrackListModel::LengthText(4, 0), "04:00");
    EXPECT_EQ(TTrackListModel::SizeText(4, 0), "40.37");
    EXPECT_EQ(TTrackListModel::SizeText(0, 30), "05.05");
    EXPECT_EQ(TTrackListModel::SizeText(74, 33), "752.48"); // 74:33 of CD audio is 752.4807 MiB
}

TEST_F(MainFormTest, StartUpListsTheDiscWithCachedTitles)
{
    // 4:00 exactly, then 4:00 and 74 frames (frames do not count), then 30 seconds.
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"04:00:00,music", "04:00:74,noise", "00:30:00,tone"}));
    const QString key = DiscKey();
    WriteFileText(DataFolder() + "cdinfo.dat",
                  "[" + key + "]\nArtist=Band\nTrackNumber=3\n1=Intro\n2=\n3=Outro\n");
    AppSettings.CDOptions.Index = -1;
    WriteFileText(SettingsFolder() + "options.ini", "[CDOptions]\nIndex=-1\n");
    TMainForm form;
    form.show();
    ASSERT_NE(form.Session.DriveHandle, 0u);
    ASSERT_EQ(form.ListView1->model()->rowCount(), 3);
    EXPECT_EQ(row(form.ListView1, 0), QStringList({"1", "Intro", "04:00", "40.37"}));
    EXPECT_EQ(row(form.ListView1, 1), QStringList({"2", "Track02", "04:00", "40.37"}));
    EXPECT_EQ(row(form.ListView1, 2), QStringList({"3", "Outro", "00:30", "05.05"}));
    EXPECT_EQ(Qt::CheckState(form.ListView1->model()->index(0, 0).data(Qt::CheckStateRole).toInt()),
              Qt::Checked);
    EXPECT_EQ(form.StatusText(), "Image   disc.cue");
    EXPECT_EQ(form.Session.DriveDescription, "Image   disc.cue");
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "Band");
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[2], "Track02");
    EXPECT_EQ(form.windowTitle(), "Sondrel 5.6");
    EXPECT_EQ(form.size(), QSize(551, 500));
}

TEST_F(MainFormTest, CdTextTitlesForADiscTheCacheDoesNotKnow)
{
    ASSERT_TRUE(
        MakeDisc(images + "disc.cue",
                 {"--title", QString::fromUtf8("Hits 日本"), "--performer", "Various", "--track-title",
                  "1=Intro", "--track-title", QString::fromUtf8("2=Трава у дома"), "--track-performer",
                  QString::fromUtf8("2=Земляне"), "100,music", "100,music", "100,music"}));
    {
        TMainForm form;
        form.show();
        ASSERT_EQ(form.ListView1->model()->rowCount(), 3);
        EXPECT_EQ(row(form.ListView1, 0).value(1), "Intro");
        EXPECT_EQ(row(form.ListView1, 1).value(1), QString::fromUtf8("Трава у дома"));
        EXPECT_EQ(row(form.ListView1, 2).value(1), "Track03"); // no CD-Text for it
        EXPECT_EQ(AppSettings.DiscInfo.Album, QString::fromUtf8("Hits 日本"));
        EXPECT_EQ(AppSettings.DiscInfo.Artist, "Various");
        EXPECT_EQ(form.Session.Disc.TrackArtist(1), QString::fromUtf8("Земляне"));
        EXPECT_EQ(form.Session.Disc.TrackArtist(0), "Various");
        form.Session.Disc.SetTitle(0, "Mine");
        form.close(); // the titles are kept in the cache
    }
    // Once the cache knows the disc, its titles win.
    TMainForm again;
    again.show();
    EXPECT_EQ(row(again.ListView1, 0).value(1), "Mine");
}

// The list shows the disc model: a title typed into a row is the disc's title at once, a title set on the
// disc shows in its row, and closing stores what the disc holds.
TEST_F(MainFormTest, TheListShowsTheDisc)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"300,music", "300,music"}));
    const QString key = DiscKey();
    {
        TMainForm form;
        form.show();
        ASSERT_EQ(form.Session.Disc.RowCount(), 2);
        form.ListView1->model()->setData(form.ListView1->model()->index(0, 1), "Typed");
        EXPECT_EQ(form.Session.Disc.Title(0), "Typed");
        EXPECT_EQ(AppSettings.DiscInfo.Tracks[1], "Typed");
        form.Session.Disc.SetTitle(1, "From the disc");
        EXPECT_EQ(form.ListView1->model()->index(1, 1).data().toString(), "From the disc");
        EXPECT_EQ(form.JobList(), QStringList({"01Typed", "02From the disc"}));
        // A wider window widens the titles; the other columns keep their widths.
        const int title = form.ListView1->columnWidth(1), size = form.ListView1->columnWidth(3);
        form.resize(form.width() + 200, form.height());
        QCoreApplication::processEvents();
        EXPECT_GE(form.ListView1->columnWidth(1), title + 150);
        EXPECT_EQ(form.ListView1->columnWidth(3), size);
        form.close();
    }
    const QString cache = ReadFileText(DataFolder() + "cdinfo.dat");
    EXPECT_TRUE(cache.contains("[" + key + "]")) << cache.toStdString();
    EXPECT_TRUE(cache.contains("1=Typed\n")) << cache.toStdString();
    EXPECT_TRUE(cache.contains("2=From the disc\n")) << cache.toStdString();
}

// Closing with the settings on a full disk: options.ini keeps what it held, and a message names the file and
// the system's reason.
TEST_F(MainFormTest, ClosingOnAFullDiskKeepsTheSettings)
{
    TinyFileSystem disk(SettingsFolder());
    if (!disk.available())
        GTEST_SKIP() << "no permission to mount a small file system";
    const QString options = SettingsFolder() + "options.ini";
    WriteFileText(options, "[CommonOptions]\nOutputFolder=/music\nOutputFormat=2\n[Mine]\nKeep=me\n");
    const QByteArray before = ReadFileBytes(options);
    disk.fill();
    {
        TMainForm form;
        form.show();
        AppSettings.CommonOptions.OutputFormat = 1; // a change that would be saved
        form.close();
    }
    EXPECT_EQ(ReadFileBytes(options), before);
    EXPECT_EQ(QDir(SettingsFolder()).entryList(QDir::Files | QDir::Hidden),
              QStringList({".filler", "options.ini"}));
    EXPECT_TRUE(closer.texts.join("\n").contains(options + ": No space left on device"))
        << closer.texts.join("\n").toStdString();
}

// CD playback through the audio output (ALSA's null device here): the last row plays to the lead-out, the
// end of the track runs Stop, and Stop puts the saved status line back.
TEST_F(MainFormTest, PlayingATrack)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100,music", "200,tone", "150,noise"}));
    TMainForm form;
    form.show();
    form.Session.CDAudioOut.DeviceNumber = int(TDXAudioOut::DeviceNames().indexOf("null"));
    form.Session.SavedStatus = "Ready";
    EXPECT_FALSE(form.aPlay->isEnabled()); // nothing selected
    EXPECT_FALSE(form.aStop->isEnabled());
    EXPECT_FALSE(form.aPause->isEnabled());
    form.ListView1->setCurrentIndex(form.ListView1->model()->index(2, 0));
    EXPECT_TRUE(form.aPlay->isEnabled());
    form.aPlay->trigger();
    EXPECT_EQ(form.StatusText(), "Play Track03");
    EXPECT_TRUE(form.Session.Playing);
    // The last row's track, from its start to the lead-out, and then Stop by itself.
    EXPECT_EQ(form.Session.CDPlayIn.StartTrack(), 3);
    EXPECT_EQ(form.Session.CDPlayIn.EndTrack(), 3);
    ASSERT_TRUE(WaitFor([&] { return !form.Session.Playing; }));
    EXPECT_EQ(form.Session.CDPlayIn.Position, 150 * 2352); // read ahead or not, each byte counted once
    EXPECT_EQ(form.StatusText(), "Ready");
    EXPECT_FALSE(form.aStop->isEnabled());
}

TEST_F(MainFormTest, PausingAndResumingATrack)
{
    // A device that takes what the test allows: pause comes while the track is surely still playing.
    GatedSoundDevice device;
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"750,music"}));
    const QByteArray track = ReadFileBytes(images + "disc.bin");
    ASSERT_EQ(track.size(), 750 * 2352);
    TMainForm form;
    form.show();
    form.Session.CDAudioOut.DeviceNumber = GatedSoundDevice::index();
    ASSERT_GE(form.Session.CDAudioOut.DeviceNumber, 0);
    form.Session.SavedStatus = "Ready";
    form.ListView1->setCurrentIndex(form.ListView1->model()->index(0, 0));
    device.allow(200000);
    form.aPlay->trigger();
    ASSERT_TRUE(WaitFor([&] { return device.received() >= 200000; }));

    // Pausing lets the block in progress finish; then nothing more comes.
    device.setFlowing([&] {
        return form.Session.CDAudioOut.Thread->PauseRequest || form.Session.CDAudioOut.Thread->Paused;
    });
    form.aPause->trigger();
    EXPECT_TRUE(form.Session.Paused);
    EXPECT_EQ(form.Session.CDAudioOut.Status(), 1);
    EXPECT_FALSE(form.aPause->isEnabled());
    EXPECT_TRUE(form.aPlay->isEnabled());
    EXPECT_TRUE(form.aStop->isEnabled());
    EXPECT_EQ(form.StatusText(), "Play Track01");
    const int64_t atPause = device.received();
    EXPECT_LT(atPause, track.size() / 2);

    // Play goes on from there (not from the start), to the end of the track, and Stop restores the status.
    device.allow(-1);
    form.aPlay->trigger();
    EXPECT_FALSE(form.Session.Paused);
    ASSERT_TRUE(WaitFor([&] { return !form.Session.Playing; }));
    EXPECT_EQ(form.StatusText(), "Ready");
    // The pipe behind the device may still hold the end of the track when playback ends.
    ASSERT_TRUE(WaitFor([&] { return device.received() >= track.size(); }));
    const QByteArray played = device.data();
    EXPECT_TRUE(played.startsWith(track)) << "the sound played is not the track once through";
    EXPECT_EQ(played.mid(track.size()).count('\0'), played.size() - track.size()); // silence after it
}

TEST_F(MainFormTest, StopWhilePausedRestoresTheStatus)
{
    GatedSoundDevice device;
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"750,music"}));
    TMainForm form;
    form.show();
    form.Session.CDAudioOut.DeviceNumber = GatedSoundDevice::index();
    form.Session.SavedStatus = "Ready";
    form.ListView1->setCurrentIndex(form.ListView1->model()->index(0, 0));
    device.allow(100000);
    form.aPlay->trigger();
    ASSERT_TRUE(WaitFor([&] { return device.received() >= 100000; }));
    device.setFlowing([&] {
        return form.Session.CDAudioOut.Thread->PauseRequest || form.Session.CDAudioOut.Thread->Paused;
    });
    form.aPause->trigger();
    device.allow(-1); // Stop drops what the device holds
    form.aStop->trigger();
    EXPECT_FALSE(form.Session.Playing);
    EXPECT_FALSE(form.Session.Paused);
    EXPECT_EQ(form.StatusText(), "Ready");
    EXPECT_FALSE(form.aStop->isEnabled());
    EXPECT_EQ(form.Session.CDAudioOut.Status(), 2); // idle
    EXPECT_LT(device.received(), 750 * 2352);
    EXPECT_TRUE(closer.texts.isEmpty()) << closer.texts.join("\n").toStdString();
}

TEST_F(MainFormTest, PlayingWithoutASoundCardSaysSo)
{
    MakeNoSoundCard();
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100,music"}));
    TMainForm form;
    form.show();
    form.Session.SavedStatus = "Ready";
    form.ListView1->setCurrentIndex(form.ListView1->model()->index(0, 0));
    form.aPlay->trigger(); // on "default", which leads nowhere
    ASSERT_TRUE(WaitFor([&] { return !form.Session.Playing; }));
    ASSERT_EQ(closer.texts.size(), 1);
    // The Part's words, then Linux's: ALSA, the device and the reason.
    EXPECT_TRUE(
        closer.texts[0].startsWith("Sondrel|Failed to create DirectSound device: ALSA playback device "
                                   "\"default\": "))
        << closer.texts[0].toStdString();
    EXPECT_EQ(form.StatusText(), "Ready");
    EXPECT_TRUE(form.aPlay->isEnabled()); // and it can be tried again
}

TEST_F(MainFormTest, CddbIdentityOfTheDisc)
{
    const int lengths[] = {13000, 21111, 9001, 30000};
    QStringList tracks;
    for (int l : lengths)
        tracks << QString("%1,silence").arg(l);
    ASSERT_TRUE(MakeDisc(images + "disc.cue", tracks));
    TMainForm form;
    form.show();
    // The published CDDB disc id, computed here from the track starts (in sectors, 2 s lead-in added).
    int starts[5] = {0};
    for (int i = 0; i < 4; ++i)
        starts[i + 1] = starts[i] + lengths[i];
    int digits = 0;
    for (int i = 0; i < 4; ++i) {
        for (int s = (starts[i] + 150) / 75; s > 0; s /= 10)
            digits += s % 10;
    }
    const int seconds = (starts[4] + 150) / 75 - (starts[0] + 150) / 75;
    const uint32_t id = uint32_t(digits % 255) << 24 | uint32_t(seconds) << 8 | 4u;
    EXPECT_EQ(form.Session.Disc.CddbDiscId(), QString("%1").arg(id, 8, 16, QChar('0')));
    // The query: frame offsets from the disc's very start, the length in the seconds of the id.
    EXPECT_EQ(form.Session.Disc.CddbQueryText(),
              QString("4 150 13150 34261 43262 %1").arg((starts[4] + 150) / 75));
}

TEST_F(MainFormTest, AnIndexOutsideTheListOpensTheFirstDrive)
{
    ASSERT_TRUE(MakeDisc(images + "a.cue", {"100"}));
    ASSERT_TRUE(MakeDisc(images + "b.cue", {"200", "300"}));
    WriteFileText(SettingsFolder() + "options.ini", "[CDOptions]\nIndex=7\n");
    TMainForm first;
    first.show();
    EXPECT_EQ(first.Session.DriveDescription, "Image   a.cue");
    EXPECT_EQ(first.ListView1->model()->rowCount(), 1);
    first.close();

    WriteFileText(SettingsFolder() + "options.ini", "[CDOptions]\nIndex=1\n");
    TMainForm second;
    second.show();
    EXPECT_EQ(second.Session.DriveDescription, "Image   b.cue");
}

TEST_F(MainFormTest, DriveComponentPath)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"00:10:00", "00:20:00"}));
    WriteFileText(SettingsFolder() + "options.ini", "[CommonOptions]\nIsCDHandleZero=1\n");
    TMainForm form;
    form.show();
    EXPECT_EQ(form.Session.DriveHandle, 0u);
    // No handle was opened: the first one still free is 1.
    const TCdHandle probe = OpenFirstDriveHandle();
    EXPECT_EQ(probe, 1u);
    CloseDriveHandle(probe);

    form.FormActivate();
    ASSERT_EQ(form.ListView1->model()->rowCount(), 2);
    EXPECT_EQ(form.ListView1->model()->index(1, 2).data().toString(), "00:20");
    EXPECT_EQ(form.StatusText(), "Image disc.cue");
    EXPECT_EQ(form.Session.SavedStatus, "Image disc.cue");
    EXPECT_TRUE(form.Session.Disc.CddbDiscId().isEmpty());
}

TEST_F(MainFormTest, NoDriveAtAll)
{
    TMainForm form;
    form.show();
    EXPECT_EQ(form.Session.DriveHandle, 0u);
    EXPECT_EQ(form.StatusText(), "No CD devices found!"); // one language: nothing more to say
    form.FormActivate();
    form.FormActivate();
    // The hint comes once a run, however often the window is activated.
    EXPECT_EQ(closer.texts.count("Sondrel|frmNoDeviceHint"), 1);
    // Its lines are not broken, and it names the disc images folder with its whole path.
    TfrmNoDeviceHint hint;
    hint.show();
    for (const QLabel *label : hint.findChildren<QLabel *>())
        EXPECT_FALSE(label->wordWrap()) << label->objectName().toStdString();
    EXPECT_TRUE(hint.findChild<QLabel *>("lImagesFolder")->text().contains(DataFolder() + "Disc images"));
    EXPECT_EQ(form.StatusText(), "Can not find audio CD in your CD device.");
}

TEST_F(MainFormTest, DiscsComingAndGoing)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"100", "100"}));
    TMainForm form;
    form.show();
    ASSERT_EQ(form.ListView1->model()->rowCount(), 2);
    EXPECT_TRUE(form.ActionExtract->isEnabled());
    EXPECT_TRUE(form.aQueryCDDB->isEnabled());
    QFile::rename(images + "disc.cue", images + "disc.away");
    ASSERT_TRUE(WaitFor([&] { return form.ListView1->model()->rowCount() == 0; }));
    // The commands follow the list by themselves: nothing here updates them.
    EXPECT_FALSE(form.ActionExtract->isEnabled());
    EXPECT_FALSE(form.aQueryCDDB->isEnabled());
    QFile::rename(images + "disc.away", images + "disc.cue");
    ASSERT_TRUE(WaitFor([&] { return form.ListView1->model()->rowCount() == 2; }));
    EXPECT_TRUE(form.ActionExtract->isEnabled());
    EXPECT_TRUE(form.aQueryCDDB->isEnabled());
}

} // namespace

namespace {

TEST_F(MainFormTest, ToolBarIconsOfTheirOwnWithoutAnIconTheme)
{
    const QString theme = QIcon::themeName();
    QIcon::setThemeName(QStringLiteral("no-such-theme"));
    TMainForm form;
    const QStringList buttons = {"tbExtract", "tbEncode", "tbFolder", "tbRecord",
                                 "tbOptions", "tbHome",   "tbExit"};
    const QStringList names = DrawnToolIconNames();
    ASSERT_EQ(names.size(), buttons.size());
    QList<QImage> shownSoFar;
    for (int i = 0; i < buttons.size(); ++i) {
        auto *button = form.findChild<QToolButton *>(buttons[i]);
        ASSERT_NE(button, nullptr) << buttons[i].toStdString();
        const QImage shown = button->icon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage drawn =
            DrawnToolIcon(names[i]).pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(shown, drawn) << buttons[i].toStdString();
        int opaque = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                opaque += qAlpha(shown.pixel(x, y)) > 128;
        EXPECT_GT(opaque, 100) << buttons[i].toStdString();
        for (const QImage &other : shownSoFar)
            EXPECT_NE(shown, other) << buttons[i].toStdString();
        shownSoFar << shown;
    }
    QIcon::setThemeName(theme);
}

// Records the addresses the desktop is asked to open.
class UrlCatcher final : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

TEST_F(MainFormTest, HomeOpensTheProjectsPage)
{
    TMainForm form;
    ASSERT_FALSE(TMainForm::HomePage().isEmpty());
    auto *button = form.findChild<QToolButton *>("tbHome");
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->defaultAction()->isVisible());
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    button->click();
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0], QUrl(TMainForm::HomePage()));
    EXPECT_FALSE(TMainForm::HomePage().contains(".example"));
}

} // namespace

#include "mainform_test.moc"
