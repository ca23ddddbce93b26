#include "cdripthread.h"

#include "audio/aufilestream.h"
#include "cdrom/readwindow.h"
#include "shell/helpers.h"
#include "shell/messages.h"
#include "shell/settings.h"
#include "wavheader.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

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

void TCDRipThread::Execute()
{
    if (ModifyCDParms(CDHandle, CDP_MSF, 1) == 0) {
        PostMessage(NotifyWindow, WM_RIPERROR, 0, 1);
        return;
    }
    TToc toc;
    if (ReadTOC(CDHandle, &toc) != 1 || TrackIndex < 1 || TrackIndex > toc.lastTrack - toc.firstTrack + 1) {
        PostMessage(NotifyWindow, WM_RIPERROR, 0, 2);
        return;
    }
    const uint32_t start = uint32_t(tocFrames(toc, TrackIndex - 1) - tocFrames(toc, 0));
    uint32_t length = uint32_t(std::max(tocFrames(toc, TrackIndex) - tocFrames(toc, TrackIndex - 1), 0));
    const TCommonOptions &options = Options;
    if (options.EnableRipTime)
        length = std::min<uint32_t>(length, uint32_t(std::max(options.RipTime, 0)) * 75);
    m_path = options.OutputFolder + QLatin1Char('/') + FileBase + QStringLiteral(".wav");
    // The track is written under its working name and gets its own only when whole (read, header final,
    // normalised if asked): an interrupted or failed read never leaves a short WAV under the track's name,
    // nor replaces the one that was there.
    const QString working = WorkingFileOf(m_path);

    // A file that cannot be made or written is reported with the system's reason (in Elapsed); only a name
    // the file system refuses keeps the reason empty, for the message about the title.
    const auto writeFailure = [this](const QString &reason) {
        PostProcessInfo(NotifyWindow,
                        TProcessInfo{ProcessEvent::TrackRead, m_path + QStringLiteral(": ") + reason,
                                     QString(), ProcessResult::WavNotCreated});
    };
    std::unique_ptr<TAuFileStream> file;
    try {
        file = std::make_unique<TAuFileStream>(working, TAuFileStream::fmCreate);
    } catch (const std::exception &e) {
        const int error = errno;
        if (error == ENAMETOOLONG || error == EINVAL || error == EILSEQ)
            PostProcessInfo(NotifyWindow, TProcessInfo{ProcessEvent::TrackRead, QString(), QString(),
                                                       ProcessResult::WavNotCreated});
        else
            writeFailure(QString::fromUtf8(e.what()));
        return;
    }
    int writeError = 0; // errno of a failed write
    const auto write = [&](const char *data, int64_t bytes) {
        errno = 0;
        if (file->write(data, bytes) == bytes)
            return true;
        writeError = errno ? errno : EIO;
        return false;
    };
    const QByteArray emptyHeader = CdAudioWavHeader(0);
    bool writeFailed = !write(emptyHeader.constData(), emptyHeader.size());
    bool failed = writeFailed;

    // The sectors of the track, shifted by the read offset; what lies outside the disc is silence.
    const int32_t discEnd = tocFrames(toc, toc.lastTrack - toc.firstTrack + 1) - tocFrames(toc, 0);
    const TReadWindow window =
        ShiftedReadWindow(int32_t(start), int32_t(length), options.ReadOffset, 0, discEnd);
    // The first audio track, as the checksums count it: only data tracks before it.
    bool firstTrack = true;
    for (int entry = 0; entry < TrackIndex - 1; ++entry)
        firstTrack = firstTrack && (toc.tracks[entry].ADR & 4) != 0;
    const bool lastTrack =
        TrackIndex == toc.lastTrack - toc.firstTrack + 1 || (toc.tracks[TrackIndex].ADR & 4) != 0;
    const auto begun = Clock::now();
    const std::vector<uint8_t> silence(10 * CD_SECTOR_BYTES, 0);
    int32_t lastPercent = -1; // the last progress posted
    // The checksums cost a pass over every byte: taken only when the log, AccurateRip or Test & copy use them.
    const bool checking = options.WriteLog || options.VerifyAccurateRip || options.TestAndCopy;
    std::vector<uint8_t> request(24 + 10 * CD_SECTOR_BYTES);
    // One pass over the track: its audio goes to the check and, when writing, to the file. False on a read
    // or write failure (or a stop).
    const auto pass = [&](TAudioCheck &check, bool writing, int passes, int passIndex) {
        check = TAudioCheck(int64_t(length) * 588, firstTrack, lastTrack);
        const auto deliver = [&](const uint8_t *data, int64_t bytes) {
            if (checking)
                check.Add(data, size_t(bytes));
            if (writing && !write(reinterpret_cast<const char *>(data), bytes)) {
                writeFailed = true;
                return false;
            }
            return true;
        };
        const auto deliverSilence = [&](int64_t bytes) {
            for (int64_t done = 0; done < bytes;) {
                const int64_t n = std::min<int64_t>(bytes - done, int64_t(silence.size()));
                if (!deliver(silence.data(), n))
                    return false;
                done += n;
            }
            return true;
        };
        TWindowCut cut(window);
        if (!deliverSilence(window.LeadSilence))
            return false;
        const uint32_t sectors = uint32_t(window.Sectors);
        uint32_t done = 0;
        while (done != sectors) {
            const uint32_t n = std::min<uint32_t>(sectors - done, 10);
            auto *buffer = reinterpret_cast<TTrackBuf *>(request.data());
            buffer->startFrame = uint32_t(window.FirstSector) + done;
            buffer->numFrames = n;
            buffer->maxLen = n * CD_SECTOR_BYTES;
            buffer->len = buffer->status = 0;
            buffer->startOffset = 0;
            if (ReadCDAudioLBA(CDHandle, buffer) != 1) {
                ++ReadErrors;
                return false;
            }
            const auto [skip, count] = cut.Take(buffer->len);
            if (!deliver(buffer->buf + buffer->startOffset + skip, int64_t(count)))
                return false;
            done += n;
            const uint64_t percent =
                (uint64_t(done) * 100 / std::max<uint32_t>(sectors, 1) + uint64_t(passIndex) * 100) /
                uint64_t(passes);
            // A notice when the percentage moves, not after each of a track's thousands of blocks: every
            // notice wakes the window's thread.
            if (int32_t(percent) != lastPercent) {
                lastPercent = int32_t(percent);
                PostProcessInfo(NotifyWindow, ProgressNotice(lastPercent, secondsSince(begun)));
            }
            if (StopRequested)
                return false;
        }
        return deliverSilence(cut.TailSilence());
    };
    // Test & copy: a first read only for its checksum, then the read that is written.
    if (!failed && options.TestAndCopy) {
        TAudioCheck test;
        failed = !pass(test, false, 2, 0);
        Tested = !failed;
        TestCrc = test.Crc();
    }
    if (!failed)
        failed = !pass(Check, true, options.TestAndCopy ? 2 : 1, options.TestAndCopy ? 1 : 0);
    if (StopRequested && !writeFailed)
        failed = false; // a stopped read ends quietly, as before

    if (writeFailed) {
        file.reset();
        DiscardWorkingFile(working, m_path);
        writeFailure(QString::fromLocal8Bit(std::strerror(writeError)));
        return;
    }
    if (failed) {
        file.reset();
        DiscardWorkingFile(working, m_path);
        // The drive's (or image's) reason, which the last failed read left on this thread.
        PostProcessInfo(NotifyWindow, TProcessInfo{ProcessEvent::TrackRead, CdAccessErrorText(), QString(),
                                                   ProcessResult::ReadError});
        return;
    }
    const int64_t fileLength = file->size();
    const QByteArray header = CdAudioWavHeader(uint32_t(fileLength - 44));
    errno = 0;
    if (!file->seek(0) || !write(header.constData(), header.size()) || !file->flush()) {
        const int error = writeError ? writeError : errno ? errno : EIO;
        file.reset();
        DiscardWorkingFile(working, m_path);
        writeFailure(QString::fromLocal8Bit(std::strerror(error)));
        return;
    }
    const bool synced = ::fsync(file->handle()) == 0 || errno == EINVAL;
    const int syncError = errno;
    file.reset();
    if (StopRequested) {
        DiscardWorkingFile(working, m_path);
        return;
    }
    if (!synced) {
        DiscardWorkingFile(working, m_path);
        writeFailure(QString::fromLocal8Bit(std::strerror(syncError)));
        return;
    }
    if (options.IsNormalize)
        Normalize(working, options.NormalizePercent, NotifyWindow);
    QString error;
    if (!CommitWorkingFile(working, m_path, &error)) {
        PostProcessInfo(NotifyWindow, TProcessInfo{ProcessEvent::TrackRead, error, QString(),
                                                   ProcessResult::WavNotCreated});
        return;
    }
    PostProcessInfo(NotifyWindow,
                    TProcessInfo{ProcessEvent::TrackRead, QString(), QString(), ProcessResult::Done});
}

