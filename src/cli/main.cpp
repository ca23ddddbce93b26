// sondrel-cli: the engine of Sondrel from the command line. No windows: the jobs run with a terminal
// presenter, so a rip here does what the same rip does in the window.

#include "audio/audioconverter.h"
#include "audio/dxaudioout.h"
#include "audio/encoderprocess.h"
#include "audio/fastresampler.h"
#include "audio/qualityresampler.h"
#include "audio/vorbisin.h"
#include "cddb/cddbinfo.h"
#include "cddb/cddblookup.h"
#include "cddb/musicbrainz.h"
#include "cdrom/cdaccess.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/cdin.h"
#include "cdrom/discidentity.h"
#include "cdrom/discmodel.h"
#include "jobs/cdripjob.h"
#include "jobs/m3uplaylist.h"
#include "jobs/paralleljob.h"
#include "jobs/playlist.h"
#include "jobs/ripjob.h"
#include "jobs/soundrecorder.h"
#include "jobs/waveconversion.h"
#include "jobs/wavein.h"
#include "jobs/waveout.h"
#include "shell/discinfo.h"
#include "shell/genres.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/settings.h"
#include "tags/filetags.h"
#include "tags/id3tag.h"
#include "terminal.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char *const Usage =
    "usage: sondrel-cli COMMAND [OPTIONS]\n"
    "\n"
    "  drives   [--json]              list the CD drives and disc images (--json: as a JSON array)\n"
    "  toc      [-d N] [--json]       the table of contents of drive N (default 0; --json: as a JSON\n"
    "                                 object)\n"
    "  rip      [-d N] [-t LIST] [-f wav|mp3|ogg|wma|flac] [-o DIR] [--paranoia] [--normalize PCT]\n"
    "           [--rip-time SEC] [--keep-wav] [--album-folder] [--m3u] [--tags] [--name TEMPLATE]\n"
    "           [--offset SAMPLES] [--test-copy] [--verify] [--accuraterip-server URL] [--log] [--cue]\n"
    "           [--require-verified] [--json] [--overwrite|--no-overwrite]\n"
    "                                 -d the drive, -t the tracks (\"1,3-5\"; default every audio track),\n"
    "                                 -f the format, -o the folder; --paranoia reads through the checking\n"
    "                                 CD reader; --normalize scales to PCT per cent; --rip-time copies the\n"
    "                                 first SEC seconds; --keep-wav keeps the WAVs; --album-folder writes\n"
    "                                 into a folder named after the album; --m3u writes a playlist; --tags\n"
    "                                 tags the files; each file made is printed, one a line\n"
    "                                 TEMPLATE names the files: %track% %title% %artist% %albumartist%\n"
    "                                 %album% %year% %genre% (default: the File names setting, %title%)\n"
    "                                 --offset: the drive's read offset correction (-5880 to 5880);\n"
    "                                 --test-copy reads each track twice and compares the CRCs;\n"
    "                                 --verify checks each track against AccurateRip (one line a\n"
    "                                 track on standard error: verified, mismatch or unknown; exit 1\n"
    "                                 when one the database knows does not match); --require-verified\n"
    "                                 fails the run (exit 1) unless every track is verified; --json\n"
    "                                 prints one JSON document at the end (files, each track's result)\n"
    "                                 --log and --cue write \"ARTIST - ALBUM.log\" and \".cue\"\n"
    "  convert  wav2mp3|mp32wav|wav2ogg|wav2wma|wav2flac FILE... [-o DIR] [--overwrite|--no-overwrite]\n"
    "                                 converts the files into DIR (default: the output folder setting),\n"
    "                                 several at once; each file made is printed, one a line\n"
    "  resample IN.wav OUT.wav [--rate HZ] [--channels 1|2] [--bits 8|16|24|32] [--adpcm]\n"
    "           [--quality high|fast]\n"
    "                                 a value equal to the input's passes that part through; --adpcm\n"
    "                                 writes DVI IMA ADPCM; --quality high (default) resamples with\n"
    "                                 libsoxr, fast with the simple filter\n"
    "  tag      show FILE.mp3 [--json]\n"
    "                                 the tag's fields (--json: as a JSON object)\n"
    "  tag      set FILE.mp3 [--title T] [--artist A] [--album-artist A] [--album B] [--year Y]\n"
    "           [--comment C] [--track N] [--genre NAME|NUMBER]\n"
    "                                 show, set and remove work on both ID3 tags (version 2 shown\n"
    "                                 when there is one; version 1 keeps the first 30 bytes)\n"
    "  tag      remove FILE.mp3\n"
    "  cddb     [-d N] [--server HOST|URL] [--route component|library] [--json]\n"
    "                                 looks the disc of drive N up on a CDDB server (default: the\n"
    "                                 settings'), through the CDDB component or the CD library route,\n"
    "                                 prints the titles (--json: as a JSON object) and keeps them\n"
    "  lookup   [-d N] [--source musicbrainz|cddb|cdtext|auto] [--server URL] [--json]\n"
    "                                 titles from MusicBrainz, CDDB or the disc's CD-Text (auto: the\n"
    "                                 order of the settings, MusicBrainz first, CD-Text last), printed\n"
    "                                 and kept like cddb's\n"
    "  play     FILE.ogg|FILE.wav [--device NAME]\n"
    "                                 plays the file through an ALSA device (default: \"default\")\n"
    "  record   OUT.wav [--seconds N] [--rate HZ] [--channels N] [--bits 8|16|24|32] [--device NAME]\n"
    "           [--overwrite|--no-overwrite]\n"
    "                                 records from an ALSA capture device (default: \"default\"; 44100 Hz,\n"
    "                                 2 channels, 16 bits) for N seconds, or until interrupted\n"
    "  playlist OUT.m3u FILE... [--relative] [--overwrite|--no-overwrite]\n"
    "                                 an M3U playlist of the files, with absolute paths or (--relative)\n"
    "                                 paths relative to the playlist's folder\n"
    "  --help | --version\n"
    "\n"
    "--overwrite and --no-overwrite answer the question about a file that is there already (default: ask\n"
    "on a terminal, keep otherwise).\n"
    "Every command takes --quiet (no progress on standard error). Settings come from options.ini, which the\n"
    "tool never writes; the options above change them for this run only.\n"
    "Exit status: 0 success, 1 a file or track failed, 2 a usage error, 130 interrupted.\n";

