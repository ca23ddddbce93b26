// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include <QFileInfo>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

class MkDiscTest : public ::testing::Test {
protected:
    TestHome home;
    QString cue(const QString &name) const { return home.root() + "/" + name + ".cue"; }
    QString bin(const QString &name) const { return home.root() + "/" + name + ".bin"; }
};

TEST_F(MkDiscTest, LayoutAndCueSheet)
{
    ASSERT_TRUE(MakeDisc(cue("a"), {"750,tone", "00:05:10,noise", "300,silence", "data:300"}));
    EXPECT_EQ(QFileInfo(bin("a")).size(), (750 + 385 + 300 + 300) * 2352);
    EXPECT_EQ(ReadFileText(cue("a")), "FILE \"a.bin\" BINARY\n"
                                      "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                      "  TRACK 02 AUDIO\n    INDEX 01 00:10:00\n"
                                      "  TRACK 03 AUDIO\n    INDEX 01 00:15:10\n"
                                      "  TRACK 04 MODE1/2352\n    INDEX 01 00:19:10\n");
    const QByteArray bytes = ReadFileBytes(bin("a"));
    // Silence is zero; the data track starts with the sync pattern.
    EXPECT_EQ(bytes.mid(1135 * 2352, 300 * 2352).count('\0'), 300 * 2352);
    EXPECT_EQ(bytes.mid(1435 * 2352, 12), QByteArray::fromHex("00ffffffffffffffffffff00"));
    EXPECT_FALSE(QFileInfo::exists(cue("a") + ".damage"));
}

TEST_F(MkDiscTest, SameArgumentsSameBytesOtherSeedOtherNoise)
{
    ASSERT_TRUE(MakeDisc(cue("a"), {"100,noise", "100,music"}));
    ASSERT_TRUE(MakeDisc(cue("b"), {"100,noise", "100,music"}));
    ASSERT_TRUE(MakeDisc(cue("c"), {"--seed", "7", "100,noise", "100,music"}));
    EXPECT_EQ(ReadFileBytes(bin("a")), ReadFileBytes(bin("b")));
    EXPECT_NE(ReadFileBytes(bin("a")), ReadFileBytes(bin("c")));
}

TEST_F(MkDiscTest, SamplesOfAWavFile)
{
    // 10 stereo frames of known samples, then the track is padded with silence.
    QByteArray wav("RIFF");
    QByteArray pcm;
    for (int i = 0; i < 20; ++i) {
        const qint16 v = qint16(i * 1000 - 5000);
        pcm.append(reinterpret_cast<const char *>(&v), 2);
    }
    const auto le32 = [](quint32 v) {
        QByteArray b(4, 0);
        qToLittleEndian(v, b.data());
        return b;
    };
    const auto le16 = [](quint16 v) {
        QByteArray b(2, 0);
        qToLittleEndian(v, b.data());
        return b;
    };
    wav += le32(36 + pcm.size()) + "WAVEfmt " + le32(16) + le16(1) + le16(2) + le32(44100) + le32(176400) +
           le16(4) + le16(16) + "data" + le32(pcm.size()) + pcm;
    QFile f(home.root() + "/in.wav");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(wav);
    f.close();
    ASSERT_TRUE(MakeDisc(cue("w"), {"2,wav:" + home.root() + "/in.wav"}));
    const QByteArray bytes = ReadFileBytes(bin("w"));
    ASSERT_EQ(bytes.size(), 2 * 2352);
    EXPECT_EQ(bytes.left(pcm.size()), pcm);
    EXPECT_EQ(bytes.mid(pcm.size()).count('\0'), 2 * 2352 - pcm.size());
}

TEST_F(MkDiscTest, DamageProfileAndBadArguments)
{
    ASSERT_TRUE(MakeDisc(cue("a"), {"--bad", "5", "--bad", "10-12", "--damage", "jitter=3", "100"}));
    EXPECT_EQ(ReadFileText(cue("a") + ".damage"), "[damage]\nunreadable=5-5\nunreadable=10-12\njitter=3\n");
    EXPECT_FALSE(MakeDisc(cue("b"), {"--damage", "scratches=4", "100"}));
    // A new image without damage removes the old profile.
    ASSERT_TRUE(MakeDisc(cue("a"), {"100"}));
    EXPECT_FALSE(QFileInfo::exists(cue("a") + ".damage"));

    const QString mkdisc = BuiltProgram("sondrel-mkdisc");
    EXPECT_EQ(RunProgram(mkdisc, {"-o", cue("x"), "0"}), 1);
    EXPECT_EQ(RunProgram(mkdisc, {"-o", cue("x"), "1:60:00"}), 1);
    EXPECT_EQ(RunProgram(mkdisc, {"-o", cue("x"), "10,trumpet"}), 1);
    EXPECT_EQ(RunProgram(mkdisc, {"-o", cue("x"), "10,wav:/nonexistent.wav"}), 1);
    EXPECT_EQ(RunProgram(mkdisc, {"-o", cue("x")}), 2);
}

} // namespace
