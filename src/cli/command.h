// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cddb/titlelookup.h"
#include "cdrom/cdaccess.h"
#include "jobs/ripservice.h"
#include "terminal.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QSet>
#include <QStringList>
#include <functional>
#include <optional>

class QJsonValue;
class TAuOutput;
class TDiscModel;
struct TToc;

// A mistake in the command line: told with the short usage line, exit status 2.
struct UsageError {
    QString text;
};

// The arguments after the command: its options, with or without a value ("-d", "--offset"; a value may
// begin with a dash, as a negative offset does), and the rest in order.
struct TOptionsSetting;

class TArguments {
public:
    TArguments(const QStringList &args, const QStringList &flags, const QStringList &valued);
    bool flag(const QString &name) const;
    std::optional<QString> value(const QString &name) const;
    // How often a flag was given (-v -v).
    int count(const QString &name) const;
    // Every value of an option given more than once, in order.
    QStringList values(const QString &name) const;
    // The option's value as a whole number from low to high; fallback when it is not given.
    int number(const QString &name, int fallback, int low, int high) const;
    const QStringList &rest() const { return m_rest; }

private:
    QCommandLineParser m_parser;
    QSet<QString> m_known;
    QStringList m_rest;
};

// The options every command takes, declared with each command's own: --quiet, -v/--verbose, -vv, --help/-h.
// They are options only where an option may stand, never another option's value (--title -v).
QStringList GlobalOptions();

// The drive -d names: a number of the drive list, or a device or disc image path (an image outside the disc
// images folder joins the list); 0 without -d. A usage error for anything else.
int DriveIndexOf(const TArguments &args);

// One option of a command as it is declared once: its name as typed ("-d", "--offset"), the name of its
// value in the help (empty for a flag), the group of options it is one of (shown together, "[--a|--b]"), and
// whether it may be given more than once ("[--title N=T]...").
struct TOptionSpec {
    QString Name;
    QString Value = {};
    QString Group = {};
    bool Repeatable = false;
};

// One form of a command in its help: the words after the command's name (an action, the files), the names
// of the options this form takes in the order shown, and what it does (lines of its own). A continued form
// adds options to the one before.
struct TCommandForm {
    QString Words;
    QStringList Options;
    QString About;
    bool Continued = false;
};

// The encoders' quality options of rip and convert, and what they set in a run's settings (options.ini stays
// as it is): --mp3-bitrate N (constant bit rate, kbit/s), --mp3-vbr Q (0 best to 9), --ogg-quality Q (-1 to
// 10, as oggenc -q), --flac-level N (0 to 8), and the other writers' bit rates (kbit/s); --replaygain and
// --no-replaygain.
QList<TOptionSpec> EncoderQualityOptions();
QList<TCommandForm> EncoderQualityForms();
void ApplyEncoderQuality(const TArguments &args, TOptionsSetting &settings);
// --replaygain (true) or --no-replaygain (false), when one is given.
std::optional<bool> ReplayGainChoice(const TArguments &args);

// One command of the tool: its name, its options and forms (from which its part of the help text is made),
// and what it does.
class TCommand {
public:
    virtual ~TCommand() = default;
    virtual QString Name() const = 0;
    virtual QList<TOptionSpec> Options() const { return {}; }
    virtual QList<TCommandForm> Forms() const = 0;
    // A command that Ctrl-C or SIGTERM stops the normal way; the tool then exits with 130.
    virtual bool Interruptible() const { return false; }
    virtual int Run(const TArguments &args, TTerminal &terminal) = 0;

    // Its lines of the help text: each form, its options from their declarations, then what it does.
    QString Help() const;
    // The names of its options without and with a value.
    QStringList Flags() const;
    QStringList Valued() const;
};

// Ctrl-C and SIGTERM: whether one came, and what stops the work running now (set while it runs).
extern bool Interrupted;
class TStopOnInterrupt {
public:
    explicit TStopOnInterrupt(std::function<void()> stop);
    ~TStopOnInterrupt();
    TStopOnInterrupt(const TStopOnInterrupt &) = delete;
    TStopOnInterrupt &operator=(const TStopOnInterrupt &) = delete;
};
// Makes Ctrl-C and SIGTERM stop the running work (see TStopOnInterrupt).
void WatchInterrupts(QObject *context);

