// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/encoderprocess.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/cdin.h"
#include "cdrom/discmodel.h"
#include "commands.h"
#include "jobs/ctdbrepair.h"
#include "jobs/formatplan.h"
#include "jobs/playlist.h"
#include "jobs/ripreport.h"
#include "shell/genres.h"
#include "shell/helpers.h"
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
    auto given = FormatsOfKeys(keys);
    if (!given)
        throw UsageError{given.Error()};
    QList<int32_t> formats = *given;
    options.OutputFormat = formats.takeFirst();
    QStringList extras;
    for (const int32_t format : formats)
        extras << QString::number(format);
    options.OutputFormats = extras.join(QLatin1Char(','));
}

class TRipCommand final : public TCommand {
public:
    QString Name() const override { return QStringLiteral("rip"); }
    QList<TOptionSpec> Options() const override;
    QList<TCommandForm> Forms() const override;
    bool Interruptible() const override { return true; }
    int Run(const TArguments &args, TTerminal &terminal) override;
};

// The options of rip alone, without the encoders' quality.
QList<TOptionSpec> ripOwnOptions()
{
    const auto valued = [](const char *name, const char *value) {
        return TOptionSpec{QLatin1String(name), QLatin1String(value)};
    };
    const auto flag = [](const char *name) { return TOptionSpec{QLatin1String(name)}; };
    return QList<TOptionSpec>{valued("-d", "N|PATH"),
                              valued("-t", "LIST"),
                              valued("-f", "FORMAT[,FORMAT...]"),
                              valued("-o", "DIR"),
                              flag("--paranoia"),
                              valued("--normalize", "PCT"),
                              valued("--rip-time", "SEC"),
                              flag("--keep-wav"),
                              flag("--album-folder"),
                              flag("--m3u"),
                              flag("--tags"),
                              valued("--name", "TEMPLATE"),
                              valued("--offset", "SAMPLES"),
                              flag("--test-copy"),
                              flag("--verify"),
                              valued("--accuraterip-server", "URL"),
                              valued("--ctdb-server", "URL"),
                              flag("--log"),
                              flag("--cue"),
                              flag("--require-verified"),
                              flag("--json"),
                              flag("--deemphasis"),
                              flag("--htoa"),
                              flag("--image"),
                              flag("--resume"),
                              flag("--repair"),
                              {QStringLiteral("--overwrite"), {}, QStringLiteral("overwrite")},
                              {QStringLiteral("--no-overwrite"), {}, QStringLiteral("overwrite")},
                              valued("--lookup", "auto|cache|cdtext|musicbrainz|cddb|none"),
                              valued("--release", "N|MBID"),
                              valued("--artist", "T"),
                              valued("--album-artist", "T"),
                              valued("--album", "T"),
                              valued("--year", "Y"),
                              valued("--genre", "G"),
                              {QStringLiteral("--title"), QStringLiteral("N=T"), {}, true},
                              {QStringLiteral("--track-artist"), QStringLiteral("N=T"), {}, true},
                              valued("--titles", "FILE")};
}

QList<TOptionSpec> TRipCommand::Options() const
{
    return ripOwnOptions() + EncoderQualityOptions();
}

