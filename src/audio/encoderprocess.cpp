// SPDX-License-Identifier: GPL-3.0-or-later
#include "encoderprocess.h"

#include "outputcheck.h"
#include "shell/childprocess.h"
#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/userprompt.h"
#include "tags/tracktags.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

const QString productName = QStringLiteral("Sondrel");

// Delphi's Copy: count characters from the 1-based index, an index below 1 taken as 1.
QString copy(const QString &text, int index, int count)
{
    if (index < 1)
        index = 1;
    return text.mid(index - 1, count);
}

// A trimmed decimal integer, or the fallback.
int toInt(const QString &text, int fallback)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : fallback;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TEncoderProcess::TEncoderProcess() : m_child(std::make_unique<TChildProcess>())
{
    m_child->OnLines = [this](TChildProcess::Stream, const QStringList &lines) { ParseOutput(lines); };
    m_child->OnFinished = [this](int exitCode, int signal) { processEnded(exitCode, signal); };
    // lame prints a progress line for every frame it decodes; progress in batches keeps decoding at lame's
    // own speed.
    m_child->BatchMilliseconds = 20;
}

TEncoderProcess::~TEncoderProcess()
{
    m_child->OnLines = nullptr;
    m_child->OnFinished = nullptr;
    endRun();
}

bool TEncoderProcess::IsRunning() const
{
    return m_child->IsRunning();
}

void TEncoderProcess::endRun()
{
    m_child->Kill();
    DiscardWorkingFile(m_workingFile, OutputFile);
    m_workingFile.clear();
}

void TEncoderProcess::Stop(uint32_t)
{
    if (!Active)
        return;
    Active = false;
    endRun();
}

void TEncoderProcess::StartFile(const QString &input, const QString &output, QObject *window,
                                ::JobKind jobKind, bool encode)
{
    Active = true;
    InputFile = input;
    OutputFile = output;
    Window = window;
    Encode = encode;
    JobKind = jobKind;
    if (SameFile(input, output)) {
        Active = false;
        throw EAuException(output + QStringLiteral(": the output would overwrite the input"));
    }
    Start();
}

bool TEncoderProcess::confirmOverwrite(bool ask)
{
    if (!ask || !QFileInfo::exists(OutputFile))
        return true;
    const QString text = ReplaceQuestion(OutputFile);
    if (!Prompt || !Prompt->Question(productName, text)) {
        ReportDone(ProcessResult::Declined);
        return false;
    }
    if (FileInUse(OutputFile)) {
        ReportDone(ProcessResult::InUse);
        return false;
    }
    return true;
}

void TEncoderProcess::launch(const QString &program, const QString &programName, const QStringList &arguments,
                             const QString &commandLine, const QString &creationError)
{
    endRun();
    m_commandLine = commandLine;
    m_programName = programName;
    PercentColumn = 0;
    const int error = m_child->Start(program, arguments);
    if (error != 0) {
        // The Part's text and code, then the cause in words.
        const QString cause = program.isEmpty()
                                  ? programName + QStringLiteral(" was not found; the ") +
                                        programName.toLower() + QStringLiteral(" package provides it")
                                  : program + QStringLiteral(": ") + systemError(error);
        throw EAuException(creationError + QString::number(error) + QStringLiteral(" (") + cause +
                           QLatin1Char(')'));
    }
    m_workingFile = WorkingFileOf(OutputFile);
    StartTime = QDateTime::currentDateTime();
}

void TEncoderProcess::failRun(const QString &message)
{
    endRun();
    ReportDone(ProcessResult::EncoderFailed, message);
}

void TEncoderProcess::processEnded(int exitCode, int signal)
{
    const QString working = m_workingFile;
    m_workingFile.clear();
    QString failure;
    if (exitCode != 0) {
        failure = OutputFile + QStringLiteral(": ") + ChildEndText(m_programName, exitCode, signal);
        const QString last = m_child->LastErrorLine();
        if (!last.isEmpty())
            failure += QStringLiteral(": ") + last;
    } else if (working != OutputFile && !QFileInfo(working).isFile()) {
        failure = OutputFile + QStringLiteral(": ") + m_programName + QStringLiteral(" wrote no file");
    } else if (const QString problem =
                   working != OutputFile ? EncodedFileProblem(working, OutputFile) : QString();
               !problem.isEmpty()) {
        // An exit status of 0 is not proof enough to replace what was there.
        failure = OutputFile + QStringLiteral(": ") + m_programName +
                  QStringLiteral(" ended normally, but ") + problem;
    }
    if (failure.isEmpty() && LeaveWorking && working != OutputFile)
        ReportDone(ProcessResult::Ended);
    else if (SettleWorkingFile(working, OutputFile, failure.isEmpty(), &failure))
        ReportDone(ProcessResult::Ended);
    else
        ReportDone(ProcessResult::EncoderFailed, failure);
}

