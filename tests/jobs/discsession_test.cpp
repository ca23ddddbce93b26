// SPDX-License-Identifier: GPL-3.0-or-later
// The disc session without a window: the chosen drive's disc, its status, and discs coming and going.
#include "jobs/discsession.h"
#include "shell/folders.h"
#include "shell/settings.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

TEST(DiscSession, FollowsTheChosenDriveAndItsDiscComingAndGoing)
{
    TestHome home;
    const QString images = DataFolder() + "Disc images/";
    ASSERT_TRUE(QDir().mkpath(images));
    ASSERT_TRUE(MakeDisc(images + "a.cue", {"100"}));
    ASSERT_TRUE(MakeDisc(images + "b.cue", {"200", "300"}));
    WriteFileText(SettingsFolder() + "options.ini", "[CDOptions]\nIndex=1\n");
    LoadOptions();

    TDiscSession session;
    QSignalSpy status(&session, &TDiscSession::statusChanged);
    session.Open();
    ASSERT_NE(session.DriveHandle, 0u);
    EXPECT_EQ(session.Disc.RowCount(), 2); // the second drive's disc, not the first's
    EXPECT_EQ(session.Status(), "Image   b.cue");
    EXPECT_EQ(status.last().first().toString(), "Image   b.cue");
    session.StartWatching();

    // The disc goes: the list empties; it comes back: the list follows.
    const QByteArray cue = ReadFileBytes(images + "b.cue");
    ASSERT_TRUE(QFile::remove(images + "b.cue"));
    session.CheckDisc();
    EXPECT_EQ(session.Disc.RowCount(), 2); // the look runs off this thread; its answer comes as an event
    EXPECT_TRUE(WaitFor([&] { return session.Disc.RowCount() == 0; }));
    QFile back(images + "b.cue");
    ASSERT_TRUE(back.open(QIODevice::WriteOnly) && back.write(cue) == cue.size());
    back.close();
    session.CheckDisc();
    EXPECT_TRUE(WaitFor([&] { return session.Disc.RowCount() == 2; }));

    const auto closed = session.Close();
    EXPECT_TRUE(closed) << closed.Error().toStdString();
    EXPECT_EQ(session.DriveHandle, 0u);
}

} // namespace