QList<TCommandForm> TRipCommand::Forms() const
{
    QStringList names;
    for (const TOptionSpec &option : ripOwnOptions())
        names << option.Name;
    return QList<TCommandForm>{{{},
                                names,
                                QStringLiteral(
                                    R"(-d the drive, -t the tracks ("1,3-5"; default every audio track),
-f the formats (%1; several, each made from the
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
--verify checks each track against AccurateRip and the CUETools
database (one line a track on standard error: verified, mismatch
or unknown; exit 1 when one a database knows does not match);
--ctdb-server URL asks another CUETools database ("": none);
--require-verified fails the run (exit 1) unless every track is
verified by a database and contradicted by neither; --json
prints one JSON document at the end (files, each track's result)
--log and --cue write "ARTIST - ALBUM.log" and ".cue"
--deemphasis undoes the pre-emphasis of tracks the disc flags
--htoa rips audio hidden before track 1 as "00 - Hidden Track"
--image joins the disc into one "ARTIST - ALBUM.flac" (its cue
sheet inside) or .wav, with "ARTIST - ALBUM.cue" beside it
--repair (with --verify and --log) mends tracks the CUETools
database finds wrong from its recovery record, as repair does
--resume keeps the tracks an earlier rip's log in the folder says
were read well (their files there) and reads only the others;
the new log names the tracks kept
--lookup: where the titles come from first (default auto: the
cache, then the disc's CD-Text, then MusicBrainz and CDDB in the
settings' order; what is found is kept like lookup's); --release
chooses among MusicBrainz's releases as lookup's does
--artist ... --titles: titles typed over the looked-up ones (FILE
in the shape of lookup --json), kept in the disc information cache)")
                                    .arg(OutputFormatKeys(QStringLiteral(" ")))}} +
           EncoderQualityForms();
}

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
    if (const auto server = args.value("--ctdb-server"))
        options.CtdbServer = *server;
    if (args.flag("--repair")) // the repair needs the database's verdict and the log's table
        options.VerifyAccurateRip = options.WriteLog = true;
    options.KeepDamaged = !args.flag("--require-verified");
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
QString loadTitles(const TArguments &args, const TTypedTitles &typed, const TToc &toc, TCdHandle handle,
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
                       const QList<int> &tracks, TCdHandle handle, TTerminal &terminal)
{
    if (!options.RipHiddenTrack || !tracks.contains(int(toc.firstTrack)) || HiddenTrackSectors(handle) == 0)
        return false;
    if (args.flag("--paranoia")) {
        terminal.Notice(QStringLiteral("the audio hidden before track 1 is not ripped with --paranoia"));
        return false;
    }
    return true;
}

// --resume: the tracks the earlier rip's log in the folder says were read well, their files there, are kept
// and left out of `tracks`; the log is written, naming them. False when no track is left to read.
bool resume(TOptionsSetting &settings, QList<int> &tracks, int &keptCount, TTerminal &terminal)
{
    const QString folder = ExtractionFolder(settings);
    const TEarlierRip earlier =
        EarlierRip(folder, OutputFormatExtension(settings.CommonOptions.OutputFormat));
    if (earlier.Log.isEmpty() || !earlier.Problem.isEmpty()) {
        terminal.Notice(earlier.Log.isEmpty()
                            ? QStringLiteral("no earlier rip's log in %1: every track is read").arg(folder)
                            : earlier.Problem + QStringLiteral(": every track is read"));
        return true;
    }
    QList<int> kept;
    for (const TKeptTrack &track : earlier.ReadWell) {
        if (tracks.removeAll(track.Track) > 0)
            kept << track.Track;
    }
    keptCount = int(kept.size());
    ResumeFrom(settings, earlier.Log);
    // The tracks read again replace what the earlier run left of them (and its log, which the new one
    // carries on), unless --no-overwrite says otherwise.
    if (terminal.OverwriteAnswer != TTerminal::Overwrite::No)
        terminal.OverwriteAnswer = TTerminal::Overwrite::Yes;
    terminal.Notice(
        QStringLiteral("resuming the rip of %1: %2 kept").arg(earlier.Log, TrackNumbersText(kept)));
    if (tracks.isEmpty()) {
        terminal.Notice(
            QStringLiteral("every track was read well by the earlier run: nothing to read again"));
        return false;
    }
    return true;
}

// --repair: the tracks the CUETools database found wrong mended from its recovery record; when they are,
// their verdicts say so (and no longer fail the run).
void repairFromDatabase(const QString &folder, const QString &server, TRipOutcome &outcome,
                        TTerminal &terminal)
{
    std::vector<TTrackRip> &tracks = outcome.Session.Tracks;
    if (server.isEmpty() || std::none_of(tracks.begin(), tracks.end(), [](const TTrackRip &t) {
            return t.Ctdb.startsWith(QLatin1String("mismatch"));
        }))
        return;
    std::atomic<bool> stop{false};
    const TStopOnInterrupt interrupt([&stop] { stop = true; });
    const auto repaired = RepairRip(folder, server, true, &stop);
    if (!repaired) {
        terminal.Failure(folder + QStringLiteral(": not repaired: ") + repaired.Error());
        return;
    }
    terminal.Notice(*repaired);
    for (TTrackRip &track : tracks)
        if (track.Ctdb.startsWith(QLatin1String("mismatch"))) {
            track.Ctdb = QStringLiteral("verified (repaired from the recovery record)");
            track.AccurateRip = QStringLiteral("verified (repaired from the CUETools database)");
            track.Accurate = track.InDatabase = true;
        }
}

// The run's ending: what a stop left, --require-verified, the exit status and the --json document.
int finish(const TArguments &args, const TRipResult &rip, TRipOutcome &outcome, TTerminal &terminal)
{
    if (rip.Result == mrAbort && rip.FolderMade) {
        // What the stop left: the tracks made in the main format, and those not.
        const qsizetype made = rip.Made.filter(OutputFormatExtension(rip.Outputs[0].Format)).size();
        terminal.Notice(
            QStringLiteral("stopped: %1 of %2 tracks made, %3 not; run the same command again to make them")
                .arg(made)
                .arg(rip.Ripped.size())
                .arg(rip.Ripped.size() - made));
    }
    // --require-verified: anything but a verified track fails the run (said, with the tracks' verdicts).
    const bool unproven = args.flag("--require-verified") && !outcome.AllVerified();
    if (unproven)
        terminal.Notice(QStringLiteral("not every track was verified by AccurateRip (--require-verified)"));
    const int code =
        terminal.Failures > 0 || outcome.Inaccurate() || unproven || rip.Result == mrAbort ? 1 : 0;
    if (outcome.Json)
        WriteOut(outcome.JsonDocument(code));
    return code;
}

int TRipCommand::Run(const TArguments &args, TTerminal &terminal)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("rip takes no arguments besides its options")};
    if (const auto lookup = args.value("--lookup"); lookup && !IsRipLookupMode(*lookup))
        throw UsageError{QStringLiteral("--lookup is auto, cache, cdtext, musicbrainz, cddb or none")};
    if (args.value("--release") && args.value("--lookup") == QStringLiteral("none"))
        throw UsageError{
            QStringLiteral("--release chooses among MusicBrainz's releases: not with --lookup none")};
    TRipRequest request;
    request.Settings = ripSettings(args); // its disc information is filled in below
    request.AskBeforeReplacing = true;
    request.ReplayGain = ReplayGainChoice(args);
    ApplyOverwrite(args, terminal);
    const int index = DriveIndexOf(args);
    TTypedTitles typed;
    if (!typedTitles(args, typed, terminal))
        return 1;

    TToc toc;
    TDriveHandle handle = OpenDriveWithToc(index, toc, terminal);
    if (!handle)
        return 1;
    QList<int> tracks = tracksToRip(args, toc);
    TDiscModel disc(request.Settings.DiscInfo);
    const QString titlesSource = loadTitles(args, typed, toc, handle.get(), disc, terminal);
    int kept = 0;
    if (args.flag("--resume") && !resume(request.Settings, tracks, kept, terminal))
        return 0; // nothing left to read
    if (kept > 0 && request.ReplayGain.value_or(request.Settings.CommonOptions.ReplayGain)) {
        // An album's gain needs all its tracks, and the kept ones are not read again.
        terminal.Notice(
            QStringLiteral("no ReplayGain on a resumed rip: the album's gain would cover only the "
                           "tracks read again"));
        request.ReplayGain = false;
    }
    const bool hidden =
        hiddenTrackWanted(args, request.Settings.CommonOptions, toc, tracks, handle.get(), terminal);
    request.JobsOf = [&](const QString &nameTemplate) {
        QStringList list;
        if (hidden)
            list << HiddenTrackJobEntry(nameTemplate, disc.NameFields(0));
        for (const int t : tracks)
            list << JobListEntry(nameTemplate, disc.NameFields(t - toc.firstTrack));
        return WithUniqueFileBases(list);
    };
    if (!EnsureOutputFolder(request.Settings.CommonOptions.OutputFolder, terminal))
        return 1;
    TRipOutcome outcome; // files made and the tracks' verdicts
    outcome.Json = args.flag("--json");
    outcome.Disc = discJson(disc, titlesSource);
    TTerminalFrontEnd frontEnd(terminal, outcome);
    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;
    mp3.Prompt = &frontEnd;
    wma.Prompt = &frontEnd;
    request.Mp3 = &mp3;
    request.Wma = &wma;
    // Reads through the CD library, or with --paranoia through the checking CD reader (the library's handle
    // closed first).
    std::unique_ptr<TCDIn> cd;
    if (args.flag("--paranoia")) {
        handle.reset();
        cd = std::make_unique<TCDIn>();
        cd->SetCurrentDrive(index);
        cd->Paranoid = true;
        request.Drive = cd.get();
    } else {
        request.Handle = handle.get();
    }
    const TRipResult rip = RunRip(request, frontEnd);
    handle.reset();
    if (args.flag("--repair") && rip.Result != mrAbort)
        repairFromDatabase(rip.Folder, request.Settings.CommonOptions.CtdbServer, outcome, terminal);
    return finish(args, rip, outcome, terminal);
}

} // namespace

std::unique_ptr<TCommand> MakeRipCommand()
{
    return std::make_unique<TRipCommand>();
}
