// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdripthread.h"

#include "audio/aufilestream.h"
#include "audio/deemphasis.h"
#include "cdrom/readwindow.h"
#include "ripreport.h"
#include "shell/helpers.h"
#include "shell/messages.h"
#include "shell/settings.h"
#include "wavheader.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int32_t tocFrames(const TToc &toc, int entry)
{
    return TocEntryFrames(toc.tracks[entry]);
}

} // namespace

TCDRipThread::TCDRipThread(int trackIndex, const QString &fileBase)
    : TrackIndex(trackIndex), FileBase(fileBase)
{
}

TCDRipThread::~TCDRipThread()
{
    if (m_thread.joinable())
        m_thread.join();
}

void TCDRipThread::Resume()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] {
            Execute();
            m_finished = true;
        });
}

QString TCDRipThread::FilePath() const
{
    return m_path;
}

// What one read of a track covers: its sectors shifted by the read offset (what lies outside the disc is
// silence), and whether it is the disc's first or last audio track for the checksums.
struct TCDRipThread::ReadPlan {
    uint32_t Length = 0; // sectors
    TReadWindow Window;
    bool FirstTrack = true;
    bool LastTrack = false;
    bool Checking = false; // the checksums cost a pass over every byte: only when the log, AccurateRip or
                           // Test & copy use them
    Clock::time_point Begun = Clock::now();
    int32_t LastPercent = -1; // the last progress posted
    int32_t Start = 0;        // the track's first sector, counted from the table's first entry
};

// The working file being written, and the first write failure's errno.
struct TCDRipThread::FileWrite {
    std::unique_ptr<TAuFileStream> File;
    int Error = 0;
    bool Failed = false;

    bool Write(const char *data, int64_t bytes)
    {
        errno = 0;
        if (File->write(data, bytes) == bytes)
            return true;
        Error = errno ? errno : EIO;
        Failed = true;
        return false;
    }
};

bool TCDRipThread::plan(ReadPlan &plan)
{
    if (ModifyCDParms(CDHandle, CDP_MSF, 1) == 0) {
        PostMessage(NotifyWindow, WM_RIPERROR, 0, 1);
        return false;
    }
    TToc toc;
    if (ReadTOC(CDHandle, &toc) != 1 || TrackIndex < 0 || TrackIndex > toc.lastTrack - toc.firstTrack + 1) {
        PostMessage(NotifyWindow, WM_RIPERROR, 0, 2);
        return false;
    }
    const int32_t discEnd = tocFrames(toc, toc.lastTrack - toc.firstTrack + 1) - tocFrames(toc, 0);
    if (TrackIndex == 0) {
        // The audio hidden before the first track, from the disc's start to the first track's INDEX 01:
        // sectors before the table's first entry.
        const int32_t hidden = std::max(tocFrames(toc, 0) - 150, 0);
        plan.Length = uint32_t(hidden);
        if (Options.EnableRipTime)
            plan.Length = std::min<uint32_t>(plan.Length, uint32_t(std::max(Options.RipTime, 0)) * 75);
        plan.Window = ShiftedReadWindow(-hidden, int32_t(plan.Length), Options.ReadOffset, -hidden, discEnd);
        plan.Start = -hidden;
        plan.FirstTrack = false;
        plan.LastTrack = false;
        m_preemphasis = (toc.tracks[0].ADR & 0x05) == 0x01;
    } else {
        planTrack(plan, toc, discEnd);
    }
    plan.Checking = Options.WriteLog || Options.VerifyAccurateRip || Options.TestAndCopy;
    return true;
}

void TCDRipThread::planTrack(ReadPlan &plan, const TToc &toc, int32_t discEnd)
{
    const uint32_t start = uint32_t(tocFrames(toc, TrackIndex - 1) - tocFrames(toc, 0));
    plan.Length = uint32_t(std::max(tocFrames(toc, TrackIndex) - tocFrames(toc, TrackIndex - 1), 0));
    if (Options.EnableRipTime)
        plan.Length = std::min<uint32_t>(plan.Length, uint32_t(std::max(Options.RipTime, 0)) * 75);
    plan.Window = ShiftedReadWindow(int32_t(start), int32_t(plan.Length), Options.ReadOffset, 0, discEnd);
    plan.Start = int32_t(start);
    for (int entry = 0; entry < TrackIndex - 1; ++entry) // only data tracks before it
        plan.FirstTrack = plan.FirstTrack && (toc.tracks[entry].ADR & 4) != 0;
    plan.LastTrack =
        TrackIndex == toc.lastTrack - toc.firstTrack + 1 || (toc.tracks[TrackIndex].ADR & 4) != 0;
    m_preemphasis = (toc.tracks[TrackIndex - 1].ADR & 0x05) == 0x01; // an audio track the table flags
}