struct UsageError {
    QString text;
};

// Machine-readable answers (--json): one document on standard output, UTF-8.
void printJson(const QJsonValue &value)
{
    const QByteArray text = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented)
                                            : QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
}

// The part of the usage text about one command (its lines and their explanations), then the notes that hold
// for every command; empty for a command the tool does not have.
QString CommandHelp(const QString &command)
{
    const QStringList lines = QString::fromUtf8(Usage).split(QLatin1Char('\n'));
    QString help;
    bool inside = false;
    for (const QString &line : lines) {
        const bool commandLine =
            line.startsWith(QLatin1String("  ")) && line.size() > 2 && line[2] != QLatin1Char(' ');
        if (commandLine)
            inside = line.mid(2).section(QLatin1Char(' '), 0, 0) == command;
        else if (!line.startsWith(QLatin1String("   ")))
            inside = false;
        if (inside)
            help += line + QLatin1Char('\n');
    }
    if (help.isEmpty())
        return help;
    return QStringLiteral("usage: sondrel-cli ") + command + QStringLiteral(" [OPTIONS]\n\n") + help +
           QStringLiteral("\n") + QString::fromUtf8(Usage).section(QStringLiteral("\n\n"), 2);
}

// The arguments after the command: options with or without a value, and the rest in order.
class Arguments {
public:
    Arguments(const QStringList &args, const QSet<QString> &flags, const QSet<QString> &valued)
    {
        for (qsizetype i = 0; i < args.size(); ++i) {
            const QString &a = args.at(i);
            if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
                if (flags.contains(a)) {
                    m_flags.insert(a);
                } else if (valued.contains(a)) {
                    if (i + 1 >= args.size())
                        throw UsageError{a + QStringLiteral(" needs a value")};
                    m_values[a] = args.at(++i);
                } else {
                    throw UsageError{QStringLiteral("unknown option ") + a};
                }
            } else {
                m_rest << a;
            }
        }
    }
    bool flag(const QString &name) const { return m_flags.contains(name); }
    std::optional<QString> value(const QString &name) const
    {
        const auto it = m_values.find(name);
        return it == m_values.end() ? std::nullopt : std::optional<QString>(it->second);
    }
    int number(const QString &name, int fallback, int low, int high) const
    {
        const auto text = value(name);
        if (!text)
            return fallback;
        bool ok = false;
        const int n = text->toInt(&ok);
        if (!ok || n < low || n > high)
            throw UsageError{name + QStringLiteral(" takes a number from %1 to %2").arg(low).arg(high)};
        return n;
    }
    const QStringList &rest() const { return m_rest; }

private:
    QSet<QString> m_flags;
    std::map<QString, QString> m_values;
    QStringList m_rest;
};

void out(const QString &text)
{
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
}

HCDROM openDrive(int index, TTerminal &terminal)
{
    TCDList list;
    std::memset(&list, 0, sizeof list);
    list.max = 8;
    const int count = GetCDList(&list);
    if (count == 0) {
        terminal.Failure(QStringLiteral("no CD drives or disc images found"));
        return 0;
    }
    if (index < 0 || index >= count) {
        terminal.Failure(QStringLiteral("there is no drive %1 (%2 found)").arg(index).arg(count));
        return 0;
    }
    TGetCDHand request{};
    request.size = 12;
    request.ver = 1;
    request.ha = list.cd[index].ha;
    request.tgt = list.cd[index].tgt;
    request.lun = list.cd[index].lun;
    const HCDROM handle = GetCDHandle(&request);
    if (handle == 0)
        terminal.Failure(QStringLiteral("cannot open drive %1: %2").arg(index).arg(CdAccessErrorText()));
    return handle;
}

bool readToc(HCDROM handle, TToc &toc, TTerminal &terminal)
{
    std::memset(&toc, 0, sizeof toc);
    if (ModifyCDParms(handle, CDP_MSF, 1) == 0 || ReadTOC(handle, &toc) != 1) {
        terminal.Failure(QStringLiteral("cannot read the table of contents: ") + CdAccessErrorText());
        return false;
    }
    return true;
}

// A handle on drive N with its table of contents read; 0 (the reason told) when either fails.
HCDROM openDriveWithToc(int index, TToc &toc, TTerminal &terminal)
{
    const HCDROM handle = openDrive(index, terminal);
    if (handle && !readToc(handle, toc, terminal)) {
        CloseCDHandle(handle);
        return 0;
    }
    return handle;
}

int sectorOf(const TToc &toc, int entry)
{
    return TocEntryFrames(toc.tracks[entry]) - 150;
}

void applyOverwrite(const Arguments &args, TTerminal &terminal)
{
    if (args.flag("--overwrite") && args.flag("--no-overwrite"))
        throw UsageError{QStringLiteral("--overwrite and --no-overwrite exclude each other")};
    if (args.flag("--overwrite"))
        terminal.OverwriteAnswer = TTerminal::Overwrite::Yes;
    else if (args.flag("--no-overwrite"))
        terminal.OverwriteAnswer = TTerminal::Overwrite::No;
}

int drivesCommand(const Arguments &args)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("drives takes no arguments")};
    const QList<CdDriveEntry> drives = CdDriveList();
    QJsonArray list;
    for (qsizetype i = 0; i < drives.size(); ++i) {
        const CdDriveEntry &d = drives.at(i);
        if (args.flag("--json"))
            list.append(QJsonObject{{QStringLiteral("index"), int(i)},
                                    {QStringLiteral("vendor"), d.vendor},
                                    {QStringLiteral("product"), d.product},
                                    {QStringLiteral("path"), d.path},
                                    {QStringLiteral("image"), d.isImage}});
        else
            out(QStringLiteral("%1\t%2 %3\t%4").arg(i).arg(d.vendor, d.product, d.path));
    }
    if (args.flag("--json"))
        printJson(list);
    return 0;
}

// The disc of a table of contents, with its titles from the disc information cache (or, for a disc the
// cache does not know, from the CD-Text of the drive's disc when a handle is given).
void loadDisc(TDiscModel &disc, const TToc &toc, HCDROM handle = 0)
{
    QString id;
    QString query;
    CddbIdentityOfToc(toc, id, query);
    disc.Load(DiscKey(), TDiscModel::TracksOfToc(toc), id, query, [handle] {
        TCdText text;
        if (handle)
            ReadCdText(handle, text);
        return text;
    });
}

