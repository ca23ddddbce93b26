#include "encoderprocess.h"

#include "shell/folders.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/messages.h"
#include "shell/settings.h"
#include "shell/synchronize.h"
#include "shell/userprompt.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const QString productName = QStringLiteral("Sondrel");

// Delphi's Copy: count characters from the 1-based index, an index below 1 taken as 1.
QString copy(const QString &text, int index, int count)
{
    if (index < 1)
        index = 1;
    return text.mid(index - 1, count);
}

// A trimmed decimal integer, or the fallback.
int toInt(const QString &text, int fallback)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : fallback;
}

int openPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

} // namespace

// One child process and its pipes, shared by the process object and the thread watching it, so neither
// can close what the other still uses. The owner pointer is only touched on the user-interface thread.
struct TEncoderProcess::Run {
    pid_t pid = -1;
    int pidfd = -1;
    int out = -1; // our ends of the child's standard output and error
    int err = -1;
    std::atomic<bool> terminate{false};
    std::atomic<bool> reaped{false};
    std::atomic<uint32_t> available{0};
    TEncoderProcess *owner = nullptr;

    ~Run()
    {
        for (int fd : {out, err, pidfd}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    // Waits up to the time for the child's end; true (and the child reaped) when it has ended.
    bool waitForExit(int milliseconds)
    {
        if (reaped)
            return true;
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            if (::poll(&p, 1, milliseconds) <= 0)
                return false;
        }
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, pidfd >= 0 ? 0 : WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) {
            reaped = true;
            return true;
        }
        if (pidfd < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return false;
    }

    void kill()
    {
        if (reaped)
            return;
#ifdef SYS_pidfd_send_signal
        if (pidfd >= 0 && ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0)
            return;
#endif
        ::kill(pid, SIGKILL);
    }
};

// The watching thread: peeks the pipes, hands reading to the user-interface thread, waits for the end.
struct EncoderWatch {
    static void run(std::shared_ptr<TEncoderProcess::Run> r)
    {
        const auto onOwner = [&r](auto call) {
            Synchronize([&r, call] {
                if (r->owner && !r->terminate)
                    call(*r->owner);
            });
        };
        // One pass over both pipes; true when neither held anything.
        const auto pass = [&]() {
            bool idle = true;
            for (int which = 1; which <= 2; ++which) {
                int count = 0;
                if (::ioctl(which == 1 ? r->out : r->err, FIONREAD, &count) == 0 && count > 0 &&
                    !r->terminate) {
                    r->available = uint32_t(count);
                    onOwner([which](TEncoderProcess &owner) { owner.readPipe(which); });
                    idle = false;
                }
            }
            return idle;
        };
        try {
            for (;;) {
                const bool idle = pass();
                if (r->terminate)
                    break;
                if (idle && r->waitForExit(100)) {
                    while (!pass() && !r->terminate) {
                    }
                    onOwner([](TEncoderProcess &owner) { owner.ProcessFinished(); });
                    break;
                }
            }
        } catch (const std::exception &e) {
            // A failed read ends the watch; the run is over for the process object too.
            std::fprintf(stderr, "sondrel: %s\n", e.what());
        }
        if (!r->reaped) {
            r->kill();
            while (!r->waitForExit(100)) {
            }
        }
    }
};

QStringList SplitCommandLine(const QString &commandLine)
{
    QStringList args;
    QString current;
    bool quoted = false;
    bool any = false;
    for (const QChar c : commandLine) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
            any = true;
        } else if (c == QLatin1Char(' ') && !quoted) {
            if (any)
                args << current;
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        args << current;
    return args;
}

TEncoderProcess::~TEncoderProcess()
{
    if (m_run) {
        m_run->owner = nullptr;
        m_run->terminate = true;
        m_run->kill();
    }
}

void TEncoderProcess::forgetRun()
{
    if (m_run) {
        m_run->owner = nullptr;
        m_run.reset();
    }
}

bool TEncoderProcess::IsRunning() const
{
    return m_run && !m_run->reaped;
}

void TEncoderProcess::Stop(uint32_t)
{
    if (!Active)
        return;
    Active = false;
    if (m_run) {
        m_run->terminate = true;
        m_run->owner = nullptr;
        m_run->kill();
        m_run.reset();
    }
}

void TEncoderProcess::StartFile(const QString &input, const QString &output, QObject *window, uint8_t jobKind,
                                bool encode)
{
    Active = true;
    InputFile = input;
    OutputFile = output;
    Window = window;
    Encode = encode;
    JobKind = jobKind;
    Start();
}

bool TEncoderProcess::confirmOverwrite(bool ask)
{
    if (!ask || !QFileInfo::exists(OutputFile))
        return true;
    const QString text = OutputFile + LocalizedText(QStringLiteral("RES_File_Exist"),
                                                    QStringLiteral(" has existed,overite it?"));
    if (!Prompt || !Prompt->Question(productName, text)) {
        ReportDone(0);
        return false;
    }
    if (FileInUse(OutputFile)) {
        ReportDone(1);
        return false;
    }
    return true;
}

void TEncoderProcess::launch(const QString &commandLine, const QString &executable,
                             const QString &creationError)
{
    static const char *const names[] = {"STDIN", "STDOUT", "STDERR"};
    int pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
    const auto closeAll = [&pipes] {
        for (auto &p : pipes) {
            for (int &fd : p) {
                if (fd >= 0)
                    ::close(fd);
                fd = -1;
            }
        }
    };
    for (int i = 0; i < 3; ++i) {
        if (::pipe2(pipes[i], O_CLOEXEC) != 0) {
            const int error = errno;
            closeAll();
            throw EProcessError(
                QStringLiteral("Error on %1 pipe creation : %2").arg(names[i]).arg(error).toStdString());
        }
    }
    m_commandLine = commandLine;
    PercentColumn = 0;

    const QStringList args = SplitCommandLine(commandLine);
    std::vector<QByteArray> storage;
    for (const QString &a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes[0][0], 0);
    posix_spawn_file_actions_adddup2(&actions, pipes[1][1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipes[2][1], 2);
    pid_t pid = -1;
    const QByteArray path = QFile::encodeName(executable);
    const int error = executable.isEmpty()
                          ? ENOENT
                          : posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        closeAll();
        throw EProcessError((creationError + QString::number(error)).toStdString());
    }

    auto run = std::make_shared<Run>();
    run->pid = pid;
    run->pidfd = openPidFd(pid);
    run->out = pipes[1][0];
    run->err = pipes[2][0];
    run->owner = this;
    // The child's ends are the child's now; nothing is ever written to its input.
    for (int fd : {pipes[0][0], pipes[0][1], pipes[1][1], pipes[2][1]})
        ::close(fd);
    ::fcntl(run->out, F_SETFL, O_NONBLOCK);
    ::fcntl(run->err, F_SETFL, O_NONBLOCK);
    StartTime = QDateTime::currentDateTime();
    m_run = run;
    std::thread(EncoderWatch::run, run).detach();
}

void TEncoderProcess::readPipe(int which)
{
    const std::shared_ptr<Run> run = m_run;
    if (!run)
        return;
    const uint32_t count = run->available;
    QByteArray bytes(qsizetype(count), '\0');
    const ssize_t got = ::read(which == 1 ? run->out : run->err, bytes.data(), count);
    if (got < 0 && errno != EAGAIN) {
        const int error = errno;
        run->terminate = true;
        m_run.reset();
        throw EProcessError(QStringLiteral("Error reading %1 pipe : %2")
                                .arg(which == 1 ? "STDOUT" : "STDERR")
                                .arg(error)
                                .toStdString());
    }
    bytes.truncate(std::max<qsizetype>(got, 0));
    ParseOutput(QString::fromLocal8Bit(bytes));
}

void TEncoderProcess::ProcessFinished()
{
    if (m_run) {
        m_run->terminate = true;
        m_run.reset();
    }
    ReportDone(2);
}

QStringList TEncoderProcess::splitLines(const QString &text)
{
    QStringList lines;
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            if (!current.trimmed().isEmpty())
                lines << current;
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.trimmed().isEmpty())
        lines << current;
    return lines;
}

