// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include "audio/alsapcm.h"
#include "cdrom/cdaccess.h"
#include "cdrom/cddrivelist.h"
#include "jobs/accuraterip.h"
#include "shell/folders.h"
#include "shell/settings.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QtEndian>
#include <alsa/asoundlib.h>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

TestHome::TestHome()
    : m_savedConfig(qgetenv("XDG_CONFIG_HOME")), m_savedData(qgetenv("XDG_DATA_HOME")),
      m_savedRuntime(qgetenv("XDG_RUNTIME_DIR"))
{
    QDir().mkpath(programFolder());
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir()));
    SetProgramFolderOverride(programFolder());
    AppSettings = TOptionsSetting{};
}

TestHome::~TestHome()
{
    const auto restore = [](const char *name, const QByteArray &value) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("XDG_CONFIG_HOME", m_savedConfig);
    restore("XDG_DATA_HOME", m_savedData);
    restore("XDG_RUNTIME_DIR", m_savedRuntime);
    SetProgramFolderOverride(QString());
    AppSettings = TOptionsSetting{};
}

QByteArray ReadFileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString ReadFileText(const QString &path)
{
    return QString::fromUtf8(ReadFileBytes(path));
}

bool WriteFileText(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(text.toUtf8()) >= 0;
}

bool IsWorkingFileOf(const QString &path, const QString &target)
{
    const QFileInfo made(path);
    const QFileInfo file(target);
    const QRegularExpression name(QStringLiteral("^\\.") + QRegularExpression::escape(file.fileName()) +
                                  QStringLiteral("\\.[0-9a-f]{16}-[0-9a-f]{8}\\.part$"));
    return made.absolutePath() == file.absolutePath() && name.match(made.fileName()).hasMatch();
}

QStringList WorkingFilesThere(const QString &target)
{
    QStringList found;
    const QDir folder = QFileInfo(target).absoluteDir();
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (IsWorkingFileOf(folder.filePath(name), target))
            found << folder.filePath(name);
    return found;
}

bool GrowingWorkingFile(const QString &target)
{
    for (const QString &working : WorkingFilesThere(target))
        if (QFileInfo(working).size() > 0)
            return true;
    return false;
}

bool WaitFor(const std::function<bool()> &condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

bool SignalProcess(const QProcess &process, int signal)
{
    const qint64 pid = process.processId();
    return process.state() != QProcess::NotRunning && pid > 0 && ::kill(pid_t(pid), signal) == 0;
}

QString BuiltProgram(const QString &name)
{
    return QStringLiteral(SONDREL_BIN_DIR "/") + name;
}

int RunProgram(const QString &program, const QStringList &arguments, QByteArray *output, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs) || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool MakeDisc(const QString &cuePath, const QStringList &arguments)
{
    QByteArray output;
    const int code = RunProgram(BuiltProgram(QStringLiteral("sondrel-mkdisc")),
                                QStringList{QStringLiteral("-o"), cuePath} + arguments, &output);
    if (code != 0)
        qWarning("sondrel-mkdisc failed: %s", output.constData());
    return code == 0;
}

bool MessageCollector::event(QEvent *e)
{
    auto *message = dynamic_cast<TMessageEvent *>(e);
    if (!message)
        return QObject::event(e);
    Received r;
    r.message = message->message();
    r.wParam = message->wParam();
    r.lParam = message->lParam();
    if (auto info = message->takeProcessInfo()) {
        r.hasInfo = true;
        r.info = *info;
    }
    received.push_back(r);
    return true;
}

std::vector<TProcessInfo> MessageCollector::notices(int percent) const
{
    std::vector<TProcessInfo> out;
    for (const Received &r : received) {
        if (r.hasInfo && r.info.Percent == percent)
            out.push_back(r.info);
    }
    return out;
}

std::vector<TProcessInfo> MessageCollector::progress() const
{
    std::vector<TProcessInfo> out;
    for (const Received &r : received) {
        if (r.hasInfo && r.info.Percent >= 0 && r.info.Percent <= 100)
            out.push_back(r.info);
    }
    return out;
}

ModalCloser::ModalCloser(int answerButton) : answer(answerButton)
{
    auto *timer = new QTimer(this);
    timer->setInterval(20);
    connect(timer, &QTimer::timeout, this, &ModalCloser::check);
    timer->start();
}

void ModalCloser::check()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        texts << box->windowTitle() + "|" + box->text();
        QAbstractButton *button = answer ? box->button(QMessageBox::StandardButton(answer)) : nullptr;
        if (!button)
            button = box->defaultButton() ? static_cast<QAbstractButton *>(box->defaultButton())
                                          : box->buttons().value(0);
        if (button)
            button->click();
        else
            box->reject();
        return;
    }
    if (auto *dialog = qobject_cast<QDialog *>(modal)) {
        // Job windows run their own course; other dialogs are closed.
        if (dialog->objectName() == QLatin1String("RipForm") ||
            dialog->objectName() == QLatin1String("frmCDRip"))
            return;
        texts << dialog->windowTitle() + "|" + dialog->objectName();
        dialog->reject();
    }
}

