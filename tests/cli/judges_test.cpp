// SPDX-License-Identifier: GPL-3.0-or-later
// Our AccurateRip checksums, disc ids and request paths held against the field's own implementations: the
// table of contents as cd-info reads the image, whipper's ids and request path from that table, and
// whipper's checksums of the very files we ripped. A disc of every shape, both read paths, read offsets.
#include "cddbserver.h"
#include "clirun.h"
#include "jobs/accuraterip.h"
#include "testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <mutex>

namespace {

const QString judge = QStringLiteral(SONDREL_SOURCE_DIR "/tests/judges/disc_judge.py");

QJsonObject askJudge(const QStringList &arguments)
{
    QByteArray output;
    if (RunProgram("/usr/bin/python3", QStringList{judge} + arguments, &output, 60000) != 0)
        return QJsonObject{{"error", QString::fromUtf8(output)}};
    return QJsonDocument::fromJson(output).object();
}

struct Shape {
    const char *name;
    QStringList tracks;                    // sondrel-mkdisc's arguments
    std::function<QString(QString)> recue; // how the cue sheet is rewritten (a shape mkdisc does not make)
    QList<int> offsets{0};
    bool paranoia = false;
};

// The printable name of a case, for ctest's list.
void PrintTo(const Shape &shape, std::ostream *os)
{
    *os << shape.name;
}

class FieldJudges : public DiscImageTest, public ::testing::WithParamInterface<Shape> {};

TEST_P(FieldJudges, ChecksumsIdsAndRequestPathAreTheFields)
{
    const Shape &shape = GetParam();
    ASSERT_TRUE(MakeDisc(images + "disc.cue", shape.tracks));
    if (shape.recue)
        WriteFileText(images + "disc.cue", shape.recue(ReadFileText(images + "disc.cue")));
    const QJsonObject disc = askJudge({"disc", images + "disc.cue"});
    ASSERT_FALSE(disc.contains("error")) << disc.value("error").toString().toStdString();
    const QString path = "/accuraterip/" + disc.value("accuraterip_path").toString();
    const QJsonArray ids = disc.value("accuraterip_ids").toArray();

    // Our table of contents says what cd-info says.
    const CliRun toc = runCli({"toc", "--json"});
    ASSERT_EQ(toc.code, 0) << toc.err.toStdString();
    const QJsonObject ours = QJsonDocument::fromJson(toc.out.toUtf8()).object();
    EXPECT_EQ(ours.value("cddb_id").toString(), disc.value("cddb").toString()) << toc.out.toStdString();
    EXPECT_EQ(ours.value("ctdb_id").toString(), disc.value("ctdb").toString()); // neither has one: both empty
    if (!disc.value("musicbrainz").isNull()) { // libdiscid has no id for a data track with no session gap
        EXPECT_EQ(ours.value("musicbrainz_id").toString(), disc.value("musicbrainz").toString());
    }
    // The CDDB query: whipper's frame offsets, every track counted.
    {
        CddbTestServer cddb;
        cddb.setQueryFixture("query_exact.txt");
        runCli({"cddb", "--server", cddb.url(), "--quiet"});
        QStringList offsets;
        for (const QJsonValue &o : disc.value("cddb_offsets").toArray())
            offsets << QString::number(o.toInt());
        const QString expected = QString("cddb query %1 %2 %3 ")
                                     .arg(disc.value("cddb").toString())
                                     .arg(offsets.size())
                                     .arg(offsets.join(' '));
        EXPECT_TRUE(cddb.commands().value(0).startsWith(expected))
            << cddb.commands().value(0).toStdString() << " / " << expected.toStdString();
    }

    for (const int offset : shape.offsets) {
        SCOPED_TRACE(QString("offset %1").arg(offset).toStdString());
        QDir(out).removeRecursively();
        CddbTestServer server;
        std::mutex lock;
        QStringList asked;
        QString sumsError;
        // The database answers, at whipper's path only, with whipper's checksums of the files just ripped.
        server.setHandler([&](const QString &target) {
            std::lock_guard guard(lock);
            asked << target;
            if (target != path)
                return CddbTestServer::Reply{404, {}, {}};
            QStringList wavs;
            for (const QString &name : QDir(out).entryList({"*.wav"}, QDir::Files, QDir::Name))
                wavs << out + "/" + name;
            const QJsonObject sums = askJudge(QStringList{"sums"} + wavs);
            if (sums.contains("error"))
                sumsError = sums.value("error").toString();
            QByteArray block(1, char(wavs.size()));
            for (const QJsonValue &id : {ids.at(0), ids.at(1), disc.value("cddb")}) {
                const uint32_t v = id.toString().toUInt(nullptr, 16);
                block.append(reinterpret_cast<const char *>(&v), 4);
            }
            const QJsonArray v1 = sums.value("v1").toArray(), v2 = sums.value("v2").toArray();
            for (qsizetype t = 0; t < wavs.size(); ++t) {
                // Track by track, one version each, so that both are proven.
                const uint32_t crc = (t % 2 ? v2 : v1).at(t).toString().toUInt(nullptr, 16);
                block.append(char(5));
                block.append(reinterpret_cast<const char *>(&crc), 4);
                block.append(4, '\0');
            }
            return CddbTestServer::Reply{200, block, {}};
        });
        QStringList arguments{"rip",
                              "-f",
                              "wav",
                              "-o",
                              out,
                              "--offset",
                              QString::number(offset),
                              "--verify",
                              "--accuraterip-server",
                              server.url()};
        if (shape.paranoia)
            arguments << "--paranoia";
        const CliRun rip = runCli(arguments);
        EXPECT_TRUE(sumsError.isEmpty()) << sumsError.toStdString();
        EXPECT_EQ(asked, QStringList{path}) << "whipper asks for " << path.toStdString();
        EXPECT_EQ(rip.code, 0) << rip.out.toStdString() << rip.err.toStdString();
        const int tracks = int(QDir(out).entryList({"*.wav"}, QDir::Files).size());
        EXPECT_EQ(rip.err.count(": verified ("), tracks) << rip.err.toStdString();
    }
}

// The cue sheet with the first track numbered `first` (and the rest after it).
QString numberedFrom(QString cue, int first)
{
    for (int n = 99; n >= 1; --n)
        cue.replace(QString("TRACK %1 ").arg(n, 2, 10, QChar('0')),
                    QString("TRACK %1 ").arg(n + first - 1, 2, 10, QChar('0')));
    return cue;
}

QStringList tracksOf(int count, const QString &track)
{
    return QStringList(count, track);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, FieldJudges,
    ::testing::Values(Shape{"OneTrack", {"1500,music"}, nullptr, {0, 6, 667, -1164}},
                      Shape{"ThreeTracksThroughParanoia",
                            {"600,music", "400,noise", "300,music"},
                            nullptr,
                            {0, 6, -1164},
                            true},
                      Shape{"NinetyNineTracks", tracksOf(99, "20,noise"), nullptr},
                      Shape{"FirstTrackIsThree",
                            {"400,music", "300,noise", "300,music"},
                            [](QString cue) { return numberedFrom(cue, 3); }},
                      Shape{"HiddenFirstTrack",
                            {"700,music", "300,noise"},
                            [](QString cue) {
                                // Track 1 starts 5 seconds in; what comes before is hidden in its pregap.
                                return cue.replace(
                                    "TRACK 01 AUDIO\n    INDEX 01 00:00:00",
                                    "TRACK 01 AUDIO\n    INDEX 00 00:00:00\n    INDEX 01 00:05:00");
                            }},
                      Shape{"DataTrackLast", {"500,music", "400,music", "data:300"}, nullptr},
                      Shape{"DataTrackFirst", {"data:300", "500,music", "400,music"}, nullptr}),
    [](const ::testing::TestParamInfo<Shape> &param) { return std::string(param.param.name); });

// With the database out of reach, the log still gives each track's v1 and v2 checksums, whipper's of the
// files made, so that the rip can be checked later.
TEST_F(DiscImageTest, TheLogKeepsTheChecksumsWhenTheDatabaseIsOutOfReach)
{
    ASSERT_TRUE(MakeDisc(images + "disc.cue", {"400,music", "300,noise", "200,tone"}));
    for (const bool paranoia : {false, true}) {
        SCOPED_TRACE(paranoia ? "paranoia" : "library");
        QDir(out).removeRecursively();
        QStringList arguments{
            "rip", "-f", "wav", "-o", out, "--log", "--verify", "--accuraterip-server", "http://127.0.0.1:1"};
        if (paranoia)
            arguments << "--paranoia";
        ASSERT_EQ(runCli(arguments).code, 0);
        QStringList wavs;
        for (const QString &name : QDir(out).entryList({"*.wav"}, QDir::Files, QDir::Name))
            wavs << out + "/" + name;
        const QJsonObject sums = askJudge(QStringList{"sums"} + wavs);
        ASSERT_FALSE(sums.contains("error")) << sums.value("error").toString().toStdString();
        const QStringList logs = QDir(out).entryList({"*.log"}, QDir::Files);
        ASSERT_EQ(logs.size(), 1);
        const QString log = ReadFileText(out + "/" + logs.first());
        static const QRegularExpression line(
            QStringLiteral("AccurateRip checksums: v1 ([0-9A-F]{8}), v2 ([0-9A-F]{8})"));
        QList<uint32_t> v1, v2;
        for (auto match = line.globalMatch(log); match.hasNext();) {
            const QRegularExpressionMatch m = match.next();
            v1 << m.captured(1).toUInt(nullptr, 16);
            v2 << m.captured(2).toUInt(nullptr, 16);
        }
        ASSERT_EQ(v1.size(), 3) << log.toStdString();
        for (int t = 0; t < 3; ++t) {
            EXPECT_EQ(v1[t], sums.value("v1").toArray().at(t).toString().toUInt(nullptr, 16)) << t;
            EXPECT_EQ(v2[t], sums.value("v2").toArray().at(t).toString().toUInt(nullptr, 16)) << t;
        }
    }
}

// A drive whose reads come 667 samples late (and ones 1164 early, 2345 late): offset find,
// asked against a database answer of whipper's checksums of the true audio, gives the correction, saves it
// for the drive, and a later rip of that drive verifies every track without --offset.
TEST_F(DiscImageTest, OffsetFindGivesTheDrivesShiftAndLaterRipsVerify)
{
    const QString truth = home.root() + "/truth/";
    ASSERT_TRUE(QDir().mkpath(truth));
    ASSERT_TRUE(MakeDisc(truth + "disc.cue", {"1200,music", "900,noise", "700,music", "500,tone"}));
    ASSERT_EQ(
        runCli({"rip", "-d", truth + "disc.cue", "-f", "wav", "-o", out, "--offset", "0", "--quiet"}).code,
        0);
    QStringList wavs;
    for (const QString &name : QDir(out).entryList({"*.wav"}, QDir::Files, QDir::Name))
        wavs << out + "/" + name;
    const QJsonObject sums = askJudge(QStringList{"sums"} + wavs);
    const QJsonObject disc = askJudge({"disc", truth + "disc.cue"});
    ASSERT_FALSE(sums.contains("error") || disc.contains("error"));
    QByteArray block(1, char(wavs.size()));
    for (const QJsonValue &id :
         {disc.value("accuraterip_ids")[0], disc.value("accuraterip_ids")[1], disc.value("cddb")}) {
        const uint32_t v = id.toString().toUInt(nullptr, 16);
        block.append(reinterpret_cast<const char *>(&v), 4);
    }
    for (const QJsonValue &crc : sums.value("v1").toArray()) {
        const uint32_t v = crc.toString().toUInt(nullptr, 16);
        block.append(char(3)).append(reinterpret_cast<const char *>(&v), 4).append(4, '\0');
    }
    CddbTestServer server;
    server.setHandler([&](const QString &) { return CddbTestServer::Reply{200, block, {}}; });

    const QByteArray audio = ReadFileBytes(truth + "disc.bin");
    for (const int shift : {667, -1164, 2345}) { // common offsets, then one only the sweep finds
        SCOPED_TRACE(shift);
        // The drive's reads: the disc's audio `shift` samples later (or earlier), silence filling in.
        const QByteArray pad(std::abs(shift) * 4, '\0');
        const QByteArray shifted =
            shift > 0 ? pad + audio.left(audio.size() - pad.size()) : audio.mid(pad.size()) + pad;
        const QString name = QString("drive%1").arg(shift);
        {
            QFile bin(images + name + ".bin");
            ASSERT_TRUE(bin.open(QIODevice::WriteOnly) && bin.write(shifted) == shifted.size());
        }
        WriteFileText(images + name + ".cue",
                      ReadFileText(truth + "disc.cue").replace("\"disc.bin\"", "\"" + name + ".bin\""));
        const CliRun find =
            runCli({"offset", "find", "-d", images + name + ".cue", "--accuraterip-server", server.url()});
        EXPECT_EQ(find.code, 0) << find.err.toStdString();
        EXPECT_EQ(find.out, QString("%1%2\n").arg(shift > 0 ? "+" : "").arg(shift)) << find.err.toStdString();
        QDir(out).removeRecursively();
        const CliRun rip = runCli({"rip", "-d", images + name + ".cue", "-f", "wav", "-o", out, "--verify",
                                   "--log", "--accuraterip-server", server.url()});
        EXPECT_TRUE(rip.err.contains("All tracks accurately ripped")) << rip.err.toStdString();
        EXPECT_TRUE(ReadFileText(out + "/Unknown Artist - Unknown Album.log")
                        .contains(QString("Read offset correction: %1%2 samples (found for the drive)")
                                      .arg(shift > 0 ? "+" : "")
                                      .arg(shift)));
    }
    // A database that cannot be asked: with --json the failure is a JSON object too.
    const CliRun failed = runCli(
        {"offset", "find", "-d", truth + "disc.cue", "--accuraterip-server", "http://127.0.0.1:1", "--json"});
    EXPECT_EQ(failed.code, 1);
    const QJsonObject error = QJsonDocument::fromJson(failed.out.toUtf8()).object();
    EXPECT_TRUE(error.value("error").toString().contains("could not be asked")) << failed.out.toStdString();
}

} // namespace