int tocCommand(const Arguments &args, TTerminal &terminal)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("toc takes no arguments")};
    const int index = args.number("-d", 0, 0, 7);
    TToc toc;
    const HCDROM handle = openDriveWithToc(index, toc, terminal);
    if (!handle)
        return 1;
    TDiscModel disc(AppSettings.DiscInfo);
    loadDisc(disc, toc, handle);
    CloseCDHandle(handle);
    const bool json = args.flag("--json");
    if (!json) {
        out(QStringLiteral("first %1").arg(toc.firstTrack));
        out(QStringLiteral("last %1").arg(toc.lastTrack));
    }
    const int count = toc.lastTrack - toc.firstTrack + 1;
    QJsonArray tracks;
    for (int i = 0; i < count; ++i) {
        const int start = sectorOf(toc, i);
        const int seconds = (sectorOf(toc, i + 1) - start) / 75;
        const bool data = (toc.tracks[i].ADR & 4) != 0;
        const int track = toc.firstTrack + i;
        const QString title = disc.Title(i);
        const QString type = data ? QStringLiteral("data") : QStringLiteral("audio");
        tracks.append(QJsonObject{{QStringLiteral("number"), track},
                                  {QStringLiteral("start"), start},
                                  {QStringLiteral("sectors"), sectorOf(toc, i + 1) - start},
                                  {QStringLiteral("type"), type},
                                  {QStringLiteral("title"), title}});
        if (!json)
            out(QStringLiteral("track %1\t%2\t%3:%4\t%5\t%6")
                    .arg(track)
                    .arg(start)
                    .arg(seconds / 60, 2, 10, QLatin1Char('0'))
                    .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                    .arg(type, title));
    }
    QString musicBrainzId, tocText;
    const bool hasMusicBrainzId = MusicBrainzIdentityOfToc(toc, musicBrainzId, tocText);
    if (json) {
        QJsonObject object{{QStringLiteral("first"), int(toc.firstTrack)},
                           {QStringLiteral("last"), int(toc.lastTrack)},
                           {QStringLiteral("tracks"), tracks},
                           {QStringLiteral("leadout"), sectorOf(toc, count)},
                           {QStringLiteral("cddb_id"), disc.CddbDiscId()},
                           {QStringLiteral("disc_key"), DiscKey()}};
        if (hasMusicBrainzId)
            object.insert(QStringLiteral("musicbrainz_id"), musicBrainzId);
        printJson(object);
        return 0;
    }
    out(QStringLiteral("leadout %1").arg(sectorOf(toc, count)));
    out(QStringLiteral("cddb-id %1").arg(disc.CddbDiscId()));
    if (hasMusicBrainzId)
        out(QStringLiteral("musicbrainz-id %1").arg(musicBrainzId));
    out(QStringLiteral("disc-key %1").arg(DiscKey()));
    return 0;
}

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

int formatIndex(const QString &name)
{
    static const QStringList names = {QStringLiteral("mp3"), QStringLiteral("wav"), QStringLiteral("ogg"),
                                      QStringLiteral("wma"), QStringLiteral("flac")};
    const int index = int(names.indexOf(name.toLower()));
    if (index < 0)
        throw UsageError{QStringLiteral("unknown format ") + name};
    return index;
}

bool ensureOutputFolder(const QString &folder, TTerminal &terminal)
{
    if (folder.isEmpty()) {
        terminal.Failure(QStringLiteral("no output folder: give -o DIR or set one in the program's options"));
        return false;
    }
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
        terminal.Failure(QStringLiteral("cannot create the output folder ") + folder);
        return false;
    }
    return true;
}

// Ctrl-C and SIGTERM: the handler only writes a byte; the event loop then stops the running job the normal
// way (so nothing half-written is left under a final name) and the tool exits with 130.
int interruptPipe[2] = {-1, -1};
bool interrupted = false;
std::function<void()> stopRunningJob;

void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(interruptPipe[1], &byte, 1);
}

void watchInterrupts(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, interruptPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(interruptPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(interruptPipe[0], &byte, 1);
        interrupted = true;
        if (stopRunningJob)
            stopRunningJob();
    });
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

template <typename Presenter> void waitFor(const Presenter &presenter)
{
    QEventLoop loop;
    while (!presenter.Finished)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
}