uint32_t OpenFirstDriveHandle()
{
    TCDList list;
    std::memset(&list, 0, sizeof list);
    list.max = 8;
    GetCDList(&list);
    TGetCDHand request{};
    request.size = 12;
    request.ver = 1;
    request.ha = list.cd[0].ha;
    request.tgt = list.cd[0].tgt;
    request.lun = list.cd[0].lun;
    return GetCDHandle(&request);
}

TinyFileSystem::TinyFileSystem(const QString &folder, int kib) : m_folder(folder)
{
    QDir().mkpath(folder);
    const QByteArray options = "size=" + QByteArray::number(kib) + "k";
    m_mounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) == 0;
}

TinyFileSystem::~TinyFileSystem()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

void TinyFileSystem::fill()
{
    QFile filler(m_folder + QStringLiteral("/.filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray block(4096, 'x');
    while (filler.write(block) > 0) {
    }
    const QByteArray byte(1, 'x');
    while (filler.write(byte) > 0) {
    }
}

DiscImageTest::DiscImageTest()
    : images(DataFolder() + QStringLiteral("Disc images/")), out(home.root() + QStringLiteral("/out"))
{
    SetRealCdDrivesEnabled(false);
    QDir().mkpath(images);
    QDir().mkpath(out);
}

DiscImageTest::~DiscImageTest()
{
    SetRealCdDrivesEnabled(true);
}

namespace StandInEncoder {
// What the stand-ins write passes the check of a made file: two MPEG frames for an MP3, the ASF header's
// GUID for a WMA, a RIFF WAVE header for a decoded WAV.
const QString audio = QStringLiteral(
    "audio() { case \"$1\" in\n"
    "*.wav|*.wav.*.part) printf 'RIFF\\044\\000\\000\\000WAVEfmt audio' ;;\n"
    "*.wma|*.wma.*.part) printf "
    "'\\060\\046\\262\\165\\216\\146\\317\\021\\246\\331\\000\\252\\000\\142\\316\\154audio' ;;\n"
    "*) for f in 1 2; do printf '\\377\\373\\220\\000'; head -c 413 /dev/zero; done ;;\n"
    "esac > \"$1\"; }\n");
const QString WritesLastArgument = audio + QStringLiteral("for a; do last=$a; done\naudio \"$last\"\n");
const QString WritesOutputOption =
    audio +
    QStringLiteral("prev=\nfor a; do [ \"$prev\" = -output ] && out=$a; prev=$a; done\naudio \"$out\"\n");
const QString WritesHalfLastArgument = QStringLiteral("for a; do last=$a; done\nprintf 'half' > \"$last\"\n");
const QString WritesHalfOutputOption = QStringLiteral(
    "prev=\nfor a; do [ \"$prev\" = -output ] && out=$a; prev=$a; done\nprintf 'half' > \"$out\"\n");
} // namespace StandInEncoder

struct GatedSoundDevice::State {
    QTemporaryDir dir;
    QString fifo;
    std::thread reader;
    mutable std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    int64_t allowed = 0; // negative: no limit
    std::function<bool()> flowing;
    QByteArray data;
    int closes = 0;
    std::atomic<bool> finished{false}; // the reader has returned

    bool mayRead() { return stop || allowed < 0 || allowed > data.size() || (flowing && flowing()); }

    void run()
    {
        const QByteArray path = QFile::encodeName(fifo);
        while (true) {
            const int fd = ::open(path.constData(), O_RDONLY); // waits for the device to open it
            {
                std::lock_guard guard(lock);
                if (stop) {
                    if (fd >= 0)
                        ::close(fd);
                    return;
                }
            }
            if (fd < 0)
                return;
            char block[4096];
            while (true) {
                int64_t want = sizeof block;
                {
                    std::unique_lock guard(lock);
                    // The gate: a short re-check, since flowing() looks at another thread's state.
                    while (!mayRead())
                        wake.wait_for(guard, std::chrono::milliseconds(5));
                    if (allowed >= 0 && allowed > data.size())
                        want = std::min<int64_t>(want, allowed - data.size());
                }
                const ssize_t got = ::read(fd, block, size_t(want));
                std::lock_guard guard(lock);
                if (got <= 0) {
                    closes += got == 0;
                    break;
                }
                data.append(block, qsizetype(got));
            }
            ::close(fd);
        }
    }
};

namespace {

// Replaces the test home's ALSA configuration; ALSA reads it anew on its next use.
void declareAlsaDevices(const QString &text)
{
    if (qgetenv("XDG_CONFIG_HOME").isEmpty())
        qFatal("sound devices for a test need a TestHome: they are declared in the test's own configuration");
    const QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + QStringLiteral("/alsa");
    QDir().mkpath(config);
    WriteFileText(config + QStringLiteral("/asoundrc"), text);
    // ALSA reads its configuration once a process; a test before this one may have read it already.
    snd_config_update_free_global();
}

} // namespace

struct PulseNullSink::State {
    int lock = -1; // one sound server of the tests at a time
    QString dir;
    QProcess server;
    QProcess recorder;
};

PulseNullSink::PulseNullSink() : m_state(std::make_unique<State>())
{
    if (qgetenv("XDG_CONFIG_HOME").isEmpty())
        qFatal("a sound server for a test needs a TestHome");
    m_state->lock = ::open((QDir::tempPath() + "/sondrel-tests-pulse.lock").toLocal8Bit().constData(),
                           O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_state->lock >= 0)
        ::flock(m_state->lock, LOCK_EX);
    m_state->dir = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + QStringLiteral("/../pulse");
    QDir().mkpath(m_state->dir);
    m_state->dir = QDir(m_state->dir).canonicalPath();
    WriteFileText(m_state->dir + "/server.pa",
                  "load-module module-native-protocol-unix socket=" + m_state->dir +
                      "/native auth-anonymous=1\nload-module module-null-sink sink_name=sondrel_null\n"
                      "set-default-sink sondrel_null\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_RUNTIME_DIR", "PULSE_RUNTIME_PATH"})
        env.insert(QLatin1String(name), m_state->dir);
    m_state->server.setProcessEnvironment(env);
    m_state->server.setStandardOutputFile(m_state->dir + "/log.txt");
    m_state->server.setStandardErrorFile(m_state->dir + "/log.txt");
    m_state->server.start(QStringLiteral("pulseaudio"),
                          {"-n", "-F", m_state->dir + "/server.pa", "--daemonize=no", "--exit-idle-time=-1",
                           "--use-pid-file=no", "--no-cpu-limit", "--realtime=no", "--high-priority=no",
                           "--log-level=info", "--log-meta=no", "--log-time=yes",
                           // With shared memory, pulseaudio 16 aborts now and then when a client's stream
                           // goes ("Assertion 'pa_atomic_load(&b->pool->stat.n_imported) > 0' failed" in
                           // memblock.c), and every play after it is refused: sound goes over the socket.
                           "--disable-shm=yes"});
    if (!m_state->server.waitForStarted(10000))
        return;
    // The sound server for this process's ALSA plugin and for every program it starts.
    qputenv("PULSE_SERVER", ("unix:" + m_state->dir + "/native").toLocal8Bit());
    m_up = WaitFor([] { return RunProgram("pactl", {"info"}, nullptr, 5000) == 0; }, 20000);
}

PulseNullSink::~PulseNullSink()
{
    for (QProcess *process : {&m_state->recorder, &m_state->server}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }
    qunsetenv("PULSE_SERVER");
    if (m_state->lock >= 0)
        ::close(m_state->lock);
}

void PulseNullSink::record()
{
    m_state->recorder.setStandardOutputFile(m_state->dir + "/recorded.raw");
    // A recorder asking for little latency keeps the sink in step with it: a null sink left to itself
    // plays in blocks of two seconds, and each play would end up to two seconds late.
    m_state->recorder.start(QStringLiteral("parec"), {"-d", "sondrel_null.monitor", "--raw", "--format=s16le",
                                                      "--rate=44100", "--channels=2", "--latency-msec=20"});
    m_state->recorder.waitForStarted(10000);
}

QByteArray PulseNullSink::recorded()
{
    m_state->recorder.terminate();
    m_state->recorder.waitForFinished(10000);
    return ReadFileBytes(m_state->dir + "/recorded.raw");
}

bool PulseNullSink::answers() const
{
    return m_state->server.state() == QProcess::Running && RunProgram("pactl", {"info"}, nullptr, 5000) == 0;
}

QString PulseNullSink::report() const
{
    const QProcess &server = m_state->server;
    const QString state = server.state() == QProcess::NotRunning
                              ? QStringLiteral("the sound server has ended (exit %1, %2)")
                                    .arg(server.exitCode())
                                    .arg(server.exitStatus() == QProcess::CrashExit ? "crashed" : "exited")
                              : QStringLiteral("the sound server runs");
    return state + "; its log ends:\n" + ReadFileText(m_state->dir + "/log.txt").right(3000);
}

QString PulseNullSink::ShortToneOgg(const QString &folder)
{
    const QString wav = folder + "/short.wav", ogg = folder + "/short.ogg";
    const bool made = RunProgram("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "0.2",
                                         "sine", "440"}) == 0 &&
                      RunProgram("oggenc", {"-Q", "-o", ogg, wav}) == 0;
    return made ? ogg : QString();
}

