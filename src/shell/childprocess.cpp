// SPDX-License-Identifier: GPL-3.0-or-later
#include "childprocess.h"

#include "trace.h"

#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

int openPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

// Cuts complete lines off the front of bytes; what follows the last line end stays in bytes.
QStringList takeLines(QByteArray &bytes, bool all)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        lines << QString::fromUtf8(bytes.constData() + start, i - start);
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    bytes.remove(0, start);
    if (all && !bytes.isEmpty()) {
        lines << QString::fromUtf8(bytes);
        bytes.clear();
    }
    return lines;
}

} // namespace

TChildProcess::TChildProcess(QObject *parent) : QObject(parent), m_batchTimer(new QTimer(this))
{
    m_batchTimer->setSingleShot(true);
    connect(m_batchTimer, &QTimer::timeout, this, [this] {
        for (Pipe *p : {&m_out, &m_err}) {
            if (p->notifier)
                p->notifier->setEnabled(true);
        }
    });
}

TChildProcess::~TChildProcess()
{
    Kill();
}

bool TChildProcess::IsRunning() const
{
    return !m_reaped;
}

QString TChildProcess::LastErrorLine() const
{
    return m_err.lastLine.isEmpty() ? m_out.lastLine : m_err.lastLine;
}

namespace {

// -vv: the command line as a shell would take it back.
void traceCommand(const QString &program, const QStringList &arguments)
{
    if (!Tracing(2))
        return;
    QStringList shown{program};
    for (const QString &a : arguments)
        shown << (a.isEmpty() || a.contains(QRegularExpression(QStringLiteral("[^\\w@%+=:,./-]")))
                      ? QLatin1Char('\'') + QString(a).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
                            QLatin1Char('\'')
                      : a);
    Trace(2, QStringLiteral("run: ") + shown.join(QLatin1Char(' ')));
}

} // namespace

int TChildProcess::Start(const QString &program, const QStringList &arguments)
{
    Q_ASSERT(m_reaped);
    FailedStep.clear();
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        const int error = errno;
        for (int fd : {out[0], out[1], err[0], err[1]})
            if (fd >= 0)
                ::close(fd);
        FailedStep = QStringLiteral("pipe");
        return error;
    }

    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(program));
    for (const QString &a : arguments)
        storage.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    traceCommand(program, arguments);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    // The child starts with default signal handling whatever this program set up.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int error = program.isEmpty() ? ENOENT
                                        : posix_spawn(&pid, storage[0].constData(), &actions, &attributes,
                                                      argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    if (error != 0) {
        ::close(out[0]);
        ::close(err[0]);
        FailedStep = QStringLiteral("spawn");
        return error;
    }

    ++m_generation;
    m_pid = pid;
    m_reaped = false;
    m_pidfd = openPidFd(pid);
    m_out = Pipe{out[0], nullptr, {}, {}};
    m_err = Pipe{err[0], nullptr, {}, {}};
    for (Pipe *p : {&m_out, &m_err}) {
        ::fcntl(p->fd, F_SETFL, O_NONBLOCK);
        ::fcntl(p->fd, F_SETPIPE_SZ, 1 << 20); // where the system allows it; the default size works too
        p->notifier = new QSocketNotifier(p->fd, QSocketNotifier::Read, this);
        const Stream stream = p == &m_out ? StandardOutput : StandardError;
        connect(p->notifier, &QSocketNotifier::activated, this,
                [this, p, stream] { readPipe(*p, stream, false); });
    }
    if (m_pidfd >= 0) {
        m_exitNotifier = new QSocketNotifier(m_pidfd, QSocketNotifier::Read, this);
        connect(m_exitNotifier, &QSocketNotifier::activated, this, [this] { childEnded(); });
    }
    return 0;
}

