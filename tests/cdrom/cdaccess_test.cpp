// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdrom/cdaccess.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/cdmedium.h"
#include "cdrom/discidentity.h"
#include "shell/folders.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// Only the test's own images are drives, unless a test turns the machine's drives back on.
class CdAccessTest : public ::testing::Test {
protected:
    TestHome home;
    QString imagesFolder = DataFolder() + "Disc images/";

    CdAccessTest()
    {
        SetRealCdDrivesEnabled(false);
        qunsetenv("SONDREL_DISC_IMAGES");
        QDir().mkpath(imagesFolder);
    }
    ~CdAccessTest() override
    {
        SetRealCdDrivesEnabled(true);
        qunsetenv("SONDREL_DISC_IMAGES");
    }

    QString makeDisc(const QString &name, const QStringList &tracks)
    {
        const QString path = imagesFolder + name + ".cue";
        EXPECT_TRUE(MakeDisc(path, tracks));
        return path;
    }

    static TCDList driveList()
    {
        TCDList list;
        std::memset(&list, 0, sizeof list);
        list.max = 8;
        GetCDList(&list);
        return list;
    }

    static TCdHandle open(const TCDRec &drive) { return OpenCDHandle(drive); }

    // The last read's failure.
    inline static TCdError failure;
    static std::vector<uint8_t> read(TCdHandle handle, uint32_t start, uint32_t count, int32_t *result)
    {
        std::vector<uint8_t> memory(24 + count * 2352);
        auto *buffer = reinterpret_cast<TTrackBuf *>(memory.data());
        buffer->startFrame = start;
        buffer->numFrames = count;
        buffer->maxLen = count * 2352;
        *result = ReadCDAudioLBA(handle, buffer, &failure);
        if (*result != 1)
            return {};
        EXPECT_EQ(buffer->len, count * 2352);
        return std::vector<uint8_t>(memory.begin() + 24 + buffer->startOffset,
                                    memory.begin() + 24 + buffer->startOffset + buffer->len);
    }
};

TEST_F(CdAccessTest, ImagesAreListedAfterTheRealDrives)
{
    makeDisc("b-second", {"100"});
    makeDisc("a-first", {"100"});
    WriteFileText(imagesFolder + "notes.txt", "not an image");
    SetRealCdDrivesEnabled(true);
    const TCDList list = driveList();
    int images = 0;
    bool seenImage = false;
    for (int i = 0; i < list.num; ++i) {
        if (list.cd[i].ha == 1) {
            seenImage = true;
            EXPECT_STREQ(list.cd[i].vendor, "Image   ");
            EXPECT_EQ(list.cd[i].tgt, images);
            ++images;
        } else {
            EXPECT_FALSE(seenImage) << "a real drive after an image";
        }
    }
    ASSERT_EQ(images, 2);
    EXPECT_STREQ(list.cd[list.num - 2].prodId, "a-first.cue");
    EXPECT_STREQ(list.cd[list.num - 1].prodId, "b-second.cue");
}

TEST_F(CdAccessTest, ImagesNamedInTheEnvironment)
{
    const QString elsewhere = home.root() + "/elsewhere/";
    QDir().mkpath(elsewhere);
    ASSERT_TRUE(MakeDisc(elsewhere + "zz.cue", {"100"}));
    ASSERT_TRUE(MakeDisc(elsewhere + "a-very-long-image-file-name.cue", {"100"}));
    const QString inFolder = makeDisc("m", {"100"});
    qputenv("SONDREL_DISC_IMAGES",
            QFile::encodeName(elsewhere + "zz.cue::" + elsewhere +
                              "a-very-long-image-file-name.cue:" + inFolder + ":/nonexistent.cue"));
    const TCDList list = driveList();
    ASSERT_EQ(list.num, 3);
    EXPECT_STREQ(list.cd[0].prodId, "m.cue");
    EXPECT_STREQ(list.cd[1].prodId, "a-very-long-imag"); // cut to the 16 characters of the field
    EXPECT_STREQ(list.cd[2].prodId, "zz.cue");
}

