// SPDX-License-Identifier: GPL-3.0-or-later
// sondrel-cli: the engine of Sondrel from the command line. No windows: the jobs run with a terminal
// presenter, so a rip here does what the same rip does in the window. Each command is a class of its own
// (commands/); this file finds the one asked for and runs it.

#include "commands/commands.h"
#include "shell/settings.h"
#include "shell/trace.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>

namespace {

const char *const ShortUsage = "usage: sondrel-cli COMMAND [OPTIONS]; sondrel-cli --help lists them\n";
const char *const Notes =
    "--overwrite and --no-overwrite answer the question about a file that is there already (default: ask\n"
    "on a terminal, keep otherwise).\n"
    "Every command takes --quiet (no progress on standard error) and -v or --verbose (each step on standard\n"
    "error: drives opened, requests and their answers; -vv also the encoders' command lines). Settings come\n"
    "from options.ini, which only offset find writes (the drive's offset); the options above change them for\n"
    "this run only.\n"
    "Exit status: 0 success, 1 a file or track failed, 2 a usage error, 130 interrupted.\n";

QString usage()
{
    QString text = QStringLiteral("usage: sondrel-cli COMMAND [OPTIONS]\n\n");
    for (const auto &command : AllCommands())
        text += command->Help();
    return text + QStringLiteral("  --help | --version\n\n") + QString::fromUtf8(Notes);
}

TCommand *findCommand(const QString &name)
{
    for (const auto &command : AllCommands())
        if (command->Name() == name)
            return command.get();
    return nullptr;
}

void print(FILE *stream, const QString &text)
{
    if (stream == stdout)
        WriteOut(text.toLocal8Bit());
    else
        std::fputs(text.toLocal8Bit().constData(), stream);
}

int run(int argc, char **argv);

} // namespace

// What was printed must have arrived: a full disk or a closed file behind standard output fails the run, as
// it does the standard tools.
int main(int argc, char **argv)
{
    int code = run(argc, argv);
    if (const QString failure = OutputFailure(); !failure.isEmpty()) {
        std::fprintf(stderr, "sondrel-cli: %s\n", failure.toLocal8Bit().constData());
        code = code == 0 ? 1 : code;
    }
    return code;
}

namespace {

int run(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sondrel-cli"));
    const QStringList words = QCoreApplication::arguments().mid(1);
    // The command is the first word that is not an option; only the options every command takes come before.
    const qsizetype at =
        std::find_if(words.begin(), words.end(),
                     [](const QString &word) { return !word.startsWith(QLatin1Char('-')); }) -
        words.begin();
    const QStringList leading = words.mid(0, at);
    if (leading.contains(QLatin1String("--help")) || leading.contains(QLatin1String("-h"))) {
        print(stdout, usage());
        return 0;
    }
    if (leading.contains(QLatin1String("--version"))) {
        PrintLine(QStringLiteral("sondrel-cli " SONDREL_VERSION "\n" SONDREL_LICENCE_TEXT));
        return 0;
    }
    if (at == words.size()) {
        std::fputs(ShortUsage, stderr);
        return 2;
    }
    const QString name = words.at(at);
    TTerminal terminal;
    try {
        TCommand *command = findCommand(name);
        if (!command) {
            if (words.contains(QLatin1String("--help")) || words.contains(QLatin1String("-h"))) {
                print(stderr,
                      QStringLiteral("sondrel-cli: unknown command ") + name + QLatin1Char('\n') + usage());
                return 2;
            }
            throw UsageError{QStringLiteral("unknown command ") + name};
        }
        const TArguments args(leading + words.mid(at + 1), command->Flags(), command->Valued());
        if (args.flag("--help") || args.flag("-h")) {
            print(stdout, QStringLiteral("usage: sondrel-cli ") + name + QStringLiteral(" [OPTIONS]\n\n") +
                              command->Help() + QLatin1Char('\n') + QString::fromUtf8(Notes));
            return 0;
        }
        terminal.Quiet = args.flag("--quiet");
        if (const int verbose = args.count("-v") + args.count("--verbose") + 2 * args.count("-vv");
            verbose > 0)
            SetTraceSink(verbose, [](const QString &line) {
                std::fputs(("sondrel-cli: " + line + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
            });
        LoadOptions();
        for (const QString &warning : OptionsWarnings())
            terminal.Notice(warning);
        WatchInterrupts(&app);
        const int code = command->Run(args, terminal);
        return command->Interruptible() && Interrupted ? 130 : code;
    } catch (const UsageError &error) {
        print(stderr, QStringLiteral("sondrel-cli: ") + error.text + QLatin1Char('\n'));
        std::fputs(ShortUsage, stderr);
        return 2;
    } catch (const std::exception &error) {
        terminal.Failure(QString::fromLocal8Bit(error.what()));
        return 1;
    }
}

} // namespace