// An extraction replaces its files without asking (so does the window's). Here the overwrite options decide
// first, as they do for a conversion: a track whose file (or the WAV it is made from) is there already is
// ripped only when the answer is yes, and a kept file is named.
QStringList withoutKeptFiles(const QStringList &jobs, const QString &folder, int32_t format,
                             TTerminalPrompt &prompt, TTerminal &terminal)
{
    QStringList extensions{OutputFormatExtension(format)};
    if (format != OutputFormat::Wav)
        extensions << QStringLiteral(".wav");
    QStringList kept;
    QStringList rip;
    for (const QString &entry : jobs) {
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

int ripCommand(const Arguments &args, TTerminal &terminal)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("rip takes no arguments besides its options")};
    // The run's own settings: options.ini's, with what the command line says over them.
    TOptionsSetting settings = AppSettings;
    TCommonOptions &options = settings.CommonOptions;
    if (const auto format = args.value("-f"))
        options.OutputFormat = formatIndex(*format);
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
    if (args.flag("--keep-wav"))
        options.IsKeepWav = true;
    if (args.flag("--album-folder"))
        options.IsCreateAlbumFolder = true;
    if (args.flag("--m3u"))
        options.IsCreateM3U = true;
    if (args.flag("--tags"))
        settings.Use = true;
    if (args.value("--offset"))
        options.ReadOffset = args.number("--offset", 0, -MaxReadOffset, MaxReadOffset);
    if (args.flag("--test-copy"))
        options.TestAndCopy = true;
    if (args.flag("--verify"))
        options.VerifyAccurateRip = true;
    if (const auto server = args.value("--accuraterip-server"))
        options.AccurateRipServer = *server;
    if (args.flag("--log"))
        options.WriteLog = true;
    if (args.flag("--cue"))
        options.WriteCue = true;
    applyOverwrite(args, terminal);
    const int index = args.number("-d", 0, 0, 7);

    TToc toc;
    const HCDROM handle = openDriveWithToc(index, toc, terminal);
    if (!handle)
        return 1;
    const int first = toc.firstTrack;
    const int last = toc.lastTrack;
    QList<int> tracks;
    try {
        tracks = args.value("-t") ? trackList(*args.value("-t"), first, last) : QList<int>();
    } catch (...) {
        CloseCDHandle(handle);
        throw;
    }
    if (tracks.isEmpty()) {
        for (int t = first; t <= last; ++t) {
            if ((toc.tracks[t - first].ADR & 4) == 0)
                tracks << t;
        }
    }
    TDiscModel disc(settings.DiscInfo);
    loadDisc(disc, toc, handle);
    QStringList jobs;
    for (const int t : tracks)
        jobs << JobListEntry(options.FileNameTemplate, disc.NameFields(t - first));
    jobs = WithUniqueFileBases(jobs);
    if (!ensureOutputFolder(options.OutputFolder, terminal)) {
        CloseCDHandle(handle);
        return 1;
    }
    const QString folder = ExtractionFolder(settings);
    QString coverError;
    if (!SaveDiscCover(folder, settings, &coverError))
        terminal.Failure(coverError);
    TTerminalPrompt prompt(terminal);
    const QStringList toRip =
        withoutKeptFiles(jobs, folder, settings.CommonOptions.OutputFormat, prompt, terminal);

    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;
    mp3.Prompt = &prompt;
    wma.Prompt = &prompt;
    int result = mrCancel;
    const bool json = args.flag("--json");
    TRipOutcome outcome; // files made and the tracks' verdicts
    outcome.Json = json;
    if (toRip.isEmpty()) {
        CloseCDHandle(handle);
    } else if (!args.flag("--paranoia")) {
        TTerminalJobPresenter presenter(terminal);
        presenter.Outcome.Json = json;
        const auto job = MakeRipJob(JobKind::ExtractTracks, handle, toRip, JobSettings(settings, folder),
                                    presenter, mp3, wma);
        stopRunningJob = [&job] { job->Stop(); };
        job->Start();
        waitFor(presenter);
        stopRunningJob = nullptr;
        job->CleanUp();
        result = presenter.Result;
        outcome = presenter.Outcome;
        CloseCDHandle(handle);
    } else {
        CloseCDHandle(handle);
        TCDIn cd;
        cd.SetCurrentDrive(index);
        cd.Paranoid = true;
        TTerminalCDRipPresenter presenter(terminal);
        presenter.Outcome.Json = json;
        const auto job = MakeCDRipJob(cd, toRip, JobSettings(settings, folder), presenter, mp3, wma);
        stopRunningJob = [&job] { job->Stop(); };
        job->Start();
        waitFor(presenter);
        stopRunningJob = nullptr;
        job->CleanUp();
        result = presenter.Result;
        outcome = presenter.Outcome;
    }
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
    if (json)
        std::fputs(outcome.JsonDocument(code).constData(), stdout);
    return code;
}

int convertCommand(const Arguments &args, TTerminal &terminal)
{
    if (args.rest().size() < 2)
        throw UsageError{QStringLiteral("convert needs a kind and at least one file")};
    static const std::map<QString, JobKind> kinds = {{QStringLiteral("wav2mp3"), JobKind::WavToMp3},
                                                     {QStringLiteral("mp32wav"), JobKind::Mp3ToWav},
                                                     {QStringLiteral("wav2ogg"), JobKind::WavToOgg},
                                                     {QStringLiteral("wav2wma"), JobKind::WavToWma},
                                                     {QStringLiteral("wav2flac"), JobKind::WavToFlac}};
    const auto kind = kinds.find(args.rest().first());
    if (kind == kinds.end())
        throw UsageError{QStringLiteral("unknown conversion ") + args.rest().first()};
    QString folder = AppSettings.CommonOptions.OutputFolder;
    if (const auto given = args.value("-o"))
        folder = QFileInfo(*given).absoluteFilePath();
    applyOverwrite(args, terminal);
    QStringList files;
    for (const QString &file : args.rest().mid(1)) {
        const QFileInfo info(file);
        if (!info.isFile() || !info.isReadable())
            terminal.Failure(file + QStringLiteral(": cannot be read"));
        else
            files << info.absoluteFilePath();
    }
    if (files.isEmpty() || !ensureOutputFolder(folder, terminal))
        return 1;
    TTerminalPrompt prompt(terminal);
    TMp3EncodeProcess mp3;
    TWMAEncodeProcess wma;
    mp3.Prompt = &prompt;
    wma.Prompt = &prompt;
    TTerminalJobPresenter presenter(terminal);
    const auto job =
        MakeRipJob(kind->second, 0, files, JobSettings(AppSettings, folder), presenter, mp3, wma);
    stopRunningJob = [&job] { job->Stop(); };
    job->Start();
    waitFor(presenter);
    stopRunningJob = nullptr;
    job->CleanUp();
    return terminal.Failures > 0 || presenter.Result == mrAbort ? 1 : 0;
}

// Runs a sink to its end on the terminal: a bar of its progress, a failure named after `what`, and Ctrl-C
// or SIGTERM stopping it. True when it was stopped so.
bool runSink(TAuOutput &out, const QString &label, const QString &what, TTerminal &terminal)
{
    bool done = false;
    bool stopped = false;
    out.OnProgress = [&](TAuOutput *sink) {
        if (TTerminal::StderrIsTerminal())
            terminal.Bar(label, sink->Progress(), QString(), QString());
    };
    out.OnThreadException = [&](TAuOutput *sink) {
        terminal.Failure(what + QStringLiteral(": ") + sink->ExceptionMessage());
    };
    out.OnDone = [&](TAuOutput *) { done = true; };
    stopRunningJob = [&] {
        stopped = true;
        out.Stop(false);
        done = true;
    };
    out.Run();
    QEventLoop loop;
    while (!done)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    stopRunningJob = nullptr;
    terminal.EndBar();
    return stopped;
}

