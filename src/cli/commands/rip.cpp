// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/encoderprocess.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/cdin.h"
#include "cdrom/discmodel.h"
#include "commands.h"
#include "jobs/cdripjob.h"
#include "jobs/convertjob.h"
#include "jobs/formatplan.h"
#include "jobs/paralleljob.h"
#include "audio/decoders.h"
#include "jobs/playlist.h"
#include "jobs/replaygain.h"
#include "jobs/ripjob.h"
#include "shell/genres.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/outputformats.h"
#include "shell/settings.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <cstdio>

namespace {

// "1,3-5" → {1, 3, 4, 5}, each within first..last.
QList<int> trackList(const QString &text, int first, int last)
{
    QList<int> tracks;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = part.split(QLatin1Char('-'));
        bool ok1 = false;
        bool ok2 = false;
        const int from = ends.value(0).trimmed().toInt(&ok1);
        const int to = ends.size() == 2 ? ends.value(1).trimmed().toInt(&ok2) : from;
        if (!ok1 || (ends.size() == 2 && !ok2) || ends.size() > 2 || from > to)
            throw UsageError{QStringLiteral("bad track list: ") + text};
        for (int t = from; t <= to; ++t) {
            if (t < first || t > last)
                throw UsageError{
                    QStringLiteral("track %1 is not on the disc (%2-%3)").arg(t).arg(first).arg(last)};
            if (!tracks.contains(t))
                tracks << t;
        }
    }
    std::sort(tracks.begin(), tracks.end());
    return tracks;
}

// -f's formats: the main one, and the others as the OutputFormats setting holds them.
void setFormats(const QString &keys, TCommonOptions &options)
{
    QString error;
    QList<int32_t> formats = FormatsOfKeys(keys, &error);
    if (formats.isEmpty())
        throw UsageError{error};
    options.OutputFormat = formats.takeFirst();
    QStringList extras;
    for (const int32_t format : formats)
        extras << QString::number(format);
    options.OutputFormats = extras.join(QLatin1Char(','));
}

// An extraction replaces its files without asking (so does the window's). Here the overwrite options decide
// first, as they do for a conversion: a track whose file (or, when WAVs are kept, the WAV it is made from)
// is there already is ripped only when the answer is yes, and a kept file is named.
QStringList withoutKeptFiles(const QStringList &jobs, const QString &folder, int32_t format, bool keepWav,
                             const std::function<bool(int)> &extraMissing, TTerminalPrompt &prompt,
                             TTerminal &terminal)
{
    // A WAV the user did not ask to keep is only a step on the way (one a killed run left): the track is
    // there when its file of the format asked for is, and the WAV is replaced without a question.
    QStringList extensions{OutputFormatExtension(format)};
    if (format != OutputFormat::Wav && keepWav)
        extensions << QStringLiteral(".wav");
    QStringList kept;
    QStringList rip;
    for (qsizetype k = 0; k < jobs.size(); ++k) {
        const QString &entry = jobs[k];
        // A track with a file of another format missing is read again for it (its main file is asked about
        // when it would be replaced).
        if (extraMissing(int(k))) {
            rip << entry;
            continue;
        }
        QString existing;
        for (const QString &extension : extensions) {
            const QString path = WithTrailingBackslash(folder) + entry.mid(2) + extension;
            if (existing.isEmpty() && QFileInfo::exists(path))
                existing = path;
        }
        if (existing.isEmpty() ||
            prompt.Question(QStringLiteral("Sondrel"),
                            existing + LocalizedText(QStringLiteral("RES_File_Exist"),
                                                     QStringLiteral(" has existed,overite it?"))))
            rip << entry;
        else
            terminal.Notice(QStringLiteral("kept %1 (already there)").arg(existing));
    }
    return rip;
}

class TRipCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("rip"); }
    QString Help() const override
    {
        return QStringLiteral(
                   R"(  rip      [-d N|PATH] [-t LIST] [-f FORMAT[,FORMAT...]] [-o DIR] [--paranoia] [--normalize PCT]
           [--rip-time SEC] [--keep-wav] [--album-folder] [--m3u] [--tags] [--name TEMPLATE]
           [--offset SAMPLES] [--test-copy] [--verify] [--accuraterip-server URL] [--log] [--cue]
           [--require-verified] [--json] [--deemphasis] [--htoa] [--image]
           [--overwrite|--no-overwrite]
           [--lookup auto|cache|cdtext|musicbrainz|cddb|none] [--release N|MBID]
           [--artist T] [--album-artist T] [--album T] [--year Y] [--genre G] [--title N=T]...
           [--track-artist N=T]... [--titles FILE]
                                 -d the drive, -t the tracks ("1,3-5"; default every audio track),
                                 -f the formats (wav mp3 ogg wma flac opus; several, each made from the
                                 same read, go to folders named after them unless TEMPLATE has %format%),
                                 -o the folder; --paranoia reads through the checking
                                 CD reader; --normalize scales to PCT per cent; --rip-time copies the
                                 first SEC seconds; --keep-wav keeps the WAVs; --album-folder writes
                                 into a folder named after the album; --m3u writes a playlist; --tags
                                 tags the files; each file made is printed, one a line
                                 TEMPLATE names the files: %track% %title% %artist% %albumartist%
                                 %album% %year% %genre% %format% (default: the File names setting, %title%)
                                 --offset: the drive's read offset correction (-5880 to 5880);
                                 --test-copy reads each track twice and compares the CRCs;
                                 --verify checks each track against AccurateRip (one line a
                                 track on standard error: verified, mismatch or unknown; exit 1
                                 when one the database knows does not match); --require-verified
                                 fails the run (exit 1) unless every track is verified; --json
                                 prints one JSON document at the end (files, each track's result)
                                 --log and --cue write "ARTIST - ALBUM.log" and ".cue"
                                 --deemphasis undoes the pre-emphasis of tracks the disc flags
                                 --htoa rips audio hidden before track 1 as "00 - Hidden Track"
                                 --image joins the disc into one "ARTIST - ALBUM.flac" (its cue
                                 sheet inside) or .wav, with "ARTIST - ALBUM.cue" beside it
                                 --lookup: where the titles come from first (default auto: the
                                 cache, then the disc's CD-Text, then MusicBrainz and CDDB in the
                                 settings' order; what is found is kept like lookup's); --release
                                 chooses among MusicBrainz's releases as lookup's does
                                 --artist ... --titles: titles typed over the looked-up ones (FILE
                                 in the shape of lookup --json), kept in the disc information cache
)") + QLatin1String(EncoderQualityHelp);
    }
    QStringList Flags() const override
    {
        return {QStringLiteral("--overwrite"),
                QStringLiteral("--no-overwrite"),
                QStringLiteral("--paranoia"),
                QStringLiteral("--keep-wav"),
                QStringLiteral("--album-folder"),
                QStringLiteral("--m3u"),
                QStringLiteral("--tags"),
                QStringLiteral("--test-copy"),
                QStringLiteral("--verify"),
                QStringLiteral("--log"),
                QStringLiteral("--cue"),
                QStringLiteral("--json"),
                QStringLiteral("--require-verified"),
                QStringLiteral("--deemphasis"),
                QStringLiteral("--htoa"),
                QStringLiteral("--image"),
                QStringLiteral("--replaygain"),
                QStringLiteral("--no-replaygain")};
    }
    QStringList Valued() const override
    {
        return QStringList{QStringLiteral("-d"),
                           QStringLiteral("-t"),
                           QStringLiteral("-f"),
                           QStringLiteral("-o"),
                           QStringLiteral("--normalize"),
                           QStringLiteral("--rip-time"),
                           QStringLiteral("--name"),
                           QStringLiteral("--offset"),
                           QStringLiteral("--accuraterip-server"),
                           QStringLiteral("--lookup"),
                           QStringLiteral("--release"),
                           QStringLiteral("--artist"),
                           QStringLiteral("--album-artist"),
                           QStringLiteral("--album"),
                           QStringLiteral("--year"),
                           QStringLiteral("--genre"),
                           QStringLiteral("--title"),
                           QStringLiteral("--track-artist"),
                           QStringLiteral("--titles")} +
               EncoderQualityOptions();
    }
    bool Interruptible() const override { return true; }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

// The run's own settings: options.ini's, with what the command line says over them.
TOptionsSetting ripSettings(const TArguments &args)
{
    TOptionsSetting settings = AppSettings;
    TCommonOptions &options = settings.CommonOptions;
    if (const auto formats = args.value("-f"))
        setFormats(*formats, options);
    if (const auto folder = args.value("-o"))
        options.OutputFolder = QFileInfo(*folder).absoluteFilePath();
    if (args.value("--normalize")) {
        options.IsNormalize = true;
        options.NormalizePercent = args.number("--normalize", 95, 1, 100);
    }
    if (const auto name = args.value("--name"))
        options.FileNameTemplate = *name;
    if (args.value("--rip-time")) {
        options.EnableRipTime = true;
        options.RipTime = args.number("--rip-time", 0, 1, 99 * 60);
    }
    if (args.value("--offset")) {
        options.ReadOffset = args.number("--offset", 0, -MaxReadOffset, MaxReadOffset);
        options.ReadOffsetSource = QStringLiteral("given");
    } else {
        // The offset `offset find` found for this drive, over the setting.
        const CdDriveEntry drive = CdDriveList().value(DriveIndexOf(args));
        if (const auto found =
                SavedDriveOffset(DriveOffsetKey(drive.vendor, drive.product, drive.revision))) {
            options.ReadOffset = *found;
            options.ReadOffsetSource = QStringLiteral("found for the drive");
        }
    }
    if (const auto server = args.value("--accuraterip-server"))
        options.AccurateRipServer = *server;
    for (const auto &[flag, setting] :
         {std::pair{"--keep-wav", &options.IsKeepWav},
          std::pair{"--album-folder", &options.IsCreateAlbumFolder}, std::pair{"--m3u", &options.IsCreateM3U},
          std::pair{"--tags", &settings.Use}, std::pair{"--test-copy", &options.TestAndCopy},
          std::pair{"--verify", &options.VerifyAccurateRip}, std::pair{"--log", &options.WriteLog},
          std::pair{"--cue", &options.WriteCue}, std::pair{"--deemphasis", &options.Deemphasis},
          std::pair{"--htoa", &options.RipHiddenTrack}})
        if (args.flag(QLatin1String(flag)))
            *setting = true;
    ApplyEncoderQuality(args, settings);
    if (args.flag("--image")) {
        // One file of the whole disc: the tracks are read to WAVs, then joined.
        if ((options.OutputFormat != OutputFormat::Flac && options.OutputFormat != OutputFormat::Wav) ||
            !ExtraFormatsOf(options).empty())
            throw UsageError{QStringLiteral("--image makes one FLAC or WAV file: -f flac or -f wav")};
        options.ImageFormat = options.OutputFormat;
        options.OutputFormat = OutputFormat::Wav;
        options.IsCreateM3U = false; // a playlist of one file says nothing
    }
    return settings;
}

// The titles typed on the command line, over those of --titles FILE. A usage error for a malformed one; false
// (told) when the file cannot be read.
bool typedTitles(const TArguments &args, TTypedTitles &titles, TTerminal &terminal)
{
    if (const auto file = args.value("--titles")) {
        QFile in(*file);
        QString error;
        if (!in.open(QIODevice::ReadOnly) || in.size() > (4 << 20)) {
            terminal.Failure(
                QStringLiteral("cannot read %1: %2")
                    .arg(*file, in.isOpen() ? QStringLiteral("larger than 4 MB") : in.errorString()));
            return false;
        }
        if (!ParseTitlesJson(in.readAll(), titles, &error)) {
            terminal.Failure(QStringLiteral("%1: %2").arg(*file, error));
            return false;
        }
    }
    const auto clean = [](const QString &text) { return WithoutControlChars(text).trimmed(); };
    for (const auto &[name, field] :
         {std::pair{"--artist", &titles.Artist}, std::pair{"--album-artist", &titles.AlbumArtist},
          std::pair{"--album", &titles.Album}, std::pair{"--year", &titles.Year}})
        if (const auto value = args.value(QLatin1String(name)))
            *field = clean(*value);
    if (const auto genre = args.value("--genre")) {
        const int index = GenreIndex(clean(*genre));
        if (index < 0)
            throw UsageError{QStringLiteral("--genre: no genre \"%1\" in the list").arg(*genre)};
        titles.Genre = index + 1;
    }
    for (const auto &[name, field] :
         {std::pair{"--title", &titles.Titles}, std::pair{"--track-artist", &titles.TrackArtists}}) {
        for (const QString &value : args.values(QLatin1String(name))) {
            bool ok = false;
            const int number = value.section(QLatin1Char('='), 0, 0).toInt(&ok);
            if (!ok || number < 1 || number > 99 || !value.contains(QLatin1Char('=')))
                throw UsageError{
                    QStringLiteral("%1 takes N=TEXT, N a track number").arg(QLatin1String(name))};
            (*field)[number] = clean(value.section(QLatin1Char('='), 1));
        }
    }
    return true;
}

// The disc's titles for the rip: looked up as --lookup says, then those typed put over them (and kept in the
// cache as an edit in the window is). Where they came from: "cache", "cdtext", "musicbrainz", "cddb",
// "typed"; empty for nowhere.
QString loadTitles(const TArguments &args, const TTypedTitles &typed, const TToc &toc, HCDROM handle,
                   TDiscModel &disc, TTerminal &terminal)
{
    const QString source = LookUpForRip(args.value("--lookup").value_or(QStringLiteral("auto")),
                                        args.value("--release"), toc, handle, terminal);
    LoadDisc(disc, toc, handle);
    if (typed.empty())
        return source;
    ApplyTypedTitles(disc, typed);
    QString error;
    if (!disc.Save(&error) && !error.isEmpty())
        terminal.Failure(QStringLiteral("the titles could not be stored in the disc information cache: ") +
                         error);
    return QStringLiteral("typed");
}

// The disc as rip --json gives it.
QJsonObject discJson(const TDiscModel &disc, const QString &titlesSource)
{
    QJsonObject object{
        {QStringLiteral("artist"), disc.Info().Artist},
        {QStringLiteral("album"), disc.Info().Album},
        {QStringLiteral("year"), disc.Info().Year},
        {QStringLiteral("cddb_id"), disc.CddbDiscId()},
        {QStringLiteral("disc_key"), disc.Key()},
        {QStringLiteral("titles_from"), titlesSource.isEmpty() ? QStringLiteral("none") : titlesSource}};
    if (!disc.Info().Mcn.isEmpty())
        object.insert(QStringLiteral("mcn"), disc.Info().Mcn);
    return object;
}

// The tracks -t names, or every audio track of the disc.
QList<int> tracksToRip(const TArguments &args, const TToc &toc)
{
    const int first = toc.firstTrack;
    const int last = toc.lastTrack;
    QList<int> tracks = args.value("-t") ? trackList(*args.value("-t"), first, last) : QList<int>();
    if (tracks.isEmpty()) {
        for (int t = first; t <= last; ++t) {
            if ((toc.tracks[t - first].ADR & 4) == 0)
                tracks << t;
        }
    }
    return tracks;
}

// Whether the audio hidden before the first track is ripped too: asked for (--htoa or the setting), the
// disc has some that is not silence, and the first track is among those ripped. The checking CD reader
// reads whole tracks only: with --paranoia it is left out, and said.
bool hiddenTrackWanted(const TArguments &args, const TCommonOptions &options, const TToc &toc,
                       const QList<int> &tracks, HCDROM handle, TTerminal &terminal)
{
    if (!options.RipHiddenTrack || !tracks.contains(int(toc.firstTrack)) || HiddenTrackSectors(handle) == 0)
        return false;
    if (args.flag("--paranoia")) {
        terminal.Notice(QStringLiteral("the audio hidden before track 1 is not ripped with --paranoia"));
        return false;
    }
    return true;
}

// Reads and encodes the job list through the CD library, or with --paranoia through the checking CD reader
// (the library's handle is closed first); the job's result, and its files and verdicts in `outcome`.
int extract(TDriveHandle &handle, int index, const QStringList &jobs, const TOptionsSetting &settings,
            const QString &folder, const TArguments &args, TTerminalPrompt &prompt, TTerminal &terminal,
            TRipOutcome &outcome)
{
    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;
    mp3.Prompt = &prompt;
    wma.Prompt = &prompt;
    if (!args.flag("--paranoia")) {
        TTerminalJobPresenter presenter(terminal);
        presenter.Outcome.Json = outcome.Json;
        const auto job = MakeRipJob(JobKind::ExtractTracks, handle.get(), jobs, JobSettings(settings, folder),
                                    presenter, mp3, wma);
        RunJob(*job, presenter);
        outcome = presenter.Outcome;
        return presenter.Result;
    }
    handle.reset();
    TCDIn cd;
    cd.SetCurrentDrive(index);
    cd.Paranoid = true;
    TTerminalCDRipPresenter presenter(terminal);
    presenter.Outcome.Json = outcome.Json;
    const auto job = MakeCDRipJob(cd, jobs, JobSettings(settings, folder), presenter, mp3, wma);
    RunJob(*job, presenter);
    outcome = presenter.Outcome;
    return presenter.Result;
}

// The extra formats of a rip, made from the WAVs the main rip left: each into its own folder, tagged from the
// main format's files; the WAVs then go unless they were to be kept (or a format's file of theirs is
// missing).
void encodeExtraFormats(const TOptionsSetting &settings, const std::vector<TFormatOutput> &outputs,
                        const QString &mainFolder, const QStringList &mainJobs,
                        const std::function<QStringList(const QString &)> &jobsOf, const TArguments &args,
                        TTerminalPrompt &prompt, TTerminal &terminal, TRipOutcome &outcome)
{
    QMultiMap<QString, QString> wanted; // the extra files of each WAV
    for (const TExtraFormatRun &run :
         ExtraFormatRuns(settings, outputs, mainFolder, mainJobs, jobsOf, wanted)) {
        if (!EnsureOutputFolder(run.Folder, terminal))
            continue;
        TTerminalJobPresenter presenter(terminal);
        presenter.Outcome.Json = outcome.Json;
        TConvertJob job(run.Items, run.Format, JobSettings(settings, run.Folder), presenter, &prompt,
                        EncodersAtOnce(settings));
        job.ReplayGain =
            WantsReplayGain(settings.CommonOptions.ReplayGain, run.Format, ReplayGainChoice(args));
        RunJob(job, presenter);
        outcome.Made += presenter.Outcome.Made;
        if (presenter.Result == mrAbort)
            return;
    }
    if (settings.CommonOptions.IsKeepWav || outputs[0].Format == OutputFormat::Wav)
        return;
    RemoveConvertedWavs(wanted);
}

int TRipCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("rip takes no arguments besides its options")};
    if (const auto lookup = args.value("--lookup"); lookup && !IsRipLookupMode(*lookup))
        throw UsageError{QStringLiteral("--lookup is auto, cache, cdtext, musicbrainz, cddb or none")};
    TOptionsSetting settings = ripSettings(args); // its disc information is filled in below
    const TCommonOptions &options = settings.CommonOptions;
    ApplyOverwrite(args, terminal);
    const int index = DriveIndexOf(args);
    TTypedTitles typed;
    if (!typedTitles(args, typed, terminal))
        return 1;

    TToc toc;
    TDriveHandle handle = OpenDriveWithToc(index, toc, terminal);
    if (!handle)
        return 1;
    const QList<int> tracks = tracksToRip(args, toc);
    TDiscModel disc(settings.DiscInfo);
    const QString titlesSource = loadTitles(args, typed, toc, handle.get(), disc, terminal);
    const bool hidden = hiddenTrackWanted(args, options, toc, tracks, handle.get(), terminal);
    const auto jobsOf = [&](const QString &nameTemplate) {
        QStringList list;
        if (hidden)
            list << HiddenTrackJobEntry(nameTemplate, disc.NameFields(0));
        for (const int t : tracks)
            list << JobListEntry(nameTemplate, disc.NameFields(t - toc.firstTrack));
        return WithUniqueFileBases(list);
    };
    // Several formats: the main one is ripped first, its WAVs kept for the others.
    const std::vector<TFormatOutput> outputs =
        FormatOutputs(options, options.OutputFormat, ExtraFormatsOf(options));
    const TOptionsSetting asked = settings;
    settings.CommonOptions.OutputFolder = outputs[0].OutputFolder;
    settings.CommonOptions.FileNameTemplate = outputs[0].NameTemplate;
    settings.CommonOptions.IsKeepWav = asked.CommonOptions.IsKeepWav || outputs.size() > 1;
    const QStringList jobs = jobsOf(outputs[0].NameTemplate);
    if (!EnsureOutputFolder(options.OutputFolder, terminal))
        return 1;
    const QString folder = ExtractionFolder(settings);
    QString coverError;
    if (!SaveDiscCover(folder, settings, &coverError))
        terminal.Failure(coverError);
    TTerminalPrompt prompt(terminal);
    // Each extra format's folder and job list, named once.
    std::vector<std::pair<QString, QStringList>> extras;
    for (size_t i = 1; i < outputs.size(); ++i) {
        TOptionsSetting extra = settings;
        extra.CommonOptions.OutputFolder = outputs[i].OutputFolder;
        extras.emplace_back(WithTrailingBackslash(ExtractionFolder(extra)), jobsOf(outputs[i].NameTemplate));
    }
    const auto extraMissing = [&](int k) {
        for (size_t i = 1; i < outputs.size(); ++i) {
            const auto &[place, names] = extras[i - 1];
            if (!QFileInfo::exists(place + names.value(k).mid(2) + OutputFormatExtension(outputs[i].Format)))
                return true;
        }
        return false;
    };
    QStringList toRip;
    if (options.ImageFormat >= 0) {
        // The image is the output: the tracks' WAVs are only steps on the way (ones a stopped or killed run
        // left included), so every track is read again unless the image is kept.
        const QString image =
            WithTrailingBackslash(folder) + AlbumFileName(settings.DiscInfo.Artist, settings.DiscInfo.Album,
                                                          OutputFormatExtension(options.ImageFormat));
        if (!QFileInfo::exists(image) ||
            prompt.Question(QStringLiteral("Sondrel"),
                            image + LocalizedText(QStringLiteral("RES_File_Exist"),
                                                  QStringLiteral(" has existed,overite it?"))))
            toRip = jobs;
        else
            terminal.Notice(QStringLiteral("kept %1 (already there)").arg(image));
    } else {
        toRip = withoutKeptFiles(jobs, folder, options.OutputFormat, asked.CommonOptions.IsKeepWav,
                                 extraMissing, prompt, terminal);
    }
    TRipOutcome outcome; // files made and the tracks' verdicts
    outcome.Json = args.flag("--json");
    const int result = toRip.isEmpty()
                           ? mrCancel
                           : extract(handle, index, toRip, settings, folder, args, prompt, terminal, outcome);
    handle.reset();
    if (result == mrAbort) {
        // What the stop left: the tracks made in the main format, and those not.
        const qsizetype made = outcome.Made.filter(OutputFormatExtension(options.OutputFormat)).size();
        terminal.Notice(
            QStringLiteral("stopped: %1 of %2 tracks made, %3 not; run the same command again to make them")
                .arg(made)
                .arg(toRip.size())
                .arg(toRip.size() - made));
    }
    // A stopped rip of several formats leaves no WAV the user did not ask for (they were kept for the
    // others).
    if (result == mrAbort && outputs.size() > 1 && !asked.CommonOptions.IsKeepWav &&
        outputs[0].Format != OutputFormat::Wav)
        for (const QString &job : toRip)
            RemoveMadeFile(WithTrailingBackslash(folder) + job.mid(2) + QStringLiteral(".wav"));
    if (result != mrAbort &&
        WantsReplayGain(options.ReplayGain, options.OutputFormat, ReplayGainChoice(args))) {
        // In the disc's order, whichever track's encoding ended first; the tracks kept from an earlier run
        // are measured with the album (its value is the whole album's) and left as they are, but for those a
        // run that was stopped or killed named before their values were written.
        QStringList album;
        QStringList written = outcome.Made;
        for (const QString &job : jobs) {
            const QString file =
                WithTrailingBackslash(folder) + job.mid(2) + OutputFormatExtension(options.OutputFormat);
            if (!outcome.Made.contains(file) && !QFileInfo::exists(file))
                continue;
            album << file;
            if (!written.contains(file) && MeasuresLoudness(file) &&
                AudioFileKindOf(file) != TAudioFileKind::Unknown && !HasAlbumGain(file))
                written << file;
        }
        if (!written.isEmpty()) {
            terminal.Line(QStringLiteral("Measuring loudness for ReplayGain"));
            for (const QString &failure : WriteReplayGain(album, nullptr, &written))
                terminal.Failure(failure);
        }
    }
    if (outputs.size() > 1 && result != mrAbort)
        encodeExtraFormats(asked, outputs, folder, jobs, jobsOf, args, prompt, terminal, outcome);
    if (options.IsCreateM3U && result != mrAbort) {
        QString error;
        if (!WriteExtractionPlaylist(folder, jobs, settings, &prompt, &error) && !error.isEmpty())
            terminal.Failure(error);
    }
    // --require-verified: anything but a verified track fails the run (said, with the tracks' verdicts).
    const bool unproven = args.flag("--require-verified") && !outcome.AllVerified();
    if (unproven)
        terminal.Notice(QStringLiteral("not every track was verified by AccurateRip (--require-verified)"));
    const int code = terminal.Failures > 0 || outcome.Inaccurate() || unproven || result == mrAbort ? 1 : 0;
    outcome.Disc = discJson(disc, titlesSource);
    if (outcome.Json)
        WriteOut(outcome.JsonDocument(code));
    return code;
}

} // namespace

std::unique_ptr<TCommand> MakeRipCommand()
{
    return std::make_unique<TRipCommand>();
}
