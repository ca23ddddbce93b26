// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

// One child program with its standard output and error as pipes (standard input is /dev/null), started with
// posix_spawn from an argument vector that is passed as it is: every element is one argument, whatever
// characters it holds, and nothing is split or interpreted by a shell.
//
// Everything happens on the thread that owns the object (the user-interface thread): output is read when
// the pipes signal it, cut into lines (CR, LF or CR LF; a partial last line waits for the rest) and handed
// to OnLines; the end of the child is seen through its pidfd. No thread of its own, no polling. Destroying
// the object kills a child that still runs and reaps it.
class TChildProcess final : public QObject {
    Q_OBJECT
public:
    enum Stream { StandardOutput = 1, StandardError = 2 };

    explicit TChildProcess(QObject *parent = nullptr);
    ~TChildProcess() override;

    // Starts the program (a path). Returns 0, or the system's error number when it could not be started
    // (the failing step is then in FailedStep). Only one child per object.
    int Start(const QString &program, const QStringList &arguments);
    // Ends the child at once (SIGKILL); no OnFinished follows.
    void Kill();
    bool IsRunning() const;

    // Complete lines of one read (blank lines included), in order.
    std::function<void(Stream stream, const QStringList &lines)> OnLines;
    // The child has ended and everything it wrote was handed to OnLines first. exitCode is the exit status,
    // or -1 when a signal ended it (signal holds its number, else 0).
    std::function<void(int exitCode, int signal)> OnFinished;

    QString FailedStep; // "pipe", "spawn" after a failed Start
    // After a read, the pipes rest this long before the next one (0: read at every wake-up). A child that
    // writes a line per frame (lame decoding) then pays for a wake-up of this program once per batch instead
    // of once per line; its pipes hold 1 MiB, so it never waits for us. The child's end is seen at once
    // either way, and everything still in the pipes is read then.
    int BatchMilliseconds = 0;
    // The last non-blank line the child wrote to standard error (to standard output when it wrote nothing
    // there), for failure messages.
    QString LastErrorLine() const;

private:
    struct Pipe {
        int fd = -1;
        QSocketNotifier *notifier = nullptr;
        QByteArray partial; // bytes after the last line end
        QString lastLine;
    };
    void readPipe(Pipe &pipe, Stream stream, bool final);
    void closePipe(Pipe &pipe);
    void childEnded();
    void release();

    pid_t m_pid = -1;
    int m_pidfd = -1;
    QSocketNotifier *m_exitNotifier = nullptr;
    QTimer *m_batchTimer = nullptr;
    Pipe m_out, m_err;
    bool m_reaped = true;
    uint64_t m_generation =
        0; // moves on with every start, kill and end: a handler's call ends the old one's work
};

// A path as one argument of a child program: one that begins with a dash gets "./" before it, so that no
// program takes it for an option.
QString PathArgument(const QString &path);

// "lame" ended with exit status 1, "lame" was killed by signal 9 (Killed): a failure's cause in words.
QString ChildEndText(const QString &program, int exitCode, int signal);