// One line on standard output.
void PrintLine(const QString &text);
// Machine-readable answers (--json): one document on standard output, UTF-8.
void PrintJson(const QJsonValue &value);

// Drive N's handle; none (the reason told) when there is no such drive or it cannot be opened.
TDriveHandle OpenDrive(int index, TTerminal &terminal);
// Drive N's handle with its table of contents read; none (the reason told) when either fails.
TDriveHandle OpenDriveWithToc(int index, TToc &toc, TTerminal &terminal);
// The first sector of a table of contents' entry (the lead-out is the entry after the last track).
int TocSector(const TToc &toc, int entry);
// What a lookup says, on the terminal.
class TTerminalLookupView final : public TLookupView {
public:
    explicit TTerminalLookupView(TTerminal &terminal) : m_terminal(terminal) {}
    void Step(const QString &text) override { m_terminal.Line(text); }
    void Failure(const QString &text) override { m_terminal.Failure(text); }
    void Notice(const QString &text) override { m_terminal.Notice(text); }

private:
    TTerminal &m_terminal;
};

// --overwrite and --no-overwrite answer the question about a file that is there already.
void ApplyOverwrite(const TArguments &args, TTerminal &terminal);
// The output folder, made when missing; false (told) when there is none or it cannot be made.
bool EnsureOutputFolder(const QString &folder, TTerminal &terminal);

// Runs a job to its end, Ctrl-C stopping it; the presenter says when it is finished.
template <typename Job, typename Presenter> void RunJob(Job &job, const Presenter &presenter)
{
    const TStopOnInterrupt stop([&job] { job.Stop(); });
    job.Start();
    QEventLoop loop;
    while (!presenter.Finished)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    job.CleanUp();
}

// A rip's front end on the terminal: each job presented on it and run to its end (Ctrl-C stopping it), its
// questions answered as --overwrite says; the files made and the verdicts gathered in the outcome.
class TTerminalFrontEnd final : public TRipFrontEnd {
public:
    TTerminalFrontEnd(TTerminal &terminal, TRipOutcome &outcome)
        : m_terminal(terminal), m_prompt(terminal), m_outcome(outcome)
    {
    }
    bool Question(const QString &caption, const QString &text) override
    {
        return m_prompt.Question(caption, text);
    }
    void Information(const QString &caption, const QString &text) override
    {
        m_prompt.Information(caption, text);
    }
    TJobEnd RunJob(const MakeJob &make) override
    {
        return run([&make](TTerminalJobPresenter &presenter, TExtractView &) { return make(presenter); });
    }
    // Both read paths show their stages as the job window words them.
    TJobEnd RunExtraction(const TReadSource &, const MakeExtraction &make) override
    {
        return run([&make](TTerminalJobPresenter &, TExtractView &view) { return make(view); });
    }
    void Failure(const QString &text) override { m_terminal.Failure(text); }
    void Notice(const QString &text) override { m_terminal.Notice(text); }

private:
    template <typename Make> TJobEnd run(const Make &make)
    {
        TTerminalJobPresenter presenter(m_terminal);
        TExtractOnJobPresenter view(presenter);
        presenter.Outcome.Json = m_outcome.Json;
        const auto job = make(presenter, view);
        ::RunJob(*job, presenter);
        m_outcome.Made += presenter.Outcome.Made;
        if (presenter.Outcome.Reported) {
            m_outcome.Reported = true;
            m_outcome.Session = presenter.Outcome.Session;
        }
        return {presenter.Result, presenter.Outcome.Made};
    }
    TTerminal &m_terminal;
    TTerminalPrompt m_prompt;
    TRipOutcome &m_outcome;
};

// Runs a sink to its end on the terminal: a bar of its progress, a failure named after `what`, and Ctrl-C
// or SIGTERM stopping it. True when it was stopped so.
bool RunSink(TAuOutput &out, const QString &label, const QString &what, TTerminal &terminal);