QString TEncoderProcess::secondsText(int64_t seconds)
{
    return TwoDigits(int(seconds / 60)) + QLatin1Char(':') + TwoDigits(int(seconds % 60));
}

// --- MP3 ---

TMp3EncodeProcess::~TMp3EncodeProcess()
{
    if (Active)
        Stop(0);
}

QString TMp3EncodeProcess::Executable()
{
    const QString beside = ProgramFolder() + QStringLiteral("lame");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("lame"));
}

QString TMp3EncodeProcess::BuildCommandLine(bool encode, const QString &input, const QString &output)
{
    const QString files = QStringLiteral(" \"") + input + QStringLiteral("\" \"") + output + QLatin1Char('"');
    if (!encode)
        return QStringLiteral("lame --decode") + files;
    const TMp3Options &o = AppSettings.Mp3Options;
    QString line = QStringLiteral("lame -b ") + QString::number(o.BitRate);
    static const char *const modes[] = {" -m s", " -m j", " -m f", " -m d", " -m m"};
    if (o.StereoMode >= 0 && o.StereoMode <= 4)
        line += QLatin1String(modes[o.StereoMode]);
    if (o.MpegQuality == 1)
        line += QStringLiteral(" -f");
    else if (o.MpegQuality == 2)
        line += QStringLiteral(" -h");
    if (o.IsSelectVBR) {
        line += QStringLiteral(" -V ") + QString::number(o.VBRQuality) + QStringLiteral(" -B ") +
                QString::number(o.MaxBitRate);
        if (o.IsVBRHead)
            line += QStringLiteral(" -t");
    }
    return line + files;
}

