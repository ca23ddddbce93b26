// SPDX-License-Identifier: GPL-3.0-or-later
#include "command.h"

#include "audio/auoutput.h"
#include "cddb/cddbinfo.h"
#include "cdrom/cddrivelist.h"
#include "cdrom/discidentity.h"
#include "cdrom/discmodel.h"
#include "shell/helpers.h"
#include "shell/outputformats.h"
#include "shell/settings.h"
#include "shell/termination.h"
#include "shell/trace.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

QString bare(const QString &name)
{
    qsizetype dashes = 0;
    while (dashes < name.size() && name[dashes] == QLatin1Char('-'))
        ++dashes;
    return name.mid(dashes);
}

std::function<void()> stopRunningWork;

} // namespace

bool Interrupted = false;

QStringList GlobalOptions()
{
    return {QStringLiteral("--quiet"), QStringLiteral("-v"),     QStringLiteral("--verbose"),
            QStringLiteral("-vv"),     QStringLiteral("--help"), QStringLiteral("-h")};
}

TArguments::TArguments(const QStringList &args, const QStringList &flags, const QStringList &valued)
{
    // "-d" and "--offset" alike are names, never bundles of one-letter options.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QString &name : flags + GlobalOptions()) {
        m_parser.addOption(QCommandLineOption(bare(name)));
        m_known << bare(name);
    }
    for (const QString &name : valued) {
        m_parser.addOption(QCommandLineOption(bare(name), QString(), QStringLiteral("value")));
        m_known << bare(name);
    }
    if (m_parser.parse(QStringList{QStringLiteral("sondrel-cli")} + args)) {
        m_rest = m_parser.positionalArguments();
        return;
    }
    // The option as it was typed.
    const auto typed = [&args](const QString &name) {
        for (const QString &a : args)
            if (a.startsWith(QLatin1Char('-')) && bare(a).section(QLatin1Char('='), 0, 0) == name)
                return a.section(QLatin1Char('='), 0, 0);
        return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    };
    if (const QStringList unknown = m_parser.unknownOptionNames(); !unknown.isEmpty())
        throw UsageError{QStringLiteral("unknown option ") + typed(unknown.first())};
    // The other mistake the parser finds: an option that takes a value is the last argument.
    if (!args.isEmpty() && m_known.contains(bare(args.last())))
        throw UsageError{args.last() + QStringLiteral(" needs a value")};
    throw UsageError{m_parser.errorText()};
}

bool TArguments::flag(const QString &name) const
{
    return m_known.contains(bare(name)) && m_parser.isSet(bare(name));
}

std::optional<QString> TArguments::value(const QString &name) const
{
    if (!m_known.contains(bare(name)) || !m_parser.isSet(bare(name)))
        return std::nullopt;
    return m_parser.value(bare(name));
}

QStringList TArguments::values(const QString &name) const
{
    return m_known.contains(bare(name)) ? m_parser.values(bare(name)) : QStringList();
}

int TArguments::count(const QString &name) const
{
    return int(m_parser.optionNames().count(bare(name)));
}

int TArguments::number(const QString &name, int fallback, int low, int high) const
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

int DriveIndexOf(const TArguments &args)
{
    const auto given = args.value("-d");
    if (!given)
        return 0;
    bool isNumber = false;
    given->toInt(&isNumber);
    if (isNumber)
        return args.number("-d", 0, 0, 99);
    const QFileInfo info(*given);
    if (!info.exists())
        throw UsageError{QStringLiteral("-d takes a drive number, a device or a disc image; ") + *given +
                         QStringLiteral(" does not exist")};
    const auto find = [&info] {
        const QList<CdDriveEntry> drives = CdDriveList();
        for (int i = 0; i < drives.size(); ++i)
            if (QFileInfo(drives[i].path).canonicalFilePath() == info.canonicalFilePath())
                return i;
        return -1;
    };
    int index = find();
    if (index < 0 && info.isFile()) {
        AddCdImage(info.absoluteFilePath());
        index = find();
    }
    if (index < 0)
        throw UsageError{*given + QStringLiteral(": not a CD drive or disc image")};
    return index;
}

std::optional<bool> ReplayGainChoice(const TArguments &args)
{
    if (args.flag("--replaygain") && args.flag("--no-replaygain"))
        throw UsageError{QStringLiteral("--replaygain and --no-replaygain exclude each other")};
    if (args.flag("--replaygain") || args.flag("--no-replaygain"))
        return args.flag("--replaygain");
    return std::nullopt;
}

QList<TOptionSpec> EncoderQualityOptions()
{
    QList<TOptionSpec> options{{QStringLiteral("--mp3-bitrate"), QStringLiteral("N"), QStringLiteral("mp3")},
                               {QStringLiteral("--mp3-vbr"), QStringLiteral("Q"), QStringLiteral("mp3")},
                               {QStringLiteral("--ogg-quality"), QStringLiteral("Q")}};
    for (const TOutputFormatInfo &format : OutputFormats())
        if (format.Setting)
            options.append({QLatin1String(format.Setting->Option), QStringLiteral("N")});
    return options +
           QList<TOptionSpec>{{QStringLiteral("--replaygain"), {}, QStringLiteral("replaygain")},
                              {QStringLiteral("--no-replaygain"), {}, QStringLiteral("replaygain")}};
}