void TCDRipThread::writeFailure(const QString &reason)
{
    // The system's reason goes in Elapsed; only a name the file system refuses keeps it empty, for the
    // message about the title.
    PostProcessInfo(NotifyWindow,
                    TProcessInfo{ProcessEvent::TrackRead,
                                 reason.isEmpty() ? QString() : m_path + QStringLiteral(": ") + reason,
                                 QString(), ProcessResult::WavNotCreated});
}

void TCDRipThread::Execute()
{
    ReadPlan plan;
    if (!this->plan(plan))
        return;
    m_path = Options.OutputFolder + QLatin1Char('/') + FileBase + QStringLiteral(".wav");
    // The track is written under its working name and gets its own only when whole (read, header final,
    // normalised if asked): an interrupted or failed read never leaves a short WAV under the track's name,
    // nor replaces the one that was there.
    const QString working = WorkingFileOf(m_path);
    FileWrite out;
    try {
        out.File = std::make_unique<TAuFileStream>(working, TAuFileStream::fmCreate);
    } catch (const std::exception &e) {
        const int error = errno;
        const bool badName = error == ENAMETOOLONG || error == EINVAL || error == EILSEQ;
        writeFailure(badName ? QString() : QString::fromUtf8(e.what()));
        return;
    }
    const QByteArray emptyHeader = CdAudioWavHeader(0);
    bool failed = !out.Write(emptyHeader.constData(), emptyHeader.size());
    // Test & copy: a first read only for its checksum, then the read that is written.
    // Test & copy: each read's sector prints, to tell where reads differed.
    std::vector<std::vector<uint64_t>> prints;
    const auto nextPrints = [&] { return Options.TestAndCopy ? &prints.emplace_back() : nullptr; };
    if (!failed && Options.TestAndCopy) {
        TAudioCheck test;
        failed = !readPass(plan, nullptr, test, 2, 0, nextPrints());
        Tested = !failed;
        TestCrc = test.Crc();
    }
    if (!failed)
        failed = !readPass(plan, &out, Check, Options.TestAndCopy ? 2 : 1, Options.TestAndCopy ? 1 : 0,
                           nextPrints());
    // Reads that differ: the track is read again, the file written anew each time, until a read agrees with
    // one before it (the file then holds it) or the retries are spent.
    QList<uint32_t> crcs{TestCrc};
    while (!failed && Tested && !crcs.contains(Check.Crc()) && Rereads.size() < Options.TestCopyRetries) {
        crcs << Check.Crc();
        if (!out.File->seek(44) || !out.File->resize(44)) {
            out.Error = errno ? errno : EIO;
            out.Failed = failed = true;
            break;
        }
        failed = !readPass(plan, &out, Check, 1, 0, nextPrints());
        if (!failed)
            Rereads << Check.Crc();
    }
    if (!Rereads.isEmpty())
        FirstCopyCrc = crcs.value(1);
    FirstSector = plan.Start;
    if (!failed && prints.size() > 1) {
        Suspicious = DifferingSectors(prints, plan.Start);
        if (BeganOff(prints))
            JitterFrom = plan.Start;
    }
    if (StopRequested && !out.Failed)
        failed = false; // a stopped read ends quietly, as before
    if (!failed && !out.Failed && !Unreadable.isEmpty() && !Options.KeepDamaged) {
        // Only verified tracks are wanted, and this one cannot be: it is not made.
        out.File.reset();
        DiscardWorkingFile(working, m_path);
        PostProcessInfo(NotifyWindow,
                        TProcessInfo{ProcessEvent::TrackRead, DamagedNotMadeText(m_path, Unreadable.size()),
                                     QString(), ProcessResult::SourceFailed});
        return;
    }
    settle(working, out, failed);
}

