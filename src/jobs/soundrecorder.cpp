// SPDX-License-Identifier: GPL-3.0-or-later
#include "soundrecorder.h"

#include "shell/helpers.h"
#include "wavheader.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Copies `bytes` bytes from the current position of one file to the end of another.
bool copyBytes(QFile &from, QFile &to, int64_t bytes, QString *reason)
{
    std::vector<char> block(1 << 20);
    while (bytes > 0) {
        const int64_t want = std::min<int64_t>(bytes, int64_t(block.size()));
        const int64_t got = from.read(block.data(), want);
        if (got <= 0) {
            *reason = from.fileName() + QStringLiteral(": ") +
                      (got < 0 ? from.errorString() : QStringLiteral("ended early"));
            return false;
        }
        if (to.write(block.data(), got) != got) {
            *reason = to.errorString();
            return false;
        }
        bytes -= got;
    }
    return true;
}

void putLittleEndian32(QByteArray &bytes, int64_t offset, uint32_t value)
{
    if (offset >= 0 && offset + 4 <= bytes.size())
        qToLittleEndian(value, bytes.data() + offset);
}

} // namespace

TSoundRecorder::TSoundRecorder(QObject *parent) : QObject(parent)
{
    connect(&m_device, &TAlsaCapture::Failed, this, &TSoundRecorder::Failed);
    connect(&m_device, &TAlsaCapture::Ended, this, &TSoundRecorder::Ended);
}

TSoundRecorder::~TSoundRecorder()
{
    if (Recording())
        (void)Stop();
}

TResult<> TSoundRecorder::WriteEmptyWav(const QString &path, int channels, int bits, int rate)
{
    if (QString error; !WriteFileAtomically(
            path, CanonicalWavHeader(uint16_t(channels), uint32_t(rate), uint16_t(bits), 0), &error))
        return TFailure{error};
    return {};
}

QString TSoundRecorder::TimeText(int64_t milliseconds)
{
    if (milliseconds < 60000)
        return QString::number(double(milliseconds) / 1000.0, 'g', 3) + QStringLiteral(" Sec");
    const int64_t hours = milliseconds / 3600000;
    const int64_t minutes = milliseconds / 60000 % 60;
    const int64_t seconds = milliseconds / 1000 % 60;
    QString text;
    if (hours != 0)
        text += QString::number(hours) + QStringLiteral("Hour");
    if (minutes != 0)
        text += QString::number(minutes) + QStringLiteral(" Min");
    if (seconds != 0)
        text += QString::number(seconds) + QStringLiteral(" Sec");
    return text;
}