TEST_F(CdAccessTest, ListCapacity)
{
    for (int i = 0; i < 10; ++i)
        makeDisc(QString("d%1").arg(i), {"10"});
    TCDList list = driveList();
    EXPECT_EQ(list.num, 8);
    std::memset(&list, 0, sizeof list);
    list.max = 3;
    EXPECT_EQ(GetCDList(&list), 3);
    EXPECT_EQ(list.cd[3].ha, 0);
    EXPECT_EQ(list.cd[3].vendor[0], 0);
}

TEST_F(CdAccessTest, TableOfContentsMatchesTheImage)
{
    makeDisc("disc", {"750,tone", "00:05:10,noise", "300,music", "data:00:02:00"});
    const TCDList list = driveList();
    ASSERT_EQ(list.num, 1);
    const TCdHandle handle = open(list.cd[0]);
    ASSERT_NE(handle, 0u);
    ASSERT_NE(ModifyCDParms(handle, 36, 1), 0);
    TToc toc;
    ASSERT_EQ(ReadTOC(handle, &toc), 1);
    EXPECT_EQ(toc.firstTrack, 1);
    EXPECT_EQ(toc.lastTrack, 4);
    EXPECT_EQ(toc.tocLen, 2 + 5 * 8);
    const int starts[] = {0, 750, 1135, 1435, 1585};
    for (int i = 0; i < 5; ++i) {
        const int frames = starts[i] + 150;
        EXPECT_EQ(toc.tracks[i].addr[1], frames / 4500) << i;
        EXPECT_EQ(toc.tracks[i].addr[2], frames / 75 % 60) << i;
        EXPECT_EQ(toc.tracks[i].addr[3], frames % 75) << i;
        EXPECT_EQ(TocEntryFrames(toc.tracks[i]), frames);
    }
    EXPECT_EQ(toc.tracks[0].trackNumber, 1);
    EXPECT_EQ(toc.tracks[3].trackNumber, 4);
    EXPECT_EQ(toc.tracks[4].trackNumber, 0xAA);
    EXPECT_EQ(toc.tracks[2].ADR & 0x04, 0);
    EXPECT_EQ(toc.tracks[3].ADR & 0x04, 0x04);

    // Without the MSF switch the addresses are logical block numbers.
    ASSERT_NE(ModifyCDParms(handle, 36, 0), 0);
    ASSERT_EQ(ReadTOC(handle, &toc), 1);
    EXPECT_EQ(toc.tracks[1].addr[2] << 8 | toc.tracks[1].addr[3], 750);
    EXPECT_EQ(ModifyCDParms(handle, 99, 1), 0);
    EXPECT_TRUE(CloseDriveHandle(handle));
}

TEST_F(CdAccessTest, AudioReadsGiveExactlyTheImageBytes)
{
    const QString cue = makeDisc("disc", {"400,noise", "333,music", "200,tone:1000"});
    const QByteArray image = ReadFileBytes(imagesFolder + "disc.bin");
    const TCdHandle handle = open(driveList().cd[0]);
    ASSERT_NE(handle, 0u);
    QRandomGenerator random(42);
    const uint32_t total = 933;
    std::vector<std::pair<uint32_t, uint32_t>> cases = {{0, 1}, {0, 10}, {925, 8}, {932, 1}, {399, 2}};
    for (int i = 0; i < 20; ++i) {
        const uint32_t start = random.bounded(total);
        cases.emplace_back(start, 1 + random.bounded(std::min<uint32_t>(27, total - start)));
    }
    for (const auto &[start, count] : cases) {
        int32_t result = 0;
        const std::vector<uint8_t> bytes = read(handle, start, count, &result);
        ASSERT_EQ(result, 1) << start << "+" << count << ": " << failure.text.toStdString();
        const QByteArray expected = image.mid(qsizetype(start) * 2352, qsizetype(count) * 2352);
        ASSERT_EQ(QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())), expected)
            << start << "+" << count;
    }
    // Beyond the lead-out, and a buffer too small for the request.
    int32_t result = 1;
    read(handle, 930, 10, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_OUT_OF_RANGE);
    std::vector<uint8_t> small(24 + 2352);
    auto *buffer = reinterpret_cast<TTrackBuf *>(small.data());
    buffer->numFrames = 2;
    buffer->maxLen = 2352;
    EXPECT_EQ(ReadCDAudioLBA(handle, buffer), 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(CloseDriveHandle(handle));
    EXPECT_FALSE(cue.isEmpty());
}