int resampleCommand(const Arguments &args, TTerminal &terminal)
{
    if (args.rest().size() != 2)
        throw UsageError{QStringLiteral("resample needs an input and an output file")};
    const QString input = args.rest().at(0);
    const QString output = args.rest().at(1);
    const int rate = args.number("--rate", 22050, 1000, 768000);
    const int channels = args.number("--channels", 1, 1, 2);
    const int bits = args.number("--bits", 8, 8, 32);
    if (bits % 8 != 0)
        throw UsageError{QStringLiteral("--bits takes 8, 16, 24 or 32")};
    if (QFileInfo(input).absoluteFilePath() == QFileInfo(output).absoluteFilePath() || SameFile(input, output)) {
        terminal.Failure(output + QStringLiteral(": the output would overwrite the input"));
        return 1;
    }
    const QString quality = args.value("--quality").value_or(QStringLiteral("high"));
    if (quality != QLatin1String("high") && quality != QLatin1String("fast"))
        throw UsageError{QStringLiteral("--quality takes high or fast")};
    TWaveIn in;
    TFastResampler fast;
    TQualityResampler high;
    TRateConverter &resampler = quality == QLatin1String("fast") ? static_cast<TRateConverter &>(fast)
                                                                 : static_cast<TRateConverter &>(high);
    TAudioConverter converter;
    TWaveOut out;
    out.SetInput(&converter);
    in.SetFileName(input);
    if (!in.TryOpen()) {
        terminal.Failure(input + QStringLiteral(": not a WAV file this program can read"));
        return 1;
    }
    ApplyWaveConversion(TWaveConversion{rate, channels, bits, args.flag("--adpcm")}, in, resampler, converter,
                        out);
    // Written under the working name; the output name only ever holds a complete file.
    const QString working = WorkingFileOf(output);
    out.SetFileName(working);
    terminal.Line(QStringLiteral("Converting %1 to %2").arg(input, output));
    const bool stopped = runSink(out, QFileInfo(output).fileName(), output, terminal);
    out.SetFileName(QString()); // closed
    QString error;
    if (!SettleWorkingFile(working, output, !stopped && terminal.Failures == 0, &error) && !error.isEmpty())
        terminal.Failure(error);
    return terminal.Failures > 0 || stopped ? 1 : 0;
}

int tagCommand(const Arguments &args, TTerminal &terminal)
{
    if (args.rest().size() != 2)
        throw UsageError{QStringLiteral("tag needs show, set or remove and one file")};
    const QString action = args.rest().at(0);
    const QString file = args.rest().at(1);
    if (action != QLatin1String("show") && action != QLatin1String("set") &&
        action != QLatin1String("remove"))
        throw UsageError{QStringLiteral("unknown tag action ") + action};
    QString error;
    if (action == QLatin1String("show")) {
        TFileTags tags;
        if (!ReadFileTags(file, tags, &error)) {
            terminal.Failure(error);
            return 1;
        }
        // "name: value" lines, or one JSON object whose keys are the names with "_" for blanks.
        std::vector<std::pair<QString, QString>> fields;
        if (tags.HasTag())
            fields = {{QStringLiteral("tag"), tags.Kind},
                      {QStringLiteral("title"), tags.Title},
                      {QStringLiteral("artist"), tags.Artist},
                      {QStringLiteral("album artist"), tags.AlbumArtist},
                      {QStringLiteral("album"), tags.Album},
                      {QStringLiteral("year"), tags.Year},
                      {QStringLiteral("comment"), tags.Comment},
                      {QStringLiteral("track"), tags.Track <= 0 ? QString()
                                                : tags.TrackTotal > 0
                                                    ? QStringLiteral("%1/%2").arg(tags.Track).arg(tags.TrackTotal)
                                                    : QString::number(tags.Track)},
                      {QStringLiteral("genre"), tags.Genre}};
        fields.emplace_back(QStringLiteral("format"), TagFormatName(tags.Format));
        if (args.flag("--json")) {
            QJsonObject object{{QStringLiteral("file"), file}};
            object.insert(QStringLiteral("tag"), QJsonValue::Null);
            for (const auto &[name, value] : fields)
                object.insert(QString(name).replace(QLatin1Char(' '), QLatin1Char('_')), value);
            printJson(object);
        } else if (!tags.HasTag()) {
            out(file + (tags.Format == TTagFormat::Mp3 ? QStringLiteral(" has no ID3 tag")
                                                       : QStringLiteral(" has no tags")));
        } else {
            for (const auto &[name, value] : fields)
                out(name + QStringLiteral(": ") + WithoutControlChars(value));
        }
        return 0;
    }
    if (action == QLatin1String("remove")) {
        if (!RemoveFileTags(file, &error)) {
            terminal.Failure(error);
            return 1;
        }
        return 0;
    }
    // Only the fields named change; everything else in the file stays as it was.
    TTagEdit edit;
    const auto take = [&](const char *option, std::optional<QString> &field) {
        if (const auto v = args.value(QLatin1String(option)))
            field = *v;
    };
    take("--title", edit.Title);
    take("--artist", edit.Artist);
    take("--album-artist", edit.AlbumArtist);
    take("--album", edit.Album);
    take("--year", edit.Year);
    take("--comment", edit.Comment);
    take("--genre", edit.Genre);
    if (args.value("--track"))
        edit.Track = args.number("--track", 0, 0, 999);
    if (edit.Genre) {
        bool number = false;
        const int n = edit.Genre->toInt(&number);
        if (number && (n < 0 || n > 255))
            throw UsageError{QStringLiteral("--genre takes a name or a number from 0 to 255")};
    }
    if (edit.Empty())
        throw UsageError{QStringLiteral("tag set needs at least one field to set")};
    if (!EditFileTags(file, edit, &error)) {
        terminal.Failure(error);
        return 1;
    }
    return 0;
}

int playCommand(const Arguments &args, TTerminal &terminal)
{
    if (args.rest().size() != 1)
        throw UsageError{QStringLiteral("play needs one file")};
    const QString file = args.rest().first();
    const QString device = args.value("--device").value_or(QStringLiteral("default"));
    const QStringList devices = TDXAudioOut::DeviceNames();
    if (!devices.contains(device)) {
        terminal.Failure(
            QStringLiteral("there is no sound device %1 (devices: %2)").arg(device, devices.join(", ")));
        return 1;
    }
    std::unique_ptr<TAuFileIn> in;
    if (file.endsWith(QStringLiteral(".ogg"), Qt::CaseInsensitive))
        in = std::make_unique<TVorbisIn>();
    else
        in = std::make_unique<TWaveIn>();
    in->SetFileName(file);
    if (!in->TryOpen()) {
        terminal.Failure(file + QStringLiteral(": ") +
                         (in->OpenError.isEmpty() ? QStringLiteral("cannot be played") : in->OpenError));
        return 1;
    }
    TDXAudioOut out;
    out.SetInput(in.get());
    out.DeviceNumber = int(devices.indexOf(device));
    terminal.Line(QStringLiteral("Playing %1 on %2").arg(file, device));
    runSink(out, QFileInfo(file).fileName(), device, terminal);
    return terminal.Failures > 0 ? 1 : 0;
}