void TMp3EncodeProcess::Start()
{
    forgetRun();
    if (!confirmOverwrite(JobKind != 1 && JobKind != 4))
        return;
    launch(BuildCommandLine(Encode, InputFile, OutputFile), Executable(),
           LocalizedText(QStringLiteral("RES_CreateProcess_Error"),
                         QStringLiteral("Error while creating mp3 encoding process!")));
}

void TMp3EncodeProcess::post(const TProcessInfo &info)
{
    PostProcessInfo(Window, info);
}

void TMp3EncodeProcess::ReportDone(int32_t resultCode)
{
    post(TProcessInfo{ProcessEvent::Mp3Encoded, QString(), QString(), resultCode});
}

void TMp3EncodeProcess::ParseOutput(const QString &text)
{
    if (Encode)
        ParseEncodeOutput(text);
    else
        ParseDecodeOutput(text);
}

void TMp3EncodeProcess::ParseEncodeOutput(const QString &text)
{
    for (const QString &line : splitLines(text)) {
        const qsizetype percent = line.indexOf(QLatin1Char('%'));
        if (PercentColumn == 0 && percent >= 0)
            PercentColumn = int(percent) + 1 - 3;
        if (PercentColumn == 0 || percent < 0)
            continue;
        QString number = copy(line, PercentColumn, 3).trimmed();
        if (number.startsWith(QLatin1Char('(')))
            number.remove(0, 1);
        TProcessInfo info;
        info.Percent = toInt(number, 0);
        info.Elapsed = copy(line, 21, 8).trimmed();
        info.Estimated = copy(line, 30, 8).trimmed();
        if (info.Percent >= 1 && info.Percent <= 100)
            post(info);
    }
}

void TMp3EncodeProcess::ParseDecodeOutput(const QString &text)
{
    for (const QString &line : splitLines(text)) {
        if (PercentColumn == 0) {
            const qsizetype hash = line.indexOf(QLatin1Char('#'));
            if (hash >= 0)
                PercentColumn = int(hash) + 1 + 1;
        }
        if (PercentColumn == 0)
            continue;
        const int frame = toInt(copy(line, PercentColumn, 6), -1);
        const int total = toInt(copy(line, PercentColumn + 7, 6), -1);
        if (frame == -1 || total == -1 || total == 0)
            continue;
        const int64_t elapsed =
            std::llround(double(StartTime.msecsTo(QDateTime::currentDateTime())) / 1000.0);
        TProcessInfo info;
        info.Percent = int32_t(int64_t(frame) * 100 / total);
        if (info.Percent != 0) {
            info.Elapsed = secondsText(elapsed);
            info.Estimated = secondsText(std::llround(double(elapsed) * 100.0 / info.Percent));
        }
        if (info.Percent >= 1 && info.Percent <= 100)
            post(info);
    }
}

// --- WMA ---

