// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddbserver.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "mainwindow/mainform.h"
#include "shell/discinfo.h"
#include "shell/folders.h"
#include "shell/genres.h"
#include "shell/settings.h"
#include "testsupport.h"
#include "ui/musicbrainzform.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Acts on the lookup windows as they open: a handler per window name, called once per opening. Any window
// still open after the deadline is closed, so a test never hangs.
class WindowDriver final : public QObject {
public:
    std::map<QString, std::function<void(QDialog *)>> handlers;
    QStringList seen;

    WindowDriver()
    {
        auto *timer = new QTimer(this);
        timer->setInterval(20);
        connect(timer, &QTimer::timeout, this, &WindowDriver::check);
        timer->start();
        m_clock.start();
    }

private:
    void check()
    {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (m_clock.elapsed() > 30000) {
            dialog->reject();
            return;
        }
        if (dialog == m_last)
            return;
        m_last = dialog;
        seen << dialog->objectName();
        const auto handler = handlers.find(dialog->objectName());
        // Acted on from a call of its own: a window that opens another modal window must not hold up this
        // timer, or the next window would never be seen.
        if (handler != handlers.end()) {
            QPointer<QDialog> target = dialog;
            QMetaObject::invokeMethod(
                this,
                [target, action = handler->second] {
                    if (target)
                        action(target);
                },
                Qt::QueuedConnection);
        }
    }
    QPointer<QDialog> m_last;
    QElapsedTimer m_clock;
};

class QueryWindowsTest : public ::testing::Test {
protected:
    TestHome home;
    CddbTestServer server;
    WindowDriver driver;
    QString images = DataFolder() + "Disc images/";

    QueryWindowsTest()
    {
        SetRealCdDrivesEnabled(false);
        QDir().mkpath(images);
        EXPECT_TRUE(MakeDisc(images + "disc.cue", {"15000,silence", "15000,silence"}));
    }
    ~QueryWindowsTest() override { SetRealCdDrivesEnabled(true); }

    // The settings window gets the test server and the tag encoding, then Query is pressed.
    void queryWith(int tagEncoding)
    {
        driver.handlers["frmQueryCDDB"] = [this, tagEncoding](QDialog *dialog) {
            auto *form = static_cast<TfrmQueryCDDB *>(dialog);
            form->cbServer->setEditText(server.url().mid(7));
            form->cbTag->setCurrentIndex(tagEncoding);
            // After a lookup that did not finish, the window stays: close it then.
            driver.handlers["frmQueryCDDB"] = [](QDialog *again) {
                static_cast<TfrmQueryCDDB *>(again)->reject();
            };
            form->bQuery->click();
        };
    }
    // When the stop window shows its no-match panel: note what it says and press its button.
    void closeAtPanel(QString &panel, QString &button)
    {
        driver.handlers["frmStopQuery"] = [&panel, &button](QDialog *dialog) {
            auto *stop = static_cast<TfrmStopQuery *>(dialog);
            auto *poll = new QTimer(stop);
            poll->setInterval(20);
            QObject::connect(poll, &QTimer::timeout, stop, [stop, poll, &panel, &button] {
                if (!stop->Panel1->isVisibleTo(stop))
                    return;
                poll->stop();
                EXPECT_FALSE(stop->lHint->isVisibleTo(stop));
                panel = stop->Label1->text();
                button = stop->bStop->text();
                stop->bStop->click();
            });
            poll->start();
        };
    }
    static QStringList titles(const TMainForm &form)
    {
        QStringList list;
        for (int i = 0; i < form.ListView1->model()->rowCount(); ++i)
            list << form.ListView1->model()->index(i, 1).data().toString();
        return list;
    }
};