int recordCommand(const Arguments &args, TTerminal &terminal)
{
    if (args.rest().size() != 1)
        throw UsageError{QStringLiteral("record needs one output file")};
    applyOverwrite(args, terminal);
    const QString output = QFileInfo(args.rest().first()).absoluteFilePath();
    const int seconds = args.number("--seconds", 0, 1, 24 * 3600);
    const int rate = args.number("--rate", 44100, 1000, 768000);
    const int channels = args.number("--channels", 2, 1, 8);
    const int bits = args.number("--bits", 16, 8, 32);
    if (bits % 8 != 0)
        throw UsageError{QStringLiteral("--bits takes 8, 16, 24 or 32")};
    const QString device = args.value("--device").value_or(QStringLiteral("default"));
    if (QFileInfo::exists(output) &&
        !TTerminalPrompt(terminal).Question(
            QString(), output + LocalizedText(QStringLiteral("RES_File_Exist"),
                                              QStringLiteral(" has existed,overite it?")))) {
        terminal.Notice(QStringLiteral("kept %1 (already there)").arg(output));
        return 0;
    }
    // Recorded under the working name; the output name only ever holds a complete file.
    const QString working = WorkingFileOf(output);
    TSoundRecorder recorder;
    QString error;
    if (!TSoundRecorder::WriteEmptyWav(working, channels, bits, rate, &error) ||
        !recorder.SetFile(working, &error) || !recorder.Start(device, 0, &error)) {
        DiscardWorkingFile(working, output);
        terminal.Failure(error);
        return 1;
    }
    if (seconds > 0)
        recorder.EndAfterFrames(int64_t(seconds) * rate);
    bool ended = false;
    QObject::connect(&recorder, &TSoundRecorder::Ended, [&] { ended = true; });
    QObject::connect(&recorder, &TSoundRecorder::Failed,
                     [&](const QString &reason) { terminal.Failure(reason); });
    stopRunningJob = [&] { ended = true; };
    terminal.Line(seconds > 0
                      ? QStringLiteral("Recording %1 s from %2 to %3").arg(seconds).arg(device, output)
                      : QStringLiteral("Recording from %1 to %2; Ctrl+C ends it").arg(device, output));
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] {
        const int64_t ms = recorder.RecordedMs();
        terminal.Bar(QFileInfo(output).fileName(), seconds > 0 ? int(ms / 10 / seconds) : 0,
                     TSoundRecorder::TimeText(ms),
                     seconds > 0 ? TSoundRecorder::TimeText(seconds * 1000) : QString());
    });
    clock.start(500);
    QEventLoop loop;
    while (!ended)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    stopRunningJob = nullptr;
    clock.stop();
    terminal.EndBar();
    const bool kept = recorder.Stop(0, &error);
    if (!kept)
        terminal.Failure(error);
    if (!SettleWorkingFile(working, output, kept, &error)) {
        if (kept)
            terminal.Failure(error);
        return 1;
    }
    terminal.Line(
        QStringLiteral("Recorded %1 to %2").arg(TSoundRecorder::TimeText(recorder.LengthMs()), output));
    // Interrupting a recording without a length is how it ends; with a length, it was cut short.
    if (seconds == 0)
        interrupted = false;
    return terminal.Failures > 0 ? 1 : 0;
}

int playlistCommand(const Arguments &args, TTerminal &terminal)
{
    if (args.rest().size() < 2)
        throw UsageError{QStringLiteral("playlist needs the playlist and at least one file")};
    applyOverwrite(args, terminal);
    const QString playlist = QFileInfo(M3uPlaylistName(args.rest().first())).absoluteFilePath();
    QStringList files;
    for (const QString &file : args.rest().mid(1)) {
        if (!QFileInfo(file).isFile())
            terminal.Failure(file + QStringLiteral(": no such file"));
        files << QFileInfo(file).absoluteFilePath();
    }
    if (terminal.Failures > 0)
        return 1;
    if (!M3uSameFileSystem(files)) {
        terminal.Failure(QStringLiteral("The files in the list should be on the same drive."));
        return 1;
    }
    TTerminalPrompt prompt(terminal);
    if (QFileInfo::exists(playlist) &&
        !prompt.Question(QStringLiteral("Sondrel"),
                         playlist + LocalizedText(QStringLiteral("RES_File_Exist"),
                                                  QStringLiteral(" has existed,overite it?")))) {
        terminal.Notice(QStringLiteral("kept %1 (already there)").arg(playlist));
        return 0;
    }
    QString error;
    if (!WriteM3u(playlist, M3uLines(files, playlist, args.flag("--relative")), &error)) {
        terminal.Failure(error);
        return 1;
    }
    terminal.Line(QStringLiteral("Wrote %1").arg(playlist));
    return 0;
}

// Prints what a lookup found and keeps it in the disc information cache.
int storeLookup(const TToc &toc, const TCddbLookupResult &result, TTerminal &terminal, bool json)
{
    TDiscModel disc(AppSettings.DiscInfo);
    loadDisc(disc, toc);
    ApplyCddbDiscFields(result);
    for (const auto &[row, title] : result.Titles)
        disc.SetTitle(row, title);
    const TCDInfo &info = disc.Info();
    if (json) {
        QJsonArray tracks;
        for (int row = 0; row < disc.RowCount(); ++row)
            tracks.append(QJsonObject{{QStringLiteral("number"), disc.Track(row).Number},
                                      {QStringLiteral("title"), disc.Title(row)},
                                      {QStringLiteral("artist"), disc.TrackArtist(row)}});
        QJsonObject object{{QStringLiteral("artist"), info.Artist},
                           {QStringLiteral("album"), info.Album},
                           {QStringLiteral("year"), info.Year},
                           {QStringLiteral("genre"), GenreName(info.Genre)},
                           {QStringLiteral("tracks"), tracks}};
        if (!info.MusicBrainzRelease.isEmpty())
            object.insert(QStringLiteral("musicbrainz_release"), info.MusicBrainzRelease);
        printJson(object);
    }
    if (!json)
        out(QStringLiteral("artist: ") + info.Artist);
    for (const auto &[name, value] : {std::pair{"album: ", info.Album}, std::pair{"year: ", info.Year},
                                      std::pair{"genre: ", GenreName(info.Genre)},
                                      std::pair{"musicbrainz-release: ", info.MusicBrainzRelease}}) {
        if (!json && (!value.isEmpty() || QLatin1String(name) != QLatin1String("musicbrainz-release: ")))
            out(QLatin1String(name) + value);
    }
    for (int row = 0; row < disc.RowCount() && !json; ++row) {
        out(QStringLiteral("track %1\t%2").arg(disc.Track(row).Number).arg(disc.Title(row)));
        if (disc.TrackArtist(row) != info.Artist)
            out(QStringLiteral("artist %1\t%2").arg(disc.Track(row).Number).arg(disc.TrackArtist(row)));
    }
    QString saveError;
    if (!disc.Save(&saveError)) {
        terminal.Failure(QStringLiteral("the titles could not be stored in the disc information cache: ") +
                         saveError);
        return 1;
    }
    return 0;
}