bool TCDRipThread::Normalize(const QString &wavPath, int percent, QObject *receiver)
{
    PostProcessInfo(receiver, TProcessInfo{ProcessEvent::NormalizeBegins, QString(), QString(), 0});
    const QFileInfo info(wavPath);
    const QString temporary =
        info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".nor");
    const float gain = float(percent) / 100.0f;
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
    char block[2048];
    int32_t lastPercent = -1;
    while (ok) {
        if (const int32_t done = int32_t(length ? processed * 100 / length : 0); done != lastPercent) {
            lastPercent = done;
            PostProcessInfo(receiver, ProgressNotice(done, secondsSince(begun)));
        }
        const int64_t got = in.read(block, sizeof block);
        if (got <= 0)
            break;
        for (int64_t i = 0; i + 1 < got; i += 2) {
            const int16_t s = qFromLittleEndian<int16_t>(block + i);
            const float scaled = std::nearbyint(float(s) * gain);
            qToLittleEndian<int16_t>(int16_t(std::clamp(scaled, -32768.0f, 32767.0f)), block + i);
        }
        ok = out.write(block, got) == got;
        processed += got;
    }
    ok = ok && in.error() == QFileDevice::NoError && out.flush();
    in.close();
    out.close();
    if (!ok) {
        QFile::remove(temporary);
        return false;
    }
    // Renamed over the WAV in one step: at any moment the WAV is either the file as read or the scaled one.
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(wavPath).constData()) != 0) {
        QFile::remove(temporary);
        return false;
    }
    return true;
}