int PulseNullSink::soundsIn(const QByteArray &samples, int level, int gapFrames)
{
    int sounds = 0;
    int64_t quiet = gapFrames; // before the first sound
    for (qsizetype i = 0; i + 3 < samples.size(); i += 4) {
        const bool loud = std::abs(int(qFromLittleEndian<int16_t>(samples.constData() + i))) > level;
        if (loud && quiet >= gapFrames)
            ++sounds;
        quiet = loud ? 0 : quiet + 1;
    }
    return sounds;
}

void MakeNoSoundCard()
{
    declareAlsaDevices(QStringLiteral("pcm.!default {\n type hw\n card 99\n}\n"));
}

GatedSoundDevice::GatedSoundDevice() : m_state(std::make_unique<State>())
{
    m_state->fifo = m_state->dir.filePath(QStringLiteral("sound"));
    ::mkfifo(QFile::encodeName(m_state->fifo).constData(), 0600);
    declareAlsaDevices(QStringLiteral("pcm.sondrel_gate {\n type file\n slave.pcm null\n file \"%1\"\n"
                                      " format raw\n hint { show on description \"test\" }\n}\n")
                           .arg(m_state->fifo));
    m_state->reader = std::thread([state = m_state.get()] {
        state->run();
        state->finished = true;
    });
}