// A lookup's source: "musicbrainz" or "cddb" (through the route of tagEncoding, or the settings' when it is
// -1), at the server given or the settings' one; false (with the reason told) when it found nothing.
bool lookupAt(const QString &source, const std::optional<QString> &server, int tagEncoding, const TToc &toc,
              HCDROM handle, TCddbLookupResult &result, TTerminal &terminal)
{
    const int rows = toc.lastTrack - toc.firstTrack + 1;
    if (source == QLatin1String("cdtext")) {
        TCdText text;
        ReadCdText(handle, text);
        if (text.empty()) {
            terminal.Notice(QStringLiteral("the disc carries no CD-Text"));
            return false;
        }
        for (int row = 0; row < rows; ++row) {
            const int track = toc.firstTrack + row;
            if (const auto t = text.Titles.find(track); t != text.Titles.end())
                result.Titles[row] = t->second;
            if (const auto p = text.Performers.find(track);
                p != text.Performers.end() && p->second != text.AlbumPerformer)
                result.TrackArtists[row] = p->second;
        }
        result.Artist = text.AlbumPerformer;
        result.Album = text.AlbumTitle;
        return true;
    }
    if (source == QLatin1String("musicbrainz")) {
        TMusicBrainzRequest request;
        request.BaseUrl = server.value_or(AppSettings.QueryCDDB.MusicBrainzServer);
        request.TrackCount = rows;
        if (!MusicBrainzIdentityOfToc(toc, request.DiscId, request.TocText)) {
            terminal.Failure(QStringLiteral("this table of contents has no MusicBrainz disc id"));
            return false;
        }
        terminal.Line(QStringLiteral("Looking up %1 on %2").arg(request.DiscId, request.BaseUrl));
        std::vector<TMusicBrainzRelease> releases;
        QString error;
        if (!MusicBrainzLookup(request, releases, &error)) {
            terminal.Failure(error);
            return false;
        }
        if (releases.empty()) {
            terminal.Notice(QStringLiteral("MusicBrainz knows no release with this disc"));
            return false;
        }
        // Several releases hold the disc: the first is taken, the others named.
        for (size_t i = 1; i < releases.size(); ++i)
            terminal.Notice(QStringLiteral("also: %1 - %2 (%3 %4 %5, %6)")
                                .arg(releases[i].Artist, releases[i].Title, releases[i].Date,
                                     releases[i].Country, releases[i].Format, releases[i].Id));
        TakeMusicBrainzRelease(releases.front(), rows, result);
        const TQueryCDDB &q = AppSettings.QueryCDDB;
        if (q.SaveCover || q.EmbedCover) {
            QString coverError;
            if (FetchCoverArt(q.CoverArtServer, releases.front().Id, &coverError))
                out(QStringLiteral("cover: ") + CoverCachePath(releases.front().Id));
            else if (!coverError.isEmpty())
                terminal.Notice(coverError); // the titles stand without it
        }
        return true;
    }
    TQueryCDDB query = AppSettings.QueryCDDB;
    if (server)
        query.Server = *server;
    if (tagEncoding >= 0)
        query.TagEncoding = tagEncoding;
    TCddbLookupRequest request;
    request.FirstTrack = toc.firstTrack;
    request.LastTrack = toc.lastTrack;
    request.DriveHandle = handle;
    request.RowCount = rows;
    CddbIdentityOfToc(toc, request.DiscId, request.QueryText);
    request.Settings = query;
    const QString address = request.Settings.Server;
    request.ComponentServer = address.contains(QStringLiteral("http")) ? address : TCDDBInfo::DefaultServer();
    request.ComponentEmail = TCDDBInfo::DefaultEmail();
    terminal.Line(QStringLiteral("Looking up %1 on %2").arg(request.DiscId, address));
    int32_t error = 0;
    const int code = RunCddbLookup(request, result, &error, nullptr);
    if (!result.Refusal.isEmpty() && result.Titles.empty()) {
        terminal.Failure(
            QStringLiteral("the CDDB server %1 refused the lookup: %2").arg(address, result.Refusal));
        return false;
    }
    if (code == CDDBQUERY_NO_MATCH || (result.Titles.empty() && !result.Album)) {
        terminal.Failure(
            QStringLiteral("no match found (no such disc on the server, wrong settings, or no network)"));
        return false;
    }
    return true;
}

// Tries the sources in order on drive -d until one finds titles, then prints and keeps them. tagEncoding
// chooses CDDB's route (-1: the settings').
int lookUp(const Arguments &args, const QStringList &sources, int tagEncoding, TTerminal &terminal)
{
    const int index = args.number("-d", 0, 0, 7);
    TToc toc;
    const HCDROM handle = openDriveWithToc(index, toc, terminal);
    if (!handle)
        return 1;
    TCddbLookupResult result;
    bool found = false;
    for (const QString &source : sources) {
        result = TCddbLookupResult();
        if ((found = lookupAt(source, args.value("--server"), tagEncoding, toc, handle, result, terminal)))
            break;
    }
    CloseCDHandle(handle);
    if (!found) {
        if (terminal.Failures == 0)
            terminal.Failure(QStringLiteral("no titles found for this disc"));
        return 1;
    }
    // A source that failed before the one that found the titles is no failure of the command.
    terminal.Failures = 0;
    return storeLookup(toc, result, terminal, args.flag("--json"));
}

