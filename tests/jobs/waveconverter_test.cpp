// SPDX-License-Identifier: GPL-3.0-or-later
#include "jobs/waveconverter.h"
#include "jobs/wavformat.h"
#include "testsupport.h"
#include "wavtestsupport.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

TEST(WaveConverter, WithoutRiffWaveItStaysEmptyAndConvertFails)
{
    QByteArray bytes = "RIFX\x10\0\0\0WAVEfmt ";
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    TWaveConverter converter;
    EXPECT_EQ(converter.LoadFile(file), 0);
    EXPECT_EQ(converter.size(), 0);
    converter.newFormat()->wFormatTag = 1;
    EXPECT_FALSE(converter.SuggestPcm());
    EXPECT_FALSE(converter.Convert());
}

TEST(WaveConverter, EmptyDataChunkLeavesTheStreamEmpty)
{
    WavBuilder fmt;
    fmt.raw(WavBuilder::fmt(0x55, 2, 44100, 0, 1)).u16(12).u16(1).u32(2).u16(417).u16(1).u16(1393);
    WavBuilder chunks;
    chunks.chunk("fmt ", fmt.bytes).chunk("fact", QByteArray(4, '\0')).chunk("data", QByteArray());
    QByteArray bytes = WavBuilder::riff(chunks.bytes);
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    TWaveConverter converter;
    converter.LoadFile(file);
    EXPECT_EQ(converter.size(), 0);
    EXPECT_EQ(converter.currentFormat()->wFormatTag, 0x55);
    EXPECT_EQ(converter.currentFormat()->nChannels, 2);
    converter.newFormat()->wFormatTag = 1;
    EXPECT_TRUE(converter.SuggestPcm());
    EXPECT_EQ(converter.newFormat()->wBitsPerSample, 16);
    EXPECT_EQ(converter.newFormat()->nSamplesPerSec, 44100u);
    EXPECT_FALSE(converter.Convert()); // nothing to decode
}

TEST(WaveConverter, SaveWavWritesACanonicalImage)
{
    TWaveConverter converter;
    TWaveFormatHeader *format = converter.currentFormat();
    format->wFormatTag = 1;
    format->nChannels = 1;
    format->nSamplesPerSec = 8000;
    format->nAvgBytesPerSec = 16000;
    format->nBlockAlign = 2;
    format->wBitsPerSample = 16;
    converter.write(QByteArray("\x01\x00\x02\x00\x03\x00", 6));
    converter.seek(2);
    QByteArray image;
    QBuffer target(&image);
    target.open(QIODevice::ReadWrite);
    EXPECT_EQ(converter.SaveWav(target), 0);
    EXPECT_EQ(converter.pos(), 2);
    ASSERT_EQ(image.size(), 44 + 6);
    target.seek(0);
    const WavFormat parsed = ParseWavHeader(target, 65535);
    EXPECT_EQ(parsed.type, wtPCM);
    EXPECT_EQ(parsed.dataOffset, 44);
    EXPECT_EQ(parsed.dataSize, 6u);
    EXPECT_EQ(parsed.samplesPerSecond, 8000u);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(image.constData() + 4), uint32_t(image.size() - 8));
}

} // namespace