QStringList TEncoderProcess::Lines(const QString &text)
{
    QStringList lines;
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            if (!current.trimmed().isEmpty())
                lines << current;
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.trimmed().isEmpty())
        lines << current;
    return lines;
}

QString TEncoderProcess::secondsText(int64_t seconds)
{
    return TwoDigits(int(seconds / 60)) + QLatin1Char(':') + TwoDigits(int(seconds % 60));
}

// --- MP3 ---

TMp3EncodeProcess::~TMp3EncodeProcess()
{
    if (Active)
        Stop(0);
}

QString TMp3EncodeProcess::Executable()
{
    const QString beside = ProgramFolder() + QStringLiteral("lame");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("lame"));
}

QStringList TMp3EncodeProcess::Arguments(const TMp3Options &o, bool encode, const QString &input,
                                         const QString &output)
{
    QStringList args;
    if (!encode) {
        args << QStringLiteral("--decode");
    } else {
        args << QStringLiteral("-b") << QString::number(o.BitRate);
        static const char *const modes[] = {"s", "j", "f", "d", "m"};
        if (o.StereoMode >= 0 && o.StereoMode <= 4)
            args << QStringLiteral("-m") << QLatin1String(modes[o.StereoMode]);
        if (o.MpegQuality == 1)
            args << QStringLiteral("-f");
        else if (o.MpegQuality == 2)
            args << QStringLiteral("-h");
        if (o.IsSelectVBR) {
            args << QStringLiteral("-V") << QString::number(o.VBRQuality) << QStringLiteral("-B")
                 << QString::number(o.MaxBitRate);
            if (o.IsVBRHead)
                args << QStringLiteral("-t");
        }
    }
    return args << PathArgument(input) << PathArgument(output);
}

QString TMp3EncodeProcess::BuildCommandLine(const TMp3Options &options, bool encode, const QString &input,
                                            const QString &output)
{
    QStringList args = Arguments(options, encode, input, output);
    args.resize(args.size() - 2);
    args.prepend(QStringLiteral("lame"));
    return args.join(QLatin1Char(' ')) + QLatin1Char(' ') + quoted(input) + QLatin1Char(' ') + quoted(output);
}

void TMp3EncodeProcess::Start()
{
    m_workingFile.clear();
    if (!confirmOverwrite(JobKind != ::JobKind::ExtractTracks && JobKind != ::JobKind::RecordingToMp3))
        return;
    launch(Executable(), QStringLiteral("lame"),
           Arguments(Options, Encode, InputFile, WorkingFileOf(OutputFile)),
           BuildCommandLine(Options, Encode, InputFile, OutputFile),
           LocalizedText(QStringLiteral("RES_CreateProcess_Error"),
                         QStringLiteral("Error while creating mp3 encoding process!")));
}

void TMp3EncodeProcess::post(const TProcessInfo &info)
{
    PostProcessInfo(Window, info);
}

void TMp3EncodeProcess::ReportDone(int32_t resultCode, const QString &message)
{
    post(TProcessInfo{ProcessEvent::Mp3Encoded, message, QString(), resultCode});
}

void TMp3EncodeProcess::ParseOutput(const QStringList &lines)
{
    if (Encode)
        ParseEncodeOutput(lines);
    else
        ParseDecodeOutput(lines);
}

void TMp3EncodeProcess::ParseEncodeOutput(const QStringList &lines)
{
    for (const QString &line : lines) {
        const qsizetype percent = line.indexOf(QLatin1Char('%'));
        if (PercentColumn == 0 && percent >= 0)
            PercentColumn = int(percent) + 1 - 3;
        if (PercentColumn == 0 || percent < 0)
            continue;
        QString number = copy(line, PercentColumn, 3).trimmed();
        if (number.startsWith(QLatin1Char('(')))
            number.remove(0, 1);
        TProcessInfo info;
        info.Percent = toInt(number, 0);
        info.Elapsed = copy(line, 21, 8).trimmed();
        info.Estimated = copy(line, 30, 8).trimmed();
        if (info.Percent >= 1 && info.Percent <= 100)
            post(info);
    }
}