namespace {

// Words wrapped into lines of at most `width` characters.
QString wrapped(const QString &text, qsizetype width)
{
    QStringList lines{QString()};
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!lines.last().isEmpty() && lines.last().size() + 1 + word.size() > width)
            lines.append(QString());
        lines.last() += (lines.last().isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace

QList<TCommandForm> EncoderQualityForms()
{
    QStringList names{QStringLiteral("--mp3-bitrate"), QStringLiteral("--mp3-vbr"),
                      QStringLiteral("--ogg-quality")};
    QStringList about{QStringLiteral("the encoders' quality for this run: MP3 at N kbit/s or variable at Q "
                                     "(0 best to 9), Ogg Vorbis quality -1 to 10")};
    for (const TOutputFormatInfo &format : OutputFormats())
        if (format.Setting) {
            names << QLatin1String(format.Setting->Option);
            about << QLatin1String(format.Setting->About);
        }
    return {{{}, names, wrapped(about.join(QStringLiteral(", ")), 70), true},
            {{},
             {QStringLiteral("--replaygain"), QStringLiteral("--no-replaygain")},
             QStringLiteral("ReplayGain values in the files made (the setting decides without\n"
                            "them: on for the formats that carry them); the files of one run, or\n"
                            "of one folder, are the album"),
             true}};
}

namespace {

constexpr qsizetype HelpWidth = 108;

// "[-d N|PATH]", "[--overwrite|--no-overwrite]", "[--title N=T]...": one bracket for an option or its group.
QStringList bracketsOf(const QStringList &names, const QList<TOptionSpec> &options)
{
    const auto spec = [&options](const QString &name) {
        const auto it = std::find_if(options.begin(), options.end(),
                                     [&name](const TOptionSpec &o) { return o.Name == name; });
        if (it == options.end())
            qFatal("an option in a form that is not declared: %s", qPrintable(name));
        return *it;
    };
    QStringList brackets;
    QStringList groupsShown;
    for (const QString &name : names) {
        const TOptionSpec option = spec(name);
        if (!option.Group.isEmpty() && groupsShown.contains(option.Group))
            continue;
        QStringList members;
        for (const QString &other : names) {
            const TOptionSpec o = spec(other);
            if (other == name || (!option.Group.isEmpty() && o.Group == option.Group))
                members << (o.Value.isEmpty() ? o.Name : o.Name + QLatin1Char(' ') + o.Value);
        }
        groupsShown << option.Group;
        brackets << QLatin1Char('[') + members.join(QLatin1Char('|')) + QLatin1Char(']') +
                        (option.Repeatable ? QStringLiteral("...") : QString());
    }
    return brackets;
}

} // namespace

QString TCommand::Help() const
{
    const QString formIndent(11, QLatin1Char(' '));
    const QString aboutIndent(33, QLatin1Char(' '));
    QString text;
    const QList<TOptionSpec> options = Options();
    for (const TCommandForm &form : Forms()) {
        QString line = form.Continued ? formIndent : QStringLiteral("  ") + Name().leftJustified(9);
        QStringList parts = form.Words.isEmpty() ? QStringList() : QStringList{form.Words};
        parts += bracketsOf(form.Options, options);
        bool first = true;
        for (const QString &part : parts) {
            if (!first && line.size() + 1 + part.size() > HelpWidth) {
                text += line + QLatin1Char('\n');
                line = formIndent;
                first = true;
            }
            line += (first ? QString() : QStringLiteral(" ")) + part;
            first = false;
        }
        text += line + QLatin1Char('\n');
        for (const QString &about : form.About.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            text += aboutIndent + about + QLatin1Char('\n');
    }
    return text;
}

QStringList TCommand::Flags() const
{
    QStringList names;
    for (const TOptionSpec &option : Options())
        if (option.Value.isEmpty())
            names << option.Name;
    return names;
}

QStringList TCommand::Valued() const
{
    QStringList names;
    for (const TOptionSpec &option : Options())
        if (!option.Value.isEmpty())
            names << option.Name;
    return names;
}

void ApplyEncoderQuality(const TArguments &args, TOptionsSetting &settings)
{
    if (args.value("--mp3-bitrate") && args.value("--mp3-vbr"))
        throw UsageError{QStringLiteral("--mp3-bitrate and --mp3-vbr exclude each other")};
    if (const auto rate = args.value("--mp3-bitrate")) {
        static const QList<int> rates = {8,  16,  24,  32,  40,  48,  56,  64, 80,
                                         96, 112, 128, 160, 192, 224, 256, 320};
        if (!rates.contains(rate->toInt()))
            throw UsageError{
                QStringLiteral("--mp3-bitrate takes one of the MP3 bit rates (8 to 320 kbit/s)")};
        settings.Mp3Options.IsSelectVBR = false;
        settings.Mp3Options.BitRate = rate->toInt();
    }
    if (args.value("--mp3-vbr")) {
        settings.Mp3Options.IsSelectVBR = true;
        settings.Mp3Options.VBRQuality = args.number("--mp3-vbr", 4, 0, 9);
    }
    if (const auto quality = args.value("--ogg-quality")) {
        bool ok = false;
        const double q = quality->toDouble(&ok);
        if (!ok || q < -1 || q > 10)
            throw UsageError{QStringLiteral("--ogg-quality takes a number from -1 to 10")};
        settings.OggOptions.IsUseCompress = true;
        settings.OggOptions.CompressPosition = int(std::lround(q * 10)) + 10;
    }
    for (const TOutputFormatInfo &format : OutputFormats())
        if (const TFormatSetting *setting = format.Setting)
            setting->Value(settings) =
                args.number(setting->Option, setting->Value(settings), setting->Min, setting->Max);
}

TStopOnInterrupt::TStopOnInterrupt(std::function<void()> stop)
{
    stopRunningWork = std::move(stop);
}

TStopOnInterrupt::~TStopOnInterrupt()
{
    stopRunningWork = nullptr;
}

void WatchInterrupts(QObject *context)
{
    // The handler only notes the signal; the running work is stopped the normal way (so nothing
    // half-written is left under a final name) and the tool exits with 130.
    OnTerminationSignal(context, [] {
        Interrupted = true;
        if (stopRunningWork)
            stopRunningWork();
    });
}

void PrintLine(const QString &text)
{
    WriteOut(text.toLocal8Bit() + '\n');
}

void PrintJson(const QJsonValue &value)
{
    const QByteArray text = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Indented)
                                            : QJsonDocument(value.toObject()).toJson(QJsonDocument::Indented);
    WriteOut(text, true);
}

TDriveHandle OpenDrive(int index, TTerminal &terminal)
{
    TCDList list;
    std::memset(&list, 0, sizeof list);
    list.max = 8;
    const int count = GetCDList(&list);
    if (count == 0) {
        terminal.Failure(QStringLiteral("no CD drives or disc images found"));
        return {};
    }
    if (index < 0 || index >= count) {
        terminal.Failure(QStringLiteral("there is no drive %1 (%2 found)").arg(index).arg(count));
        return {};
    }
    TCdError error;
    TDriveHandle handle(OpenCDHandle(list.cd[index], &error));
    if (!handle)
        terminal.Failure(QStringLiteral("cannot open drive %1: %2").arg(index).arg(error.text));
    else
        Trace(1, QStringLiteral("drive %1 opened: %2").arg(index).arg(CdHandlePath(handle.get())));
    return handle;
}

TDriveHandle OpenDriveWithToc(int index, TToc &toc, TTerminal &terminal)
{
    TDriveHandle handle = OpenDrive(index, terminal);
    if (!handle)
        return handle;
    std::memset(&toc, 0, sizeof toc);
    TCdError error;
    if (ModifyCDParms(handle.get(), CDP_MSF, 1, &error) == 0 || ReadTOC(handle.get(), &toc, &error) != 1) {
        terminal.Failure(QStringLiteral("cannot read the table of contents: ") + error.text);
        return {};
    }
    Trace(1, QStringLiteral("%1: tracks %2 to %3, lead-out at sector %4")
                 .arg(CdHandlePath(handle.get()))
                 .arg(toc.firstTrack)
                 .arg(toc.lastTrack)
                 .arg(TocSector(toc, toc.lastTrack - toc.firstTrack + 1)));
    return handle;
}

int TocSector(const TToc &toc, int entry)
{
    return TocEntryFrames(toc.tracks[entry]) - 150;
}

void ApplyOverwrite(const TArguments &args, TTerminal &terminal)
{
    if (args.flag("--overwrite") && args.flag("--no-overwrite"))
        throw UsageError{QStringLiteral("--overwrite and --no-overwrite exclude each other")};
    if (args.flag("--overwrite"))
        terminal.OverwriteAnswer = TTerminal::Overwrite::Yes;
    else if (args.flag("--no-overwrite"))
        terminal.OverwriteAnswer = TTerminal::Overwrite::No;
}

bool EnsureOutputFolder(const QString &folder, TTerminal &terminal)
{
    if (folder.isEmpty()) {
        terminal.Failure(QStringLiteral("no output folder: give -o DIR or set one in the program's options"));
        return false;
    }
    QString error;
    if (!MakeFolder(folder, &error)) {
        terminal.Failure(error);
        return false;
    }
    return true;
}

bool RunSink(TAuOutput &out, const QString &label, const QString &what, TTerminal &terminal)
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
    {
        const TStopOnInterrupt stop([&] {
            stopped = true;
            out.Stop(false);
            done = true;
        });
        out.Run();
        QEventLoop loop;
        while (!done)
            loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    terminal.EndBar();
    return stopped;
}