TEST_F(QueryWindowsTest, UnicodeRouteFillsTheListAndTheCache)
{
    server.setQueryFixture("query_exact.txt");
    TMainForm form;
    form.show();
    ASSERT_NE(form.Session.DriveHandle, 0u);
    form.UpdateActions();
    EXPECT_TRUE(form.aQueryCDDB->isEnabled());
    queryWith(0);
    form.aQueryCDDBExecute();
    EXPECT_EQ(titles(form), (QStringList{"First Song", "Guest / Second Song"}));
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "Artist");
    EXPECT_EQ(AppSettings.DiscInfo.Album, "Album");
    EXPECT_EQ(AppSettings.DiscInfo.Year, "1999");
    EXPECT_EQ(AppSettings.DiscInfo.Genre, GenreIndex("Rock") + 1);
    EXPECT_EQ(AppSettings.DiscInfo.TrackNumber, 2);
    EXPECT_EQ(AppSettings.QueryCDDB.Server, server.url().mid(7));
    EXPECT_EQ(server.commands().value(0), "cddb query 06019002 2 150 15150 402");
    // The cache holds the titles: reloading the disc brings them back.
    AppSettings.DiscInfo = TCDInfo();
    LoadDiscInfo(DiscKey());
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[2], "Guest / Second Song");
    EXPECT_EQ(AppSettings.DiscInfo.Album, "Album");
}

TEST_F(QueryWindowsTest, LibraryRouteTakesTheWholeTitleLine)
{
    server.setQueryFixture("query_exact.txt");
    TMainForm form;
    form.show();
    queryWith(1);
    form.aQueryCDDBExecute();
    EXPECT_EQ(titles(form), (QStringList{"First Song", "Guest / Second Song"}));
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "Artist");
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[1], "First Song");
    EXPECT_EQ(form.ListView1->model()->index(0, 1).data(Qt::TextAlignmentRole).toInt() &
                  Qt::AlignHorizontal_Mask,
              Qt::AlignLeft);
    EXPECT_EQ(server.commands().value(1), "cddb read rock 06019002");
}

TEST_F(QueryWindowsTest, NoMatchShowsThePanelAndStoresNothing)
{
    server.setQueryFixture("query_nomatch.txt");
    TMainForm form;
    form.show();
    const QStringList before = titles(form);
    QString panel;
    QString button;
    closeAtPanel(panel, button);
    queryWith(0);
    form.aQueryCDDBExecute();
    EXPECT_EQ(panel, "No match found,perhaps:\n1.No information in CDDB server\n2.error CDDB "
                     "options\n3.check the network");
    EXPECT_EQ(button, "Close");
    EXPECT_EQ(titles(form), before);
    EXPECT_FALSE(QFile::exists(home.discInfoFile()));
    // The component was asked first, then the library.
    EXPECT_EQ(server.commands().size(), 2);
    EXPECT_TRUE(driver.seen.count("frmQueryCDDB") == 2);
}

TEST_F(QueryWindowsTest, DeadServerShowsTheHints)
{
    server.setBehaviour(CddbTestServer::Behaviour::Drop);
    TMainForm form;
    form.show();
    const QStringList before = titles(form);
    QString panel;
    QString button;
    closeAtPanel(panel, button);
    queryWith(1);
    form.aQueryCDDBExecute();
    EXPECT_EQ(button, "Close");
    EXPECT_EQ(titles(form), before);
    EXPECT_FALSE(QFile::exists(home.discInfoFile()));
}

TEST_F(QueryWindowsTest, StopEndsASilentLookupAtOnce)
{
    server.setBehaviour(CddbTestServer::Behaviour::Silent);
    TMainForm form;
    form.show();
    const QStringList before = titles(form);
    driver.handlers["frmStopQuery"] = [this](QDialog *dialog) {
        auto *stop = static_cast<TfrmStopQuery *>(dialog);
        auto *poll = new QTimer(stop);
        poll->setInterval(20);
        QObject::connect(poll, &QTimer::timeout, stop, [this, stop, poll] {
            if (server.commands().isEmpty())
                return;
            poll->stop();
            stop->bStop->click();
        });
        poll->start();
    };
    queryWith(0);
    QElapsedTimer clock;
    clock.start();
    form.aQueryCDDBExecute();
    // The windows closed without waiting for the network (its time-out is 30 seconds).
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_EQ(titles(form), before);
    EXPECT_FALSE(QFile::exists(home.discInfoFile()));
    // Whatever the abandoned lookup still does changes nothing.
    QCoreApplication::processEvents();
    EXPECT_EQ(titles(form), before);
}

