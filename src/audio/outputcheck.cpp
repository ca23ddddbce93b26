// SPDX-License-Identifier: GPL-3.0-or-later
#include "outputcheck.h"

#include "shell/helpers.h"
#include "shell/outputformats.h"
#include "tags/filetags.h"

#include <QFile>
#include <QFileInfo>
#include <cstdint>

namespace {

QString mp3Problem(QFile &file)
{
    const QByteArray head = file.read(10);
    if (head.size() == 10 && head.startsWith("ID3") &&
        ((uint8_t(head[6]) | uint8_t(head[7]) | uint8_t(head[8]) | uint8_t(head[9])) & 0x80))
        return QStringLiteral("its ID3v2 tag is damaged");
    if (!file.seek(Id3v2TagBytes(head)))
        return QStringLiteral("it holds no MPEG audio");
    const QByteArray frames = file.read(4096 + 4);
    const auto *f = reinterpret_cast<const uint8_t *>(frames.constData());
    const int first = frames.size() >= 4 ? MpegFrameBytes(f) : 0;
    if (first == 0)
        return QStringLiteral("it does not begin with MPEG audio");
    // A second frame where the first one ends, when the file goes on that far.
    if (first + 4 <= frames.size() && MpegFrameBytes(f + first) == 0)
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
    // The format the target's name gives; two more names of the same containers; anything else is only
    // checked for being there.
    TContainer container = TContainer::Wave;
    if (const TOutputFormatInfo *format = OutputFormatOfFile(target))
        container = format->Container;
    else if (extension == QLatin1String("oga"))
        container = TContainer::Ogg;
    else if (extension == QLatin1String("asf"))
        container = TContainer::Asf;
    else
        return QString();
    switch (container) {
    case TContainer::MpegAudio:
        return mp3Problem(file);
    case TContainer::Asf: {
        static const QByteArray asfHeader = QByteArray::fromHex("3026b2758e66cf11a6d900aa0062ce6c");
        return head == asfHeader ? QString() : QStringLiteral("it is not an ASF (WMA) file");
    }
    case TContainer::Ogg:
        return begins("OggS") ? QString() : QStringLiteral("it is not an Ogg file");
    case TContainer::Flac:
        return begins("fLaC") ? QString() : QStringLiteral("it is not a FLAC file");
    case TContainer::Wave:
        return (begins("RIFF") || begins("RF64")) && head.mid(8, 4) == "WAVE"
                   ? QString()
                   : QStringLiteral("it is not a WAV file");
    }
    return QString();
}

bool KeepEncodedFile(const QString &working, const QString &target, QString *error)
{
    const QString problem = EncodedFileProblem(working, target);
    if (problem.isEmpty())
        return true;
    if (error)
        *error = target + QStringLiteral(": ") + problem;
    DiscardWorkingFile(working, target);
    return false;
}

bool SettleEncodedFile(const QString &working, const QString &target, bool complete, QString *error)
{
    if (complete && working != target && !KeepEncodedFile(working, target, error))
        return false;
    return SettleWorkingFile(working, target, complete, error);
}