void TChildProcess::readPipe(Pipe &pipe, Stream stream, bool final)
{
    if (pipe.fd < 0)
        return;
    const uint64_t generation = m_generation;
    char buffer[65536];
    bool ended = false;
    for (;;) {
        const ssize_t got = ::read(pipe.fd, buffer, sizeof buffer);
        if (got > 0) {
            pipe.partial.append(buffer, got);
            if (got == ssize_t(sizeof buffer))
                continue; // there may be more
            break;
        }
        if (got < 0 && errno == EINTR)
            continue;
        ended = got == 0 || errno != EAGAIN;
        break;
    }
    const QStringList lines = takeLines(pipe.partial, final || ended);
    for (const QString &line : lines) {
        if (!line.trimmed().isEmpty())
            pipe.lastLine = line.trimmed();
    }
    if (ended) {
        closePipe(pipe);
    } else if (!final && BatchMilliseconds > 0 && pipe.notifier) {
        pipe.notifier->setEnabled(false);
        if (!m_batchTimer->isActive())
            m_batchTimer->start(BatchMilliseconds);
    }
    // The handler may kill this child or start the next one: then nothing more is done for this one.
    if (!lines.isEmpty() && OnLines)
        OnLines(stream, lines);
    if (generation != m_generation)
        return;
    if (ended && m_pidfd < 0 && m_out.fd < 0 && m_err.fd < 0 && !m_reaped)
        childEnded(); // without a pidfd, the end of both pipes stands for the end of the child
}

void TChildProcess::closePipe(Pipe &pipe)
{
    if (pipe.notifier) {
        pipe.notifier->setEnabled(false);
        pipe.notifier->deleteLater();
        pipe.notifier = nullptr;
    }
    if (pipe.fd >= 0)
        ::close(pipe.fd);
    pipe.fd = -1;
}

void TChildProcess::childEnded()
{
    if (m_reaped)
        return;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(m_pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    m_reaped = true;
    // What the child wrote before it ended is still in the pipes: read all of it before reporting the end.
    // A grandchild that keeps a pipe open does not hold the report up.
    const uint64_t generation = m_generation;
    for (auto [pipe, stream] : {std::pair{&m_out, StandardOutput}, std::pair{&m_err, StandardError}}) {
        if (pipe->fd >= 0) {
            readPipe(*pipe, stream, true);
            if (generation != m_generation)
                return;
            closePipe(*pipe);
        }
    }
    ++m_generation;
    release();
    if (!OnFinished)
        return;
    if (WIFEXITED(status))
        OnFinished(WEXITSTATUS(status), 0);
    else if (WIFSIGNALED(status))
        OnFinished(-1, WTERMSIG(status));
    else
        OnFinished(-1, 0);
}

void TChildProcess::release()
{
    if (m_exitNotifier) {
        m_exitNotifier->setEnabled(false);
        m_exitNotifier->deleteLater();
        m_exitNotifier = nullptr;
    }
    if (m_pidfd >= 0)
        ::close(m_pidfd);
    m_pidfd = -1;
    closePipe(m_out);
    closePipe(m_err);
}

void TChildProcess::Kill()
{
    ++m_generation;
    if (!m_reaped) {
#ifdef SYS_pidfd_send_signal
        if (m_pidfd < 0 || ::syscall(SYS_pidfd_send_signal, m_pidfd, SIGKILL, nullptr, 0) != 0)
            ::kill(m_pid, SIGKILL);
#else
        ::kill(m_pid, SIGKILL);
#endif
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_reaped = true;
    }
    release();
}

QString PathArgument(const QString &path)
{
    return path.startsWith(QLatin1Char('-')) ? QStringLiteral("./") + path : path;
}

QString ChildEndText(const QString &program, int exitCode, int signal)
{
    if (exitCode >= 0)
        return QStringLiteral("%1 ended with exit status %2").arg(program).arg(exitCode);
    if (signal > 0)
        return QStringLiteral("%1 was killed by signal %2 (%3)")
            .arg(program)
            .arg(signal)
            .arg(QString::fromLocal8Bit(::strsignal(signal)));
    return QStringLiteral("%1 ended abnormally").arg(program);
}