TEST_F(QueryWindowsTest, EmptyDiscIdStoresTheListUnchanged)
{
    TMainForm form;
    form.show();
    form.Session.Disc.SetIdentity(QString(), form.Session.Disc.CddbQueryText());
    const QStringList before = titles(form);
    // A server that is not in the list is shown, and stored, as it is (the list's first item took its place
    // and was stored over it).
    AppSettings.QueryCDDB.Server = "not.in.the.list";
    driver.handlers["frmQueryCDDB"] = [](QDialog *dialog) {
        static_cast<TfrmQueryCDDB *>(dialog)->bQuery->click();
    };
    form.aQueryCDDBExecute();
    EXPECT_EQ(AppSettings.QueryCDDB.Server, "not.in.the.list");
    EXPECT_TRUE(server.commands().isEmpty());
    EXPECT_EQ(titles(form), before);
    EXPECT_TRUE(QFile::exists(home.discInfoFile()));
    EXPECT_EQ(AppSettings.DiscInfo.TrackNumber, 2);
    // The finished lookup closed the settings window too.
    EXPECT_EQ(driver.seen.count("frmQueryCDDB"), 1);
}

TEST_F(QueryWindowsTest, CommandNeedsRows)
{
    QFile::remove(images + "disc.cue");
    TMainForm form;
    form.show();
    form.UpdateActions();
    EXPECT_FALSE(form.aQueryCDDB->isEnabled());
}

TEST_F(QueryWindowsTest, DriveComponentLookupWithoutWindows)
{
    WriteFileText(SettingsFolder() + "options.ini", "[CommonOptions]\nIsCDHandleZero=1\n");
    server.setQueryFixture("query_exact.txt");
    TMainForm form;
    form.show();
    form.FormActivate();
    ASSERT_EQ(form.Session.DriveHandle, 0u);
    ASSERT_EQ(form.ListView1->model()->rowCount(), 2);
    form.CDDBInfo1.Server = server.url();
    form.aQueryCDDBExecute();
    EXPECT_TRUE(driver.seen.isEmpty());
    EXPECT_EQ(titles(form), (QStringList{"First Song", "Guest / Second Song"}));
    EXPECT_EQ(AppSettings.DiscInfo.Album, "Album");
    EXPECT_TRUE(form.isEnabled());
    AppSettings.DiscInfo = TCDInfo();
    LoadDiscInfo(DiscKey());
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[1], "First Song");
}

TEST_F(QueryWindowsTest, SettingsWindow)
{
    TMainForm form;
    AppSettings.QueryCDDB.Server = "not.in.the.list";
    AppSettings.QueryCDDB.UseProxy = true;
    AppSettings.QueryCDDB.Port = "3128";
    TfrmQueryCDDB dialog(form);
    dialog.show();
    EXPECT_EQ(dialog.cbServer->currentText(), "not.in.the.list"); // the saved server, not the list's first
    EXPECT_TRUE(dialog.eAddress->isEnabled());
    EXPECT_EQ(dialog.ePort->text(), "3128");
    dialog.cbTag->setCurrentIndex(1);
    dialog.eScript->setText("/other.cgi");
    dialog.bDefaultClick();
    EXPECT_EQ(dialog.eScript->text(), "/~cddb/cddb.cgi");
    EXPECT_FALSE(dialog.cbProxy->isChecked());
    EXPECT_FALSE(dialog.ePort->isEnabled());
    EXPECT_EQ(dialog.ePort->text(), "3128");
    EXPECT_EQ(dialog.cbTag->currentIndex(), 0);
    // Closing stores nothing.
    dialog.bClose->click();
    EXPECT_EQ(AppSettings.QueryCDDB.Server, "not.in.the.list");
}

TEST_F(QueryWindowsTest, UnreadableTocIsReported)
{
    ModalCloser closer;
    TMainForm form;
    form.show();
    const TCdHandle handle = form.Session.DriveHandle;
    form.Session.DriveHandle = 999;
    form.aQueryCDDBExecute();
    form.Session.DriveHandle = handle;
    EXPECT_TRUE(closer.texts.contains("Sondrel|Error while reading TOC information!"))
        << closer.texts.join("\n").toStdString();
    EXPECT_TRUE(driver.seen.filter("frmQueryCDDB").isEmpty());
}

