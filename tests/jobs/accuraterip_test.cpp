// SPDX-License-Identifier: GPL-3.0-or-later
// AccurateRip checksums against whipper's, and the database's answers.
#include "jobs/accuraterip.h"
#include "jobs/offsetfind.h"
#include "jobs/wavheader.h"
#include "testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

// Our sums of each track of a generated disc against whipper's (the field's AccurateRip code), computed from
// the same tracks written as WAV files.
void expectSameAsReference(const QStringList &tracks)
{
    QTemporaryDir dir;
    const QString cue = dir.filePath("disc.cue");
    ASSERT_TRUE(MakeDisc(cue, tracks));
    const QByteArray image = ReadFileBytes(dir.filePath("disc.bin"));
    std::vector<qsizetype> frames;
    QStringList wavs;
    qsizetype at = 0;
    for (const QString &t : tracks) {
        const QString length = t.section(',', 0, 0);
        const QStringList msf = length.split(':');
        const qsizetype sectors =
            msf.size() == 3 ? (msf[0].toInt() * 60 + msf[1].toInt()) * 75 + msf[2].toInt() : length.toInt();
        frames.push_back(sectors * 588);
        const QByteArray data = image.mid(at * 4, sectors * 588 * 4);
        at += sectors * 588;
        wavs << dir.filePath(QString("track%1.wav").arg(wavs.size() + 1, 2, 10, QChar('0')));
        QFile wav(wavs.back());
        ASSERT_TRUE(wav.open(QIODevice::WriteOnly));
        wav.write(CdAudioWavHeader(uint32_t(data.size())) + data);
    }
    QByteArray output;
    ASSERT_EQ(RunProgram("/usr/bin/python3",
                         QStringList{SONDREL_SOURCE_DIR "/tests/judges/disc_judge.py", "sums"} + wavs,
                         &output),
              0)
        << output.toStdString();
    const QJsonObject judged = QJsonDocument::fromJson(output).object();
    const QJsonArray v1 = judged.value("v1").toArray(), v2 = judged.value("v2").toArray();
    ASSERT_EQ(v1.size(), tracks.size()) << output.toStdString();
    at = 0;
    for (int t = 0; t < tracks.size(); ++t) {
        const TAccurateRipSums sums =
            AccurateRipSums(image.mid(at * 4, frames[size_t(t)] * 4), t == 0, t == tracks.size() - 1);
        at += frames[size_t(t)];
        EXPECT_EQ(QString("%1 %2").arg(sums.V1, 8, 16, QChar('0')).arg(sums.V2, 8, 16, QChar('0')),
                  v1.at(t).toString() + " " + v2.at(t).toString())
            << "track " << t + 1;
    }
}

TEST(AccurateRip, ChecksumsAgreeWithTheReference)
{
    expectSameAsReference({"900,music"});
    expectSameAsReference({"00:01:00,noise", "1200,music"}); // a one-second first track
    QStringList twelve;
    for (int i = 0; i < 12; ++i)
        twelve << QString("%1,%2")
                      .arg(400 + 37 * i)
                      .arg(i % 3 == 0   ? "music"
                           : i % 3 == 1 ? "noise"
                                        : "tone");
    expectSameAsReference(twelve);
}

TEST(AccurateRip, DiscIdsAddressAndAnswers)
{
    // Two tracks at 0 and 15000, lead-out at 30000: id1 = 45000, id2 = 1 + 30000 + 90000.
    const TAccurateRipDisc disc = AccurateRipDiscOf({0, 15000}, 30000, 0x06019002);
    EXPECT_EQ(disc.Id1, 45000u);
    EXPECT_EQ(disc.Id2, 120001u);
    EXPECT_EQ(AccurateRipUrl("http://db.example/", disc),
              "http://db.example/accuraterip/8/c/f/dBAR-002-0000afc8-0001d4c1-06019002.bin");

    // Two blocks: one with a v1 match for track 1, one whose track 2 differs.
    const QByteArray answer = AccurateRipAnswerBlock(disc, {{12, 0x11111111}, {12, 0x22222222}}) +
                              AccurateRipAnswerBlock(disc, {{3, 0x33333333}, {3, 0x44444444}});
    const auto parsed = ParseAccurateRipAnswer(answer);
    ASSERT_TRUE(parsed) << parsed.Error().toStdString();
    const std::vector<TAccurateRipBlock> &blocks = *parsed;
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[1].Tracks[1].Crc, 0x44444444u);
    bool accurate = false;
    EXPECT_EQ(AccurateRipVerdict(blocks, 1, {0x11111111, 0x99999999}, &accurate),
              "verified (confidence 12, v1)");
    EXPECT_TRUE(accurate);
    EXPECT_EQ(AccurateRipVerdict(blocks, 2, {0x98989898, 0x44444444}, &accurate),
              "verified (confidence 3, v2)");
    EXPECT_EQ(AccurateRipVerdict(blocks, 2, {1, 2}, &accurate),
              "mismatch (database has 22222222 with confidence 12, 44444444 with confidence 3; "
              "this rip 00000001 v1, 00000002 v2)");
    EXPECT_FALSE(accurate);
    EXPECT_EQ(AccurateRipVerdict(blocks, 3, {1, 2}), "unknown (not in the database)");
    EXPECT_EQ(AccurateRipVerdict({}, 1, {1, 2}), "unknown (not in the database)");
    // Cut short: said, nothing taken.
    const auto cut = ParseAccurateRipAnswer(answer.left(answer.size() - 3));
    EXPECT_FALSE(cut);
    EXPECT_TRUE(cut.Error().startsWith("The AccurateRip answer is cut short")) << cut.Error().toStdString();
    EXPECT_FALSE(ParseAccurateRipAnswer(QByteArray()));
}

} // namespace

namespace {

// The sliding checksums of the offset search equal the whole sums (those whipper judges) at every offset,
// for a track in the middle, the first and the last.
TEST(OffsetSearch, SlidingChecksumsEqualTheWholeSums)
{
    const int margin = 700;
    const int64_t frames = 5 * 588 * 3 + 17;
    QByteArray audio((frames + 2 * margin) * 4, '\0');
    uint32_t seed = 12345;
    for (char &c : audio)
        c = char((seed = seed * 1103515245u + 12345u) >> 24);
    for (const auto &[first, last] : {std::pair{false, false}, {true, false}, {false, true}}) {
        const std::vector<uint32_t> v1 = AccurateRipV1ByOffset(audio, frames, margin, first, last);
        for (const int offset : {-margin, -1, 0, 1, 333, margin})
            EXPECT_EQ(v1[size_t(offset + margin)],
                      AccurateRipSums(audio.mid((margin + offset) * 4, frames * 4), first, last).V1)
                << offset << (first ? " first" : "") << (last ? " last" : "");
    }
}

} // namespace