void TMp3EncodeProcess::ParseDecodeOutput(const QStringList &lines)
{
    for (const QString &line : lines) {
        if (PercentColumn == 0) {
            const qsizetype hash = line.indexOf(QLatin1Char('#'));
            if (hash >= 0)
                PercentColumn = int(hash) + 1 + 1;
        }
        if (PercentColumn == 0)
            continue;
        const int frame = toInt(copy(line, PercentColumn, 6), -1);
        const int total = toInt(copy(line, PercentColumn + 7, 6), -1);
        if (frame == -1 || total == -1 || total == 0)
            continue;
        const int64_t elapsed =
            std::llround(double(StartTime.msecsTo(QDateTime::currentDateTime())) / 1000.0);
        TProcessInfo info;
        info.Percent = int32_t(int64_t(frame) * 100 / total);
        if (info.Percent != 0) {
            info.Elapsed = secondsText(elapsed);
            info.Estimated = secondsText(std::llround(double(elapsed) * 100.0 / info.Percent));
        }
        if (info.Percent >= 1 && info.Percent <= 100)
            post(info);
    }
}

// --- WMA ---

const TWmaProfile WmaProfiles[33] = {
    {"48.000 kHz, 192 kbit/s, Stereo", "192_48_2", 7315},
    {"48.000 kHz, 160 kbit/s, Stereo", "160_48_2", 8770},
    {"48.000 kHz, 128 kbit/s, Stereo", "128_48_2", 10949},
    {"44.100 kHz, 192 kbit/s, Stereo", "192_44_2", 7316},
    {"44.100 kHz, 160 kbit/s, Stereo", "160_44_2", 8772},
    {"44.100 kHz, 128 kbit/s, Stereo", "128_44_2", 10954},
    {"44.100 kHz,  96 kbit/s, Stereo", "96_44_2", 14581},
    {"44.100 kHz,  80 kbit/s, Stereo", "80_44_2", 17471},
    {"44.100 kHz,  64 kbit/s, Stereo", "64_44_2", 21790},
    {"44.100 kHz,  48 kbit/s, Stereo", "48_44_2", 28963},
    {"44.100 kHz,  32 kbit/s, Stereo", "32_44_2", 43174},
    {"44.100 kHz,  48 kbit/s, Mono", "48_44_1", 28963},
    {"44.100 kHz,  32 kbit/s, Mono", "32_44_1", 43134},
    {"32.000 kHz,  48 kbit/s, Stereo", "48_32_2", 28999},
    {"32.000 kHz,  40 kbit/s, Stereo", "40_32_2", 34720},
    {"32.000 kHz,  32 kbit/s, Stereo", "32_32_2", 43214},
    {"32.000 kHz,  20 kbit/s, Mono", "20_32_1", 68873},
    {"22.050 kHz,  32 kbit/s, Stereo", "32_22_2", 43134},
    {"22.050 kHz,  22 kbit/s, Stereo", "22_22_2", 62208},
    {"22.050 kHz,  20 kbit/s, Stereo", "20_22_2", 68264},
    {"22.050 kHz,  20 kbit/s, Mono", "20_22_1", 68264},
    {"22.050 kHz,  16 kbit/s, Mono", "16_22_1", 84458},
    {"16.000 kHz,  20 kbit/s, Stereo", "20_16_2", 67963},
    {"16.000 kHz,  16 kbit/s, Stereo", "16_16_2", 84150},
    {"16.000 kHz,  16 kbit/s, Mono", "16_16_1", 84150},
    {"16.000 kHz,  12 kbit/s, Mono", "12_16_1", 110460},
    {"16.000 kHz,  10 kbit/s, Mono", "10_16_1", 131113},
    {"11.025 kHz,  10 kbit/s, Mono", "10_11_1", 133765},
    {"11.025 kHz,   8 kbit/s, Mono", "8_11_1", 165296},
    {" 8.000 kHz,  12 kbit/s, Stereo", "12_8_2", 113717},
    {" 8.000 kHz,   8 kbit/s, Mono", "8_8_1", 167692},
    {" 8.000 kHz,   6 kbit/s, Mono", "6_8_1", 220395},
    {" 8.000 kHz,   5 kbit/s, Mono", "5_8_1", 261485},
};

int32_t WmaProfileIndex(int32_t bitRate)
{
    return bitRate < 0 || bitRate > 32 ? 8 : bitRate;
}