void TSectorPrints::Add(const uint8_t *data, size_t bytes)
{
    // Whole sectors are hashed, so that the print does not depend on the pieces the audio came in.
    while (m_prints && bytes > 0) {
        const size_t n = std::min(bytes, m_sector.size() - m_filled);
        std::memcpy(m_sector.data() + m_filled, data, n);
        m_filled += n;
        data += n;
        bytes -= n;
        if (m_filled == m_sector.size()) {
            m_prints->push_back(std::hash<std::string_view>{}(
                std::string_view(reinterpret_cast<const char *>(m_sector.data()), m_sector.size())));
            m_filled = 0;
        }
    }
}

QList<int32_t> DifferingSectors(const std::vector<std::vector<uint64_t>> &prints, int32_t firstSector)
{
    QList<int32_t> sectors;
    for (size_t at = 0; !prints.empty() && at < prints[0].size(); ++at)
        if (std::any_of(prints.begin() + 1, prints.end(), [&](const std::vector<uint64_t> &read) {
                return at >= read.size() || read[at] != prints[0][at];
            }))
            sectors << firstSector + int32_t(at);
    return sectors;
}

bool BeganOff(const std::vector<std::vector<uint64_t>> &prints)
{
    // A weak spot makes reads differ in a few sectors somewhere; a read that began off differs from its
    // first sector on, in a run as long as the drive's first request.
    constexpr size_t LongRun = 8;
    for (size_t pass = 1; pass < prints.size(); ++pass) {
        const std::vector<uint64_t> &a = prints[0], &b = prints[pass];
        size_t differing = 0;
        while (differing < std::min(a.size(), b.size()) && a[differing] != b[differing])
            ++differing;
        if (differing >= LongRun)
            return true;
    }
    return false;
}

namespace {

// A read request for `count` sectors from `first`, in `request` (24 bytes of header, then room for them).
TTrackBuf *readRequest(std::vector<uint8_t> &request, uint32_t first, uint32_t count)
{
    auto *buffer = reinterpret_cast<TTrackBuf *>(request.data());
    buffer->startFrame = first;
    buffer->numFrames = count;
    buffer->maxLen = count * CD_SECTOR_BYTES;
    buffer->len = buffer->status = 0;
    buffer->startOffset = 0;
    return buffer;
}

} // namespace

bool TCDRipThread::readPass(ReadPlan &plan, FileWrite *out, TAudioCheck &check, int passes, int passIndex,
                            std::vector<uint64_t> *prints)
{
    check = TAudioCheck(int64_t(plan.Length) * 588, plan.FirstTrack, plan.LastTrack);
    TSectorPrints sectorPrints(prints);
    const auto deliver = [&](const uint8_t *data, int64_t bytes) {
        if (plan.Checking)
            check.Add(data, size_t(bytes));
        sectorPrints.Add(data, size_t(bytes));
        return !out || out->Write(reinterpret_cast<const char *>(data), bytes);
    };
    static const std::vector<uint8_t> silence(10 * CD_SECTOR_BYTES, 0);
    const auto deliverSilence = [&](int64_t bytes) {
        for (int64_t done = 0; done < bytes;) {
            const int64_t n = std::min<int64_t>(bytes - done, int64_t(silence.size()));
            if (!deliver(silence.data(), n))
                return false;
            done += n;
        }
        return true;
    };
    TWindowCut cut(plan.Window);
    if (!deliverSilence(plan.Window.LeadSilence))
        return false;
    std::vector<uint8_t> request(24 + 10 * CD_SECTOR_BYTES);
    std::vector<uint8_t> block(10 * CD_SECTOR_BYTES);
    QList<int32_t> unreadable;
    std::vector<bool> c2; // the drive's C2 error pointers for the block read, when it offers them
    if (out) {
        C2Flagged.clear();
        C2Left.clear();
    }
    const uint32_t sectors = uint32_t(plan.Window.Sectors);
    for (uint32_t done = 0; done != sectors;) {
        const uint32_t n = std::min<uint32_t>(sectors - done, 10);
        TTrackBuf *buffer = readRequest(request, uint32_t(plan.Window.FirstSector) + done, n);
        if (TCdError failure; ReadCDAudioLBAWithC2(CDHandle, buffer, &c2, &failure) != 1) {
            if (m_readError.isEmpty()) // the first failure names where the trouble starts
                m_readError = failure.text;
            ++ReadErrors;
            // Sector by sector: what can be read is kept, what cannot becomes silence and is told.
            if (!readSectorsOneByOne(buffer->startFrame, n, block, unreadable))
                return false;
            const auto [skip, count] = cut.Take(n * CD_SECTOR_BYTES);
            if (!deliver(block.data() + skip, int64_t(count)))
                return false;
        } else {
            if (std::find(c2.begin(), c2.end(), true) != c2.end())
                mendFlaggedSectors(buffer->startFrame, c2, buffer->buf + buffer->startOffset, out != nullptr);
            const auto [skip, count] = cut.Take(buffer->len);
            if (!deliver(buffer->buf + buffer->startOffset + skip, int64_t(count)))
                return false;
        }
        done += n;
        const uint64_t percent =
            (uint64_t(done) * 100 / std::max<uint32_t>(sectors, 1) + uint64_t(passIndex) * 100) /
            uint64_t(passes);
        // A notice when the percentage moves, not after each of a track's thousands of blocks: every notice
        // wakes the window's thread.
        if (int32_t(percent) != plan.LastPercent) {
            plan.LastPercent = int32_t(percent);
            PostProcessInfo(NotifyWindow, ProgressNotice(plan.LastPercent, SecondsSince(plan.Begun)));
        }
        if (StopRequested)
            return false;
    }
    if (unreadable.size() == qsizetype(sectors))
        return false; // nothing of the track could be read
    if (out)
        Unreadable = unreadable;
    return deliverSilence(cut.TailSilence());
}