GatedSoundDevice::~GatedSoundDevice()
{
    {
        std::lock_guard guard(m_state->lock);
        m_state->stop = true;
    }
    m_state->wake.notify_all();
    // A reader waiting for the device to open the pipe is let go by opening it ourselves. The reader may be
    // between two opens (the device just closed it), when there is nobody to open it for yet: so again,
    // until the reader has returned (bounded).
    const QByteArray fifo = QFile::encodeName(m_state->fifo);
    for (int attempt = 0; attempt < 10000 && !m_state->finished; ++attempt) {
        const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        std::unique_lock guard(m_state->lock);
        m_state->wake.wait_for(guard, std::chrono::milliseconds(1),
                               [this] { return m_state->finished.load(); });
    }
    m_state->reader.join();
}

int GatedSoundDevice::index()
{
    return int(AlsaDeviceNames(false).indexOf(QStringLiteral("sondrel_gate")));
}

void GatedSoundDevice::allow(int64_t bytes)
{
    {
        std::lock_guard guard(m_state->lock);
        m_state->allowed = bytes < 0 ? -1 : m_state->data.size() + bytes;
    }
    m_state->wake.notify_all();
}

void GatedSoundDevice::setFlowing(std::function<bool()> condition)
{
    std::lock_guard guard(m_state->lock);
    m_state->flowing = std::move(condition);
}

int64_t GatedSoundDevice::received() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->data.size();
}

int GatedSoundDevice::closes() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->closes;
}

QByteArray GatedSoundDevice::data() const
{
    std::lock_guard guard(m_state->lock);
    return m_state->data;
}

QByteArray AccurateRipAnswerBlock(const TAccurateRipDisc &disc,
                                  const std::vector<std::pair<int, uint32_t>> &tracks)
{
    QByteArray b(1, char(tracks.size()));
    char word[4];
    for (uint32_t v : {disc.Id1, disc.Id2, disc.CddbId}) {
        qToLittleEndian(v, word);
        b.append(word, 4);
    }
    for (const auto &[confidence, crc] : tracks) {
        b.append(char(confidence));
        qToLittleEndian(crc, word);
        b.append(word, 4);
        b.append(4, '\0');
    }
    return b;
}