TWmaEncodeOptions WmaEncodeOptionsOf(const TOptionsSetting &settings, const TTrackTags *track)
{
    TWmaEncodeOptions options;
    options.Profile = WmaProfileIndex(settings.WMAOptions.BitRate);
    options.Tags = settings.Use;
    options.Artist = settings.DiscInfo.Artist;
    options.Comment = settings.DiscInfo.Comment;
    if (track) {
        options.Artist = track->Artist;
        options.Comment = track->Comment;
        options.Title = track->Title;
        options.Album = track->Album;
        // The disc's artist beside a compilation track's own.
        options.AlbumArtist = track->AlbumArtist != track->Artist ? track->AlbumArtist : QString();
        options.Year = track->Year;
        options.Genre = track->Genre;
        options.Track = track->Track;
    }
    return options;
}

TWMAEncodeProcess::~TWMAEncodeProcess()
{
    if (Active)
        Stop(0);
}

QString TWMAEncodeProcess::Executable()
{
    const QString folder = ProgramFolder();
    // Beside the program (the build tree), then where an installation puts helper programs.
    for (const char *sub : {"", "../libexec/sondrel/"}) {
        const QString path = QDir::cleanPath(folder + QLatin1String(sub) + QStringLiteral("WM8EUTIL"));
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

QStringList TWMAEncodeProcess::Arguments(const TWmaEncodeOptions &options, const QString &input,
                                         const QString &output)
{
    QStringList args{
        QStringLiteral("-input"),     PathArgument(input),
        QStringLiteral("-output"),    PathArgument(output),
        QStringLiteral("-a_setting"), QLatin1String(WmaProfiles[WmaProfileIndex(options.Profile)].name)};
    if (options.Tags) {
        const std::pair<const char *, QString> texts[] = {
            {"-author", options.Artist},
            {"-description", options.Comment},
            {"-title", options.Title},
            {"-album", options.Album},
            {"-albumartist", options.AlbumArtist},
            {"-year", options.Year},
            {"-genre", options.Genre},
            {"-track", options.Track > 0 ? QString::number(options.Track) : QString()}};
        for (const auto &[option, value] : texts) {
            if (!value.isEmpty())
                args << QLatin1String(option) << value;
        }
    }
    return args;
}

QString TWMAEncodeProcess::BuildCommandLine(const QString &executable, const TWmaEncodeOptions &options,
                                            const QString &input, const QString &output)
{
    const QStringList args = Arguments(options, input, output);
    QString line = executable;
    for (qsizetype i = 0; i < args.size(); ++i) {
        // Every value is shown in quotes but the profile name, as the command line is written.
        const bool option = i % 2 == 0;
        line += QLatin1Char(' ') +
                (option || args[i - 1] == QLatin1String("-a_setting") ? args[i] : quoted(args[i]));
    }
    return line;
}

void TWMAEncodeProcess::Start()
{
    m_workingFile.clear();
    if (!confirmOverwrite(JobKind != ::JobKind::ExtractTracks))
        return;
    const QString executable = Executable();
    if (executable.isEmpty()) {
        if (Prompt) {
            Prompt->Information(
                productName, LocalizedText(QStringLiteral("RES_NoWmaEncoder"),
                                           QStringLiteral("Can not find WMA encoder,please contact with ")) +
                                 QStringLiteral(SONDREL_SUPPORT_ADDRESS));
        }
        ReportDone(ProcessResult::Declined);
        return;
    }
    launch(executable, QStringLiteral("WM8EUTIL"), Arguments(Options, InputFile, WorkingFileOf(OutputFile)),
           BuildCommandLine(executable, Options, InputFile, OutputFile),
           LocalizedText(QStringLiteral("RES_CreateProcess_Error"),
                         QStringLiteral("Error while creating mp3 encoding process!")));
}

void TWMAEncodeProcess::ReportDone(int32_t resultCode, const QString &message)
{
    SendProcessInfo(Window, TProcessInfo{ProcessEvent::WmaEncoded, message, QString(), resultCode});
}

void TWMAEncodeProcess::ParseOutput(const QStringList &lines)
{
    for (const QString &line : lines) {
        if (line.contains(QLatin1String("ERROR"))) {
            // The file has failed: the child is ended and this is its one completion report.
            failRun(line);
            return;
        }
        if (line.contains(QLatin1String("100%"))) {
            int64_t elapsed = std::llround(double(StartTime.msecsTo(QDateTime::currentDateTime())) / 1000.0);
            if (elapsed == 0)
                elapsed = 1;
            const QString time = secondsText(elapsed);
            PostProcessInfo(Window, TProcessInfo{100, time, time, 0});
        }
    }
}