// MusicBrainz from the Edit menu: one release fills the list, several bring the choice, Stop ends at once.
TEST_F(QueryWindowsTest, MusicBrainzFromTheEditMenu)
{
    const auto releaseJson = [](const QString &id, const QString &title) {
        return QString(
                   R"({"id":"%1","title":"%2","date":"2001","country":"GB","artist-credit":[{"name":"Various"}],)"
                   R"("media":[{"format":"CD","track-count":2,"tracks":[{"title":"One","artist-credit":)"
                   R"([{"name":"Queen"}]},{"title":"Two"}]}]})")
            .arg(id, title)
            .toUtf8();
    };
    QByteArray body = "{\"releases\":[" + releaseJson("mb-1", "Hits") + "]}";
    server.setHandler([&body](const QString &) { return CddbTestServer::Reply{200, body, {}}; });
    AppSettings.QueryCDDB.MusicBrainzServer = server.url();
    TMainForm form;
    form.show();
    AppSettings.QueryCDDB.MusicBrainzServer = server.url();
    AppSettings.QueryCDDB.CoverArtServer = server.url(); // never the real one
    ASSERT_TRUE(form.aQueryMusicBrainz->isEnabled());
    form.aQueryMusicBrainz->trigger();
    EXPECT_EQ(titles(form), (QStringList{"One", "Two"}));
    EXPECT_EQ(AppSettings.DiscInfo.Album, "Hits");
    EXPECT_EQ(AppSettings.DiscInfo.Artist, "Various");
    EXPECT_EQ(form.Session.Disc.TrackArtist(0), "Queen");
    AppSettings.DiscInfo = TCDInfo();
    LoadDiscInfo(DiscKey());
    EXPECT_EQ(AppSettings.DiscInfo.MusicBrainzRelease, "mb-1");
    EXPECT_EQ(AppSettings.DiscInfo.Tracks[1], "One");

    // Several: the user chooses; the second is taken.
    body =
        "{\"releases\":[" + releaseJson("mb-1", "Hits") + "," + releaseJson("mb-2", "Hits (remaster)") + "]}";
    QStringList rows;
    driver.handlers["frmChooseRelease"] = [&rows](QDialog *dialog) {
        auto *choose = static_cast<TfrmChooseRelease *>(dialog);
        for (int i = 0; i < choose->lbReleases->count(); ++i)
            rows << choose->lbReleases->item(i)->text();
        choose->lbReleases->setCurrentRow(1);
        choose->btOK->click();
    };
    form.aQueryMusicBrainz->trigger();
    EXPECT_EQ(rows,
              (QStringList{"Various - Hits (2001, GB, CD)", "Various - Hits (remaster) (2001, GB, CD)"}));
    EXPECT_EQ(AppSettings.DiscInfo.Album, "Hits (remaster)");
    EXPECT_EQ(AppSettings.DiscInfo.MusicBrainzRelease, "mb-2");

    // A server that says nothing: Stop closes the window at once and changes nothing.
    server.setBehaviour(CddbTestServer::Behaviour::Silent);
    const qsizetype asked = server.requestLines().size();
    driver.handlers["frmMusicBrainzQuery"] = [this, asked](QDialog *dialog) {
        auto *query = static_cast<TfrmMusicBrainzQuery *>(dialog);
        auto *poll = new QTimer(query);
        poll->setInterval(20);
        QObject::connect(poll, &QTimer::timeout, query, [this, query, poll, asked] {
            if (server.requestLines().size() > asked) {
                poll->stop();
                query->bStop->click();
            }
        });
        poll->start();
    };
    form.aQueryMusicBrainz->trigger();
    EXPECT_EQ(AppSettings.DiscInfo.Album, "Hits (remaster)");
    EXPECT_TRUE(driver.seen.contains("frmMusicBrainzQuery"));
}

} // namespace