// An image's data file cut short while the disc is in: the sectors past its end fail to read, naming the
// file, as a drive's would (the image's reader gave zeros), for a CUE sheet and a cdrdao TOC alike.
TEST_F(CdAccessTest, AFileCutShortFailsToReadPastItsEnd)
{
    makeDisc("disc", {"200,noise", "100,music"});
    // The same data through a TOC file (raw, so byte-swapped, which does not matter here).
    WriteFileText(imagesFolder + "same.toc", "CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 0 00:02:50\n"
                                             "TRACK AUDIO\nFILE \"disc.bin\" 00:02:50 00:01:25\n");
    const TCDList drives = driveList();
    ASSERT_EQ(drives.num, 2);
    std::vector<TCdHandle> handles;
    for (int i = 0; i < 2; ++i) {
        handles.push_back(open(drives.cd[i]));
        ASSERT_NE(handles.back(), 0u);
        int32_t result = 0;
        read(handles.back(), 250, 10, &result);
        ASSERT_EQ(result, 1) << failure.text.toStdString();
    }
    ASSERT_TRUE(QFile::resize(imagesFolder + "disc.bin", 2352 * 255));
    for (const TCdHandle handle : handles) {
        int32_t result = 1;
        read(handle, 250, 10, &result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(GetAspiLibError(), CDERR_READ);
        EXPECT_TRUE(failure.text.contains("disc.bin ends at byte 599760")) << failure.text.toStdString();
        read(handle, 240, 10, &result);
        EXPECT_EQ(result, 1) << failure.text.toStdString();
        CloseDriveHandle(handle);
    }
}

TEST_F(CdAccessTest, MarkedSectorsFailToRead)
{
    makeDisc("bad", {"--bad", "120-121", "100", "100"});
    const TCdHandle handle = open(driveList().cd[0]);
    ASSERT_NE(handle, 0u);
    int32_t result = 0;
    read(handle, 100, 10, &result);
    EXPECT_EQ(result, 1);
    read(handle, 115, 10, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_READ);
    EXPECT_TRUE(failure.text.startsWith("Read error at sector 120 of ")) << failure.text.toStdString();
    read(handle, 121, 1, &result);
    EXPECT_EQ(result, 0);
    read(handle, 122, 10, &result);
    EXPECT_EQ(result, 1);
    CloseDriveHandle(handle);
}

TEST_F(CdAccessTest, CdParanoiaReadsTheSameBytes)
{
    makeDisc("disc", {"300,music", "211,noise", "150,tone"});
    const QString wav = home.root() + "/track2.wav";
    QByteArray output;
    const int code =
        RunProgram("cd-paranoia", {"-d", imagesFolder + "disc.cue", "-Z", "-w", "2", wav}, &output);
    ASSERT_EQ(code, 0) << output.toStdString();
    const QByteArray fromParanoia = ReadFileBytes(wav).mid(44);

    const TCdHandle handle = open(driveList().cd[0]);
    int32_t result = 0;
    const std::vector<uint8_t> ours = read(handle, 300, 211, &result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(fromParanoia, QByteArray(reinterpret_cast<const char *>(ours.data()), qsizetype(ours.size())));
    CloseDriveHandle(handle);
}

TEST_F(CdAccessTest, HandleFailures)
{
    // No drives at all.
    TCDList list = driveList();
    EXPECT_EQ(list.num, 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_NO_DRIVE);
    TGetCDHand request{};
    request.size = 12;
    request.ver = 1;
    EXPECT_EQ(GetCDHandle(&request), 0u);
    EXPECT_EQ(GetCDList(nullptr), 0);

    makeDisc("disc", {"100"});
    list = driveList();
    ASSERT_EQ(list.num, 1);
    request.ha = 1;
    request.tgt = 5;
    EXPECT_EQ(GetCDHandle(&request), 0u);
    EXPECT_EQ(GetAspiLibError(), CDERR_NO_DRIVE);
    request.tgt = 0;
    request.size = 11;
    EXPECT_EQ(GetCDHandle(&request), 0u);

    EXPECT_EQ(CloseCDHandle(77), 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_INVALID_HANDLE);
    EXPECT_TRUE(CloseDriveHandle(0));
    EXPECT_FALSE(CloseDriveHandle(77));

    // Handles are small non-zero numbers, reused after closing, and limited in number.
    std::vector<TCdHandle> handles;
    for (int i = 0; i < MAX_CD_HANDLES; ++i)
        handles.push_back(open(list.cd[0]));
    EXPECT_EQ(handles.front(), 1u);
    EXPECT_EQ(handles.back(), TCdHandle(MAX_CD_HANDLES));
    EXPECT_EQ(open(list.cd[0]), 0u);
    EXPECT_EQ(GetAspiLibError(), CDERR_NO_MORE_HANDLES);
    ASSERT_TRUE(CloseDriveHandle(3));
    EXPECT_EQ(open(list.cd[0]), 3u);

    // Everything fails on a closed handle.
    ASSERT_TRUE(CloseDriveHandle(4));
    TToc toc;
    EXPECT_EQ(ReadTOC(4, &toc), 0);
    EXPECT_EQ(ModifyCDParms(4, 36, 1), 0);
    int32_t result = 1;
    read(4, 0, 1, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(GetAspiLibError(), CDERR_INVALID_HANDLE);
    for (TCdHandle h = 1; h <= TCdHandle(MAX_CD_HANDLES); ++h)
        CloseDriveHandle(h);
}

TEST_F(CdAccessTest, ReadsOnOneHandleFromTwoThreads)
{
    makeDisc("disc", {"500,noise"});
    const QByteArray image = ReadFileBytes(imagesFolder + "disc.bin");
    const TCdHandle handle = open(driveList().cd[0]);
    ASSERT_NE(handle, 0u);
    bool same[2] = {false, false};
    const auto reader = [&](int which) {
        bool ok = true;
        for (uint32_t start = which * 7; start + 10 <= 500 && ok; start += 20) {
            std::vector<uint8_t> memory(24 + 10 * 2352);
            auto *buffer = reinterpret_cast<TTrackBuf *>(memory.data());
            buffer->startFrame = start;
            buffer->numFrames = 10;
            buffer->maxLen = 10 * 2352;
            ok = ReadCDAudioLBA(handle, buffer) == 1 &&
                 std::memcmp(buffer->buf, image.constData() + start * 2352, 10 * 2352) == 0;
        }
        same[which] = ok;
    };
    std::thread a(reader, 0);
    std::thread b(reader, 1);
    a.join();
    b.join();
    EXPECT_TRUE(same[0]);
    EXPECT_TRUE(same[1]);
    CloseDriveHandle(handle);
}

TEST_F(CdAccessTest, DiscIdentity)
{
    EXPECT_FALSE(AudioCdPresent());
    EXPECT_EQ(DiscKey(), QString());

    // The first drive holds a disc starting with a data track: not an audio CD, but the second drive is.
    makeDisc("a-data", {"data:100", "100"});
    makeDisc("b-audio", {"100", "200"});
    EXPECT_FALSE(IsAudioCdDrive(0));
    EXPECT_TRUE(IsAudioCdDrive(1));
    EXPECT_FALSE(IsAudioCdDrive(2));
    EXPECT_FALSE(IsAudioCdDrive(-1));
    EXPECT_FALSE(AudioCdPresent());
    const QString key = DiscKey();
    EXPECT_FALSE(key.isEmpty());
    EXPECT_EQ(DiscKey(), key);

    // The key depends on the table only: the same layout elsewhere gives the same key, another layout
    // another.
    QFile::remove(imagesFolder + "a-data.cue");
    EXPECT_TRUE(AudioCdPresent());
    const QString copy = home.root() + "/copy.cue";
    ASSERT_TRUE(MakeDisc(copy, {"--seed", "9", "100,noise", "200,silence"}));
    QFile::rename(imagesFolder + "b-audio.cue", imagesFolder + "b-audio.hidden");
    qputenv("SONDREL_DISC_IMAGES", QFile::encodeName(copy));
    EXPECT_EQ(DiscKey(), key);
    qunsetenv("SONDREL_DISC_IMAGES");
    QStringList keys;
    bool negativeSeen = false;
    for (int length = 100; length < 112; ++length) {
        makeDisc("b-audio", {"100", QString::number(length)});
        const QString k = DiscKey();
        bool ok = false;
        const int value = k.toInt(&ok);
        ASSERT_TRUE(ok) << k.toStdString();
        EXPECT_EQ(QString::number(value), k);
        negativeSeen = negativeSeen || (value < 0 && k.startsWith('-'));
        keys << k;
    }
    keys.removeDuplicates();
    EXPECT_EQ(keys.size(), 12);
    EXPECT_TRUE(negativeSeen);
    EXPECT_FALSE(keys.contains(key));
}

// Codes from a disc or a CUE sheet are outside text: only their exact forms are taken.
TEST(DiscCodes, OnlyWellFormedCodesAreTaken)
{
    for (const char *good : {"USRC17607839", "GBAYE0000351", "FR6V81234567"})
        EXPECT_TRUE(IsWellFormedIsrc(good)) << good;
    for (const char *bad : {"", "usrc17607839", "USRC1760783", "USRC176078390", "US-RC1760783",
                            "USRC1760783\n", "\"; rm -rf /\"", "1SRC17607839", "USRC1760783X"})
        EXPECT_FALSE(IsWellFormedIsrc(bad)) << bad;
    for (const char *bad :
         {"", "0000000000000", "400638133393", "40063813339310", "400638133393A", "-400638133393"})
        EXPECT_FALSE(IsWellFormedMcn(bad)) << bad;
    // Barcodes by their EAN-13 check digit (UPC-A with a leading nought is one too).
    EXPECT_TRUE(IsBarcode("4006381333931"));
    EXPECT_TRUE(IsBarcode("0075678164125"));
    EXPECT_FALSE(IsBarcode("4006381333932"));
    EXPECT_TRUE(IsWellFormedMcn("4006381333932")); // a catalogue number all the same
}

// A drive's read with C2 error pointers gives each sector's audio followed by a bit for each of its bytes
// (MMC READ CD, C2 error bits): the audio is taken out whole, and a sector is flagged by any bit of its own,
// the first and the last byte's included.
TEST(C2Pointers, EachSectorIsFlaggedByItsOwnBits)
{
    constexpr uint32_t count = 4;
    std::vector<uint8_t> raw(count * CdSectorWithC2Bytes);
    for (uint32_t i = 0; i < count; ++i)
        std::memset(raw.data() + i * CdSectorWithC2Bytes, int('a' + i), 2352);
    raw[1 * CdSectorWithC2Bytes + 2352] = 0x80;       // sector 1: its first byte
    raw[3 * CdSectorWithC2Bytes + 2352 + 293] = 0x01; // sector 3: its last byte
    std::vector<uint8_t> audio(count * 2352);
    std::vector<bool> c2;
    SplitC2Sectors(raw.data(), count, audio.data(), c2);
    EXPECT_EQ(c2, std::vector<bool>({false, true, false, true}));
    for (uint32_t i = 0; i < count; ++i)
        EXPECT_EQ(std::count(audio.begin() + i * 2352, audio.begin() + (i + 1) * 2352, char('a' + i)), 2352)
            << i;
}

} // namespace