void TCDRipThread::mendFlaggedSectors(uint32_t first, const std::vector<bool> &c2, uint8_t *data, bool copy)
{
    std::vector<uint8_t> request(24 + CD_SECTOR_BYTES);
    std::vector<bool> flags;
    for (size_t i = 0; i < c2.size(); ++i) {
        if (!c2[i])
            continue;
        const int32_t sector = int32_t(first + i);
        bool clean = false;
        for (int attempt = 0; attempt < C2ReadAttempts && !clean && !StopRequested; ++attempt) {
            TTrackBuf *buffer = readRequest(request, first + uint32_t(i), 1);
            clean = ReadCDAudioLBAWithC2(CDHandle, buffer, &flags, nullptr) == 1 && !flags.empty() &&
                    !flags[0] && buffer->len == CD_SECTOR_BYTES;
            if (clean)
                std::memcpy(data + i * CD_SECTOR_BYTES, buffer->buf + buffer->startOffset, CD_SECTOR_BYTES);
        }
        if (copy) {
            C2Flagged << sector;
            if (!clean)
                C2Left << sector;
        }
    }
}

bool TCDRipThread::readSectorsOneByOne(uint32_t first, uint32_t count, std::vector<uint8_t> &into,
                                       QList<int32_t> &unreadable)
{
    std::vector<uint8_t> request(24 + CD_SECTOR_BYTES);
    for (uint32_t i = 0; i < count; ++i) {
        TTrackBuf *buffer = readRequest(request, first + i, 1);
        uint8_t *sector = into.data() + size_t(i) * CD_SECTOR_BYTES;
        if (TCdError failure;
            ReadCDAudioLBA(CDHandle, buffer, &failure) == 1 && buffer->len == CD_SECTOR_BYTES) {
            std::memcpy(sector, buffer->buf + buffer->startOffset, CD_SECTOR_BYTES);
        } else {
            std::memset(sector, 0, CD_SECTOR_BYTES);
            unreadable << int32_t(first + i);
        }
        if (StopRequested)
            return false;
    }
    return true;
}

