// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "jobs/ripjob.h"
#include "shell/userprompt.h"

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <cstdio>

// Writes to standard output (flushed when asked); a write that fails is remembered for OutputFailure().
void WriteOut(const QByteArray &bytes, bool flush = false);
// After the last output: why standard output did not take everything written to it (a full disk, a file
// closed behind it), or empty. Flushes what is still buffered.
QString OutputFailure();

// How the tool talks on the terminal: progress on standard error (a bar on a terminal, plain lines
// otherwise, nothing when quiet), and answers to the engine's questions from the options or the user.
struct TTerminal {
    enum class Overwrite { Ask, Yes, No };
    bool Quiet = false;
    Overwrite OverwriteAnswer = Overwrite::Ask;
    int Failures = 0;

    static bool StderrIsTerminal();
    static bool StdinIsTerminal();
    void Line(const QString &text) const;   // a progress line (not when quiet)
    void Failure(const QString &text);      // always shown; counts
    void Notice(const QString &text) const; // always shown; not a failure
    void Result(const QString &text) const; // a line of the command's answer, on standard output
    void Bar(const QString &label, int percent, const QString &elapsed, const QString &estimated,
             const QString &after = {}) const;
    void EndBar() const;
};

class TTerminalPrompt final : public TUserPrompt {
public:
    explicit TTerminalPrompt(TTerminal &terminal) : m_terminal(terminal) {}
    bool Question(const QString &caption, const QString &text) override;
    void Information(const QString &caption, const QString &text) override;

private:
    TTerminal &m_terminal;
};

// The encodings running beside a read, as the terminal shows them: in plain output a line when each starts
// and at each quarter; on a terminal nothing of their own, the read's bar ends with Text().
class TTerminalEncodings {
public:
    explicit TTerminalEncodings(const TTerminal &terminal) : m_terminal(terminal) {}
    void Set(int slot, const QString &caption, int percent);
    void End(int slot) { m_encodings.remove(slot); }
    QString Text() const; // "  encoding 02/12 40%, 03/12 5%", empty when none runs

private:
    struct Encoding {
        QString caption;
        int percent = -1;
    };
    const TTerminal &m_terminal;
    QMap<int, Encoding> m_encodings; // by slot
};

// What a rip made and how its tracks were judged, shared by both presenters: files are printed on standard
// output as they are made (or, for --json, kept for the one JSON document at the end); the verdicts go to
// standard error, one line a track.
struct TRipOutcome {
    bool Json = false;
    QStringList Made;
    bool Reported = false; // the tracks were verified or tested
    TRipSession Session;
    QJsonObject Disc; // the disc and where its titles came from, for --json
    void FileMade(const TTerminal &terminal, const QString &path);
    void Verification(const TTerminal &terminal, const TRipSession &session);
    // Every track read was verified by the database.
    bool AllVerified() const;
    // A track the database knows did not match.
    bool Inaccurate() const;
    // The JSON document of --json.
    QByteArray JsonDocument(int exitCode) const;
};

// What both job presenters do alike: failures, the end, the files made and the verdicts (TRipOutcome), and
// the encodings running beside the read, which the presenter's redraw() shows.
template <typename View> class TTerminalOutcomeView : public View {
public:
    explicit TTerminalOutcomeView(TTerminal &terminal) : m_terminal(terminal), m_encodings(terminal) {}
    void ShowError(const QString &text) override { m_terminal.Failure(text); }
    void ShowWarning(const QString &text) override { m_terminal.Notice(QStringLiteral("warning: ") + text); }
    void Finish(int result) override
    {
        m_terminal.EndBar();
        Finished = true;
        Result = result;
    }
    void ShowVerification(const TRipSession &session) override { Outcome.Verification(m_terminal, session); }
    void FileMade(const QString &path) override { Outcome.FileMade(m_terminal, path); }
    void FileKept(const QString &path) override
    {
        m_terminal.Notice(QStringLiteral("kept %1 (already there)").arg(path));
    }
    // Encodings running beside the read: a line when each starts and at each quarter (plain output), or
    // their percentages after the read's bar (a terminal).
    void SetEncoding(int slot, const QString &caption, int percent) override
    {
        m_encodings.Set(slot, caption, percent);
        redraw();
    }
    void EndEncoding(int slot) override
    {
        m_encodings.End(slot);
        redraw();
    }
    bool Finished = false;
    int Result = 0;
    TRipOutcome Outcome;

protected:
    virtual void redraw() = 0;
    TTerminal &m_terminal;
    TTerminalEncodings m_encodings;
    int m_lastPercent = -1;
};

// Presents a job (conversions; extractions through TExtractOnJobPresenter) on the terminal.
class TTerminalJobPresenter final : public TTerminalOutcomeView<TRipJobPresenter> {
public:
    using TTerminalOutcomeView::TTerminalOutcomeView;
    void SetCaption(const QString &text) override;
    void SetStage(const QString &text) override;
    void SetElapsed(const QString &text) override { m_elapsed = text; }
    void SetEstimated(const QString &text) override { m_estimated = text; }
    void SetInitializing(const QString &, bool) override {}
    void SetGauge(int percent, bool showText) override;

private:
    QString m_caption;
    QString m_stage;
    QString m_elapsed;
    QString m_estimated;
    void redraw() override;
};
