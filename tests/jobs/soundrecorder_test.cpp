// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder's engine on ALSA's "null" capture device, which delivers silence.
#include "jobs/soundrecorder.h"
#include "jobs/wavheader.h"
#include "testsupport.h"
#include "wavtestsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

// A 16-bit mono file whose every sample is non-zero (1 + frame index modulo 30000), so the silence a
// recording inserts shows exactly where it went.
QByteArray rampWav(int rate, int frames, const QByteArray &after = {})
{
    QByteArray data(frames * 2, Qt::Uninitialized);
    for (int i = 0; i < frames; ++i)
        qToLittleEndian<int16_t>(int16_t(1 + i % 30000), data.data() + 2 * i);
    QByteArray file = CanonicalWavHeader(1, uint32_t(rate), 16, uint32_t(data.size())) + data + after;
    qToLittleEndian<uint32_t>(uint32_t(file.size() - 8), file.data() + 4);
    return file;
}

int16_t sampleAt(const QByteArray &file, int frame)
{
    return qFromLittleEndian<int16_t>(file.constData() + CanonicalWavHeaderSize + 2 * frame);
}

} // namespace

TEST(RecorderTimeText, MinutesAndSecondsAsTheRecorderShowsThem)
{
    EXPECT_EQ(TSoundRecorder::TimeText(125000), QStringLiteral("2 Min5 Sec"));
    EXPECT_EQ(TSoundRecorder::TimeText(5500), QStringLiteral("5.5 Sec"));
    EXPECT_EQ(TSoundRecorder::TimeText(59999), QStringLiteral("60 Sec"));
    EXPECT_EQ(TSoundRecorder::TimeText(3723000), QStringLiteral("1Hour2 Min3 Sec"));
    EXPECT_EQ(TSoundRecorder::TimeText(3600000), QStringLiteral("1Hour"));
    EXPECT_EQ(TSoundRecorder::TimeText(0), QStringLiteral("0 Sec"));
}

TEST(SoundRecorder, NewFileHasTheCanonicalEmptyHeader)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new.wav"));
    ASSERT_TRUE(TSoundRecorder::WriteEmptyWav(path, 2, 16, 44100));
    const QByteArray bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 44);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData() + 4), 36u);
    EXPECT_EQ(qFromLittleEndian<uint16_t>(bytes.constData() + 22), 2);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData() + 24), 44100u);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData() + 28), 176400u);
    EXPECT_EQ(qFromLittleEndian<uint16_t>(bytes.constData() + 32), 4);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData() + 40), 0u);

    TSoundRecorder recorder;
    ASSERT_TRUE(recorder.SetFile(path));
    EXPECT_EQ(recorder.LengthMs(), 0);
    EXPECT_EQ(recorder.SampleRate(), 44100);
}

TEST(SoundRecorder, RecordingIsInsertedWhereAsked)
{
    // 10 seconds at 8000 Hz; recording at 5 seconds must land between frame 39,999 and frame 40,000.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    const QByteArray list = WavBuilder().chunk("LIST", QByteArray("INFOISFT\x04\0\0\0abc\0", 16)).bytes;
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(rampWav(8000, 80000, list));
    }
    const auto owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup; // kept through the edit
    ASSERT_TRUE(QFile::setPermissions(path, owner));
    TSoundRecorder recorder;
    ASSERT_TRUE(recorder.SetFile(path));
    EXPECT_EQ(recorder.LengthMs(), 10000);
    const auto started = recorder.Start(QStringLiteral("null"), 5000);
    ASSERT_TRUE(started) << started.Error().toStdString();
    ASSERT_TRUE(WaitFor([&] { return recorder.RecordedFrames() >= 800; }));
    const auto stopped = recorder.Stop(0);
    ASSERT_TRUE(stopped) << stopped.Error().toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral(".take.wav.recording"))));
    EXPECT_EQ(WorkingFilesThere(path), QStringList());

    const QByteArray after = ReadFileBytes(path);
    const int recorded = int(recorder.Frames()) - 80000;
    ASSERT_GE(recorded, 800);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(after.constData() + 40), uint32_t((80000 + recorded) * 2));
    EXPECT_EQ(qFromLittleEndian<uint32_t>(after.constData() + 4), uint32_t(after.size() - 8));
    EXPECT_EQ(sampleAt(after, 39999), int16_t(1 + 39999 % 30000));
    EXPECT_EQ(sampleAt(after, 40000), 0);
    EXPECT_EQ(sampleAt(after, 40000 + recorded - 1), 0);
    EXPECT_EQ(sampleAt(after, 40000 + recorded), int16_t(1 + 40000 % 30000));
    EXPECT_EQ(sampleAt(after, 80000 + recorded - 1), int16_t(1 + 79999 % 30000));
    // What followed the data (the LIST chunk) is still there.
    EXPECT_TRUE(after.endsWith(list));
    EXPECT_EQ(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser), owner);
}