const TWmaProfile WmaProfiles[33] = {
    {"48.000 kHz, 192 kbit/s, Stereo", "192_48_2", 7315},
    {"48.000 kHz, 160 kbit/s, Stereo", "160_48_2", 8770},
    {"48.000 kHz, 128 kbit/s, Stereo", "128_48_2", 10949},
    {"44.100 kHz, 192 kbit/s, Stereo", "192_44_2", 7316},
    {"44.100 kHz, 160 kbit/s, Stereo", "160_44_2", 8772},
    {"44.100 kHz, 128 kbit/s, Stereo", "128_44_2", 10954},
    {"44.100 kHz,  96 kbit/s, Stereo", "96_44_2", 14581},
    {"44.100 kHz,  80 kbit/s, Stereo", "80_44_2", 17471},
    {"44.100 kHz,  64 kbit/s, Stereo", "64_44_2", 21790},
    {"44.100 kHz,  48 kbit/s, Stereo", "48_44_2", 28963},
    {"44.100 kHz,  32 kbit/s, Stereo", "32_44_2", 43174},
    {"44.100 kHz,  48 kbit/s, Mono", "48_44_1", 28963},
    {"44.100 kHz,  32 kbit/s, Mono", "32_44_1", 43134},
    {"32.000 kHz,  48 kbit/s, Stereo", "48_32_2", 28999},
    {"32.000 kHz,  40 kbit/s, Stereo", "40_32_2", 34720},
    {"32.000 kHz,  32 kbit/s, Stereo", "32_32_2", 43214},
    {"32.000 kHz,  20 kbit/s, Mono", "20_32_1", 68873},
    {"22.050 kHz,  32 kbit/s, Stereo", "32_22_2", 43134},
    {"22.050 kHz,  22 kbit/s, Stereo", "22_22_2", 62208},
    {"22.050 kHz,  20 kbit/s, Stereo", "20_22_2", 68264},
    {"22.050 kHz,  20 kbit/s, Mono", "20_22_1", 68264},
    {"22.050 kHz,  16 kbit/s, Mono", "16_22_1", 84458},
    {"16.000 kHz,  20 kbit/s, Stereo", "20_16_2", 67963},
    {"16.000 kHz,  16 kbit/s, Stereo", "16_16_2", 84150},
    {"16.000 kHz,  16 kbit/s, Mono", "16_16_1", 84150},
    {"16.000 kHz,  12 kbit/s, Mono", "12_16_1", 110460},
    {"16.000 kHz,  10 kbit/s, Mono", "10_16_1", 131113},
    {"11.025 kHz,  10 kbit/s, Mono", "10_11_1", 133765},
    {"11.025 kHz,   8 kbit/s, Mono", "8_11_1", 165296},
    {" 8.000 kHz,  12 kbit/s, Stereo", "12_8_2", 113717},
    {" 8.000 kHz,   8 kbit/s, Mono", "8_8_1", 167692},
    {" 8.000 kHz,   6 kbit/s, Mono", "6_8_1", 220395},
    {" 8.000 kHz,   5 kbit/s, Mono", "5_8_1", 261485},
};

TWMAEncodeProcess::~TWMAEncodeProcess()
{
    if (Active)
        Stop(0);
}

QString TWMAEncodeProcess::Executable()
{
    const QString folder = ProgramFolder();
    for (const char *sub : {"", "system32/", "system/"}) {
        const QString path = folder + QLatin1String(sub) + QStringLiteral("WM8EUTIL");
        if (QFileInfo(path).isFile())
            return path;
    }
    return QString();
}

QString TWMAEncodeProcess::BuildCommandLine(const QString &executable, const QString &input,
                                            const QString &output)
{
    int32_t &index = AppSettings.WMAOptions.BitRate;
    if (index < 0 || index > 32)
        index = 8;
    QString line = executable + QStringLiteral(" -input \"") + input + QStringLiteral("\" -output \"") +
                   output + QStringLiteral("\" -a_setting ") + QLatin1String(WmaProfiles[index].name);
    // The tag values are quoted so that each stays one argument, however many words it has.
    if (AppSettings.Use) {
        const TCDInfo &disc = AppSettings.DiscInfo;
        if (!disc.Artist.isEmpty())
            line += QStringLiteral(" -author \"") + disc.Artist + QLatin1Char('"');
        if (!disc.Comment.isEmpty())
            line += QStringLiteral(" -description \"") + disc.Comment + QLatin1Char('"');
    }
    return line;
}

void TWMAEncodeProcess::Start()
{
    forgetRun();
    if (!confirmOverwrite(JobKind != 1))
        return;
    const QString executable = Executable();
    if (executable.isEmpty()) {
        if (Prompt) {
            Prompt->Information(productName,
                                LocalizedText(QStringLiteral("RES_NoWmaEncoder"),
                                              QStringLiteral("Can not find WMA encoder,please contact with "
                                                             "support@ombrel-software.example")));
        }
        ReportDone(0);
        return;
    }
    launch(BuildCommandLine(executable, InputFile, OutputFile), executable,
           LocalizedText(QStringLiteral("RES_CreateProcess_Error"),
                         QStringLiteral("Error while creating mp3 encoding process!")));
}

void TWMAEncodeProcess::ReportDone(int32_t resultCode)
{
    SendProcessInfo(Window, TProcessInfo{ProcessEvent::WmaEncoded, QString(), QString(), resultCode});
}

void TWMAEncodeProcess::ParseOutput(const QString &text)
{
    for (const QString &line : splitLines(text)) {
        if (line.contains(QLatin1String("ERROR"))) {
            SendProcessInfo(Window, TProcessInfo{ProcessEvent::WmaEncoded, line, QString(), 8});
            return;
        }
        if (line.contains(QLatin1String("100%"))) {
            int64_t elapsed = std::llround(double(StartTime.msecsTo(QDateTime::currentDateTime())) / 1000.0);
            if (elapsed == 0)
                elapsed = 1;
            const QString time = secondsText(elapsed);
            PostProcessInfo(Window, TProcessInfo{100, time, time, 0});
        }
    }
}
