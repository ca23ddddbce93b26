#include "outputcheck.h"

#include "shell/helpers.h"

#include <QFile>
#include <QFileInfo>
#include <array>
#include <cstdint>

namespace {

// The length in bytes of the MPEG audio frame whose four header bytes are at h, or 0 when they are no
// valid frame header (MPEG 1, 2 and 2.5, layers I to III).
int mpegFrameBytes(const uint8_t *h)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    const int version = (h[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = (h[1] >> 1) & 3;   // 1: III, 2: II, 3: I
    const int rateIndex = h[2] >> 4;
    const int sampleIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3)
        return 0;
    static const std::array<std::array<int, 15>, 5> kbps = {{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // V1 L1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // V1 L2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // V1 L3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // V2 L1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // V2 L2, L3
    }};
    static const std::array<int, 3> rates = {44100, 48000, 32000};
    const bool v1 = version == 3;
    const int table = v1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const int bitrate = kbps[size_t(table)][size_t(rateIndex)] * 1000;
    const int rate = rates[size_t(sampleIndex)] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int padding = (h[2] >> 1) & 1;
    if (layer == 3)
        return (12 * bitrate / rate + padding) * 4;
    const int perFrame = (layer == 1 && !v1) ? 72 : 144;
    return perFrame * bitrate / rate + padding;
}

QString mp3Problem(QFile &file)
{
    QByteArray head = file.read(10);
    int64_t at = 0;
    if (head.size() == 10 && head.startsWith("ID3")) {
        const auto *b = reinterpret_cast<const uint8_t *>(head.constData());
        if ((b[6] | b[7] | b[8] | b[9]) & 0x80)
            return QStringLiteral("its ID3v2 tag is damaged");
        at = 10 + ((int64_t(b[6]) << 21) | (int64_t(b[7]) << 14) | (int64_t(b[8]) << 7) | b[9]) +
             ((b[5] & 0x10) ? 10 : 0);
    }
    if (!file.seek(at))
        return QStringLiteral("it holds no MPEG audio");
    const QByteArray frames = file.read(4096 + 4);
    const auto *f = reinterpret_cast<const uint8_t *>(frames.constData());
    const int first = frames.size() >= 4 ? mpegFrameBytes(f) : 0;
    if (first == 0)
        return QStringLiteral("it does not begin with MPEG audio");
    // A second frame where the first one ends, when the file goes on that far.
    if (first + 4 <= frames.size() && mpegFrameBytes(f + first) == 0)
        return QStringLiteral("its MPEG audio frames do not follow one another");
    return QString();
}

} // namespace

QString EncodedFileProblem(const QString &made, const QString &target)
{
    const QFileInfo info(made);
    if (!info.isFile())
        return QStringLiteral("the encoder wrote no file");
    if (info.size() == 0)
        return QStringLiteral("the encoder wrote an empty file");
    QFile file(made);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    const QString extension = QFileInfo(target).suffix().toLower();
    const QByteArray head = file.peek(16);
    const auto begins = [&head](const char *magic) { return head.startsWith(magic); };
    if (extension == QLatin1String("mp3"))
        return mp3Problem(file);
    if (extension == QLatin1String("wma") || extension == QLatin1String("asf")) {
        static const QByteArray asfHeader =
            QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c");
        return head == asfHeader ? QString() : QStringLiteral("it is not an ASF (WMA) file");
    }
    if (extension == QLatin1String("ogg") || extension == QLatin1String("opus") ||
        extension == QLatin1String("oga"))
        return begins("OggS") ? QString() : QStringLiteral("it is not an Ogg file");
    if (extension == QLatin1String("flac"))
        return begins("fLaC") ? QString() : QStringLiteral("it is not a FLAC file");
    if (extension == QLatin1String("wav"))
        return (begins("RIFF") || begins("RF64")) && head.mid(8, 4) == "WAVE"
                   ? QString()
                   : QStringLiteral("it is not a WAV file");
    return QString();
}

bool SettleEncodedFile(const QString &working, const QString &target, bool complete, QString *error)
{
    if (complete && working != target) {
        if (const QString problem = EncodedFileProblem(working, target); !problem.isEmpty()) {
            if (error)
                *error = target + QStringLiteral(": ") + problem;
            complete = false;
        }
    }
    return SettleWorkingFile(working, target, complete, error);
}