TEST(SoundRecorder, StoppingLaterRecordsExactlyThatMuchMore)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("more.wav"));
    ASSERT_TRUE(TSoundRecorder::WriteEmptyWav(path, 1, 16, 8000));
    TSoundRecorder recorder;
    ASSERT_TRUE(recorder.SetFile(path));
    ASSERT_TRUE(recorder.Start(QStringLiteral("null"), 0));
    ASSERT_TRUE(WaitFor([&] { return recorder.RecordedFrames() > 0; }));
    // The worker may add a block between the two reads; Stop(300) counts from where the worker stands.
    const int64_t atLeast = recorder.RecordedFrames();
    ASSERT_TRUE(recorder.Stop(300));
    EXPECT_GE(recorder.Frames(), atLeast + 2400);
    EXPECT_LE(recorder.Frames(), atLeast + 2400 + 800);
}

TEST(SoundRecorder, RefusesWhatItCannotRecordInto)
{
    QTemporaryDir dir;
    TSoundRecorder recorder;
    const QString missing = dir.filePath(QStringLiteral("missing.wav"));
    const auto noFile = recorder.SetFile(missing);
    EXPECT_FALSE(noFile);
    EXPECT_TRUE(noFile.Error().startsWith(missing + QStringLiteral(": "))) << noFile.Error().toStdString();

    // IMA ADPCM: a WAV file, but not one samples can be added to.
    const QString adpcm = dir.filePath(QStringLiteral("adpcm.wav"));
    {
        QFile f(adpcm);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(WavBuilder()
                    .raw("RIFF")
                    .u32(0)
                    .raw("WAVE")
                    .chunk("fmt ", WavBuilder::fmt(0x11, 1, 8000, 4, 256))
                    .chunk("data", QByteArray(256, '\0'))
                    .bytes);
    }
    EXPECT_EQ(recorder.SetFile(adpcm).Error(),
              adpcm + QStringLiteral(": not a PCM WAV file of 8, 16, 24 or 32 bits"));

    // No such device: said with ALSA's reason, and nothing is left behind.
    const QString path = dir.filePath(QStringLiteral("new.wav"));
    ASSERT_TRUE(TSoundRecorder::WriteEmptyWav(path, 2, 16, 44100));
    ASSERT_TRUE(recorder.SetFile(path));
    const auto noDevice = recorder.Start(QStringLiteral("no-such-device"), 0);
    EXPECT_FALSE(noDevice);
    EXPECT_TRUE(noDevice.Error().startsWith(QStringLiteral("no-such-device: ")))
        << noDevice.Error().toStdString();
    EXPECT_FALSE(recorder.Recording());
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, (QStringList{QStringLiteral("adpcm.wav"), QStringLiteral("new.wav")}));
}

TEST(SoundRecorder, AFullDiskKeepsTheOldFile)
{
    QTemporaryDir dir;
    TinyFileSystem disk(dir.path(), 256);
    if (!disk.available())
        GTEST_SKIP() << "needs a tmpfs mount";
    const QString path = dir.filePath(QStringLiteral("take.wav"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_GT(f.write(rampWav(8000, 40000)), 0); // 80 KB of the 256
    }
    const QByteArray before = ReadFileBytes(path);
    TSoundRecorder recorder;
    ASSERT_TRUE(recorder.SetFile(path));
    QString failed;
    QObject::connect(&recorder, &TSoundRecorder::Failed, [&](const QString &reason) { failed = reason; });
    ASSERT_TRUE(recorder.Start(QStringLiteral("null"), 2500));
    ASSERT_TRUE(WaitFor([&] { return recorder.RecordedFrames() >= 800; }));
    disk.fill();
    ASSERT_TRUE(WaitFor([&] { return !failed.isEmpty(); }, 20000));
    EXPECT_TRUE(failed.contains(QStringLiteral(".take.wav.recording: "))) << failed.toStdString();
    const auto unsaved = recorder.Stop(0);
    EXPECT_FALSE(unsaved);
    EXPECT_TRUE(unsaved.Error().startsWith(path + QStringLiteral(": "))) << unsaved.Error().toStdString();
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(WorkingFilesThere(path), QStringList());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral(".take.wav.recording"))));
}
