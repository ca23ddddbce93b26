// SPDX-License-Identifier: GPL-3.0-or-later
#include "cddbserver.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/cdin.h"
#include "jobs/accuraterip.h"
#include "jobs/offsetfind.h"
#include "shell/inifile.h"
#include "shell/settings.h"
#include "testsupport.h"
#include "ui/findoffsetform.h"
#include "ui/optionsetform.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <cstring>

namespace {

struct Host final : TOptionsHost {
    TCDIn cd;
    TCdHandle CurrentDriveHandle() const override { return 0; }
    void ReopenDrive(int) override {}
    TCDIn &DriveComponent() override { return cd; }
    void ReloadFromDrive() override {}
    void RememberStatus() override {}
};

class FindOffsetTest : public DiscImageTest {
protected:
    CddbTestServer server;

    FindOffsetTest() { LoadOptions(); }

    // A drive whose reads come `shift` samples late: a disc image of shifted audio, and a database that knows
    // the true audio's checksums (of the middle track).
    void makeShiftedDrive(int shift)
    {
        ASSERT_TRUE(MakeDisc(images + "disc.cue", {"600,music", "700,noise", "500,music"}));
        const uint32_t handle = OpenFirstDriveHandle();
        ASSERT_NE(handle, 0u);
        TToc toc;
        std::memset(&toc, 0, sizeof toc);
        ASSERT_TRUE(ModifyCDParms(handle, CDP_MSF, 1) != 0 && ReadTOC(handle, &toc) == 1);
        CloseCDHandle(handle);
        const QByteArray audio = ReadFileBytes(images + "disc.bin");
        const QByteArray middle = audio.mid(600 * 2352, 700 * 2352);
        const uint32_t crc = AccurateRipV1ByOffset(middle, 700 * 588, 0, false, false).at(0);
        const QByteArray block =
            AccurateRipAnswerBlock(AccurateRipDiscOfToc(toc), {{0, 0}, {5, crc}, {0, 0}});
        server.setHandler([block](const QString &) { return CddbTestServer::Reply{200, block, {}}; });
        const QByteArray pad(shift * 4, '\0');
        QFile bin(images + "disc.bin");
        ASSERT_TRUE(bin.open(QIODevice::WriteOnly));
        ASSERT_EQ(bin.write(pad + audio.left(audio.size() - pad.size())), audio.size());
    }
};

// Options > CD-ROM > Find offset...: the search runs while the window stays live, the offset found goes into
// the field and is saved for the drive.
TEST_F(FindOffsetTest, TheOffsetFoundFillsTheFieldAndIsSavedForTheDrive)
{
    makeShiftedDrive(667);
    AppSettings.CommonOptions.AccurateRipServer = server.url();
    Host host;
    TOptionSetForm options(host);
    options.show();
    bool searched = false;
    QTimer::singleShot(0, [&] {
        auto *form = options.findChild<TFindOffsetForm *>();
        ASSERT_NE(form, nullptr);
        EXPECT_TRUE(WaitFor([&] { return !form->Running(); }, 60000));
        EXPECT_TRUE(form->lbStep->text().contains("+667")) << form->lbStep->text().toStdString();
        searched = true;
        form->btStop->click(); // now Close
    });
    options.btFindOffset->click();
    EXPECT_TRUE(searched);
    EXPECT_EQ(options.seReadOffset->value(), 667);
    const CdDriveEntry drive = CdDriveList().value(0);
    EXPECT_EQ(SavedDriveOffset(DriveOffsetKey(drive.vendor, drive.product, drive.revision)), 667);
}

// A database that does not know the disc: the window says so and nothing changes; Stop ends a search at once.
TEST_F(FindOffsetTest, NothingFoundIsSaidAndStopEnds)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"600,music", "700,noise"}));
    server.setHandler([](const QString &) { return CddbTestServer::Reply{404, {}, {}}; });
    {
        TFindOffsetForm form(0, server.url());
        form.show();
        ASSERT_TRUE(WaitFor([&] { return !form.Running(); }, 60000));
        EXPECT_TRUE(form.lbStep->text().contains("does not know this disc"))
            << form.lbStep->text().toStdString();
        EXPECT_FALSE(form.Offset());
    }
    server.setBehaviour(CddbTestServer::Behaviour::Silent);
    TFindOffsetForm form(0, server.url());
    form.show();
    ASSERT_TRUE(form.Running());
    form.btStop->click();
    ASSERT_TRUE(WaitFor([&] { return !form.Running(); }, 60000));
    EXPECT_FALSE(form.Offset());
    EXPECT_EQ(form.lbStep->text(), "Stopped.");
}

} // namespace
