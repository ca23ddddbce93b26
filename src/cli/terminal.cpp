// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal.h"

#include "jobs/ripreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

// Asked once: what the streams are does not change while the tool runs, and the question is a system call.
bool TTerminal::StderrIsTerminal()
{
    static const bool terminal = isatty(STDERR_FILENO) != 0;
    return terminal;
}

bool TTerminal::StdinIsTerminal()
{
    static const bool terminal = isatty(STDIN_FILENO) != 0;
    return terminal;
}

void TTerminal::Line(const QString &text) const
{
    if (Quiet)
        return;
    EndBar();
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

void TTerminal::Failure(const QString &text)
{
    ++Failures;
    EndBar();
    std::fprintf(stderr, "sondrel-cli: %s\n", text.toLocal8Bit().constData());
}

void TTerminal::Notice(const QString &text) const
{
    EndBar();
    std::fprintf(stderr, "sondrel-cli: %s\n", text.toLocal8Bit().constData());
}

namespace {

int outputError = 0; // the first failed write's errno

} // namespace

void WriteOut(const QByteArray &bytes, bool flush)
{
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
        (flush && std::fflush(stdout) != 0)) {
        if (outputError == 0)
            outputError = errno != 0 ? errno : EIO;
    }
}

QString OutputFailure()
{
    if (std::fflush(stdout) != 0 && outputError == 0)
        outputError = errno != 0 ? errno : EIO;
    if (outputError == 0 && std::ferror(stdout))
        outputError = EIO;
    return outputError == 0
               ? QString()
               : QStringLiteral("standard output: ") + QString::fromLocal8Bit(std::strerror(outputError));
}

void TTerminal::Result(const QString &text) const
{
    EndBar();
    WriteOut(text.toLocal8Bit() + '\n', true);
}

void TRipOutcome::FileMade(const TTerminal &terminal, const QString &path)
{
    Made << path;
    if (!Json)
        terminal.Result(path);
}

