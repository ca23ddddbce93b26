// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/decoders.h"
#include "audio/encoderprocess.h"
#include "commands.h"
#include "jobs/convertjob.h"
#include "jobs/paralleljob.h"
#include "jobs/replaygain.h"
#include "jobs/ripjob.h"
#include "shell/helpers.h"
#include "shell/outputformats.h"
#include "shell/settings.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <map>

namespace {

class TConvertCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("convert"); }
    QList<TOptionSpec> Options() const override
    {
        return QList<TOptionSpec>{{QStringLiteral("-f"), QStringLiteral("FORMAT")},
                                  {QStringLiteral("-o"), QStringLiteral("DIR")},
                                  {QStringLiteral("-r")},
                                  {QStringLiteral("--update")},
                                  {QStringLiteral("--copy-covers")},
                                  {QStringLiteral("--overwrite"), {}, QStringLiteral("overwrite")},
                                  {QStringLiteral("--no-overwrite"), {}, QStringLiteral("overwrite")}} +
               EncoderQualityOptions();
    }
    QList<TCommandForm> Forms() const override
    {
        QStringList shorthands{QStringLiteral("wav2mp3"), QStringLiteral("mp32wav")};
        for (const TOutputFormatInfo &format : OutputFormats())
            if (format.Conversion != JobKind::ExtractTracks && format.Conversion != JobKind::WavToMp3)
                shorthands << QStringLiteral("wav2") + QLatin1String(format.Key);
        return QList<TCommandForm>{
                   {QStringLiteral("-f ") + OutputFormatKeys(QStringLiteral("|")) +
                        QStringLiteral(" FILE|FOLDER..."),
                    {QStringLiteral("-o"), QStringLiteral("-r"), QStringLiteral("--update"),
                     QStringLiteral("--copy-covers"), QStringLiteral("--overwrite"),
                     QStringLiteral("--no-overwrite")},
                    QStringLiteral("converts files of every format the program reads into\n"
                                   "the format, tags and cover carried over; -r walks\n"
                                   "folders, keeping their tree under DIR; --update keeps\n"
                                   "outputs newer than their sources; --copy-covers copies\n"
                                   "cover.jpg and folder.jpg along")},
                   {shorthands.join(QLatin1Char('|')) + QStringLiteral(" FILE..."),
                    {QStringLiteral("-o"), QStringLiteral("--overwrite"), QStringLiteral("--no-overwrite")},
                    QStringLiteral("converts the files into DIR (default: the output folder\n"
                                   "setting), several at once; each file made is printed,\n"
                                   "one a line")}} +
               EncoderQualityForms();
    }
    bool Interruptible() const override { return true; }
    int Run(const TArguments &args, TTerminal &terminal) override;

private:
    int runKind(JobKind kind, const TArguments &args, const TOptionsSetting &settings, TTerminal &terminal);
    int runFormat(const TOutputFormatInfo &format, const QStringList &paths, const TArguments &args,
                  const TOptionsSetting &settings, TTerminal &terminal);
};

// "wav2" and a format's key for each format a WAV converts into, and MP3 back to WAV.
const std::map<QString, JobKind> &conversionKinds()
{
    static const std::map<QString, JobKind> kinds = [] {
        std::map<QString, JobKind> all{{QStringLiteral("mp32wav"), JobKind::Mp3ToWav}};
        for (const TOutputFormatInfo &format : OutputFormats())
            if (format.Conversion != JobKind::ExtractTracks)
                all.emplace(QStringLiteral("wav2") + QLatin1String(format.Key), format.Conversion);
        return all;
    }();
    return kinds;
}

// The files of the arguments and what each becomes in `folder`: a file keeps its name with the format's
// extension; with -r the audio files under a folder keep their places relative to it. Covers found beside
// them are gathered in `covers` (source, target) when asked for.
// The files of a tree: folders that are links are followed (an album kept elsewhere), each real folder
// once (a link back up cannot loop); the output folder, when it lies inside the tree, is passed over (a
// rerun would otherwise convert the last run's files, one level deeper each time).
QStringList filesUnder(const QString &top, const QString &output)
{
    QStringList files;
    QSet<QString> seen;
    const QString outputReal = QFileInfo(output).canonicalFilePath();
    QStringList folders{top};
    while (!folders.isEmpty()) {
        const QString dir = folders.takeFirst();
        const QString real = QFileInfo(dir).canonicalFilePath();
        if (real.isEmpty() || seen.contains(real) || (!outputReal.isEmpty() && real == outputReal))
            continue;
        seen.insert(real);
        for (QDirIterator it(dir, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable);
             it.hasNext();) {
            const QString path = it.next();
            if (QFileInfo(path).isDir())
                folders << path;
            else
                files << path;
        }
    }
    return files;
}