int cddbCommand(const Arguments &args, TTerminal &terminal)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("cddb takes no arguments besides its options")};
    const QString route = args.value("--route").value_or(QStringLiteral("component"));
    if (route != QLatin1String("component") && route != QLatin1String("library"))
        throw UsageError{QStringLiteral("--route is component or library")};
    return lookUp(args, {QStringLiteral("cddb")}, route == QLatin1String("component") ? 0 : 1, terminal);
}

int lookupCommand(const Arguments &args, TTerminal &terminal)
{
    if (!args.rest().isEmpty())
        throw UsageError{QStringLiteral("lookup takes no arguments besides its options")};
    const QString source = args.value("--source").value_or(QStringLiteral("auto"));
    QStringList sources;
    if (source == QLatin1String("auto")) {
        const int order = AppSettings.QueryCDDB.LookupOrder;
        if (order != 2)
            sources << QStringLiteral("musicbrainz");
        if (order != 1)
            sources << QStringLiteral("cddb");
        // One address cannot serve both network sources.
        if (args.value("--server") && sources.size() > 1)
            throw UsageError{QStringLiteral("--server needs --source musicbrainz or --source cddb")};
        sources << QStringLiteral("cdtext"); // what the disc itself says, last
    } else if (source == QLatin1String("musicbrainz") || source == QLatin1String("cddb") ||
               source == QLatin1String("cdtext")) {
        sources << source;
    } else {
        throw UsageError{QStringLiteral("--source is musicbrainz, cddb, cdtext or auto")};
    }
    return lookUp(args, sources, -1, terminal);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sondrel-cli"));
    QStringList args = QCoreApplication::arguments().mid(1);
    TTerminal terminal;
    if (args.removeAll(QStringLiteral("--quiet")) > 0)
        terminal.Quiet = true;
    if (args.isEmpty()) {
        std::fputs("usage: sondrel-cli COMMAND [OPTIONS]; sondrel-cli --help lists them\n", stderr);
        return 2;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (command == QLatin1String("--version")) {
        out(QStringLiteral("sondrel-cli " SONDREL_VERSION));
        return 0;
    }
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        const QString help = CommandHelp(command);
        if (help.isEmpty()) {
            std::fprintf(stderr, "sondrel-cli: unknown command %s\n%s", command.toLocal8Bit().constData(),
                         Usage);
            return 2;
        }
        std::fputs(help.toLocal8Bit().constData(), stdout);
        return 0;
    }
    LoadOptions();
    for (const QString &warning : OptionsWarnings())
        terminal.Notice(warning);
    watchInterrupts(app);
    const auto exitCode = [](int code) { return interrupted ? 130 : code; };
    try {
        const QSet<QString> overwrite = {QStringLiteral("--overwrite"), QStringLiteral("--no-overwrite")};
        if (command == QLatin1String("drives"))
            return drivesCommand(Arguments(args, {QStringLiteral("--json")}, {}));
        if (command == QLatin1String("toc"))
            return tocCommand(Arguments(args, {QStringLiteral("--json")}, {QStringLiteral("-d")}), terminal);
        if (command == QLatin1String("rip"))
            return exitCode(ripCommand(
                Arguments(
                    args,
                    overwrite + QSet<QString>{QStringLiteral("--paranoia"), QStringLiteral("--keep-wav"),
                                              QStringLiteral("--album-folder"), QStringLiteral("--m3u"),
                                              QStringLiteral("--tags"), QStringLiteral("--test-copy"),
                                              QStringLiteral("--verify"), QStringLiteral("--log"),
                                              QStringLiteral("--cue"), QStringLiteral("--json"),
                                              QStringLiteral("--require-verified")},
                    {QStringLiteral("-d"), QStringLiteral("-t"), QStringLiteral("-f"), QStringLiteral("-o"),
                     QStringLiteral("--normalize"), QStringLiteral("--rip-time"), QStringLiteral("--name"),
                     QStringLiteral("--offset"), QStringLiteral("--accuraterip-server")}),
                terminal));
        if (command == QLatin1String("convert"))
            return exitCode(convertCommand(Arguments(args, overwrite, {QStringLiteral("-o")}), terminal));
        if (command == QLatin1String("resample"))
            return exitCode(
                resampleCommand(Arguments(args, {QStringLiteral("--adpcm")},
                                          {QStringLiteral("--rate"), QStringLiteral("--channels"),
                                           QStringLiteral("--bits"), QStringLiteral("--quality")}),
                                terminal));
        if (command == QLatin1String("tag"))
            return tagCommand(
                Arguments(args, {QStringLiteral("--json")},
                          {QStringLiteral("--title"), QStringLiteral("--artist"), QStringLiteral("--album"),
                           QStringLiteral("--year"), QStringLiteral("--comment"), QStringLiteral("--track"),
                           QStringLiteral("--genre"), QStringLiteral("--album-artist")}),
                terminal);
        if (command == QLatin1String("cddb"))
            return cddbCommand(
                Arguments(args, {QStringLiteral("--json")},
                          {QStringLiteral("-d"), QStringLiteral("--server"), QStringLiteral("--route")}),
                terminal);
        if (command == QLatin1String("lookup"))
            return lookupCommand(
                Arguments(args, {QStringLiteral("--json")},
                          {QStringLiteral("-d"), QStringLiteral("--source"), QStringLiteral("--server")}),
                terminal);
        if (command == QLatin1String("play"))
            return exitCode(playCommand(Arguments(args, {}, {QStringLiteral("--device")}), terminal));
        if (command == QLatin1String("record"))
            return exitCode(recordCommand(Arguments(args, overwrite,
                                                    {QStringLiteral("--seconds"), QStringLiteral("--rate"),
                                                     QStringLiteral("--channels"), QStringLiteral("--bits"),
                                                     QStringLiteral("--device")}),
                                          terminal));
        if (command == QLatin1String("playlist"))
            return playlistCommand(
                Arguments(args, overwrite + QSet<QString>{QStringLiteral("--relative")}, {}), terminal);
        throw UsageError{QStringLiteral("unknown command ") + command};
    } catch (const UsageError &error) {
        std::fprintf(stderr,
                     "sondrel-cli: %s\nusage: sondrel-cli COMMAND [OPTIONS]; sondrel-cli --help lists them\n",
                     error.text.toLocal8Bit().constData());
        return 2;
    } catch (const std::exception &error) {
        terminal.Failure(QString::fromLocal8Bit(error.what()));
        return 1;
    }
}