void TCDRipThread::settle(const QString &working, FileWrite &out, bool failed)
{
    const auto discard = [&](const QString &reason) {
        out.File.reset();
        DiscardWorkingFile(working, m_path);
        if (!reason.isEmpty())
            writeFailure(reason);
    };
    if (out.Failed) {
        discard(QString::fromLocal8Bit(std::strerror(out.Error)));
        return;
    }
    if (failed) {
        discard(QString());
        PostProcessInfo(NotifyWindow, TProcessInfo{ProcessEvent::TrackRead, m_readError, QString(),
                                                   ProcessResult::ReadError});
        return;
    }
    const QByteArray header = CdAudioWavHeader(uint32_t(out.File->size() - 44));
    errno = 0;
    if (!out.File->seek(0) || !out.Write(header.constData(), header.size()) || !out.File->flush()) {
        const int error = out.Error ? out.Error : errno ? errno : EIO;
        discard(QString::fromLocal8Bit(std::strerror(error)));
        return;
    }
    const bool synced = ::fsync(out.File->handle()) == 0 || errno == EINVAL;
    const int syncError = errno;
    if (StopRequested || !synced) {
        discard(StopRequested ? QString() : QString::fromLocal8Bit(std::strerror(syncError)));
        return;
    }
    out.File.reset();
    if (Options.Deemphasis && m_preemphasis)
        Deemphasize(working);
    if (Options.IsNormalize)
        Normalize(working, Options.NormalizePercent, NotifyWindow);
    QString error;
    if (!CommitWorkingFile(working, m_path, &error)) {
        PostProcessInfo(NotifyWindow, TProcessInfo{ProcessEvent::TrackRead, error, QString(),
                                                   ProcessResult::WavNotCreated});
        return;
    }
    PostProcessInfo(NotifyWindow,
                    TProcessInfo{ProcessEvent::TrackRead, QString(), QString(), ProcessResult::Done});
}

namespace {

// Rewrites the 16-bit samples after the 44-byte header of a WAV file through `change` (given a block of
// samples and their number, an even one but at the end), into a temporary file that then replaces it in one
// step: at any moment the WAV is either the file as it was or the changed one. Progress goes to the receiver.
// False when a file could not be opened, written or renamed (the WAV is then left as it was).
bool rewriteSamples(const QString &wavPath, const char *suffix, QObject *receiver,
                    const std::function<void(int16_t *samples, size_t count)> &change)
{
    const QFileInfo info(wavPath);
    const QString temporary =
        info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1String(suffix);
    QFile in(wavPath);
    QFile out(temporary);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const int64_t length = in.size();
    const auto begun = Clock::now();
    const QByteArray header = in.read(44);
    bool ok = out.write(header) == header.size();
    int64_t processed = 44;
    std::array<int16_t, 1024> block;
    int32_t lastPercent = -1;
    while (ok) {
        if (const int32_t done = int32_t(length ? processed * 100 / length : 0); done != lastPercent) {
            lastPercent = done;
            PostProcessInfo(receiver, ProgressNotice(done, SecondsSince(begun)));
        }
        const int64_t got = in.read(reinterpret_cast<char *>(block.data()), sizeof block);
        if (got <= 0)
            break;
        for (int64_t i = 0; i < got / 2; ++i)
            block[size_t(i)] = qFromLittleEndian(block[size_t(i)]);
        change(block.data(), size_t(got / 2));
        for (int64_t i = 0; i < got / 2; ++i)
            block[size_t(i)] = qToLittleEndian(block[size_t(i)]);
        ok = out.write(reinterpret_cast<const char *>(block.data()), got) == got;
        processed += got;
    }
    ok = ok && in.error() == QFileDevice::NoError && out.flush();
    in.close();
    out.close();
    if (!ok ||
        std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(wavPath).constData()) != 0) {
        QFile::remove(temporary);
        return false;
    }
    return true;
}

} // namespace

bool TCDRipThread::Normalize(const QString &wavPath, int percent, QObject *receiver)
{
    PostProcessInfo(receiver, TProcessInfo{ProcessEvent::NormalizeBegins, QString(), QString(), 0});
    const float gain = float(percent) / 100.0f;
    return rewriteSamples(wavPath, ".nor", receiver, [gain](int16_t *samples, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const float scaled = std::nearbyint(float(samples[i]) * gain);
            samples[i] = int16_t(std::clamp(scaled, -32768.0f, 32767.0f));
        }
    });
}

bool TCDRipThread::Deemphasize(const QString &wavPath)
{
    TDeemphasis filter;
    return rewriteSamples(wavPath, ".dem", nullptr,
                          [&filter](int16_t *samples, size_t count) { filter.Process(samples, count / 2); });
}