TResult<> TSoundRecorder::readFormat(const QString &path)
{
    const auto refuse = [&](const QString &reason) {
        m_path.clear();
        m_format = WavFormat();
        m_dataBytes = 0;
        return TFailure{path + QStringLiteral(": ") + reason};
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    if (!QFileInfo(path).isFile())
        return refuse(QStringLiteral("not a file"));
    const WavFormat format = ParseWavHeader(file, 65535);
    const bool pcm = (format.type == wtPCM || format.type == wtExtPCM) && format.channels > 0 &&
                     format.samplesPerSecond > 0 &&
                     (format.bitsPerSample == 8 || format.bitsPerSample == 16 || format.bitsPerSample == 24 ||
                      format.bitsPerSample == 32) &&
                     format.blockAlign == format.channels * format.bitsPerSample / 8;
    if (!pcm)
        return refuse(QStringLiteral("not a PCM WAV file of 8, 16, 24 or 32 bits"));
    m_path = path;
    m_format = format;
    m_fileSize = file.size();
    // A header that announces more than the file holds (a file whose writer stopped) counts what is there.
    const int64_t data = std::min<int64_t>(format.dataSize, m_fileSize - format.dataOffset);
    m_dataBytes = data - data % format.blockAlign;
    return {};
}

TResult<> TSoundRecorder::SetFile(const QString &path)
{
    if (Recording())
        (void)Stop();
    return readFormat(path);
}

void TSoundRecorder::Close()
{
    if (Recording())
        (void)Stop();
    m_path.clear();
    m_format = WavFormat();
    m_dataBytes = 0;
}

int64_t TSoundRecorder::Frames() const
{
    return m_format.blockAlign ? m_dataBytes / m_format.blockAlign : 0;
}

int64_t TSoundRecorder::LengthMs() const
{
    return m_format.samplesPerSecond ? Frames() * 1000 / m_format.samplesPerSecond : 0;
}

int64_t TSoundRecorder::RecordedMs() const
{
    return m_format.samplesPerSecond ? RecordedFrames() * 1000 / m_format.samplesPerSecond : 0;
}

TResult<> TSoundRecorder::Start(const QString &device, int64_t atMs)
{
    if (Recording())
        (void)Stop();
    if (m_path.isEmpty())
        return TFailure{QStringLiteral("No file to record into")};
    const QFileInfo info(m_path);
    m_capture.setFileName(
        info.dir().filePath(QLatin1Char('.') + info.fileName() + QStringLiteral(".recording")));
    if (!m_capture.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return TFailure{m_capture.fileName() + QStringLiteral(": ") + m_capture.errorString()};
    m_insertFrame = std::clamp<int64_t>(atMs * int64_t(m_format.samplesPerSecond) / 1000, 0, Frames());
    QString error;
    const bool started = m_device.Start(
        device, SampleRate(), Channels(), BitsPerSample(),
        [this](const uint8_t *data, size_t bytes, QString *reason) {
            if (m_capture.write(reinterpret_cast<const char *>(data), qint64(bytes)) == qint64(bytes))
                return true;
            *reason = m_capture.fileName() + QStringLiteral(": ") + m_capture.errorString();
            return false;
        },
        &error);
    if (!started) {
        m_capture.close();
        m_capture.remove();
        return TFailure{error};
    }
    return {};
}

TResult<> TSoundRecorder::Stop(int64_t moreMs)
{
    if (!Recording())
        return {};
    m_device.Stop(moreMs * int64_t(m_format.samplesPerSecond) / 1000);
    m_capture.close();
    auto inserted = insertRecording();
    m_capture.remove();
    return inserted;
}

TResult<> TSoundRecorder::insertRecording()
{
    const int64_t recorded = m_capture.size() - m_capture.size() % m_format.blockAlign;
    if (recorded == 0)
        return {};
    const auto fail = [](const QString &reason) { return TFailure{reason}; };
    const int64_t dataBytes = m_dataBytes + recorded;
    const int64_t oldEnd = m_format.dataOffset + m_format.dataSize + (m_format.dataSize & 1);
    const int64_t trailing = oldEnd < m_fileSize ? m_fileSize - oldEnd : 0;
    const int64_t total = m_format.dataOffset + dataBytes + (dataBytes & 1) + trailing;
    if (total - 8 > int64_t(UINT32_MAX))
        return fail(m_path + QStringLiteral(": the recording would make it longer than a WAV file can be"));

    QFile in(m_path);
    QFile capture(m_capture.fileName());
    if (!in.open(QIODevice::ReadOnly))
        return fail(m_path + QStringLiteral(": ") + in.errorString());
    if (!capture.open(QIODevice::ReadOnly))
        return fail(capture.fileName() + QStringLiteral(": ") + capture.errorString());
    QByteArray header = in.read(m_format.dataOffset);
    const int64_t riff = std::max<int64_t>(header.indexOf("RIFF"), 0);
    putLittleEndian32(header, riff + 4, uint32_t(total - riff - 8));
    putLittleEndian32(header, m_format.dataSizeOffset, uint32_t(dataBytes));

    const QString working = WorkingFileOf(m_path);
    QFile out(working);
    QString reason;
    const auto write = [&](const QByteArray &bytes) {
        if (out.write(bytes) == bytes.size())
            return true;
        reason = out.errorString();
        return false;
    };
    const auto synced = [&] { // the recording keeps its permissions, owner and group
        if (out.flush() && TakeFileAttributes(out.handle(), m_path) && ::fsync(out.handle()) == 0)
            return true;
        reason = systemReason();
        return false;
    };
    const int64_t before = m_insertFrame * m_format.blockAlign;
    bool complete = out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (!complete)
        reason = out.errorString();
    complete = complete && write(header) && copyBytes(in, out, before, &reason) &&
               copyBytes(capture, out, recorded, &reason) &&
               copyBytes(in, out, m_dataBytes - before, &reason) &&
               (!(dataBytes & 1) || write(QByteArray(1, '\0'))) &&
               (trailing == 0 || (in.seek(oldEnd) && copyBytes(in, out, trailing, &reason))) && synced();
    out.close();
    if (!complete) {
        DiscardWorkingFile(working, m_path);
        return fail(m_path + QStringLiteral(": ") + reason);
    }
    QString settleError;
    if (!SettleWorkingFile(working, m_path, true, &settleError))
        return fail(settleError);
    const QString path = m_path;
    return readFormat(path);
}