void TRipOutcome::Verification(const TTerminal &terminal, const TRipSession &session)
{
    Reported = true;
    Session = session;
    terminal.EndBar();
    for (const QString &line : VerificationLines(session))
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

bool TRipOutcome::Inaccurate() const
{
    return Reported && std::any_of(Session.Tracks.begin(), Session.Tracks.end(),
                                   [](const TTrackRip &t) { return t.InDatabase && !t.Accurate; });
}

bool TRipOutcome::AllVerified() const
{
    return Reported && Session.Verify &&
           std::all_of(Session.Tracks.begin(), Session.Tracks.end(),
                       [](const TTrackRip &t) { return !t.Failed() && (t.Accurate || t.Hidden()); });
}

QByteArray TRipOutcome::JsonDocument(int exitCode) const
{
    QJsonArray tracks;
    for (const TTrackRip &t : Session.Tracks) {
        QJsonObject track{
            {QStringLiteral("track"), t.Track},
            {QStringLiteral("file"), t.File},
            {QStringLiteral("result"), TrackResultWord(Session, t)},
            {QStringLiteral("title"), t.Title},
            {QStringLiteral("read"), t.Read},
            {QStringLiteral("copy_crc"), QStringLiteral("%1").arg(t.CopyCrc, 8, 16, QLatin1Char('0'))}};
        if (t.Tested)
            track.insert(QStringLiteral("test_crc"),
                         QStringLiteral("%1").arg(t.TestCrc, 8, 16, QLatin1Char('0')));
        if (t.Read)
            track.insert(QStringLiteral("accuraterip_v1v2"),
                         QJsonArray{QStringLiteral("%1").arg(t.Sums.V1, 8, 16, QLatin1Char('0')),
                                    QStringLiteral("%1").arg(t.Sums.V2, 8, 16, QLatin1Char('0'))});
        if (!t.Isrc.isEmpty())
            track.insert(QStringLiteral("isrc"), t.Isrc);
        if (!t.AccurateRip.isEmpty())
            track.insert(QStringLiteral("accuraterip"), t.AccurateRip);
        if (!t.Ctdb.isEmpty())
            track.insert(QStringLiteral("ctdb"), t.Ctdb);
        tracks << track;
    }
    QJsonObject document{{QStringLiteral("files"), QJsonArray::fromStringList(Made)},
                         {QStringLiteral("exit_status"), exitCode}};
    if (!Disc.isEmpty())
        document.insert(QStringLiteral("disc"), Disc);
    if (Reported) {
        document.insert(QStringLiteral("tracks"), tracks);
        document.insert(QStringLiteral("summary"), RipSummary(Session));
        if (!Session.VerifyError.isEmpty())
            document.insert(QStringLiteral("accuraterip_error"), Session.VerifyError);
    }
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

void TTerminal::Bar(const QString &label, int percent, const QString &elapsed, const QString &estimated,
                    const QString &after) const
{
    if (Quiet)
        return;
    percent = std::clamp(percent, 0, 100);
    const int width = 30;
    const int filled = percent * width / 100;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('-'));
    QString text = QStringLiteral("\r%1 [%2] %3%").arg(label.left(40), bar).arg(percent, 3);
    if (!elapsed.isEmpty())
        text += QStringLiteral("  elapsed ") + elapsed;
    if (!estimated.isEmpty())
        text += QStringLiteral("  estimated ") + estimated;
    text += after;
    std::fprintf(stderr, "%s\033[K", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void TTerminal::EndBar() const
{
    if (StderrIsTerminal() && !Quiet)
        std::fprintf(stderr, "\r\033[K");
}

bool TTerminalPrompt::Question(const QString &, const QString &text)
{
    switch (m_terminal.OverwriteAnswer) {
    case TTerminal::Overwrite::Yes:
        return true;
    case TTerminal::Overwrite::No:
        return false;
    case TTerminal::Overwrite::Ask:
        break;
    }
    if (!TTerminal::StdinIsTerminal())
        return false;
    m_terminal.EndBar();
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::fprintf(stderr, "%s [y/N] ", plain.toLocal8Bit().constData());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void TTerminalPrompt::Information(const QString &, const QString &text)
{
    // The engine's notices are things that went wrong (a missing encoder): they count as failures.
    m_terminal.Failure(text);
}

void TTerminalJobPresenter::SetCaption(const QString &text)
{
    if (text == m_caption)
        return;
    m_caption = text;
    if (!TTerminal::StderrIsTerminal())
        m_terminal.Line(text);
}

void TTerminalJobPresenter::SetStage(const QString &text)
{
    m_stage = text;
}

QString TTerminalEncodings::Text() const
{
    QStringList parts;
    for (const Encoding &e : m_encodings) {
        const QString number = e.caption.section(QLatin1Char(')'), 0, 0).section(QLatin1Char('('), 1);
        parts << QStringLiteral("%1 %2%").arg(number).arg(std::max(e.percent, 0));
    }
    return parts.isEmpty() ? QString() : QStringLiteral("  encoding ") + parts.join(QStringLiteral(", "));
}

void TTerminalEncodings::Set(int slot, const QString &caption, int percent)
{
    Encoding &e = m_encodings[slot];
    if (!TTerminal::StderrIsTerminal()) {
        // The caption names the encoding and its step: a new one is a line, as are its quarters.
        if (caption != e.caption)
            m_terminal.Line(caption);
        else if (percent / 25 != e.percent / 25 && percent > e.percent)
            m_terminal.Line(QStringLiteral("%1: %2%").arg(caption).arg(percent));
    }
    e = {caption, percent};
}

void TTerminalJobPresenter::redraw()
{
    if (TTerminal::StderrIsTerminal() && !Finished)
        m_terminal.Bar(m_caption, std::max(m_lastPercent, 0), m_elapsed, m_estimated, m_encodings.Text());
}

void TTerminalJobPresenter::SetGauge(int percent, bool)
{
    if (TTerminal::StderrIsTerminal()) {
        m_terminal.Bar(m_caption, percent, m_elapsed, m_estimated, m_encodings.Text());
    } else if ((percent / 25 != m_lastPercent / 25 || percent == 100) && !m_caption.isEmpty()) {
        if (percent != m_lastPercent) // (no line for a job that ended before its first item began)
            m_terminal.Line(QStringLiteral("%1: %2%").arg(m_caption).arg(percent));
    }
    m_lastPercent = percent;
}