std::vector<TConvertItem> gather(const QStringList &paths, bool recursive, const QString &folder,
                                 const QString &extension, std::vector<TConvertItem> *covers,
                                 TTerminal &terminal)
{
    std::vector<TConvertItem> items;
    // Several trees each keep their top folder (out/A/..., out/B/...), so that their files cannot meet; one
    // tree fills the output folder itself, as it always has (copies kept up to date rely on that).
    const bool severalTrees = recursive && std::count_if(paths.begin(), paths.end(), [](const QString &p) {
                                               return QFileInfo(p).isDir();
                                           }) > 1;
    const auto add = [&](const QString &source, const QString &relativeDir) {
        const QFileInfo info(source);
        const QString dir = relativeDir.isEmpty() ? folder : folder + QLatin1Char('/') + relativeDir;
        items.push_back(
            {info.absoluteFilePath(), dir + QLatin1Char('/') + info.completeBaseName() + extension});
    };
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.isFile() && info.isReadable()) {
            add(path, QString());
        } else if (info.isDir() && recursive) {
            const QDir root(info.absoluteFilePath());
            QStringList files = filesUnder(root.path(), folder);
            files.sort();
            for (const QString &file : files) {
                QString relativeDir = QFileInfo(root.relativeFilePath(file)).path();
                if (severalTrees)
                    relativeDir = QDir::cleanPath(root.dirName() + QLatin1Char('/') + relativeDir);
                const QString name = QFileInfo(file).fileName().toLower();
                if (name == QLatin1String("cover.jpg") || name == QLatin1String("folder.jpg")) {
                    if (covers)
                        covers->push_back({file, folder + QLatin1Char('/') + relativeDir + QLatin1Char('/') +
                                                     QFileInfo(file).fileName()});
                } else if (AudioFileKindOf(file) != TFileFormat::None) {
                    add(file, relativeDir == QLatin1String(".") ? QString() : relativeDir);
                }
            }
        } else if (info.isDir()) {
            terminal.Failure(path + QStringLiteral(": a folder; give -r to convert the files in it"));
        } else {
            terminal.Failure(path + QStringLiteral(": cannot be read: ") + UnreadableReason(path));
        }
    }
    return items;
}

// Copies the covers whose copy is missing or older; false when one could not be copied (said).
bool copyCovers(const std::vector<TConvertItem> &covers, TTerminal &terminal)
{
    bool ok = true;
    for (const TConvertItem &cover : covers) {
        const QFileInfo target(cover.Target);
        if (target.exists() && target.lastModified() >= QFileInfo(cover.Source).lastModified())
            continue;
        QString error;
        if (!MakeFolder(target.path(), &error) || !CopyFileAtomically(cover.Source, cover.Target, &error)) {
            terminal.Failure(error);
            ok = false;
        }
    }
    return ok;
}

int TConvertCommand::Run(const TArguments &args, TTerminal &terminal)
{
    QString folder = AppSettings.CommonOptions.OutputFolder;
    if (const auto given = args.value("-o"))
        folder = QFileInfo(*given).absoluteFilePath();
    ApplyOverwrite(args, terminal);
    TOptionsSetting settings = JobSettings(AppSettings, folder);
    ApplyEncoderQuality(args, settings);
    if (const auto key = args.value("-f")) {
        const TOutputFormatInfo *format = OutputFormatByKey(*key);
        if (!format)
            throw UsageError{QStringLiteral("unknown format ") + *key};
        if (args.rest().isEmpty())
            throw UsageError{QStringLiteral("convert needs at least one file or folder")};
        return runFormat(*format, args.rest(), args, settings, terminal);
    }
    if (args.rest().size() < 2)
        throw UsageError{QStringLiteral("convert needs -f FORMAT, or a kind, and at least one file")};
    const auto kind = conversionKinds().find(args.rest().first());
    if (kind == conversionKinds().end())
        throw UsageError{QStringLiteral("unknown conversion ") + args.rest().first()};
    // MP3 to WAV is decoded here, with libmpg123, rather than by lame.
    if (kind->second == JobKind::Mp3ToWav)
        return runFormat(*OutputFormatInfo(OutputFormat::Wav), args.rest().mid(1), args, settings, terminal);
    return runKind(kind->second, args, settings, terminal);
}

int TConvertCommand::runFormat(const TOutputFormatInfo &format, const QStringList &paths,
                               const TArguments &args, const TOptionsSetting &settings, TTerminal &terminal)
{
    const QString &folder = settings.CommonOptions.OutputFolder;
    std::vector<TConvertItem> covers;
    const std::vector<TConvertItem> items =
        gather(paths, args.flag("-r"), QDir::cleanPath(folder), QLatin1String(format.Extension),
               args.flag("--copy-covers") ? &covers : nullptr, terminal);
    if (items.empty() || !EnsureOutputFolder(folder, terminal))
        return 1;
    if (!copyCovers(covers, terminal))
        return 1;
    TTerminalPrompt prompt(terminal);
    TTerminalJobPresenter presenter(terminal);
    TConvertJob job(items, format.Value, settings, presenter, &prompt, EncodersAtOnce(settings));
    job.Update = args.flag("--update");
    job.ReplayGain = WantsReplayGain(settings.CommonOptions.ReplayGain, format.Value, ReplayGainChoice(args));
    RunJob(job, presenter);
    return terminal.Failures > 0 || presenter.Result == mrAbort ? 1 : 0;
}

int TConvertCommand::runKind(JobKind kind, const TArguments &args, const TOptionsSetting &settings,
                             TTerminal &terminal)
{
    const QString &folder = settings.CommonOptions.OutputFolder;
    QStringList files;
    for (const QString &file : args.rest().mid(1)) {
        if (const QString reason = UnreadableReason(file); !reason.isEmpty())
            terminal.Failure(file + QStringLiteral(": cannot be read: ") + reason);
        else
            files << QFileInfo(file).absoluteFilePath();
    }
    if (files.isEmpty() || !EnsureOutputFolder(folder, terminal))
        return 1;
    TTerminalPrompt prompt(terminal);
    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;
    mp3.Prompt = &prompt;
    wma.Prompt = &prompt;
    TTerminalJobPresenter presenter(terminal);
    const auto job = MakeRipJob(kind, files, settings, presenter, mp3, wma);
    RunJob(*job, presenter);
    return terminal.Failures > 0 || presenter.Result == mrAbort ? 1 : 0;
}

} // namespace

std::unique_ptr<TCommand> MakeConvertCommand()
{
    return std::make_unique<TConvertCommand>();
}
